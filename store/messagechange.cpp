#include "store/messagechange.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <cstdint>

#include "store/unreadsum.h"

#include "store/bodies.h"
#include "store/journal.h"
#include "store/readmarks.h"
#include "store/recordfile.h"

namespace {

std::string Name(int folder, std::string_view file) {
    std::string name = std::to_string(folder);
    name += '/';
    name.append(file);
    return name;
}

std::string BodyName(int folder, int messageNo) {
    return Name(folder, "X" + std::to_string(messageNo) + ".DAT");
}

std::string MarksName(int folder, int messageNo) {
    return Name(folder, "R" + std::to_string(messageNo) + ".DAT");
}

// Room for size bytes. A large buffer is asked to be backed by huge pages where the system
// allows it: filling it page by page costs more than reading the file into it. One huge page
// more is reserved (not touched unless used), so that they reach past the end of the bytes.
void Reserve(std::string& bytes, size_t size) {
    constexpr uintptr_t kHuge = 2 << 20;
    if (size < 2 * kHuge) {
        bytes.reserve(size);
        return;
    }
    bytes.reserve(size + kHuge);
    const uintptr_t start = reinterpret_cast<uintptr_t>(bytes.data());
    const uintptr_t begin = (start + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t end = (start + size + kHuge) & ~(kHuge - 1);
    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

// The file's complete records for a change; false when it is there but cannot be read. Room
// for spare more bytes is kept, so that a record put in does not copy the file's bytes again.
bool ReadRecords(const std::string& dataDir, const std::string& name, size_t recordSize,
                 std::string& bytes, size_t spare = 0) {
    const std::string path = DataFilePath(dataDir, name);
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && st.st_size > 0)
        Reserve(bytes, static_cast<size_t>(st.st_size) + spare);
    bool existed;
    if (!ReadFileForChange(path, bytes, existed)) return false;
    bytes.resize(bytes.size() - bytes.size() % recordSize);
    return true;
}

std::string BodyText(std::string_view body) { return std::string(body.substr(0, body.find('\0'))); }

// The files of a new or edited message, in this order, moved in (an initializer list would
// copy the index).
std::vector<FileReplacement> Files(int folder, int m, std::string index, std::string body,
                                   std::string marks) {
    std::vector<FileReplacement> files;
    files.reserve(4);
    files.push_back({Name(folder, "index.dat"), std::move(index)});
    files.push_back({BodyName(folder, m), std::move(body)});
    files.push_back({MarksName(folder, m), std::move(marks)});
    return files;
}

// Index records holding the number.
long CopiesIn(std::string_view index, int32_t messageNo) {
    long n = 0;
    for (size_t off = 0; off + kMessageIndexEntrySize <= index.size(); off += kMessageIndexEntrySize)
        if (GetInt32(index.substr(off, 8), 4) == messageNo) ++n;
    return n;
}

// What the index holds of one message before or after a change: its records and those of
// the message's number.
struct IndexCounts {
    long records = 0, copies = 0;
};

IndexCounts CountsIn(std::string_view index, int32_t messageNo) {
    return {static_cast<long>(index.size() / kMessageIndexEntrySize), CopiesIn(index, messageNo)};
}

// Tells the summary what a change of one message's files does to the counts, the way the
// count counts them: every index record adds one, every mark of R<m>.DAT counts once per
// index record of m. marksBefore and marksAfter are the complete records of R<m>.DAT.
void Follow(UnreadSummaryUpdate& summary, IndexCounts before, IndexCounts after,
            std::string_view marksBefore, std::string_view marksAfter) {
    summary.AddRecords(after.records - before.records);
    auto add = [&](std::string_view marks, long copies) {
        if (copies == 0) return;
        for (size_t off = 0; off + kReadMarkSize <= marks.size(); off += kReadMarkSize)
            summary.AddMarks(GetSlotText(marks.substr(off, kReadMarkSize), 4, 24), copies);
    };
    add(marksBefore, -before.copies);
    add(marksAfter, after.copies);
}

// Hands the change to ReplaceFilesTogether. A change left for the next run to finish (the
// journal is still there) is not followed: the summary is counted anew.
int Commit(const std::string& dataDir, UnreadSummaryUpdate& summary,
           const std::vector<FileReplacement>& files) {
    if (ReplaceFilesTogether(dataDir, files) != 0) return -1;
    if (FileExists(DataFilePath(dataDir, kJournalName))) summary.Drop();
    return 0;
}

}  // namespace

int NextMessageNumberOf(const std::string& dataDir, int folder) {
    std::string bytes;
    bool existed;
    if (!ReadFileForChange(MessageIndexPath(dataDir, folder), bytes, existed)) return -1;
    return NextMessageNumber(bytes);
}

int CommitNewMessage(const std::string& dataDir, MessageIndexEntry& entry, std::string_view body,
                     std::vector<AttachmentEntry> attachments, int expectedNo) {
    DataLock lock(dataDir);
    if (!lock.held() || EnsureFolderDir(dataDir, entry.folderNo) != 0) return -1;
    const int folder = entry.folderNo;
    // Loaded before the change, stored with the new stamp after it (a run killed in between
    // leaves a stamp that no longer matches, and so a recount).
    UnreadSummaryUpdate summary(dataDir, folder);
    const int32_t parentNo = entry.messageNo;
    std::string index, marks, added;
    if (!ReadRecords(dataDir, Name(folder, "index.dat"), kMessageIndexEntrySize, index,
                     kMessageIndexEntrySize) ||
        !InsertMessageIn(index, entry))
        return -1;
    const int m = entry.messageNo;
    if ((expectedNo != 0 && m != expectedNo) ||
        !ReadRecords(dataDir, MarksName(folder, m), kReadMarkSize, marks) ||
        (!attachments.empty() &&
         !ReadRecords(dataDir, Name(folder, "add_file.dat"), kAttachmentEntrySize, added))) {
        entry.messageNo = parentNo;
        return -1;
    }
    const std::string marksBefore = marks;
    ReadMark mark;
    mark.messageNo = m;
    mark.userId = entry.userId;
    PutReadMarkIn(marks, mark);
    if (summary.tracking()) {
        // The new number is greater than every number the index held: its one record is the
        // new one.
        const long records = static_cast<long>(index.size() / kMessageIndexEntrySize);
        Follow(summary, {records - 1, 0}, {records, 1}, marksBefore, marks);
    }
    std::vector<FileReplacement> files = Files(folder, m, std::move(index), BodyText(body),
                                               std::move(marks));
    if (!attachments.empty()) {
        for (AttachmentEntry& a : attachments) {
            a.messageNo = m;
            PutAttachmentIn(added, a);
        }
        files.push_back({Name(folder, "add_file.dat"), std::move(added)});
    }
    if (Commit(dataDir, summary, files) != 0) {
        summary.Drop();
        entry.messageNo = parentNo;
        return -1;
    }
    return 0;
}

int CommitEditedMessage(const std::string& dataDir, const MessageIndexEntry& entry,
                        std::string_view body, const std::vector<AttachmentEntry>& put,
                        const std::vector<int>& dropSlots) {
    DataLock lock(dataDir);
    if (!lock.held()) return -1;
    const int folder = entry.folderNo;
    const int m = entry.messageNo;
    UnreadSummaryUpdate summary(dataDir, folder);  // as for a new message
    std::string index, marks, added;
    if (!ReadRecords(dataDir, Name(folder, "index.dat"), kMessageIndexEntrySize, index) ||
        !ReadRecords(dataDir, MarksName(folder, m), kReadMarkSize, marks))
        return -1;
    const std::string marksBefore = marks;
    const std::string packed = PackMessageIndexEntry(entry);
    bool found = false;
    for (size_t off = 0; off < index.size(); off += kMessageIndexEntrySize) {
        if (GetInt32(std::string_view(index).substr(off, kMessageIndexEntrySize), 4) != m) continue;
        index.replace(off, kMessageIndexEntrySize, packed);
        found = true;
    }
    if (!found) return -1;
    ClearReadMarksIn(marks, m);
    ReadMark mark;
    mark.messageNo = m;
    mark.userId = entry.userId;
    PutReadMarkIn(marks, mark);
    std::vector<FileReplacement> files = Files(folder, m, std::move(index), BodyText(body),
                                               std::move(marks));
    if (!put.empty() || !dropSlots.empty()) {
        if (!ReadRecords(dataDir, Name(folder, "add_file.dat"), kAttachmentEntrySize, added))
            return -1;
        for (int slot : dropSlots) DropAttachmentsIn(added, m, slot);
        for (AttachmentEntry a : put) {
            a.messageNo = m;
            PutAttachmentIn(added, a);
        }
        files.push_back({Name(folder, "add_file.dat"), std::move(added)});
    }
    if (summary.tracking()) {  // the records stay, the marks change
        const IndexCounts counts = CountsIn(files[0].content, m);
        Follow(summary, counts, counts, marksBefore, files[2].content);
    }
    if (Commit(dataDir, summary, files) == 0) return 0;
    summary.Drop();
    return -1;
}

int CommitMessageRemoval(const std::string& dataDir, int folder, int messageNo) {
    DataLock lock(dataDir);
    if (!lock.held()) return -1;
    UnreadSummaryUpdate summary(dataDir, folder);  // as for a new message
    std::string index, marks, added;
    if (!ReadRecords(dataDir, Name(folder, "index.dat"), kMessageIndexEntrySize, index) ||
        !ReadRecords(dataDir, MarksName(folder, messageNo), kReadMarkSize, marks) ||
        !ReadRecords(dataDir, Name(folder, "add_file.dat"), kAttachmentEntrySize, added))
        return -1;
    const std::string marksBefore = marks;
    const IndexCounts before = CountsIn(index, messageNo);
    if (DropRecordsIn(index, kMessageIndexEntrySize,
                      [&](std::string_view r) { return GetInt32(r, 4) == messageNo; }) == 0)
        return -1;
    ClearReadMarksIn(marks, messageNo);
    DropAttachmentsIn(added, messageNo, 0);
    if (summary.tracking()) Follow(summary, before, CountsIn(index, messageNo), marksBefore, marks);
    std::vector<FileReplacement> files;
    files.push_back({Name(folder, "index.dat"), std::move(index)});
    files.push_back({MarksName(folder, messageNo), std::move(marks)});
    files.push_back({Name(folder, "add_file.dat"), std::move(added)});
    if (Commit(dataDir, summary, files) == 0) return 0;
    summary.Drop();
    return -1;
}
