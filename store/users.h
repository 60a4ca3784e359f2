// The user file user.mst (one text line of 12 comma-terminated fields per user, in the order
// the users were added) and the derived user lists user2.mst (by id), user3.mst (by level) and
// user4.mst (by primary group).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view kUserFileName = "user.mst";

// Slot sizes of the character fields (terminator included): the limits of the stored values.
inline constexpr size_t kUserIdSize = 22;
inline constexpr size_t kUserNameSize = 82;
inline constexpr size_t kUserMailSize = 252;
inline constexpr size_t kUserPassSize = 24;
inline constexpr size_t kUserLanguageSize = 256;
inline constexpr size_t kUserPicFileSize = 256;

struct UserRecord {
    std::string USER_ID;      // login name and key
    std::string USER_NAME;    // display name
    int32_t USER_LEVEL = 0;   // 100 or more: administrator
    std::string E_MAIL_ADDR;
    std::string USER_PASS;    // as typed, compared exactly
    int32_t P_GROUP = 0;      // primary group id, 0 = none
    int32_t USER_DISP_DEF = 0;  // 1 thread order, 2 number ascending, 3 descending
    int32_t MODE = 0;         // 1 member account, 2 shared account
    int32_t WRITE_MODE = 0;   // 2 writing form in its own window, 1 in the same window
    std::string LANGUAGE;     // own language file, empty = the system setting
    std::string PICFILE;      // picture file name
    int32_t NO_READ_MODE = 0; // 0 = the menu shows unread counts
};

// Parses one user.mst line (without its line end). Fields 1 to 11 must each be followed by a
// comma, else the line is not well-formed and -1 results; field 12 counts only when a comma
// follows it. Character fields are cut to their slots. 0 on success.
int ParseUserLine(std::string_view line, UserRecord& out);
// The 12-field line of user.mst, ending in kLineEnd. Character values are cut to their slots
// and at the first comma or line break, so that a value can never split the record.
std::string FormatUserLine(const UserRecord& user);

// Upper-cases the ASCII letters a to z in place, stepping over two-byte characters.
void UpperCaseId(std::string& id);

// Calls visit for the lines of user.mst as SplitTextLines gives them from the whole file, read
// in pieces into one small buffer, until visit returns true. A missing file is created empty.
// false when the file can be neither read nor created.
bool ScanUserLines(const std::string& dataDir,
                   const std::function<bool(std::string_view line)>& visit);

// The first well-formed user whose id equals id when the letters a to z of both are taken as
// A to Z. id is upper-cased in place and, on success, replaced by the id as stored (which
// out.USER_ID also holds). 0, or -1 when there is no such user.
int FindUser(const std::string& dataDir, std::string& id, UserRecord& out);
// The user of the index-th well-formed line (from 0), id as stored. 0 or -1.
int ReadUserAt(const std::string& dataDir, int index, UserRecord& out);
// Every well-formed user in file order, from one read of user.mst.
std::vector<UserRecord> ReadAllUsers(const std::string& dataDir);

// Replaces every line whose first field equals user.USER_ID exactly by the record's line.
// 0 when at least one line was replaced, -1 otherwise (the file then keeps its lines).
int RewriteUser(const std::string& dataDir, const UserRecord& user);
// Removes every line whose first field equals id exactly. 0 when a line was removed, -1 when
// none matched or the file could not be rewritten.
int DeleteUser(const std::string& dataDir, const std::string& id);
// Appends the user's line at the end of user.mst. 0, or -1 when it could not be written.
int AppendUser(const std::string& dataDir, const UserRecord& user);

// The same changes on the bytes of user.mst in memory, for changes of several files made as
// one (FileChangeSet, store/journal.h). FindUserIn looks id up as FindUser does. DropUserIn
// makes of the bytes what DeleteUser writes; true when a line was dropped. ClearPrimaryGroupIn
// sets the primary group of every well-formed line of that group to 0 (that line written anew,
// every other copied as it is); true when one changed. AppendUserIn adds the user's line as
// AppendUser does.
int FindUserIn(std::string_view bytes, std::string& id, UserRecord& out);
bool DropUserIn(std::string& bytes, const std::string& id);
bool ClearPrimaryGroupIn(std::string& bytes, int32_t group);
void AppendUserIn(std::string& bytes, const UserRecord& user);

// Rebuild the list files (10 fields a line: no WRITE_MODE, no PICFILE): user2.mst from
// user.mst sorted by id (case-insensitive, ascending), user3.mst from user2.mst by level
// (descending), user4.mst from user3.mst by primary group (ascending).
void BuildUserListById(const std::string& dataDir);
void BuildUserListByLevel(const std::string& dataDir);
void BuildUserListByGroup(const std::string& dataDir);

// An id that can name a user: no comma or space, no "/" and no control byte (DEL included)
// anywhere, no "\" as a character of its own (as the second byte of a two-byte character it
// belongs to that character), and neither "." nor "..". Ids name the users' picture
// directories, so the administration, the own profile and the ID applications all hold new
// ids to this rule.
bool IsUsableUserId(const std::string& id);

// What the three builders above write, one after the other, when user.mst holds userFile;
// nothing is read or written. For checking list files against their source.
struct UserLists {
    std::string byId;     // user2.mst
    std::string byLevel;  // user3.mst
    std::string byGroup;  // user4.mst
};
UserLists UserListsOf(std::string_view userFile);
