#include "store/readmarks.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <unordered_map>

#include "store/messages.h"
#include "store/recordfile.h"
#include "store/unread.h"

namespace {

std::string_view RecordAt(const std::string& bytes, size_t index) {
    return std::string_view(bytes).substr(index * kReadMarkSize, kReadMarkSize);
}

size_t RecordCount(const std::string& bytes) { return bytes.size() / kReadMarkSize; }

std::string StoredId(std::string_view record) { return CutToSlot(GetText(record, 4, 24), 24); }

// Reads a fixed-record file whole through OpenRecordFile (creating it empty when missing);
// false when it can be neither opened nor created.
bool ReadRecordsCreating(const std::string& path, std::string& bytes) {
    bytes.clear();
    int fd = OpenRecordFile(path);
    if (fd < 0) return false;
    char buf[8192];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    bytes.resize(RecordCount(bytes) * kReadMarkSize);
    return true;
}

}  // namespace

std::string PackReadMark(const ReadMark& mark) {
    std::string r(kReadMarkSize, '\0');
    PutInt32(r, 0, mark.messageNo);
    PutText(r, 4, 24, mark.userId);
    PutInt32(r, 28, mark.count);
    return r;
}

ReadMark UnpackReadMark(std::string_view r) {
    ReadMark mark;
    mark.messageNo = GetInt32(r, 0);
    mark.userId = StoredId(r);
    mark.count = GetInt32(r, 28);
    return mark;
}

std::string ReadMarkPath(const std::string& dataDir, int folder, int messageNo) {
    return FolderFilePath(dataDir, folder, "R" + std::to_string(messageNo) + ".DAT");
}

std::vector<ReadMark> ReadReadMarks(const std::string& dataDir, int folder, int messageNo) {
    std::string bytes = ReadRecordFile(ReadMarkPath(dataDir, folder, messageNo), kReadMarkSize);
    std::vector<ReadMark> marks;
    marks.reserve(RecordCount(bytes));
    for (size_t i = 0; i < RecordCount(bytes); ++i) marks.push_back(UnpackReadMark(RecordAt(bytes, i)));
    return marks;
}

int FindReadMark(const std::string& dataDir, int folder, int messageNo, const std::string& userId,
                 ReadMark& out) {
    std::string bytes = ReadRecordFile(ReadMarkPath(dataDir, folder, messageNo), kReadMarkSize);
    for (size_t i = 0; i < RecordCount(bytes); ++i) {
        if (StoredId(RecordAt(bytes, i)) == userId) {
            out = UnpackReadMark(RecordAt(bytes, i));
            return 0;
        }
    }
    return -1;
}

int ReadMarkAt(const std::string& dataDir, int folder, int messageNo, int n, ReadMark& out) {
    if (n < 0) return -1;
    std::string bytes = ReadRecordFile(ReadMarkPath(dataDir, folder, messageNo), kReadMarkSize);
    if (static_cast<size_t>(n) >= RecordCount(bytes)) return -1;
    out = UnpackReadMark(RecordAt(bytes, n));
    return 0;
}

int SaveReadMark(const std::string& dataDir, int folder, const ReadMark& mark) {
    DataLock lock(dataDir);
    const std::string path = ReadMarkPath(dataDir, folder, mark.messageNo);
    std::string bytes = ReadRecordFile(path, kReadMarkSize);
    const std::string packed = PackReadMark(mark);
    const std::string id = StoredId(packed);  // the id as it will be stored (cut to its slot)
    size_t at = RecordCount(bytes);            // a partial record at the end is overwritten
    for (size_t i = 0; i < RecordCount(bytes); ++i) {
        if (StoredId(RecordAt(bytes, i)) == id) {
            at = i;
            break;
        }
    }
    return WriteAt(dataDir, path, static_cast<long>(at * kReadMarkSize), packed);
}

int ClearReadMarks(const std::string& dataDir, int folder, int messageNo) {
    DataLock lock(dataDir);
    const std::string path = ReadMarkPath(dataDir, folder, messageNo);
    std::string bytes = ReadRecordFile(path, kReadMarkSize);
    std::string kept;
    for (size_t i = 0; i < RecordCount(bytes); ++i)
        if (GetInt32(RecordAt(bytes, i), 0) != messageNo) kept += RecordAt(bytes, i);
    if (kept.size() == bytes.size() && FileSize(path) == static_cast<long>(bytes.size()))
        return 0;  // nothing to drop; the file exists (ReadRecordFile created it)
    const std::string tmp =
        FolderFilePath(dataDir, folder, "R" + std::to_string(messageNo) + ".TMP");
    return RewriteViaTemp(dataDir, path, tmp, kept);
}

int CountUnread(const std::string& dataDir, int folder, const std::string& userId) {
    if (FindNoReadEntry(dataDir, folder, userId) > 0) return 0;
    std::string index = ReadRecordFile(MessageIndexPath(dataDir, folder), kMessageIndexEntrySize);
    const size_t messages = index.size() / kMessageIndexEntrySize;
    // Marks of the user per message number; a number listed twice in the index counts twice.
    std::unordered_map<int32_t, long> marksOf;
    long marked = 0;
    for (size_t p = 0; p < messages; ++p) {
        int32_t number = GetInt32(std::string_view(index).substr(p * kMessageIndexEntrySize), 4);
        auto it = marksOf.find(number);
        if (it == marksOf.end()) {
            std::string bytes;
            if (!ReadRecordsCreating(ReadMarkPath(dataDir, folder, number), bytes)) return -1;
            long mine = 0;
            for (size_t i = 0; i < RecordCount(bytes); ++i)
                if (StoredId(RecordAt(bytes, i)) == userId) ++mine;
            it = marksOf.emplace(number, mine).first;
        }
        marked += it->second;
    }
    return static_cast<int>(static_cast<long>(messages) - marked);
}
