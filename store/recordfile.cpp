#include "store/recordfile.h"

#include "cgi/dbcs.h"
#include "cgi/fileops.h"
#include "store/journal.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// ---- Paths ---------------------------------------------------------------------------------

std::string DataFilePath(const std::string& dataDir, std::string_view name) {
    std::string path = dataDir;
    path.append(name);
    return path;
}

std::string FolderDirPath(const std::string& dataDir, int folder) {
    return dataDir + std::to_string(folder);
}

std::string FolderFilePath(const std::string& dataDir, int folder, std::string_view name) {
    std::string path = FolderDirPath(dataDir, folder);
    path += '/';
    path.append(name);
    return path;
}

int EnsureFolderDir(const std::string& dataDir, int folder) {
    const std::string dir = FolderDirPath(dataDir, folder);
    if (FsMkdir(dir.c_str(), 0700) == 0) return 0;
    struct stat st;
    if (errno == EEXIST && stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return 0;
    return -1;
}

// ---- Locking -------------------------------------------------------------------------------

namespace {

// One entry per locked lock file (keyed by device and inode, so that two spellings of one
// directory share the lock). The entry belongs to the process that took it: a child created
// by fork while the lock was held inherits the map but not the right to the lock.
struct HeldLock {
    int fd = -1;
    int count = 0;
    pid_t owner = 0;
};

std::mutex& LockTableMutex() {
    static std::mutex m;
    return m;
}

std::map<std::string, HeldLock>& LockTable() {
    static std::map<std::string, HeldLock> table;
    return table;
}

}  // namespace

DataLock::DataLock(const std::string& dataDir) {
    const std::string path = dataDir + "board.lock";
    const int fd = FsOpen(path.c_str(), O_RDWR | O_CREAT, 0600);
    // Without a lock file (the data directory is missing or not writable) the lock is not
    // held: the writers below then change nothing (held() tells the callers).
    if (fd < 0) return;
    struct stat st;
    if (fstat(fd, &st) != 0) {
        close(fd);
        return;
    }
    std::string key = std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
                      std::to_string(static_cast<unsigned long long>(st.st_ino));

    {
        std::lock_guard<std::mutex> guard(LockTableMutex());
        auto& table = LockTable();
        const pid_t self = getpid();
        auto it = table.find(key);
        if (it != table.end() && it->second.owner == self) {
            ++it->second.count;
            close(fd);
            key_ = std::move(key);
            return;
        }
        if (it != table.end()) {
            // Inherited through fork: drop our copy of the descriptor without unlocking (an
            // unlock would release the parent's lock, which shares the open file).
            close(it->second.fd);
            table.erase(it);
        }
        int rc;
        do {
            rc = flock(fd, LOCK_EX);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            close(fd);
            return;
        }
        table[key] = HeldLock{fd, 1, self};
        key_ = std::move(key);
    }
    // A change of several files that a killed run left half done is finished before this
    // process changes anything, and now and then the leftovers of killed runs are swept away
    // (store/journal.h).
    CompletePendingChange(dataDir);
    SweepLeftoversWhenDue(dataDir, fd, time(nullptr));
}

DataLock::~DataLock() {
    if (key_.empty()) return;
    std::lock_guard<std::mutex> guard(LockTableMutex());
    auto& table = LockTable();
    auto it = table.find(key_);
    if (it == table.end() || it->second.owner != getpid()) return;
    if (--it->second.count > 0) return;
    flock(it->second.fd, LOCK_UN);
    close(it->second.fd);
    table.erase(it);
}

// ---- Low-level file operations -------------------------------------------------------------

namespace {

int OpenRetry(const char* path, int flags, mode_t mode = 0) { return FsOpen(path, flags, mode); }

// Writes all bytes at the current position (offset < 0) or at offset; false on failure.
bool WriteAll(int fd, std::string_view bytes, off_t offset = -1) {
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = offset < 0 ? FsWrite(fd, p, left) : FsPwrite(fd, p, left, offset);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        p += n;
        left -= static_cast<size_t>(n);
        if (offset >= 0) offset += n;
    }
    return true;
}

bool ReadAll(int fd, std::string& bytes) {
    bytes.clear();
    // Most record files a page reads are small (read marks, bodies): one read takes them whole,
    // and a short read of a regular file is its end.
    char first[16384];
    ssize_t head;
    do {
        head = read(fd, first, sizeof first);
    } while (head < 0 && errno == EINTR);
    if (head < 0) return false;
    if (static_cast<size_t>(head) < sizeof first) {
        bytes.assign(first, static_cast<size_t>(head));
        return true;
    }
    struct stat st;
    // Then straight into the string up to the size the file has now, then whatever it grew by.
    const size_t size = fstat(fd, &st) == 0 && st.st_size > head ? static_cast<size_t>(st.st_size)
                                                                  : sizeof first;
    bytes.resize(size);
    std::memcpy(bytes.data(), first, sizeof first);
    size_t got = sizeof first;
    while (got < size) {
        ssize_t n = read(fd, bytes.data() + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            bytes.clear();
            return false;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            bytes.clear();
            return false;
        }
        if (n == 0) return true;
        bytes.append(buf, static_cast<size_t>(n));
    }
}

}  // namespace

int OpenRecordFile(const std::string& path) {
    int fd = OpenRetry(path.c_str(), O_RDWR);
    if (fd >= 0) return fd;
    return OpenRetry(path.c_str(), O_RDWR | O_CREAT, 0600);
}

long FileSize(const std::string& path) {
    int fd = OpenRetry(path.c_str(), O_RDONLY);
    if (fd < 0) return -1;
    struct stat st;
    long size = -1;
    if (fstat(fd, &st) == 0) size = static_cast<long>(st.st_size);
    close(fd);
    return size;
}

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
    bytes.clear();
    int fd = OpenRetry(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    bool ok = ReadAll(fd, bytes);
    close(fd);
    return ok;
}

bool ReadFileForChange(const std::string& path, std::string& bytes, bool& existed) {
    existed = FileExists(path);
    if (!existed) {
        bytes.clear();
        return true;
    }
    return ReadWholeFile(path, bytes);
}

size_t ReadBytesAt(int fd, size_t offset, size_t length, std::string& bytes) {
    bytes.resize(length);
    size_t got = 0;
    while (got < length) {
        ssize_t n = pread(fd, bytes.data() + got, length - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    return got;
}

int RewriteViaTemp(const std::string& dataDir, const std::string& path,
                   const std::string& tmpPath, std::string_view content) {
    DataLock lock(dataDir);
    if (!lock.held()) return -1;
    FsUnlink(tmpPath.c_str());
    int fd = OpenRetry(tmpPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return -1;
    // The new file keeps the permissions of the one it replaces.
    struct stat st;
    if (stat(path.c_str(), &st) == 0) fchmod(fd, st.st_mode & 07777);
    bool ok = WriteAll(fd, content) && FsFsync(fd) == 0;
    if (close(fd) != 0) ok = false;
    if (ok && FsRename(tmpPath.c_str(), path.c_str()) == 0) {
        SyncDirectoryOf(path);
        return 0;
    }
    FsUnlink(tmpPath.c_str());
    return -1;
}

void SyncDirectoryOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int fd = OpenRetry(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    FsFsync(fd);
    close(fd);
}

int AppendToFile(const std::string& dataDir, const std::string& path, std::string_view bytes,
                 bool create) {
    DataLock lock(dataDir);
    if (!lock.held()) return -1;
    int flags = O_WRONLY | O_APPEND | (create ? O_CREAT : 0);
    int fd = OpenRetry(path.c_str(), flags, 0600);
    if (fd < 0) return -1;
    bool ok = WriteAll(fd, bytes);
    if (close(fd) != 0) ok = false;
    return ok ? 0 : -1;
}

int RewriteIfChanged(const std::string& dataDir, const std::string& path,
                     const std::string& tmpPath, bool existed, std::string_view old,
                     std::string_view content) {
    if (existed && content == old) return 0;
    return RewriteViaTemp(dataDir, path, tmpPath, content);
}

int WriteAt(const std::string& dataDir, const std::string& path, long offset,
            std::string_view bytes) {
    if (offset < 0) return -1;
    DataLock lock(dataDir);
    if (!lock.held()) return -1;
    int fd = OpenRecordFile(path);
    if (fd < 0) return -1;
    bool ok = WriteAll(fd, bytes, static_cast<off_t>(offset));
    if (close(fd) != 0) ok = false;
    return ok ? 0 : -1;
}

// ---- Text record files ---------------------------------------------------------------------

namespace {

// One line as a reader with a buffer of bufferSize bytes takes it in text mode. CR LF counts
// as the single character LF; a CR that is the last byte of the file is dropped like a line
// end. text is the line without its end, raw the stored bytes including it.
template <typename Sink>
void SplitLines(std::string_view bytes, size_t bufferSize, Sink sink) {
    const size_t room = bufferSize > 1 ? bufferSize - 1 : 1;  // characters per read
    const size_t n = bytes.size();
    size_t pos = 0;
    const char* data = bytes.data();
    while (pos < n) {
        const size_t start = pos;
        const size_t limit = std::min(n, start + room);  // the characters one read takes
        size_t textEnd;
        const void* lf = std::memchr(data + start, '\n', limit - start);
        if (lf != nullptr) {
            // A LF ends the line; a CR just before it belongs to the line end.
            const size_t at = static_cast<size_t>(static_cast<const char*>(lf) - data);
            textEnd = at > start && data[at - 1] == '\r' ? at - 1 : at;
            pos = at + 1;
        } else if (limit < n && data[limit - 1] == '\r' && data[limit] == '\n') {
            textEnd = limit - 1;  // the last character read is the CR of a CR LF
            pos = limit + 1;
        } else if (limit == n && data[n - 1] == '\r') {
            textEnd = n - 1;  // a CR that ends the file ends the line
            pos = n;
        } else {
            textEnd = limit;  // a piece of a long line, or the last line without its end
            pos = limit;
        }
        sink(bytes.substr(start, textEnd - start), bytes.substr(start, pos - start));
    }
}

}  // namespace

std::vector<std::string_view> SplitTextLines(std::string_view bytes, size_t bufferSize) {
    std::vector<std::string_view> lines;
    SplitLines(bytes, bufferSize,
               [&](std::string_view text, std::string_view) { lines.push_back(text); });
    return lines;
}

std::vector<std::string_view> SplitRawLines(std::string_view bytes, size_t bufferSize) {
    std::vector<std::string_view> lines;
    SplitLines(bytes, bufferSize,
               [&](std::string_view, std::string_view raw) { lines.push_back(raw); });
    return lines;
}

std::vector<std::string_view> CutFields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (;;) {
        int comma = FindText(line, ",");
        if (comma < 0) break;
        fields.push_back(line.substr(0, static_cast<size_t>(comma)));
        line.remove_prefix(static_cast<size_t>(comma) + 1);
    }
    return fields;
}

std::string CutToSlot(std::string_view value, size_t slotSize) {
    if (slotSize == 0) return std::string();
    const size_t nul = value.find('\0');
    if (nul != std::string_view::npos) value = value.substr(0, nul);
    const size_t limit = slotSize - 1;
    if (value.size() <= limit) return std::string(value);
    // Cut on a character boundary: a lead byte whose second byte would fall outside the slot
    // goes too (a lone lead byte would swallow the comma written after the field).
    size_t i = 0;
    while (i < limit) {
        size_t step = IsLeadByte(value[i]) ? 2 : 1;
        if (i + step > limit) break;
        i += step;
    }
    return std::string(value.substr(0, i));
}

std::string FieldValue(std::string_view value, size_t slotSize, bool keepCommas) {
    const auto stops = [&](char c) {
        return c == '\r' || c == '\n' || c == '\0' || (c == ',' && !keepCommas);
    };
    size_t i = 0;
    while (i < value.size() && !stops(value[i])) {
        if (IsLeadByte(value[i])) {
            if (i + 1 >= value.size() || stops(value[i + 1]) || value[i + 1] == ',') break;
            i += 2;
        } else {
            ++i;
        }
    }
    return CutToSlot(value.substr(0, i), slotSize);
}

std::string_view LineWithoutEnd(std::string_view rawLine) {
    if (!rawLine.empty() && rawLine.back() == '\n') rawLine.remove_suffix(1);
    if (!rawLine.empty() && rawLine.back() == '\r') rawLine.remove_suffix(1);
    return rawLine;
}

std::string_view LineEndToAdd(std::string_view content) {
    if (content.empty() || content.back() == '\n') return {};
    if (content.back() == '\r') return "\n";
    return kLineEnd;
}

void EndOpenLine(std::string& out) { out.append(LineEndToAdd(out)); }

void CopyRawLine(std::string& out, std::string_view rawLine, long index, long& lastCopied) {
    if (lastCopied != index - 1) EndOpenLine(out);
    out.append(rawLine);
    lastCopied = index;
}

int AppendTextLine(const std::string& dataDir, const std::string& path, std::string_view line,
                   bool create) {
    DataLock lock(dataDir);
    std::string last;
    const int fd = OpenRetry(path.c_str(), O_RDONLY);
    if (fd >= 0) {
        struct stat st;
        if (fstat(fd, &st) == 0 && st.st_size > 0)
            ReadBytesAt(fd, static_cast<size_t>(st.st_size) - 1, 1, last);
        close(fd);
    }
    std::string bytes(LineEndToAdd(last));
    bytes.append(line);
    return AppendToFile(dataDir, path, bytes, create);
}

int EditTextFile(const std::string& dataDir, const std::string& path, const std::string& tmpPath,
                 const LineEdit& edit) {
    DataLock lock(dataDir);
    std::string bytes;
    bool existed;
    if (!ReadFileForChange(path, bytes, existed)) return -1;
    std::string out;
    out.reserve(bytes.size() + 512);
    const int result = edit(SplitRawLines(bytes, 1000), out);
    if (RewriteIfChanged(dataDir, path, tmpPath, existed, bytes, out) != 0) return -1;
    return result;
}

int32_t ParseInt(std::string_view text) {
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\v' ||
                     text[i] == '\f' || text[i] == '\r'))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int64_t value = 0;
    const int64_t cap = static_cast<int64_t>(INT32_MAX) + 1;
    while (i < n && text[i] >= '0' && text[i] <= '9') {
        if (value < cap) value = value * 10 + (text[i] - '0');
        ++i;
    }
    if (value > cap) value = cap;
    if (negative) value = -value;
    if (value > INT32_MAX) value = INT32_MAX;
    return static_cast<int32_t>(value);
}

// ---- Fixed-size records --------------------------------------------------------------------

std::string ReadRecordFile(const std::string& path, size_t recordSize) {
    std::string bytes;
    ReadRecordFile(path, recordSize, bytes);
    return bytes;
}

bool ReadRecordFile(const std::string& path, size_t recordSize, std::string& bytes) {
    bytes.clear();
    int fd = OpenRecordFile(path);
    if (fd < 0) fd = OpenRetry(path.c_str(), O_RDONLY);  // a read-only file is still read
    if (fd < 0) return false;
    const bool ok = ReadAll(fd, bytes);
    close(fd);
    if (!ok || recordSize == 0) {
        bytes.clear();
        return ok;
    }
    bytes.resize(bytes.size() - bytes.size() % recordSize);
    return true;
}

size_t ScanRecords(int fd, size_t recordSize, size_t first,
                   const std::function<bool(std::string_view record, size_t position)>& visit) {
    if (recordSize == 0) return first;
    const size_t perPiece = std::max<size_t>(1, 65536 / recordSize);
    std::string piece;
    size_t position = first;
    for (;;) {
        const size_t got = ReadBytesAt(fd, position * recordSize, perPiece * recordSize, piece);
        const size_t whole = got / recordSize;
        for (size_t k = 0; k < whole; ++k) {
            if (visit(std::string_view(piece).substr(k * recordSize, recordSize), position + k))
                return position + k + 1;
        }
        position += whole;
        if (whole < perPiece) return position;
    }
}

long CountRecords(const std::string& path, size_t recordSize) {
    long size = FileSize(path);
    if (size <= 0 || recordSize == 0) return 0;
    return size / static_cast<long>(recordSize);
}

std::vector<std::string_view> SplitRecords(std::string_view bytes, size_t recordSize) {
    std::vector<std::string_view> records;
    if (recordSize == 0) return records;
    records.reserve(bytes.size() / recordSize);
    for (size_t off = 0; off + recordSize <= bytes.size(); off += recordSize)
        records.push_back(bytes.substr(off, recordSize));
    return records;
}

int ReplaceOrAppendRecord(const std::string& dataDir, const std::string& path,
                          size_t recordSize, std::string_view record, const RecordTest& match,
                          bool* replaced) {
    DataLock lock(dataDir);
    std::string bytes;
    if (!ReadRecordFile(path, recordSize, bytes)) return -1;
    size_t at = bytes.size();
    bool found = false;
    for (std::string_view r : SplitRecords(bytes, recordSize)) {
        if (match(r)) {
            at = static_cast<size_t>(r.data() - bytes.data());
            found = true;
            break;
        }
    }
    if (replaced) *replaced = found;
    return WriteAt(dataDir, path, static_cast<long>(at), record);
}

void PutRecordIn(std::string& bytes, size_t recordSize, std::string_view record,
                 const RecordTest& match) {
    bytes.resize(bytes.size() - bytes.size() % recordSize);
    for (size_t off = 0; off + recordSize <= bytes.size(); off += recordSize) {
        if (match(std::string_view(bytes).substr(off, recordSize))) {
            bytes.replace(off, recordSize, record);
            return;
        }
    }
    bytes.append(record);
}

long DropRecordsIn(std::string& bytes, size_t recordSize, const RecordTest& drop) {
    std::string kept;
    kept.reserve(bytes.size());
    long count = 0;
    for (std::string_view r : SplitRecords(bytes, recordSize)) {
        if (drop(r)) ++count;
        else kept.append(r);
    }
    bytes = std::move(kept);
    return count;
}

int DropRecords(const std::string& dataDir, const std::string& path, const std::string& tmpPath,
                size_t recordSize, const RecordTest& drop, long* dropped) {
    DataLock lock(dataDir);
    long count = 0;
    if (dropped) *dropped = 0;
    std::string bytes;
    if (!ReadRecordFile(path, recordSize, bytes)) return -1;
    std::string kept;
    kept.reserve(bytes.size());
    for (std::string_view r : SplitRecords(bytes, recordSize)) {
        if (drop(r)) ++count;
        else kept.append(r);
    }
    if (dropped) *dropped = count;
    if (count == 0 && FileSize(path) == static_cast<long>(kept.size())) return 0;
    return RewriteViaTemp(dataDir, path, tmpPath, kept) == 0 ? 0 : -1;
}

int32_t GetInt32(std::string_view record, size_t offset) {
    if (offset > record.size() || record.size() - offset < 4) return 0;
    const auto b = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(record[offset + i])); };
    const uint32_t u = b(0) | (b(1) << 8) | (b(2) << 16) | (b(3) << 24);
    return static_cast<int32_t>(u);
}

void PutInt32(std::string& record, size_t offset, int32_t value) {
    if (record.size() < offset + 4) record.resize(offset + 4, '\0');
    const uint32_t u = static_cast<uint32_t>(value);
    record[offset] = static_cast<char>(u & 0xFF);
    record[offset + 1] = static_cast<char>((u >> 8) & 0xFF);
    record[offset + 2] = static_cast<char>((u >> 16) & 0xFF);
    record[offset + 3] = static_cast<char>((u >> 24) & 0xFF);
}

std::string GetText(std::string_view record, size_t offset, size_t size) {
    if (offset >= record.size()) return std::string();
    std::string_view field = record.substr(offset, size);
    const size_t nul = field.find('\0');
    if (nul != std::string_view::npos) field = field.substr(0, nul);
    return std::string(field);
}

std::string GetSlotText(std::string_view record, size_t offset, size_t size) {
    return CutToSlot(GetText(record, offset, size), size);
}

void PutText(std::string& record, size_t offset, size_t size, std::string_view value) {
    if (size == 0) return;
    if (record.size() < offset + size) record.resize(offset + size, '\0');
    const std::string cut = CutToSlot(value, size);
    record.replace(offset, cut.size(), cut);
    std::fill(record.begin() + static_cast<long>(offset + cut.size()),
              record.begin() + static_cast<long>(offset + size), '\0');
}
