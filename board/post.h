// Writing to a board folder: the posting form (new thread, reply, edit of one's own message)
// and the step that stores what the form sent, attachments included.
#pragma once

#include <string>
#include <vector>

#include "app/run.h"
#include "store/folders.h"
#include "store/messages.h"

// Results of SaveMessage.
inline constexpr int kPostStored = 0;
inline constexpr int kPostRefused = -1;     // no write rights, not allowed to edit, unknown FJOB
inline constexpr int kPostNoTitle = -2;
inline constexpr int kPostNotStored = -4;   // the message could not be written
inline constexpr int kPostTooLong = -5;     // body longer than MAX_CONTENTS

// What editing a message takes besides write rights: the caller wrote it, the caller's
// account is a member account (MODE 1), the folder lets writers edit (REWRITE_FLG 2) and the
// message is not flagged deleted.
bool MayEditMessage(const Run& run, const MessageIndexEntry& entry, const FolderSettings& settings);

// BORDWRITE and EDITMSG (told apart by the request's JOB): the posting form, empty or as a
// reply to SEL_NO, or filled with message SEL_NO for its writer. Refused callers get the
// refusal body.
void ShowPostingForm(Run& run);

// BORDWRITEWR: stores the form's message (FJOB "BORDWRITE": a new message or a reply to
// SEL_NO; FJOB "EDITMSG": message SEL_NO rewritten) with its attachments and, when LOG_DATE is
// above 0, an access log line. Every upload temporary file of the request is gone afterwards,
// stored or deleted, whatever the result.
int SaveMessage(Run& run);

// Stores a new message of entry.folderNo and its body under one data lock: entry.messageNo
// carries the parent's number (0 for a new thread) and leaves with the new number; the writer
// (entry.userId) gets a read mark. kPostStored or kPostNotStored.
int StoreNewMessage(const std::string& dataDir, MessageIndexEntry& entry, const std::string& body);

// Deletes, when it goes, every upload temporary file that the request's FILE<n> file parts name
// and that is still there, so that no upload outlives the step that takes it: not on a
// refusal, not in a slot beyond the folder's maximum, not when it was discarded.
class UploadSweep {
public:
    explicit UploadSweep(const Run& run);
    ~UploadSweep();
    // The file was moved to its place: its name is free again and may already belong to the
    // upload of another run, so it is not touched any more.
    void Consumed(const std::string& path);
    UploadSweep(const UploadSweep&) = delete;
    UploadSweep& operator=(const UploadSweep&) = delete;

private:
    std::vector<std::string> paths_;
};

// Where the upload temporary file of that name lies (the run's working directory).
std::string UploadTempPath(const Run& run, const std::string& tempName);

// An uploaded file's own name as it may be stored: the client's name without directory, cut
// to the attachment record's slot; "" when it cannot name a file inside the slot directory
// (empty, ".", "..", or holding "/").
std::string AttachmentFileName(const std::string& clientName);
