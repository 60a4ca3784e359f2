#include "store/readmarks.h"

#include <unordered_map>

#include "store/messages.h"
#include "store/recordfile.h"
#include "store/unread.h"
#include "store/unreadsum.h"

namespace {

std::string StoredId(std::string_view record) { return GetSlotText(record, 4, 24); }

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
    for (std::string_view r : SplitRecords(bytes, kReadMarkSize)) marks.push_back(UnpackReadMark(r));
    return marks;
}

int FindReadMark(const std::string& dataDir, int folder, int messageNo, const std::string& userId,
                 ReadMark& out) {
    std::string bytes = ReadRecordFile(ReadMarkPath(dataDir, folder, messageNo), kReadMarkSize);
    for (std::string_view r : SplitRecords(bytes, kReadMarkSize)) {
        if (StoredId(r) == userId) {
            out = UnpackReadMark(r);
            return 0;
        }
    }
    return -1;
}

int ReadMarkAt(const std::string& dataDir, int folder, int messageNo, int n, ReadMark& out) {
    if (n < 0) return -1;
    std::string bytes = ReadRecordFile(ReadMarkPath(dataDir, folder, messageNo), kReadMarkSize);
    if (static_cast<size_t>(n) >= bytes.size() / kReadMarkSize) return -1;
    out = UnpackReadMark(std::string_view(bytes).substr(static_cast<size_t>(n) * kReadMarkSize, kReadMarkSize));
    return 0;
}

int SaveReadMark(const std::string& dataDir, int folder, const ReadMark& mark) {
    return SaveReadMarkCounted(dataDir, folder, mark, -1);
}

int SaveReadMarkCounted(const std::string& dataDir, int folder, const ReadMark& mark,
                        long copies) {
    UnreadSummaryUpdate update(dataDir, folder);
    const std::string packed = PackReadMark(mark);
    const std::string id = StoredId(packed);  // the id as it will be stored (cut to its slot)
    bool replaced = false;
    const int result =
        ReplaceOrAppendRecord(dataDir, ReadMarkPath(dataDir, folder, mark.messageNo),
                              kReadMarkSize, packed,
                              [&](std::string_view r) { return StoredId(r) == id; }, &replaced);
    if (result != 0) update.Drop();
    else if (!replaced && update.tracking())
        update.AddMarks(id, copies >= 0 ? copies : CountMessageCopies(dataDir, folder, mark.messageNo));
    return result;
}

int ClearReadMarks(const std::string& dataDir, int folder, int messageNo) {
    UnreadSummaryUpdate update(dataDir, folder);
    std::string before;
    const bool tracked = update.tracking() &&
        ReadRecordFile(ReadMarkPath(dataDir, folder, messageNo), kReadMarkSize, before);
    const int result =
        DropRecords(dataDir, ReadMarkPath(dataDir, folder, messageNo),
                    FolderFilePath(dataDir, folder, "R" + std::to_string(messageNo) + ".TMP"),
                    kReadMarkSize, [&](std::string_view r) { return GetInt32(r, 0) == messageNo; });
    if (result != 0 || !tracked) {
        update.Drop();
        return result;
    }
    const long copies = CountMessageCopies(dataDir, folder, messageNo);
    if (copies > 0)
        for (std::string_view r : SplitRecords(before, kReadMarkSize))
            if (GetInt32(r, 0) == messageNo) update.AddMarks(StoredId(r), -copies);
    return result;
}

int CountUnread(const std::string& dataDir, int folder, const std::string& userId) {
    if (FindNoReadEntry(dataDir, folder, userId) > 0) return 0;
    long records = 0, marks = 0;
    if (UnreadSummaryMarksOf(dataDir, folder, userId, records, marks) != 0) return -1;
    return static_cast<int>(records - marks);
}

void PutReadMarkIn(std::string& bytes, const ReadMark& mark) {
    const std::string packed = PackReadMark(mark);
    const std::string id = StoredId(packed);
    PutRecordIn(bytes, kReadMarkSize, packed, [&](std::string_view r) { return StoredId(r) == id; });
}

void ClearReadMarksIn(std::string& bytes, int messageNo) {
    DropRecordsIn(bytes, kReadMarkSize, [&](std::string_view r) { return GetInt32(r, 0) == messageNo; });
}

int DropReadMarks(const std::string& dataDir, int folder, int messageNo,
                  const std::function<bool(const ReadMark&)>& drop, long* dropped) {
    return DropRecords(dataDir, ReadMarkPath(dataDir, folder, messageNo),
                       FolderFilePath(dataDir, folder, "R" + std::to_string(messageNo) + ".TMP"),
                       kReadMarkSize, [&](std::string_view r) { return drop(UnpackReadMark(r)); },
                       dropped);
}
