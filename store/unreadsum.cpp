#include "store/unreadsum.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <unordered_map>
#include <vector>

#include "store/messages.h"
#include "store/readmarks.h"
#include "store/unread.h"

namespace {

constexpr std::string_view kHeader = "unread summary 1";

uint64_t Fnv1a(std::string_view bytes) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

void StampFile(const std::string& path, int64_t& ino, int64_t& size, int64_t& sec, int64_t& nsec) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        ino = 0, size = -1, sec = 0, nsec = 0;
        return;
    }
    ino = static_cast<int64_t>(st.st_ino);
    size = static_cast<int64_t>(st.st_size);
    sec = static_cast<int64_t>(st.st_mtim.tv_sec);
    nsec = static_cast<int64_t>(st.st_mtim.tv_nsec);
}

std::string EscapeId(std::string_view id) {
    std::string out;
    for (unsigned char c : id) {
        if (c < 0x21 || c == 0x7F || c == '%') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool UnescapeId(std::string_view text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return false;
        const int hi = HexDigit(text[i + 1]), lo = HexDigit(text[i + 2]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return true;
}

// Writes the summary in place (the folder directory keeps its modification time when the file
// is already there) with the stamp taken after the file exists. 0 or -1.
int StoreSummary(const std::string& dataDir, int folder, UnreadSummary& summary) {
    const std::string path = UnreadSummaryPath(dataDir, folder);
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    int result = -1;
    // The directory's time is set back by a nanosecond: the kernel stamps a later change with
    // its clock tick, which may equal the time just read but never this one, so a file made in
    // the same tick by another program still shows.
    struct stat st {};
    const std::string dir = FolderDirPath(dataDir, folder);
    if (stat(dir.c_str(), &st) == 0) {
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;
        times[1] = st.st_mtim;
        if (times[1].tv_nsec > 0) {
            --times[1].tv_nsec;
        } else {
            --times[1].tv_sec;
            times[1].tv_nsec = 999999999;
        }
        utimensat(AT_FDCWD, dir.c_str(), times, 0);
    }
    if (TakeUnreadSummaryStamp(dataDir, folder, summary.stamp)) {
        const std::string text = FormatUnreadSummary(summary);
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = pwrite(fd, text.data() + done, text.size() - done,
                                     static_cast<off_t>(done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        if (done == text.size() && ftruncate(fd, static_cast<off_t>(text.size())) == 0) result = 0;
    }
    close(fd);
    if (result != 0) unlink(path.c_str());
    return result;
}

}  // namespace

std::string UnreadSummaryPath(const std::string& dataDir, int folder) {
    return FolderFilePath(dataDir, folder, "unread.sum");
}

bool TakeUnreadSummaryStamp(const std::string& dataDir, int folder, UnreadSummaryStamp& out) {
    struct stat st {};
    if (stat(FolderDirPath(dataDir, folder).c_str(), &st) != 0) return false;
    out.dirSec = static_cast<int64_t>(st.st_mtim.tv_sec);
    out.dirNsec = static_cast<int64_t>(st.st_mtim.tv_nsec);
    StampFile(MessageIndexPath(dataDir, folder), out.indexIno, out.indexSize, out.indexSec,
              out.indexNsec);
    StampFile(NoReadListPath(dataDir, folder), out.listIno, out.listSize, out.listSec,
              out.listNsec);
    return true;
}

std::string FormatUnreadSummary(const UnreadSummary& s) {
    std::string text(kHeader);
    text += kLineEnd;
    char line[256];
    const UnreadSummaryStamp& t = s.stamp;
    std::snprintf(line, sizeof line,
                  "stamp %" PRId64 " %" PRId64 " %" PRId64 " %" PRId64 " %" PRId64 " %" PRId64
                  " %" PRId64 " %" PRId64 " %" PRId64 " %" PRId64,
                  t.dirSec, t.dirNsec, t.indexIno, t.indexSize, t.indexSec, t.indexNsec, t.listIno,
                  t.listSize, t.listSec, t.listNsec);
    text += line;
    text += kLineEnd;
    text += "records " + std::to_string(s.records);
    text += kLineEnd;
    for (const auto& [id, n] : s.marks) {
        if (n == 0) continue;
        text += std::to_string(n) + " " + EscapeId(id);
        text += kLineEnd;
    }
    std::snprintf(line, sizeof line, "end %016" PRIx64, Fnv1a(text));
    text += line;
    text += kLineEnd;
    return text;
}

namespace {

// ParseUnreadSummary; with only, the marks of that reader alone are taken (the others' lines
// are checked as they stand, their ids not unpacked).
bool ParseSummary(const std::string& bytes, UnreadSummary& out, const std::string* only) {
    out = UnreadSummary();
    const std::string onlyText = only ? EscapeId(*only) : std::string();
    // The last line holds the hash of everything before it.
    const size_t endAt = bytes.rfind("end ");
    if (endAt == std::string::npos || bytes.size() != endAt + 4 + 16 + kLineEnd.size() ||
        bytes.compare(bytes.size() - kLineEnd.size(), kLineEnd.size(), kLineEnd) != 0)
        return false;
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016" PRIx64, Fnv1a(std::string_view(bytes).substr(0, endAt)));
    if (bytes.compare(endAt + 4, 16, hash) != 0) return false;

    // Line by line, without copies: the header, the stamp, the record count, then the marks,
    // which come in the order of their ids as they were written.
    std::string_view rest(bytes.data(), endAt);
    auto nextLine = [&](std::string_view& line) {
        const size_t e = rest.find(kLineEnd);
        if (e == std::string_view::npos) return false;
        line = rest.substr(0, e);
        rest.remove_prefix(e + kLineEnd.size());
        return true;
    };
    auto number = [](std::string_view text, long& value) {
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        return ec == std::errc() && end == text.data() + text.size();
    };
    std::string_view line;
    if (!nextLine(line) || line != kHeader || !nextLine(line)) return false;
    UnreadSummaryStamp& t = out.stamp;
    const std::string stampLine(line);
    if (std::sscanf(stampLine.c_str(),
                    "stamp %" SCNd64 " %" SCNd64 " %" SCNd64 " %" SCNd64 " %" SCNd64 " %" SCNd64
                    " %" SCNd64 " %" SCNd64 " %" SCNd64 " %" SCNd64,
                    &t.dirSec, &t.dirNsec, &t.indexIno, &t.indexSize, &t.indexSec, &t.indexNsec,
                    &t.listIno, &t.listSize, &t.listSec, &t.listNsec) != 10)
        return false;
    if (!nextLine(line) || line.substr(0, 8) != "records " || !number(line.substr(8), out.records))
        return false;
    std::string id;
    while (!rest.empty()) {
        if (!nextLine(line)) return false;
        const size_t space = line.find(' ');
        long n = 0;
        if (space == std::string_view::npos || !number(line.substr(0, space), n)) return false;
        if (only) {  // ids are written one way only, so the written forms compare
            if (line.substr(space + 1) == onlyText) out.marks[*only] += n;
            continue;
        }
        if (!UnescapeId(line.substr(space + 1), id)) return false;
        if (out.marks.empty() || std::prev(out.marks.end())->first < id)
            out.marks.emplace_hint(out.marks.end(), id, n);
        else
            out.marks[id] += n;
    }
    return true;
}

// LoadUnreadSummary, with only as for ParseSummary.
int LoadSummary(const std::string& dataDir, int folder, UnreadSummary& out,
                const std::string* only) {
    std::string bytes;
    if (!ReadWholeFile(UnreadSummaryPath(dataDir, folder), bytes) || !ParseSummary(bytes, out, only))
        return -1;
    UnreadSummaryStamp now;
    if (!TakeUnreadSummaryStamp(dataDir, folder, now) || !(now == out.stamp)) return -1;
    return 0;
}

}  // namespace

bool ParseUnreadSummary(const std::string& bytes, UnreadSummary& out) {
    return ParseSummary(bytes, out, nullptr);
}

int CountUnreadSummary(const std::string& dataDir, int folder, UnreadSummary& out,
                       bool createMissing) {
    out = UnreadSummary();
    // Without a folder directory there is nothing to count.
    if (!TakeUnreadSummaryStamp(dataDir, folder, out.stamp)) return 0;
    // Reads a record file whole; a missing one is empty (and, as the literal count leaves it,
    // created empty when createMissing). false when it is there but cannot be read.
    auto read = [&](const std::string& path, size_t recordSize, std::string& bytes) {
        if (createMissing) return ReadRecordFile(path, recordSize, bytes);
        if (ReadWholeFile(path, bytes)) return true;
        bytes.clear();
        return !FileExists(path);
    };
    std::string index;
    if (!read(MessageIndexPath(dataDir, folder), kMessageIndexEntrySize, index)) return -1;
    // Copies of each number in the index, in the order first seen.
    std::unordered_map<int32_t, long> copies;
    std::vector<int32_t> numbers;
    for (size_t off = 0; off + kMessageIndexEntrySize <= index.size(); off += kMessageIndexEntrySize) {
        const int32_t number = GetInt32(std::string_view(index).substr(off, 8), 4);
        if (copies[number]++ == 0) numbers.push_back(number);
        ++out.records;
    }
    std::string bytes;
    for (int32_t number : numbers) {
        if (!read(ReadMarkPath(dataDir, folder, number), kReadMarkSize, bytes)) return -1;
        const long n = copies[number];
        for (size_t off = 0; off + kReadMarkSize <= bytes.size(); off += kReadMarkSize)
            out.marks[GetSlotText(std::string_view(bytes).substr(off, kReadMarkSize), 4, 24)] += n;
    }
    return 0;
}

int LoadUnreadSummary(const std::string& dataDir, int folder, UnreadSummary& out) {
    return LoadSummary(dataDir, folder, out, nullptr);
}

int RebuildUnreadSummary(const std::string& dataDir, int folder) {
    DataLock lock(dataDir);
    UnreadSummary summary;
    if (CountUnreadSummary(dataDir, folder, summary, true) != 0) return -1;
    return StoreSummary(dataDir, folder, summary);
}

int UnreadSummaryOf(const std::string& dataDir, int folder, UnreadSummary& out) {
    if (LoadUnreadSummary(dataDir, folder, out) == 0) return 0;
    DataLock lock(dataDir);
    if (LoadUnreadSummary(dataDir, folder, out) == 0) return 0;
    if (CountUnreadSummary(dataDir, folder, out, true) != 0) return -1;
    // The count stands even when it cannot be stored (a read-only folder, say).
    UnreadSummary stored = out;
    StoreSummary(dataDir, folder, stored);
    return 0;
}

int UnreadSummaryMarksOf(const std::string& dataDir, int folder, const std::string& readerId,
                         long& records, long& marks) {
    UnreadSummary summary;
    if (LoadSummary(dataDir, folder, summary, &readerId) != 0 &&
        UnreadSummaryOf(dataDir, folder, summary) != 0)
        return -1;
    records = summary.records;
    const auto it = summary.marks.find(readerId);
    marks = it == summary.marks.end() ? 0 : it->second;
    return 0;
}

namespace {
std::vector<UnreadSummaryUpdate*>& OpenUpdates() {
    static std::vector<UnreadSummaryUpdate*> open;
    return open;
}
}  // namespace

UnreadSummaryUpdate::UnreadSummaryUpdate(const std::string& dataDir, int folder)
    : lock_(dataDir), dataDir_(dataDir), folder_(folder) {
    for (UnreadSummaryUpdate* u : OpenUpdates()) {
        if (u->folder_ == folder && u->dataDir_ == dataDir) {
            outer_ = u;
            return;
        }
    }
    existed_ = FileExists(UnreadSummaryPath(dataDir, folder));
    valid_ = existed_ && LoadUnreadSummary(dataDir, folder, summary_) == 0;
    OpenUpdates().push_back(this);
}

UnreadSummaryUpdate::~UnreadSummaryUpdate() {
    if (outer_) return;
    std::vector<UnreadSummaryUpdate*>& open = OpenUpdates();
    for (size_t i = 0; i < open.size(); ++i) {
        if (open[i] == this) {
            open.erase(open.begin() + static_cast<long>(i));
            break;
        }
    }
    if (valid_) {
        StoreSummary(dataDir_, folder_, summary_);
    } else if (existed_) {
        unlink(UnreadSummaryPath(dataDir_, folder_).c_str());
    }
}

void UnreadSummaryUpdate::AddRecords(long n) {
    if (outer_) outer_->AddRecords(n);
    else summary_.records += n;
}

void UnreadSummaryUpdate::AddMarks(const std::string& readerId, long n) {
    if (outer_) outer_->AddMarks(readerId, n);
    else summary_.marks[readerId] += n;
}

void UnreadSummaryUpdate::Drop() {
    if (outer_) outer_->Drop();
    else valid_ = false;
}
