// A change of one message across the record files of its folder (index.dat, X<m>.DAT,
// R<m>.DAT, add_file.dat), made as one with ReplaceFilesTogether (store/journal.h): a run
// killed at any moment, or a write that fails, leaves every one of them old or every one new.
// The callers hold DataLock of the data directory. Attachment files themselves lie outside the
// data directory; callers put new ones in place before the change (no record names them until
// it is made) and remove replaced ones after it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "store/attachments.h"
#include "store/messages.h"

// The number the next new message of the folder gets (NextMessageNumber of its index), or -1
// when the index cannot be read.
int NextMessageNumberOf(const std::string& dataDir, int folder);

// Stores a new message as AppendMessage places it (entry.messageNo carries the parent's number,
// 0 for a new thread; on return the entry holds its number, thread and depth), its body (up to
// a NUL), the writer's (entry.userId) read mark and the attachment entries (their messageNo is
// set here). expectedNo, when not 0, is the number the caller has placed the attachment files
// under: the change is not made when the message would get another. 0, or -1 when nothing was
// changed (entry.messageNo is then the parent's again).
int CommitNewMessage(const std::string& dataDir, MessageIndexEntry& entry, std::string_view body,
                     std::vector<AttachmentEntry> attachments, int expectedNo = 0);

// An edit: every index record of entry.messageNo is overwritten with entry, the body replaced,
// the read marks cleared but for the writer's, the entries of put saved and those of the slots
// in dropSlots removed. 0, or -1 when nothing was changed (also when no record has the number).
int CommitEditedMessage(const std::string& dataDir, const MessageIndexEntry& entry,
                        std::string_view body, const std::vector<AttachmentEntry>& put,
                        const std::vector<int>& dropSlots);

// Removal of a message: its index records, its read marks and its attachment entries. 0, or -1
// when nothing was changed (also when no record has the number).
int CommitMessageRemoval(const std::string& dataDir, int folder, int messageNo);
