#include "store/messages.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <unordered_set>

#include "store/readmarks.h"
#include "store/recordfile.h"
#include "store/unreadsum.h"

namespace {

std::string_view RecordAt(const std::string& bytes, size_t index) {
    return std::string_view(bytes).substr(index * kMessageIndexEntrySize, kMessageIndexEntrySize);
}

int32_t NumberAt(const std::string& bytes, size_t index) {
    return GetInt32(RecordAt(bytes, index), 4);
}

size_t RecordCount(const std::string& bytes) { return bytes.size() / kMessageIndexEntrySize; }

std::string IndexTempPath(const std::string& dataDir, int folder) {
    return FolderFilePath(dataDir, folder, "index.dat.TMP");
}

}  // namespace

std::string PackMessageIndexEntry(const MessageIndexEntry& e) {
    std::string r(kMessageIndexEntrySize, '\0');
    PutInt32(r, 0, e.folderNo);
    PutInt32(r, 4, e.messageNo);
    PutInt32(r, 8, e.HTML_MODE);
    PutInt32(r, 12, e.threadNo);
    PutInt32(r, 16, e.depth);
    PutInt32(r, 20, e.WRITE_PRIORITY);
    PutText(r, 24, 20, e.date);
    PutText(r, 44, 22, e.userId);
    PutText(r, 66, 82, e.WRITE_TITLE);
    PutInt32(r, 148, e.attachCount);
    PutInt32(r, 152, e.deleted);
    PutInt32(r, 156, e.READ_CHK);
    return r;
}

MessageIndexEntry UnpackMessageIndexEntry(std::string_view r) {
    MessageIndexEntry e;
    e.folderNo = GetInt32(r, 0);
    e.messageNo = GetInt32(r, 4);
    e.HTML_MODE = GetInt32(r, 8);
    e.threadNo = GetInt32(r, 12);
    e.depth = GetInt32(r, 16);
    e.WRITE_PRIORITY = GetInt32(r, 20);
    e.date = GetSlotText(r, 24, 20);
    e.userId = GetSlotText(r, 44, 22);
    e.WRITE_TITLE = GetSlotText(r, 66, 82);
    e.attachCount = GetInt32(r, 148);
    e.deleted = GetInt32(r, 152);
    e.READ_CHK = GetInt32(r, 156);
    return e;
}

std::string MessageIndexPath(const std::string& dataDir, int folder) {
    return FolderFilePath(dataDir, folder, "index.dat");
}

std::vector<MessageIndexEntry> ReadMessageIndex(const std::string& dataDir, int folder) {
    std::string bytes = ReadRecordFile(MessageIndexPath(dataDir, folder), kMessageIndexEntrySize);
    std::vector<MessageIndexEntry> entries;
    for (std::string_view r : SplitRecords(bytes, kMessageIndexEntrySize))
        entries.push_back(UnpackMessageIndexEntry(r));
    return entries;
}

RawMessageIndex::RawMessageIndex(RawMessageIndex&& other) noexcept
    : numbers(std::move(other.numbers)), threads(std::move(other.threads)), fd(other.fd) {
    other.fd = -1;
}

RawMessageIndex::~RawMessageIndex() {
    if (fd >= 0) close(fd);
}

MessageIndexEntry RawMessageIndex::entry(size_t i) const {
    std::string bytes;
    if (fd < 0 || ReadBytesAt(fd, i * kMessageIndexEntrySize, kMessageIndexEntrySize, bytes) !=
                      kMessageIndexEntrySize)
        return MessageIndexEntry();
    return UnpackMessageIndexEntry(bytes);
}

long RawMessageIndex::find(int32_t no) const {
    for (size_t i = 0; i < numbers.size(); ++i)
        if (numbers[i] == no) return static_cast<long>(i);
    return -1;
}

RawMessageIndex ReadRawMessageIndex(const std::string& dataDir, int folder) {
    return ReadRawMessageIndex(dataDir, folder, nullptr);
}

RawMessageIndex ReadRawMessageIndex(
    const std::string& dataDir, int folder,
    const std::function<void(size_t position, std::string_view record)>& visit) {
    RawMessageIndex index;
    index.fd = OpenRecordFile(MessageIndexPath(dataDir, folder));
    if (index.fd < 0) return index;
    struct stat st {};
    if (fstat(index.fd, &st) == 0 && st.st_size > 0) {
        const size_t records = static_cast<size_t>(st.st_size) / kMessageIndexEntrySize;
        index.numbers.reserve(records);
        index.threads.reserve(records);
    }
    // Pieces of whole records, read one after the other.
    std::string piece;
    size_t offset = 0;
    constexpr size_t kPiece = 512 * kMessageIndexEntrySize;
    for (;;) {
        const size_t got = ReadBytesAt(index.fd, offset, kPiece, piece);
        const size_t whole = got / kMessageIndexEntrySize;
        for (size_t k = 0; k < whole; ++k) {
            const std::string_view r =
                std::string_view(piece).substr(k * kMessageIndexEntrySize, kMessageIndexEntrySize);
            if (visit) visit(index.numbers.size(), r);
            index.numbers.push_back(GetInt32(r, 4));
            index.threads.push_back(GetInt32(r, 12));
        }
        if (got < kPiece) break;
        offset += got;
    }
    return index;
}

std::vector<MessageIndexEntry> ReadMessagesByNumber(const std::string& dataDir, int folder,
                                                    size_t first, size_t n) {
    std::vector<MessageIndexEntry> out;
    if (n == 0) return out;
    const int fd = OpenRecordFile(MessageIndexPath(dataDir, folder));
    if (fd < 0) return out;
    struct stat st {};
    const size_t records =
        fstat(fd, &st) == 0 ? static_cast<size_t>(st.st_size) / kMessageIndexEntrySize : 0;
    if (first >= records) {  // no more distinct numbers than records
        close(fd);
        return out;
    }
    // From the nearer end: the first + n smallest numbers, or the records - first greatest (at
    // least as many as there are distinct numbers from rank first on), each with the position
    // it was first seen at. A number left out once is never kept later (the bound it missed
    // only tightens), so a kept number's position is its first.
    const bool fromTop = records > first && records - first < first + n;
    const size_t keep = fromTop ? records - first : first + n;
    std::map<int32_t, size_t> kept;
    // Distinct numbers counted from the top: a bit per number up to a bound that dense numbers
    // stay under, a set for the rest.
    const size_t dense = 4 * records + 1024;
    std::vector<uint64_t> seen(fromTop ? dense / 64 + 1 : 0);
    std::unordered_set<int32_t> sparse;
    ScanRecords(fd, kMessageIndexEntrySize, 0, [&](std::string_view r, size_t i) {
        const int32_t no = GetInt32(r, 4);
        if (no < 1) return false;
        if (fromTop) {
            if (static_cast<size_t>(no) < dense) seen[static_cast<size_t>(no) / 64] |= uint64_t{1} << (no % 64);
            else sparse.insert(no);
        }
        if (kept.size() < keep) {
            kept.emplace(no, i);
            return false;
        }
        const auto bound = fromTop ? kept.begin() : std::prev(kept.end());
        if (fromTop ? no <= bound->first : no >= bound->first) return false;
        if (kept.emplace(no, i).second) kept.erase(bound);
        return false;
    });
    // The rank of the smallest number kept.
    size_t rank = 0;
    if (fromTop) {
        size_t distinct = sparse.size();
        for (uint64_t word : seen) distinct += static_cast<size_t>(__builtin_popcountll(word));
        rank = distinct - kept.size();
    }
    std::string bytes;
    for (const auto& [no, at] : kept) {
        const size_t k = rank++;
        if (k < first || k >= first + n) continue;
        if (ReadBytesAt(fd, at * kMessageIndexEntrySize, kMessageIndexEntrySize, bytes) ==
            kMessageIndexEntrySize)
            out.push_back(UnpackMessageIndexEntry(bytes));
        else
            out.push_back(MessageIndexEntry());
    }
    close(fd);
    return out;
}

std::vector<MessageIndexEntry> ReadMessagesAt(const std::string& dataDir, int folder, long first,
                                              long n) {
    std::vector<MessageIndexEntry> out;
    if (first < 0 || n <= 0) return out;
    int fd = OpenRecordFile(MessageIndexPath(dataDir, folder));
    if (fd < 0) return out;
    std::string bytes;
    ReadBytesAt(fd, static_cast<size_t>(first) * kMessageIndexEntrySize,
                static_cast<size_t>(n) * kMessageIndexEntrySize, bytes);
    close(fd);
    for (std::string_view r : SplitRecords(bytes, kMessageIndexEntrySize))
        out.push_back(UnpackMessageIndexEntry(r));
    return out;
}

int CountMessages(const std::string& dataDir, int folder) {
    int fd = OpenRecordFile(MessageIndexPath(dataDir, folder));
    if (fd < 0) return 0;
    struct stat st {};
    int count = fstat(fd, &st) == 0 ? static_cast<int>(st.st_size / kMessageIndexEntrySize) : 0;
    close(fd);
    return count;
}

int FindMessage(const std::string& dataDir, int folder, int key, int how, MessageIndexEntry& out) {
    if (how != kMessageByPosition && how != kMessageByNumber) return -1;
    const int fd = OpenRecordFile(MessageIndexPath(dataDir, folder));
    if (fd < 0) return -1;
    // By position one record is read at its offset; by number the index is scanned in pieces
    // up to the first record of the number.
    std::string record;
    if (how == kMessageByPosition) {
        if (key >= 1)
            ReadBytesAt(fd, static_cast<size_t>(key - 1) * kMessageIndexEntrySize,
                        kMessageIndexEntrySize, record);
    } else {
        ScanRecords(fd, kMessageIndexEntrySize, 0, [&](std::string_view r, size_t) {
            if (GetInt32(r, 4) != key) return false;
            record = std::string(r);
            return true;
        });
    }
    close(fd);
    if (record.size() != kMessageIndexEntrySize) return -1;
    out = UnpackMessageIndexEntry(record);
    return 0;
}

int FindLastMessage(const std::string& dataDir, int folder, int how, MessageIndexEntry& out) {
    std::string bytes = ReadRecordFile(MessageIndexPath(dataDir, folder), kMessageIndexEntrySize);
    size_t count = RecordCount(bytes);
    if (count == 0) return -1;
    if (how == kLastInFile) {
        out = UnpackMessageIndexEntry(RecordAt(bytes, count - 1));
        return 0;
    }
    if (how != kLastByNumber) return -1;
    // The scan starts from an empty record (number 0) and takes every record whose number is
    // not smaller than the one taken so far.
    int32_t best = 0;
    long taken = -1;
    for (size_t i = 0; i < count; ++i) {
        if (NumberAt(bytes, i) >= best) {
            best = NumberAt(bytes, i);
            taken = static_cast<long>(i);
        }
    }
    if (taken < 0) return -1;  // only negative numbers: nothing real was found
    out = UnpackMessageIndexEntry(RecordAt(bytes, taken));
    return 0;
}

int FindThreadMessage(const std::string& dataDir, int folder, int n, int threadNo,
                      MessageIndexEntry& out) {
    if (n < 0) return -1;
    std::string bytes = ReadRecordFile(MessageIndexPath(dataDir, folder), kMessageIndexEntrySize);
    int seen = 0;
    for (std::string_view r : SplitRecords(bytes, kMessageIndexEntrySize)) {
        if (GetInt32(r, 12) != threadNo) continue;
        if (seen++ == n) {
            out = UnpackMessageIndexEntry(r);
            return 0;
        }
    }
    return -1;
}

int CountMessageCopies(const std::string& dataDir, int folder, int messageNo) {
    std::string bytes;
    if (!ReadWholeFile(MessageIndexPath(dataDir, folder), bytes)) return 0;
    int copies = 0;
    for (size_t i = 0; i < RecordCount(bytes); ++i)
        if (NumberAt(bytes, i) == messageNo) ++copies;
    return copies;
}

int32_t NextMessageNumber(std::string_view bytes) {
    int32_t newNo = 0;
    for (size_t off = 0; off + kMessageIndexEntrySize <= bytes.size(); off += kMessageIndexEntrySize)
        newNo = std::max(newNo, GetInt32(bytes.substr(off, 8), 4));
    return newNo == INT32_MAX ? -1 : newNo + 1;
}

bool InsertMessageIn(std::string& bytes, MessageIndexEntry& entry) {
    bytes.resize(bytes.size() - bytes.size() % kMessageIndexEntrySize);
    const int32_t newNo = NextMessageNumber(bytes);
    if (newNo < 1) return false;
    const int32_t parentNo = entry.messageNo;
    entry.deleted = 0;
    entry.depth = 0;
    entry.messageNo = newNo;
    entry.threadNo = parentNo == 0 ? newNo : parentNo;
    // A reply goes after its parent's subtree: before the first record after the parent that
    // is no deeper than the parent (a later record of the parent's number before that point
    // counts as the parent). Without its parent it goes at the end, as the first of a thread.
    size_t at = bytes.size();
    if (parentNo != 0) {
        bool parentSeen = false;
        int32_t parentDepth = 0;
        for (size_t off = 0; off < bytes.size(); off += kMessageIndexEntrySize) {
            const std::string_view rec(bytes.data() + off, kMessageIndexEntrySize);
            if (parentSeen && GetInt32(rec, 16) <= parentDepth) {
                at = off;
                break;
            }
            if (GetInt32(rec, 4) == parentNo) {
                entry.threadNo = GetInt32(rec, 12);
                parentDepth = GetInt32(rec, 16);
                parentSeen = true;
            }
        }
        if (parentSeen) entry.depth = parentDepth + 1;
    }
    // In place: a caller that reserved room for the record saves a copy of the index.
    bytes.insert(at, PackMessageIndexEntry(entry));
    return true;
}

int AppendMessage(const std::string& dataDir, MessageIndexEntry& entry,
                  const std::string& writerId) {
    return AppendMessage(dataDir, entry, writerId, nullptr);
}

int AppendMessage(const std::string& dataDir, MessageIndexEntry& entry,
                  const std::string& writerId,
                  const std::function<int(int32_t newNo)>& beforeInsert) {
    DataLock lock(dataDir);
    EnsureFolderDir(dataDir, entry.folderNo);
    UnreadSummaryUpdate update(dataDir, entry.folderNo);
    const std::string path = MessageIndexPath(dataDir, entry.folderNo);
    std::string bytes;
    if (!ReadRecordFile(path, kMessageIndexEntrySize, bytes)) return -1;
    const int32_t parentNo = entry.messageNo;
    if (!InsertMessageIn(bytes, entry)) return -1;
    const int32_t newNo = entry.messageNo;
    if ((beforeInsert && beforeInsert(newNo) != 0) ||
        RewriteViaTemp(dataDir, path, IndexTempPath(dataDir, entry.folderNo), bytes) != 0) {
        update.Drop();
        entry.messageNo = parentNo;
        return -1;
    }
    // The new record counts, with whatever marks an earlier message of its number left.
    update.AddRecords(1);
    if (update.tracking()) {
        std::string marks;
        ReadRecordFile(ReadMarkPath(dataDir, entry.folderNo, newNo), kReadMarkSize, marks);
        for (std::string_view r : SplitRecords(marks, kReadMarkSize))
            update.AddMarks(GetSlotText(r, 4, 24), 1);
    }
    ReadMark mark;
    mark.messageNo = entry.messageNo;
    mark.userId = writerId;
    mark.count = 0;
    SaveReadMarkCounted(dataDir, entry.folderNo, mark, 1);
    return 0;
}

int RewriteMessage(const std::string& dataDir, const MessageIndexEntry& entry) {
    DataLock lock(dataDir);
    UnreadSummaryUpdate update(dataDir, entry.folderNo);  // the counts stay; the stamp changes
    const std::string path = MessageIndexPath(dataDir, entry.folderNo);
    std::string bytes = ReadRecordFile(path, kMessageIndexEntrySize);
    const std::string packed = PackMessageIndexEntry(entry);
    int result = -1;
    for (size_t i = 0; i < RecordCount(bytes); ++i) {
        if (NumberAt(bytes, i) != entry.messageNo) continue;
        if (WriteAt(dataDir, path, static_cast<long>(i * kMessageIndexEntrySize), packed) != 0)
            return -1;
        result = 0;
    }
    return result;
}

int DeleteMessageEntry(const std::string& dataDir, int folder, int messageNo) {
    UnreadSummaryUpdate update(dataDir, folder);
    long dropped = 0;
    if (DropRecords(dataDir, MessageIndexPath(dataDir, folder), IndexTempPath(dataDir, folder),
                    kMessageIndexEntrySize,
                    [&](std::string_view r) { return GetInt32(r, 4) == messageNo; }, &dropped) != 0) {
        update.Drop();
        return -1;
    }
    if (dropped > 0 && update.tracking()) {
        update.AddRecords(-dropped);
        std::string marks;
        ReadRecordFile(ReadMarkPath(dataDir, folder, messageNo), kReadMarkSize, marks);
        for (std::string_view r : SplitRecords(marks, kReadMarkSize))
            update.AddMarks(GetSlotText(r, 4, 24), -dropped);
    }
    return dropped > 0 ? 0 : -1;
}
