// Chat rooms: chat.dat in the room's folder directory is the log of all chat lines, newest
// first (884-byte entries); chat.idx holds one 72-byte record per member account that has
// entered the room.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr size_t kChatEntrySize = 884;
inline constexpr size_t kChatMemberSize = 72;

// The date stamp of a member who has left the room (or never entered it: an empty date compares
// below it too).
inline constexpr const char* kChatLeftStamp = "1990/01/01 00:00";

struct ChatEntry {
    int32_t MODE = 0;             // 0: writer's account mode, 0 for system lines
    std::string name;             // 4, 82 bytes: name shown ("System" for system lines)
    std::string color;            // 86, 22 bytes: colour name or six hex digits
    std::string text;             // 108, 252 bytes
    std::string date;             // 360, 20 bytes: "%04d/%02d/%02d %02d:%02d.%02d"
    std::string REMOTE_ADDR;      // 380, 252 bytes
    std::string HTTP_USER_AGENT;  // 632, 252 bytes
};

struct ChatMember {
    std::string userId;       // 0, 22 bytes
    std::string color;        // 22, 22 bytes
    int32_t LOG_LINE = 0;     // 44
    int32_t RELOAD_TIME = 0;  // 48: seconds
    std::string date;         // 52, 20 bytes: last activity; "1990/01/01 00:00" = has left
};

std::string PackChatEntry(const ChatEntry& entry);
ChatEntry UnpackChatEntry(std::string_view record);
std::string PackChatMember(const ChatMember& member);
ChatMember UnpackChatMember(std::string_view record);

// "%s%d/chat.dat", "%s%d/chat.idx"
std::string ChatLogPath(const std::string& dataDir, int folder);
std::string ChatMemberListPath(const std::string& dataDir, int folder);

// Clears out, creates the folder directory when missing, and reads the first record of
// chat.idx whose user id equals userId. 0, or -1 (out then all empty).
int FindChatMember(const std::string& dataDir, int folder, const std::string& userId,
                   ChatMember& out);

// Overwrites in place the first record with the same user id, or appends; creates the folder
// directory when missing. 0, or -1 when the file cannot be written.
int SaveChatMember(const std::string& dataDir, int folder, const ChatMember& member);

// Under the data lock, so that a reload and a leave at the same moment cannot undo each other:
// when userId has a record whose date compares (bytewise) above kChatLeftStamp, i.e. the member
// is in the room, its date becomes date. 0 when it was updated, -1 otherwise.
int TouchChatMember(const std::string& dataDir, int folder, const std::string& userId,
                    const std::string& date);

// Under the data lock: the date of userId's record becomes kChatLeftStamp. -1 when userId has
// no record (none is made for a member who never entered) or the file cannot be written.
int LeaveChatMember(const std::string& dataDir, int folder, const std::string& userId);

// Clears out, creates the folder directory when missing, and reads entry number index (from
// 0, the newest) of chat.dat. -1 when the log holds fewer than index + 1 entries.
int ReadChatEntryAt(const std::string& dataDir, int folder, int index, ChatEntry& out);

// The newest entries, at most maxCount, newest first, from one read of the log's head.
std::vector<ChatEntry> ReadChatEntries(const std::string& dataDir, int folder, int maxCount);

// Rewrites chat.dat (through chat.dat.TMP) with the new entry first and the older entries after
// it in their order; the whole read and rewrite is one step under the data lock, so concurrent
// writers lose no line. Creates the folder directory when missing. 0, or -1 when the log cannot
// be rewritten.
int PrependChatEntry(const std::string& dataDir, int folder, const ChatEntry& entry);
