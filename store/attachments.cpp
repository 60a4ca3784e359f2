#include "store/attachments.h"

#include "store/recordfile.h"

namespace {

std::string_view RecordAt(const std::string& bytes, size_t index) {
    return std::string_view(bytes).substr(index * kAttachmentEntrySize, kAttachmentEntrySize);
}

size_t RecordCount(const std::string& bytes) { return bytes.size() / kAttachmentEntrySize; }

bool Matches(std::string_view record, int messageNo, int slot) {
    return GetInt32(record, 0) == messageNo && GetInt32(record, 4) == slot;
}

// Rewrites add_file.dat without the entries for which drop() holds. 0 when one was dropped.
template <class Drop>
int DropEntries(const std::string& dataDir, int folder, Drop drop) {
    DataLock lock(dataDir);
    const std::string path = AttachmentListPath(dataDir, folder);
    std::string bytes = ReadRecordFile(path, kAttachmentEntrySize);
    std::string kept;
    kept.reserve(bytes.size());
    bool dropped = false;
    for (size_t i = 0; i < RecordCount(bytes); ++i) {
        if (drop(RecordAt(bytes, i))) dropped = true;
        else kept += RecordAt(bytes, i);
    }
    if (dropped || FileSize(path) != static_cast<long>(kept.size())) {
        if (RewriteViaTemp(dataDir, path, FolderFilePath(dataDir, folder, "add_file.dat.TMP"), kept) != 0)
            return -1;
    }
    return dropped ? 0 : -1;
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
    entry.fileName = CutToSlot(GetText(r, 8, 252), 252);
    return entry;
}

std::string AttachmentListPath(const std::string& dataDir, int folder) {
    return FolderFilePath(dataDir, folder, "add_file.dat");
}

std::vector<AttachmentEntry> ReadAttachments(const std::string& dataDir, int folder) {
    std::string bytes = ReadRecordFile(AttachmentListPath(dataDir, folder), kAttachmentEntrySize);
    std::vector<AttachmentEntry> entries;
    entries.reserve(RecordCount(bytes));
    for (size_t i = 0; i < RecordCount(bytes); ++i)
        entries.push_back(UnpackAttachmentEntry(RecordAt(bytes, i)));
    return entries;
}

int FindAttachment(const std::string& dataDir, int folder, int messageNo, int slot,
                   AttachmentEntry& out) {
    std::string bytes = ReadRecordFile(AttachmentListPath(dataDir, folder), kAttachmentEntrySize);
    for (size_t i = 0; i < RecordCount(bytes); ++i) {
        if (Matches(RecordAt(bytes, i), messageNo, slot)) {
            out = UnpackAttachmentEntry(RecordAt(bytes, i));
            return 0;
        }
    }
    return -1;
}

int SaveAttachment(const std::string& dataDir, int folder, const AttachmentEntry& entry) {
    DataLock lock(dataDir);
    const std::string path = AttachmentListPath(dataDir, folder);
    std::string bytes = ReadRecordFile(path, kAttachmentEntrySize);
    size_t at = RecordCount(bytes);  // a partial record at the end is overwritten
    for (size_t i = 0; i < RecordCount(bytes); ++i) {
        if (Matches(RecordAt(bytes, i), entry.messageNo, entry.slot)) {
            at = i;
            break;
        }
    }
    return WriteAt(dataDir, path, static_cast<long>(at * kAttachmentEntrySize),
                   PackAttachmentEntry(entry));
}

int DeleteAttachments(const std::string& dataDir, int folder, int messageNo) {
    return DropEntries(dataDir, folder,
                       [&](std::string_view r) { return GetInt32(r, 0) == messageNo; });
}

int DeleteAttachment(const std::string& dataDir, int folder, int messageNo, int slot) {
    return DropEntries(dataDir, folder,
                       [&](std::string_view r) { return Matches(r, messageNo, slot); });
}
