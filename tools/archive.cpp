#include "tools/archive.h"

#include <cstdio>
#include <cstring>
#include <map>

namespace {

constexpr size_t kBlock = 512;
constexpr uint64_t kMaxOctalSize = 077777777777ULL;  // what 11 octal digits hold

// Field offsets of a ustar header.
constexpr size_t kName = 0, kMode = 100, kUid = 108, kGid = 116, kSize = 124, kMtime = 136,
                 kChksum = 148, kType = 156, kMagic = 257, kVersion = 263, kPrefix = 345;

void PutOctal(char* field, size_t width, uint64_t value) {
    // width - 1 digits and a NUL (the callers keep value within those digits).
    char digits[32];
    snprintf(digits, sizeof digits, "%0*llo", static_cast<int>(width - 1),
             static_cast<unsigned long long>(value));
    memcpy(field, digits, width - 1);
    field[width - 1] = '\0';
}

uint64_t GetNumber(const char* field, size_t width) {
    const unsigned char first = static_cast<unsigned char>(field[0]);
    uint64_t v = 0;
    if (first & 0x80) {  // base-256, as GNU tar writes large values
        v = first & 0x3F;
        for (size_t i = 1; i < width; ++i) v = (v << 8) | static_cast<unsigned char>(field[i]);
        return v;
    }
    size_t i = 0;
    while (i < width && (field[i] == ' ' || field[i] == '\0')) ++i;
    for (; i < width && field[i] >= '0' && field[i] <= '7'; ++i) v = v * 8 + (field[i] - '0');
    return v;
}

unsigned Checksum(const char* block) {
    unsigned sum = 0;
    for (size_t i = 0; i < kBlock; ++i)
        sum += (i >= kChksum && i < kChksum + 8) ? ' ' : static_cast<unsigned char>(block[i]);
    return sum;
}

// One pax record "<length> <key>=<value>\n", the length counting the whole record.
std::string PaxRecord(const std::string& key, const std::string& value) {
    const size_t body = key.size() + value.size() + 3;  // blank, '=', newline
    size_t length = body + 1;
    while (std::to_string(length).size() + body != length)
        length = std::to_string(length).size() + body;
    return std::to_string(length) + " " + key + "=" + value + "\n";
}

}  // namespace

// ---- Writer ----------------------------------------------------------------------------------

TarGzWriter::~TarGzWriter() {
    if (gz_) gzclose(gz_);
}

bool TarGzWriter::Open(const std::string& path, int level) {
    const std::string mode = "wb" + std::to_string(level);
    gz_ = gzopen(path.c_str(), mode.c_str());
    if (gz_) gzbuffer(gz_, 1 << 17);
    ok_ = gz_ != nullptr;
    return ok_;
}

bool TarGzWriter::Write(const void* data, size_t size) {
    if (!ok_) return false;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const unsigned piece = size > (1u << 30) ? (1u << 30) : static_cast<unsigned>(size);
        if (gzwrite(gz_, p, piece) != static_cast<int>(piece)) return ok_ = false;
        p += piece;
        size -= piece;
    }
    return true;
}

bool TarGzWriter::Pad(uint64_t size) {
    static const char zeros[kBlock] = {};
    const size_t rest = static_cast<size_t>(size % kBlock);
    return rest == 0 || Write(zeros, kBlock - rest);
}

bool TarGzWriter::Header(const std::string& name, char type, uint64_t size, mode_t mode,
                         time_t mtime) {
    std::string pax;
    std::string shortName = name, prefix;
    if (name.size() > 100) {
        // prefix "/" name, split at the last slash that leaves a prefix of at most 155
        // bytes, when the rest fits; else a pax header carries the name.
        const size_t cut = name.rfind('/', 155);
        if (cut != std::string::npos && cut > 0 && name.size() - cut - 1 <= 100 &&
            name.size() - cut - 1 > 0) {
            prefix = name.substr(0, cut);
            shortName = name.substr(cut + 1);
        } else {
            pax += PaxRecord("path", name);
            shortName = name.substr(0, 100);
        }
    }
    if (size > kMaxOctalSize) pax += PaxRecord("size", std::to_string(size));
    if (!pax.empty()) {
        std::string paxName =
            "PaxHeaders/" +
            name.substr(name.rfind('/') == std::string::npos ? 0 : name.rfind('/') + 1);
        if (!Header(paxName.substr(0, 100), 'x', pax.size(), 0644, mtime) ||
            !Write(pax.data(), pax.size()) || !Pad(pax.size()))
            return false;
    }
    char h[kBlock] = {};
    memcpy(h + kName, shortName.data(), std::min<size_t>(shortName.size(), 100));
    PutOctal(h + kMode, 8, mode & 07777);
    PutOctal(h + kUid, 8, 0);
    PutOctal(h + kGid, 8, 0);
    PutOctal(h + kSize, 12, size > kMaxOctalSize ? 0 : size);
    PutOctal(h + kMtime, 12, mtime < 0 ? 0 : static_cast<uint64_t>(mtime));
    h[kType] = type;
    memcpy(h + kMagic, "ustar", 6);
    memcpy(h + kVersion, "00", 2);
    memcpy(h + kPrefix, prefix.data(), prefix.size());
    snprintf(h + kChksum, 8, "%06o", Checksum(h));
    h[kChksum + 7] = ' ';
    return Write(h, kBlock);
}

bool TarGzWriter::AddDirectory(const std::string& name, mode_t mode, time_t mtime) {
    return Header(name.back() == '/' ? name : name + "/", '5', 0, mode, mtime);
}

bool TarGzWriter::AddFile(const std::string& name, uint64_t size, mode_t mode, time_t mtime,
                          const std::function<long(char*, size_t)>& source) {
    if (!Header(name, '0', size, mode, mtime)) return false;
    static thread_local char buffer[1 << 16];
    uint64_t left = size;
    while (left > 0) {
        const size_t want = left < sizeof buffer ? static_cast<size_t>(left) : sizeof buffer;
        const long got = source(buffer, want);
        if (got <= 0) return ok_ = false;
        if (!Write(buffer, static_cast<size_t>(got))) return false;
        left -= static_cast<uint64_t>(got);
    }
    return Pad(size);
}

bool TarGzWriter::AddBytes(const std::string& name, std::string_view bytes, mode_t mode,
                           time_t mtime) {
    size_t at = 0;
    return AddFile(name, bytes.size(), mode, mtime, [&](char* buf, size_t want) {
        memcpy(buf, bytes.data() + at, want);
        at += want;
        return static_cast<long>(want);
    });
}

bool TarGzWriter::Close() {
    static const char zeros[2 * kBlock] = {};
    Write(zeros, sizeof zeros);
    if (gz_ && gzclose(gz_) != Z_OK) ok_ = false;
    gz_ = nullptr;
    return ok_;
}

// ---- Reader ----------------------------------------------------------------------------------

TarGzReader::~TarGzReader() {
    if (gz_) gzclose(gz_);
}

bool TarGzReader::Open(const std::string& path) {
    gz_ = gzopen(path.c_str(), "rb");
    if (!gz_)
        error = "cannot open " + path;
    else
        gzbuffer(gz_, 1 << 17);
    return gz_ != nullptr;
}

bool TarGzReader::ReadBlock(char* block, bool& atEnd) {
    atEnd = false;
    const int got = gzread(gz_, block, kBlock);
    if (got == 0 && gzeof(gz_)) {
        atEnd = true;
        return false;
    }
    if (got != static_cast<int>(kBlock)) {
        int code = 0;
        const char* msg = gzerror(gz_, &code);
        error = code != Z_OK && msg ? std::string("damaged archive: ") + msg
                                    : "damaged archive: it ends inside a block";
        return false;
    }
    return true;
}

bool TarGzReader::ReadData(uint64_t size, const std::function<bool(const char*, size_t)>& sink) {
    char buffer[1 << 16];
    const uint64_t padded = (size + kBlock - 1) / kBlock * kBlock;
    uint64_t left = padded;
    uint64_t data = size;
    while (left > 0) {
        const unsigned want = left < sizeof buffer ? static_cast<unsigned>(left) : sizeof buffer;
        const int got = gzread(gz_, buffer, want);
        if (got != static_cast<int>(want)) {
            error = "damaged archive: it ends inside a file";
            return false;
        }
        const size_t useful = data < want ? static_cast<size_t>(data) : want;
        if (useful > 0 && !sink(buffer, useful)) return false;
        data -= useful;
        left -= want;
    }
    return true;
}

bool TarGzReader::Skip(uint64_t size) {
    return ReadData(size, [](const char*, size_t) { return true; });
}

int TarGzReader::Next(Entry& entry) {
    std::map<std::string, std::string> pax;
    std::string longName;
    for (;;) {
        char h[kBlock];
        bool atEnd;
        if (!ReadBlock(h, atEnd)) {
            if (atEnd) error = "damaged archive: its end marker is missing";
            return -1;
        }
        bool zero = true;
        for (char c : h) zero = zero && c == 0;
        if (zero) return 0;  // the end marker
        if (GetNumber(h + kChksum, 8) != Checksum(h)) {
            error = "damaged archive: a header's checksum does not match";
            return -1;
        }
        const char type = h[kType];
        const uint64_t size = GetNumber(h + kSize, 12);
        if (type == 'x' || type == 'L') {
            std::string data;
            if (!ReadData(size, [&](const char* p, size_t n) {
                    data.append(p, n);
                    return true;
                }))
                return -1;
            if (type == 'L') {
                longName = data.substr(0, data.find('\0'));
                continue;
            }
            for (size_t at = 0; at < data.size();) {
                const size_t blank = data.find(' ', at);
                if (blank == std::string::npos) break;
                const size_t length = std::strtoull(data.c_str() + at, nullptr, 10);
                if (length == 0 || at + length > data.size()) break;
                const std::string record = data.substr(blank + 1, at + length - blank - 2);
                const size_t eq = record.find('=');
                if (eq != std::string::npos) pax[record.substr(0, eq)] = record.substr(eq + 1);
                at += length;
            }
            continue;
        }
        if (type == 'g') {
            if (!Skip(size)) return -1;
            continue;
        }
        std::string name(h + kName, strnlen(h + kName, 100));
        if (memcmp(h + kMagic, "ustar", 5) == 0 && h[kPrefix] != '\0')
            name = std::string(h + kPrefix, strnlen(h + kPrefix, 155)) + "/" + name;
        if (!longName.empty()) name = longName;
        if (pax.count("path")) name = pax["path"];
        entry.name = name;
        entry.size = pax.count("size") ? std::strtoull(pax["size"].c_str(), nullptr, 10) : size;
        entry.mode = static_cast<mode_t>(GetNumber(h + kMode, 8) & 07777);
        entry.mtime = static_cast<time_t>(GetNumber(h + kMtime, 12));
        if (type == '0' || type == '\0') {
            entry.type = '0';
        } else if (type == '5') {
            entry.type = '5';
            if (entry.size > 0 && !Skip(entry.size)) return -1;
            entry.size = 0;
        } else {
            error = "the archive holds " + name + ", which is neither a file nor a directory";
            return -1;
        }
        return 1;
    }
}
