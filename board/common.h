// Pieces the board pages share: the refusal body, the folder's body tag and title, the writer
// lookup, date cutting, and reading numbers, the session key and the display mode from the
// request.
#pragma once

#include <cstddef>
#include <string>

#include "app/run.h"
#include "store/folders.h"
#include "store/messages.h"
#include "store/users.h"

// Rows of a list page.
inline constexpr int kRowsPerPage = 20;

// Attachment slots of a message at most, whatever a folder's settings record says.
inline constexpr int kMaxAttachmentSlots = 100;

// Capacity with which board pages read the session key.
inline constexpr size_t kKeyFieldCapacity = 20;

// The body of a page refused for lack of rights (the page head is already written): the
// system background, message 3 and a back button labelled message 4, then the page end.
void WriteRefusalBody(Run& run);

// The body tag of a folder page: the folder's own background picture (BACKPIC, under
// CG_FILE_WEB_PATH + folder number + "/"), else the system's BACK_GIF, else no tag at all.
void WriteFolderBodyTag(Run& run, int folderNo, const FolderSettings& settings);

// The one-cell title table "[number]name"; the name is escaped.
void WriteFolderTitle(Run& run, int folderNo, const std::string& name);

// The listed user of an id (ids compared ignoring the case of a..z, as FindUser does), or
// nullptr when the id is not in user.mst. user.mst is read once per run; the pointer stays
// valid until the run's caches are dropped.
const UserRecord* FindListedUser(Run& run, const std::string& id);
// The user name of a listed id, else the id itself (unescaped).
std::string WriterName(Run& run, const std::string& id);

// A stored date stamp as the pages show it: with the setting DATETIME 2 only its first ten
// characters (the date), otherwise whole.
std::string ShownDate(const Run& run, const std::string& date);

// The first request field of that name read as a decimal number (absent: 0), cut to
// capacity - 1 bytes first.
int IntField(Run& run, const char* name, size_t capacity);

// The display mode of the request (USER_DISP_DEF), or the caller's own setting when the
// request gives 0 or none.
int RequestedDisplayMode(Run& run, size_t capacity);

// The script name and the session key (a decimal number once checked), escaped for attributes
// and links.
std::string ScriptAttr(const Run& run);
std::string KeyAttr(const Run& run);

// <INPUT TYPE="hidden" NAME="name" VALUE="value"> and a line end; the value is escaped.
void WriteHidden(Run& run, const char* name, const std::string& value);
void WriteHidden(Run& run, const char* name, int value);

// The folder's settings record, or an empty one (all fields unset) when it has none.
FolderSettings FolderSettingsOrEmpty(Run& run, int folderNo);  // ADD_MAX cut to 0..kMaxAttachmentSlots
// The folder's name from the tree, or "" when the folder is not in it.
std::string FolderName(Run& run, int folderNo);

// The indentation of a message in a thread: "&nbsp;&nbsp;" per level of depth, but never more
// levels than the thread has records (a damaged depth field must not drive the output).
void WriteThreadIndent(Output& out, int32_t depth, size_t threadLength);
// Number of records of index that belong to thread threadNo.
size_t ThreadLength(const std::vector<MessageIndexEntry>& index, int32_t threadNo);
// The link that downloads attachment slot `slot` of a message through the program (job
// ATTACHMENT), ready for an HREF attribute: script name, session key, folder, message, slot.
std::string AttachmentLink(const Run& run, int folderNo, int messageNo, int slot);
