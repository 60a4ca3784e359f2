// Attachment entries of a board folder: add_file.dat in the folder directory, one 260-byte
// record per attached file (message number, slot, file name as uploaded). The files themselves
// lie under ADD_FILE_PATH + "%d/X%d/%d/%s" (folder, message, slot, name).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr size_t kAttachmentEntrySize = 260;

struct AttachmentEntry {
    int32_t messageNo = 0;  // 0
    int32_t slot = 0;       // 4: 1 up to the folder's maximum of attachments
    std::string fileName;   // 8, 252 bytes: without directory
};

std::string PackAttachmentEntry(const AttachmentEntry& entry);
AttachmentEntry UnpackAttachmentEntry(std::string_view record);

// "%s%d/add_file.dat"
std::string AttachmentListPath(const std::string& dataDir, int folder);

// Every entry of the folder in file order, from one read.
std::vector<AttachmentEntry> ReadAttachments(const std::string& dataDir, int folder);

// The first entry with that message and slot. 0 or -1.
int FindAttachment(const std::string& dataDir, int folder, int messageNo, int slot,
                   AttachmentEntry& out);

// Overwrites in place the first entry with the same message and slot, or appends. 0, or -1
// when the file cannot be written.
int SaveAttachment(const std::string& dataDir, int folder, const AttachmentEntry& entry);

// SaveAttachment and DeleteAttachment(s) on the bytes of an add_file.dat in memory; slot 0
// drops every entry of the message.
void PutAttachmentIn(std::string& bytes, const AttachmentEntry& entry);
void DropAttachmentsIn(std::string& bytes, int messageNo, int slot);

// Rewrite add_file.dat (through add_file.dat.TMP) without the entries of the message / of the
// message and slot. 0 when one was dropped, else -1.
int DeleteAttachments(const std::string& dataDir, int folder, int messageNo);
int DeleteAttachment(const std::string& dataDir, int folder, int messageNo, int slot);
