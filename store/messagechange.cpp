#include "store/messagechange.h"

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

// The file's complete records for a change; false when it is there but cannot be read.
bool ReadRecords(const std::string& dataDir, const std::string& name, size_t recordSize,
                 std::string& bytes) {
    bool existed;
    if (!ReadFileForChange(DataFilePath(dataDir, name), bytes, existed)) return false;
    bytes.resize(bytes.size() - bytes.size() % recordSize);
    return true;
}

std::string BodyText(std::string_view body) { return std::string(body.substr(0, body.find('\0'))); }

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
    UnreadSummaryUpdate summary(dataDir, folder);
    summary.Drop();  // counted anew on its next use
    const int32_t parentNo = entry.messageNo;
    std::string index, marks, added;
    if (!ReadRecords(dataDir, Name(folder, "index.dat"), kMessageIndexEntrySize, index) ||
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
    ReadMark mark;
    mark.messageNo = m;
    mark.userId = entry.userId;
    PutReadMarkIn(marks, mark);
    std::vector<FileReplacement> files = {{Name(folder, "index.dat"), std::move(index)},
                                          {BodyName(folder, m), BodyText(body)},
                                          {MarksName(folder, m), std::move(marks)}};
    if (!attachments.empty()) {
        for (AttachmentEntry& a : attachments) {
            a.messageNo = m;
            PutAttachmentIn(added, a);
        }
        files.push_back({Name(folder, "add_file.dat"), std::move(added)});
    }
    if (ReplaceFilesTogether(dataDir, files) != 0) {
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
    UnreadSummaryUpdate summary(dataDir, folder);
    summary.Drop();  // counted anew on its next use
    std::string index, marks, added;
    if (!ReadRecords(dataDir, Name(folder, "index.dat"), kMessageIndexEntrySize, index) ||
        !ReadRecords(dataDir, MarksName(folder, m), kReadMarkSize, marks))
        return -1;
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
    std::vector<FileReplacement> files = {{Name(folder, "index.dat"), std::move(index)},
                                          {BodyName(folder, m), BodyText(body)},
                                          {MarksName(folder, m), std::move(marks)}};
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
    return ReplaceFilesTogether(dataDir, files) == 0 ? 0 : -1;
}

int CommitMessageRemoval(const std::string& dataDir, int folder, int messageNo) {
    DataLock lock(dataDir);
    if (!lock.held()) return -1;
    UnreadSummaryUpdate summary(dataDir, folder);
    summary.Drop();  // counted anew on its next use
    std::string index, marks, added;
    if (!ReadRecords(dataDir, Name(folder, "index.dat"), kMessageIndexEntrySize, index) ||
        !ReadRecords(dataDir, MarksName(folder, messageNo), kReadMarkSize, marks) ||
        !ReadRecords(dataDir, Name(folder, "add_file.dat"), kAttachmentEntrySize, added))
        return -1;
    if (DropRecordsIn(index, kMessageIndexEntrySize,
                      [&](std::string_view r) { return GetInt32(r, 4) == messageNo; }) == 0)
        return -1;
    ClearReadMarksIn(marks, messageNo);
    DropAttachmentsIn(added, messageNo, 0);
    return ReplaceFilesTogether(dataDir, {{Name(folder, "index.dat"), std::move(index)},
                                          {MarksName(folder, messageNo), std::move(marks)},
                                          {Name(folder, "add_file.dat"), std::move(added)}}) == 0
               ? 0
               : -1;
}
