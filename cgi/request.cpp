#include "cgi/request.h"

#include "cgi/fileops.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <new>
#include <stdexcept>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cgi/dbcs.h"
#include "cgi/fileops.h"

namespace {

constexpr size_t kReadBufferSize = 64 * 1024;

// ---- Small text helpers ----------------------------------------------------------------------

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

// The longest start of s of at most maxBytes bytes that does not split a two-byte character.
std::string_view CutChars(std::string_view s, size_t maxBytes) {
    if (s.size() <= maxBytes) return s;
    size_t i = 0;
    while (i < s.size()) {
        size_t step = (IsLeadByte(s[i]) && i + 1 < s.size()) ? 2 : 1;
        if (i + step > maxBytes) break;
        i += step;
    }
    return s.substr(0, i);
}

// A zero byte ends a text: the bytes after it are dropped.
void EndAtZero(std::string& s) {
    size_t z = s.find('\0');
    if (z != std::string::npos) s.resize(z);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    if (dir.back() == '/') return dir + name;
    return dir + "/" + name;
}

// CONTENT_LENGTH as a decimal conversion reads it: leading blanks, optional sign, digits;
// anything else reads as 0. Huge values saturate.
long long ParseLength(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        int d = text[i] - '0';
        if (v > (LLONG_MAX - d) / 10) { v = LLONG_MAX; break; }
        v = v * 10 + d;
    }
    return negative ? -v : v;
}

// ---- URL-encoded text --------------------------------------------------------------------

// Worth of one hexadecimal digit byte, without checking that it is one: a byte below "A"
// (bytes 0x80..0xFF included, being negative as plain chars) is c - 48, any other is
// (c with 0x20 cleared) - 55, so both letter cases work.
int HexWorth(char c) {
    int v = static_cast<signed char>(c);
    if (v < 'A') return v - 48;
    return (v & ~0x20) - 55;
}

// "%" and the two bytes after it stand for one byte. A "%" with fewer than two bytes after it
// stays as it is, together with what follows: nothing past the text is ever read.
std::string PercentDecode(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            int b = 16 * HexWorth(s[i + 1]) + HexWorth(s[i + 2]);
            out.push_back(static_cast<char>(static_cast<unsigned char>(b & 0xFF)));
            i += 2;
        } else {
            out.push_back(s[i]);
        }
    }
    EndAtZero(out);
    return out;
}

void AddUrlSegment(FieldList& fields, std::string_view segment) {
    FormField f;
    int eq = FindText(segment, "=");
    if (eq < 0) {
        f.name = PercentDecode(segment);
    } else {
        f.name = PercentDecode(segment.substr(0, static_cast<size_t>(eq)));
        f.value = PercentDecode(segment.substr(static_cast<size_t>(eq) + 1));
        f.hasValue = true;
    }
    fields.push_back(std::move(f));
}

// false when the text holds more than kMaxFields fields (the list is then incomplete).
bool DecodeUrlEncoded(std::string text, FieldList& fields) {
    if (text.empty()) return true;
    std::replace(text.begin(), text.end(), '+', ' ');
    std::string_view all(text);
    size_t pos = 0;
    for (;;) {
        if (fields.size() >= kMaxFields) return false;
        size_t amp = all.find('&', pos);
        if (amp == std::string_view::npos) {
            AddUrlSegment(fields, all.substr(pos));
            break;
        }
        AddUrlSegment(fields, all.substr(pos, amp - pos));
        pos = amp + 1;
        if (pos == all.size()) break;  // a trailing "&" gives no further field
    }
    return true;
}

// ---- Body input ----------------------------------------------------------------------------

// Hands out the body a byte or a buffer at a time from its own 64 KiB buffer, so a large body
// costs few reads; never reads past the length.
class BodyReader {
public:
    BodyReader(int fd, long long length)
        : fd_(fd), left_(length), buf_(new char[kReadBufferSize]) {}

    // The next byte (0..255), or -1 once the body has ended.
    int Get() {
        if (pos_ < len_) return static_cast<unsigned char>(buf_[pos_++]);
        return Refill() ? static_cast<unsigned char>(buf_[pos_++]) : -1;
    }

    // Everything that is left, appended to out.
    void ReadRest(std::string& out) {
        out.append(buf_.get() + pos_, len_ - pos_);
        pos_ = len_;
        while (Refill()) {
            out.append(buf_.get(), len_);
            pos_ = len_;
        }
    }

    // The bytes read but not yet taken (refilled when none are left); empty at the end.
    std::string_view Peek() {
        if (pos_ == len_ && !Refill()) return {};
        return {buf_.get() + pos_, len_ - pos_};
    }
    void Consume(size_t n) { pos_ += n; }

    void SkipRest() {
        pos_ = len_;
        while (Refill()) pos_ = len_;
    }

private:
    bool Refill() {
        if (ended_ || left_ <= 0) return false;
        size_t want = static_cast<size_t>(std::min<long long>(left_, kReadBufferSize));
        ssize_t n;
        do {
            n = read(fd_, buf_.get(), want);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) {
            ended_ = true;
            return false;
        }
        left_ -= n;
        pos_ = 0;
        len_ = static_cast<size_t>(n);
        return true;
    }

    int fd_;
    long long left_;
    std::unique_ptr<char[]> buf_;
    size_t pos_ = 0, len_ = 0;
    bool ended_ = false;
};

// ---- Multipart body ------------------------------------------------------------------------

// Finds the next delimiter as a sliding window as long as the delimiter finds it: at the first
// point where the last bytes read equal it byte for byte (any byte value, zero included). The
// bytes before it are passed to sink.Data. The body is searched a read buffer at a time, with
// the last bytes of one buffer (too few to hold the delimiter) carried over to the next.
// true when the delimiter was met (it is consumed, the bytes after it are not); false when the
// body ended first, in which case every byte that arrived was data and reached the sink.
template <class Sink>
bool ReadToDelimiter(BodyReader& in, std::string_view delim, Sink& sink) {
    const size_t d = delim.size();
    char carry[kDelimiterBufferSize];  // fewer than d bytes read but not yet passed on
    size_t carried = 0;
    char seam[2 * kDelimiterBufferSize];
    for (;;) {
        std::string_view chunk = in.Peek();
        if (chunk.empty()) {
            sink.Data({carry, carried});
            return false;
        }
        // A delimiter that begins among the carried bytes and ends in this buffer.
        if (carried > 0) {
            size_t extra = std::min(chunk.size(), d - 1);
            std::memcpy(seam, carry, carried);
            std::memcpy(seam + carried, chunk.data(), extra);
            const char* hit =
                static_cast<const char*>(memmem(seam, carried + extra, delim.data(), d));
            if (hit && static_cast<size_t>(hit - seam) < carried) {
                size_t at = static_cast<size_t>(hit - seam);
                sink.Data({carry, at});
                in.Consume(at + d - carried);
                return true;
            }
        }
        const char* hit =
            static_cast<const char*>(memmem(chunk.data(), chunk.size(), delim.data(), d));
        if (hit) {
            size_t at = static_cast<size_t>(hit - chunk.data());
            sink.Data({carry, carried});
            sink.Data(chunk.substr(0, at));
            in.Consume(at + d);
            return true;
        }
        // No delimiter begins before the last d - 1 bytes: everything before them is data.
        size_t keep = std::min(carried + chunk.size(), d - 1);
        size_t pass = carried + chunk.size() - keep;
        if (pass <= carried) {
            sink.Data({carry, pass});
            std::memmove(carry, carry + pass, carried - pass);
            std::memcpy(carry + carried - pass, chunk.data(), chunk.size());
        } else {
            sink.Data({carry, carried});
            sink.Data(chunk.substr(0, pass - carried));
            std::memcpy(carry, chunk.data() + (pass - carried), keep);
        }
        carried = keep;
        in.Consume(chunk.size());
    }
}

struct DiscardSink {
    void Data(std::string_view) {}
};

// Value of an ordinary part: the first 100,000 bytes are kept; at the delimiter the last two
// (the CR LF before it) are dropped, so a longer value ends up with 99,998 bytes.
class ValueSink {
public:
    void Data(std::string_view s) {
        total_ += s.size();
        kept_.append(s.substr(0, kPartValueKeep - kept_.size()));
    }
    std::string AtDelimiter() {
        if (total_ > kPartValueKeep) return std::string(CutChars(kept_, kPartValueKeep - 2));
        kept_.resize(kept_.size() >= 2 ? kept_.size() - 2 : 0);
        return std::move(kept_);
    }
    // Whether the value had to be cut (at the delimiter / at the end of the body).
    bool CutAtDelimiter() const { return total_ > kPartValueKeep; }
    bool CutAtEnd() const { return total_ > kPartValueKeep - 2; }
    // The body ended inside the value: every byte that arrived is value, up to the same limit.
    std::string AtEnd() {
        if (total_ > kPartValueKeep - 2) return std::string(CutChars(kept_, kPartValueKeep - 2));
        return std::move(kept_);
    }

private:
    std::string kept_;
    size_t total_ = 0;
};

// Bytes of a file part on their way to the temporary file. The last two bytes seen are held
// back (they may be the CR LF before the delimiter); older bytes go into the block buffer,
// which is written out when it is full and a further byte arrives. So the line break before
// the delimiter is never written, however the bytes fall into blocks. The buffer holds 64 of
// the 1,000-byte blocks, so that a large upload costs few writes. fd -1: bytes are dropped.
class FileSink {
public:
    // temp, when given, receives the file's identity as it is closed.
    FileSink(int fd, UploadTemp* temp) : fd_(fd), temp_(temp), failed_(fd < 0) {}
    ~FileSink() { Close(); }
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;

    void Data(std::string_view s) {
        if (s.size() >= 2) {
            ToBlock({hold_, held_});
            ToBlock(s.substr(0, s.size() - 2));
            std::memcpy(hold_, s.data() + s.size() - 2, 2);
            held_ = 2;
        } else if (s.size() == 1) {
            if (held_ == 2) {
                ToBlock({hold_, 1});
                hold_[0] = hold_[1];
                hold_[1] = s[0];
            } else {
                hold_[held_++] = s[0];
            }
        }
    }
    void AtDelimiter() {
        WriteBlock();
        Close();
    }
    void AtEnd() {
        ToBlock({hold_, held_});
        held_ = 0;
        WriteBlock();
        Close();
    }
    // The file could not be created or a write failed: what it holds is not the whole part.
    bool Failed() const { return failed_; }

private:
    void ToBlock(std::string_view s) {
        while (!s.empty()) {
            if (used_ == sizeof block_) WriteBlock();
            size_t n = std::min(s.size(), sizeof block_ - used_);
            std::memcpy(block_ + used_, s.data(), n);
            used_ += n;
            s.remove_prefix(n);
        }
    }
    void WriteBlock() {
        size_t done = 0;
        while (fd_ >= 0 && done < used_) {
            ssize_t n = FsWrite(fd_, block_ + done, used_ - done);
            if (n <= 0) {
                failed_ = true;
                Close();  // disk full or similar: the rest of the part is dropped
                break;
            }
            done += static_cast<size_t>(n);
        }
        used_ = 0;
    }
    void Close() {
        if (fd_ < 0) return;
        struct stat st;
        if (temp_ != nullptr && fstat(fd_, &st) == 0) {
            temp_->dev = st.st_dev;
            temp_->ino = st.st_ino;
            temp_->ctimeSec = st.st_ctim.tv_sec;
            temp_->ctimeNsec = st.st_ctim.tv_nsec;
        }
        close(fd_);
        fd_ = -1;
    }

    int fd_;
    UploadTemp* temp_;
    bool failed_;
    char block_[kUploadBlockSize * 64];
    size_t used_ = 0;
    char hold_[2];
    size_t held_ = 0;
};

// Names tried in a row before the search jumps, and jumps before it gives up.
constexpr int kProbeRun = 32;
constexpr int kProbeJumps = 16;

// A start for the name search far from the numbers taken so far: a random number in
// 0..2^31-2 (from the kernel; the clock and the process id when that fails).
int RandomTempNumber() {
    uint32_t v = 0;
    if (getrandom(&v, sizeof v, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof v)) {
        struct timespec ts;
        clock_gettime(CLOCK_REALTIME, &ts);
        v = static_cast<uint32_t>(ts.tv_nsec) * 2654435761u ^
            static_cast<uint32_t>(getpid()) * 40503u ^ static_cast<uint32_t>(ts.tv_sec);
    }
    return static_cast<int>(v % static_cast<uint32_t>(INT_MAX - kProbeRun));
}

// Creates the upload temporary file with a free number, exclusively, so that two runs at the
// same moment never share one: a taken name (any entry, a dangling link included) moves on to
// the next number. The search starts at *next (0 for a run, then after the last number taken,
// so that a body of many file parts does not probe the same names again); after kProbeRun
// taken names in a row it jumps to a random number, so that files left in the working
// directory never make a run walk past thousands of names. The descriptor, or -1 when the
// file cannot be created (name then holds the name tried).
int CreateUploadTemp(const std::string& workDir, std::string& name, int* next) {
    int n = *next;
    for (int jump = 0; jump < kProbeJumps; ++jump) {
        for (int i = 0; i < kProbeRun && n >= 0 && n < INT_MAX; ++i, ++n) {
            name = UploadTempName(n);
            int fd;
            do {
                fd = open(JoinPath(workDir, name).c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            } while (fd < 0 && errno == EINTR);
            if (fd >= 0) {
                *next = n + 1;
                return fd;
            }
            if (errno != EEXIST) return -1;
        }
        n = RandomTempNumber();
    }
    return -1;
}

// Removes a temporary file this run made, while it is still the file as the run left it.
void RemoveOwnTemp(const UploadTemp& t) {
    if (t.path.empty()) return;
    struct stat st;
    if (lstat(t.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    if (st.st_dev != t.dev || st.st_ino != t.ino || st.st_ctim.tv_sec != t.ctimeSec ||
        st.st_ctim.tv_nsec != t.ctimeNsec)
        return;
    unlink(t.path.c_str());
}

// The delimiter of a multipart body: "--" and the boundary, which is everything after the
// first "boundary=" (any case, not at the very start of the type) up to the end or the first
// "]". Quotes are kept. false when there is no boundary, and also when the delimiter would not
// fit its 100-byte buffer: such a body is refused as a whole (it yields no fields), since a
// cut delimiter would match inside the real one and misplace every part.
bool FindDelimiter(std::string_view type, std::string& delimiter) {
    constexpr std::string_view key = "boundary=";
    size_t at = std::string_view::npos;
    for (size_t i = 0; i + key.size() <= type.size(); ++i) {
        if (EqualNoCase(type.substr(i, key.size()), key)) {
            at = i;
            break;
        }
    }
    if (at == std::string_view::npos || at == 0) return false;
    std::string_view boundary = type.substr(at + key.size());
    size_t bracket = boundary.find(']');
    if (bracket != std::string_view::npos) boundary = boundary.substr(0, bracket);
    if (2 + boundary.size() > kDelimiterBufferSize - 1) return false;
    delimiter = "--";
    delimiter.append(boundary);
    return true;
}

bool SkipLine(BodyReader& in) {
    for (;;) {
        int c = in.Get();
        if (c < 0) return false;
        if (c == '\n') return true;
    }
}

// Reads bytes of the current line until the window of the key's length equals key.
// 1 found, 0 the line ended first (its line feed consumed), -1 the body ended.
int FindOnLine(BodyReader& in, std::string_view key) {
    char window[16];
    size_t have = 0;
    for (;;) {
        int c = in.Get();
        if (c < 0) return -1;
        if (c == '\n') return 0;
        if (have == key.size()) {
            std::memmove(window, window + 1, have - 1);
            --have;
        }
        window[have++] = static_cast<char>(c);
        if (have == key.size() && std::memcmp(window, key.data(), have) == 0) return 1;
    }
}

// Takes a quoted text after a key: skips one byte (the opening quote), then collects bytes up
// to the closing quote. Longer texts are cut to 999 bytes. 1 ended by the quote, 0 ended by a
// line feed (consumed), -1 the body ended.
int TakeQuoted(BodyReader& in, std::string& text) {
    text.clear();
    int q = in.Get();
    if (q < 0) return -1;
    if (q == '\n') return 0;
    for (;;) {
        int c = in.Get();
        if (c < 0) return -1;
        if (c == '"' || c == '\n') {
            if (text.size() > kPartNameBufferSize - 1)
                text.resize(CutChars(text, kPartNameBufferSize - 1).size());
            return c == '"' ? 1 : 0;
        }
        if (text.size() < kPartNameBufferSize) text.push_back(static_cast<char>(c));
    }
}

// The part name from the disposition line: lines without a non-empty name are passed over.
// lineOpen tells whether the rest of the name's line is still to be read.
bool ReadPartName(BodyReader& in, std::string& name, bool& lineOpen) {
    for (;;) {
        int found = FindOnLine(in, "name=");
        if (found < 0) return false;
        if (found == 0) continue;
        int end = TakeQuoted(in, name);
        if (end < 0) return false;
        if (!name.empty()) {
            lineOpen = end == 1;
            return true;
        }
        if (end == 1 && !SkipLine(in)) return false;
    }
}

// The client file name from the rest of the disposition line. isFile false: an ordinary
// field (no "filename=", or no closing quote before the line end).
bool ReadFileName(BodyReader& in, std::string& client, bool& isFile) {
    isFile = false;
    int found = FindOnLine(in, "filename=");
    if (found < 0) return false;
    if (found == 0) return true;
    int end = TakeQuoted(in, client);
    if (end < 0) return false;
    if (end == 0) return true;
    if (!SkipLine(in)) return false;
    isFile = true;
    return true;
}

// After the disposition line: one optional header line (such as the content type), then the
// empty line that ends the header.
bool SkipHeaderRest(BodyReader& in) {
    int c = in.Get();
    if (c < 0) return false;
    if (c != '\r' && c != '\n' && !SkipLine(in)) return false;
    return SkipLine(in);
}

// An ordinary part is added as the text name "=" value split again at its first "=": a name
// holding "=" is split there and its rest moves to the front of the value.
void AddPartField(FieldList& fields, std::string name, std::string value, bool cut) {
    EndAtZero(name);
    EndAtZero(value);
    FormField f;
    f.hasValue = true;
    f.isCut = cut;
    int eq = FindText(name, "=");
    if (eq >= 0) {
        f.name = name.substr(0, static_cast<size_t>(eq));
        f.value = name.substr(static_cast<size_t>(eq) + 1) + "=" + value;
    } else {
        f.name = std::move(name);
        f.value = std::move(value);
    }
    fields.push_back(std::move(f));
}

// After a delimiter: the two bytes that follow it. false when the body is over (closing "--"
// or the end of input).
bool NextPartFollows(BodyReader& in) {
    in.Get();
    int second = in.Get();
    return second >= 0 && second != '-';
}

// false when the body goes beyond the limits: more fields than kMaxFields, more kept name
// and value bytes than kMaxFieldBytes, or more file parts carrying a file than the limit.
bool DecodeMultipart(BodyReader& in, const std::string& contentType, const std::string& workDir,
                     const RequestLimits& limits, FieldList& fields) {
    std::string delimiter;
    if (!FindDelimiter(contentType, delimiter)) {
        in.SkipRest();
        return true;
    }
    DiscardSink discard;
    int nextTemp = 0;
    int files = 0;
    size_t keptBytes = 0;
    if (!ReadToDelimiter(in, delimiter, discard) || !NextPartFollows(in)) return true;
    for (;;) {
        if (fields.size() >= kMaxFields) return false;
        std::string name, client;
        bool lineOpen = false, isFile = false;
        if (!ReadPartName(in, name, lineOpen)) return true;
        if (lineOpen && !ReadFileName(in, client, isFile)) return true;
        if (!SkipHeaderRest(in)) return true;

        bool met;
        if (!isFile) {
            ValueSink sink;
            met = ReadToDelimiter(in, delimiter, sink);
            const bool cut = met ? sink.CutAtDelimiter() : sink.CutAtEnd();
            AddPartField(fields, std::move(name), met ? sink.AtDelimiter() : sink.AtEnd(), cut);
            keptBytes += fields.back().name.size() + fields.back().value.size();
            if (keptBytes > kMaxFieldBytes) return false;
        } else {
            EndAtZero(name);
            EndAtZero(client);
            FormField f;
            f.name = std::move(name);
            f.hasValue = true;
            f.isUpload = true;
            if (client.empty()) {
                // No file chosen: empty value, no temporary file.
                fields.push_back(std::move(f));
                met = ReadToDelimiter(in, delimiter, discard);
            } else {
                if (++files > limits.maxUploadFiles) return false;
                std::string temp;
                int fd = CreateUploadTemp(workDir, temp, &nextTemp);
                f.value = client + "," + temp;
                if (fd >= 0) f.temp.path = JoinPath(workDir, temp);
                fields.push_back(std::move(f));
                FileSink sink(fd, &fields.back().temp);
                met = ReadToDelimiter(in, delimiter, sink);
                if (met)
                    sink.AtDelimiter();
                else
                    sink.AtEnd();
                // A file the disk did not take whole is marked, never passed on as complete.
                if (sink.Failed()) fields.back().isCut = true;
            }
        }
        if (!met || !NextPartFollows(in)) return true;
    }
}

bool IsUploadTempName(std::string_view name) {
    if (name.size() < 4 || name.size() > 13 || name.substr(0, 3) != "CGI") return false;
    for (size_t i = 3; i < name.size(); ++i)
        if (name[i] < '0' || name[i] > '9') return false;
    return true;
}

}  // namespace

std::string UploadTempName(int n) { return "CGI" + std::to_string(n); }

CgiInput CgiInputFromEnvironment(int fd, const std::string& workDir) {
    CgiInput in;
    auto cut = [](const char* v) {
        return std::string(v ? std::string_view(v).substr(0, kEnvBufferSize - 1) : "");
    };
    in.method = cut(std::getenv("REQUEST_METHOD"));
    in.contentType = cut(std::getenv("CONTENT_TYPE"));
    if (const char* q = std::getenv("QUERY_STRING")) {
        in.queryString = q;
        in.hasQueryString = true;
    }
    if (const char* l = std::getenv("CONTENT_LENGTH")) {
        in.contentLength = l;
        in.hasContentLength = true;
    }
    in.fd = fd;
    in.workDir = workDir;
    return in;
}

// Drops every field, removing the temporary files made for them.
static void DropFields(FieldList& fields) {
    for (const FormField& f : fields) RemoveOwnTemp(f.temp);
    fields.clear();
}

static int DecodeInto(const CgiInput& in, FieldList& fields) {
    std::string_view method = std::string_view(in.method).substr(0, kEnvBufferSize - 1);
    if (EqualNoCase(method, "GET")) {
        if (!in.hasQueryString || in.queryString.empty()) return 0;
        if (in.queryString.size() > kMaxUrlEncodedBytes) return kRequestTooLarge;
        return DecodeUrlEncoded(in.queryString, fields) ? 0 : kRequestTooLarge;
    }
    // Other methods (or none) have nothing this program decodes.
    if (!EqualNoCase(method, "POST")) return 0;

    long long length = in.hasContentLength ? ParseLength(in.contentLength) : 0;
    if (length <= 0) return -2;
    if (length > in.limits.maxRequestBytes) return kRequestTooLarge;
    std::string type(std::string_view(in.contentType).substr(0, kEnvBufferSize - 1));
    if (EqualNoCase(type, "application/x-www-form-urlencoded")) {
        if (length > static_cast<long long>(kMaxUrlEncodedBytes)) return kRequestTooLarge;
        // Held whole; a body shorter than announced is decoded as far as it came.
        BodyReader reader(in.fd, length);
        std::string body;
        body.reserve(static_cast<size_t>(length));
        reader.ReadRest(body);
        return DecodeUrlEncoded(std::move(body), fields) ? 0 : kRequestTooLarge;
    }
    // Any other type (none included) is multipart; without a boundary it yields nothing.
    BodyReader reader(in.fd, length);
    return DecodeMultipart(reader, type, in.workDir, in.limits, fields) ? 0 : kRequestTooLarge;
}

int DecodeRequest(const CgiInput& in, FieldList& fields) {
    fields.clear();
    try {
        const int result = DecodeInto(in, fields);
        if (result == kRequestTooLarge) DropFields(fields);
        return result;
    } catch (const std::bad_alloc&) {
        DropFields(fields);
        return -1;
    } catch (const std::length_error&) {
        DropFields(fields);
        return -1;
    }
}

static std::string FindField(const FieldList& fields, std::string_view name, int k,
                             size_t capacity, bool uploadsOnly) {
    if (k < 0 || capacity == 0) return {};
    int seen = 0;
    for (const FormField& f : fields) {
        if (f.name != name) continue;
        if (seen++ == k) {
            if (uploadsOnly && !f.isUpload) return {};
            // Cut at a character boundary: a lone lead byte would swallow the byte written
            // after the text (the comma that ends a stored field).
            if (f.value.size() < capacity) return f.value;
            return std::string(CutChars(f.value, capacity - 1));
        }
    }
    return {};
}

std::string GetField(const FieldList& fields, std::string_view name, int k, size_t capacity) {
    return FindField(fields, name, k, capacity, false);
}

const FormField* FindFormField(const FieldList& fields, std::string_view name, int k) {
    int seen = 0;
    for (const FormField& f : fields)
        if (f.name == name && seen++ == k) return &f;
    return nullptr;
}

std::string GetUploadField(const FieldList& fields, std::string_view name, int k,
                           size_t capacity) {
    return FindField(fields, name, k, capacity, true);
}

void SplitUploadValue(std::string& value, std::string& clientName, std::string& tempName) {
    size_t afterDir = 0, lastComma = std::string::npos;
    for (size_t i = 0; i < value.size();) {
        if (IsLeadByte(value[i]) && i + 1 < value.size()) {
            i += 2;
            continue;
        }
        if (value[i] == '\\' || value[i] == '/') afterDir = i + 1;
        ++i;
    }
    value.erase(0, afterDir);
    for (size_t i = 0; i < value.size();) {
        if (IsLeadByte(value[i]) && i + 1 < value.size()) {
            i += 2;
            continue;
        }
        if (value[i] == ',') lastComma = i;
        ++i;
    }
    std::string_view v(value);
    if (lastComma == std::string::npos) {
        clientName = std::string(CutChars(v, kPartNameBufferSize - 1));
        tempName.clear();
        return;
    }
    clientName = std::string(CutChars(v.substr(0, lastComma), kPartNameBufferSize - 1));
    std::string_view temp = v.substr(lastComma + 1);
    tempName = IsUploadTempName(temp) ? std::string(temp) : std::string();
}

void FinishRequest(FieldList& fields, const std::string& workDir, time_t now) {
    for (const FormField& f : fields) RemoveOwnTemp(f.temp);
    FieldList().swap(fields);
    const std::string dir = workDir.empty() ? std::string(".") : workDir;
    DIR* d = opendir(dir.c_str());
    if (!d) return;
    std::vector<std::string> names;
    while (dirent* e = readdir(d)) {
        if (std::strncmp(e->d_name, "CGI", 3) == 0) names.emplace_back(e->d_name);
    }
    closedir(d);
    for (const std::string& name : names) {
        std::string path = JoinPath(dir, name);
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (st.st_mtime < now - kStaleUploadSeconds) unlink(path.c_str());
    }
}
