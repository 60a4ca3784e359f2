#include "store/attachments.h"

#include "store/recordfile.h"
#include "store/unreadsum.h"

namespace {

bool Matches(std::string_view record, int messageNo, int slot) {
    return GetInt32(record, 0) == messageNo && GetInt32(record, 4) == slot;
}

// Rewrites add_file.dat without the entries for which drop() holds. 0 when one was dropped.
int DropEntries(const std::string& dataDir, int folder, const RecordTest& drop) {
    UnreadSummaryUpdate update(dataDir, folder);  // the rewrite replaces a file of the folder
    long dropped = 0;
    if (DropRecords(dataDir, AttachmentListPath(dataDir, folder),
                    FolderFilePath(dataDir, folder, "add_file.dat.TMP"), kAttachmentEntrySize, drop,
                    &dropped) != 0)
        return -1;
    return dropped > 0 ? 0 : -1;
}

}  // namespace

std::string PackAttachmentEntry(const AttachmentEntry& entry) {
    std::string r(kAttachmentEntrySize, '\0');
    PutInt32(r, 0, entry.messageNo);
    PutInt32(r, 4, entry.slot);
    PutText(r, 8, 252, entry.fileName);
    return r;
}

AttachmentEntry UnpackAttachmentEntry(std::string_view r) {
    AttachmentEntry entry;
    entry.messageNo = GetInt32(r, 0);
    entry.slot = GetInt32(r, 4);
    entry.fileName = GetSlotText(r, 8, 252);
    return entry;
}

std::string AttachmentListPath(const std::string& dataDir, int folder) {
    return FolderFilePath(dataDir, folder, "add_file.dat");
}

std::vector<AttachmentEntry> ReadAttachments(const std::string& dataDir, int folder) {
    const std::string bytes =
        ReadRecordFile(AttachmentListPath(dataDir, folder), kAttachmentEntrySize);
    std::vector<AttachmentEntry> entries;
    for (std::string_view r : SplitRecords(bytes, kAttachmentEntrySize))
        entries.push_back(UnpackAttachmentEntry(r));
    return entries;
}

int FindAttachment(const std::string& dataDir, int folder, int messageNo, int slot,
                   AttachmentEntry& out) {
    const std::string bytes =
        ReadRecordFile(AttachmentListPath(dataDir, folder), kAttachmentEntrySize);
    for (std::string_view r : SplitRecords(bytes, kAttachmentEntrySize)) {
        if (Matches(r, messageNo, slot)) {
            out = UnpackAttachmentEntry(r);
            return 0;
        }
    }
    return -1;
}

int SaveAttachment(const std::string& dataDir, int folder, const AttachmentEntry& entry) {
    UnreadSummaryUpdate update(dataDir, folder);  // add_file.dat may be created
    return ReplaceOrAppendRecord(
        dataDir, AttachmentListPath(dataDir, folder), kAttachmentEntrySize,
        PackAttachmentEntry(entry),
        [&](std::string_view r) { return Matches(r, entry.messageNo, entry.slot); });
}

int DeleteAttachments(const std::string& dataDir, int folder, int messageNo) {
    return DropEntries(dataDir, folder,
                       [&](std::string_view r) { return GetInt32(r, 0) == messageNo; });
}

int DeleteAttachment(const std::string& dataDir, int folder, int messageNo, int slot) {
    return DropEntries(dataDir, folder,
                       [&](std::string_view r) { return Matches(r, messageNo, slot); });
}

void PutAttachmentIn(std::string& bytes, const AttachmentEntry& entry) {
    PutRecordIn(bytes, kAttachmentEntrySize, PackAttachmentEntry(entry),
                [&](std::string_view r) { return Matches(r, entry.messageNo, entry.slot); });
}

void DropAttachmentsIn(std::string& bytes, int messageNo, int slot) {
    DropRecordsIn(bytes, kAttachmentEntrySize, [&](std::string_view r) {
        return slot == 0 ? GetInt32(r, 0) == messageNo : Matches(r, messageNo, slot);
    });
}
