// Session keys: skey.mst, a fixed-record file of one SessionRecord per logged-in user, in the
// order of first login. A new login replaces the user's record in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct UserRecord;

inline constexpr std::string_view kSessionFileName = "skey.mst";
inline constexpr size_t kSessionRecordSize = 532;
// Offsets and sizes of the fields; bytes 530..531 are padding (zero).
inline constexpr size_t kSessionKeyOffset = 0;
inline constexpr size_t kSessionUserOffset = 4, kSessionUserSize = 22;
inline constexpr size_t kSessionAddrOffset = 26, kSessionAddrSize = 252;
inline constexpr size_t kSessionAgentOffset = 278, kSessionAgentSize = 252;
// The address and browser identification keep at most this many bytes.
inline constexpr size_t kSessionEnvLimit = 250;

struct SessionRecord {
    int32_t key = 0;              // the session key
    std::string USER_ID;          // the user id as stored in user.mst
    std::string REMOTE_ADDR;      // the login's remote address
    std::string HTTP_USER_AGENT;  // the login's browser identification
};

std::string PackSessionRecord(const SessionRecord& rec);
SessionRecord UnpackSessionRecord(std::string_view bytes);

// A value of the CGI environment as it is stored: its first 250 bytes (cut on a character
// boundary); empty when the variable is not set.
std::string SessionEnvValue(const char* name);

// A new session key from the operating system's random source, 1..2147483647; -1 when no
// random bytes can be had.
int32_t DrawSessionKey();

// Stores rec (key and user id set) with the address and browser identification of the current
// request: replaces in place the first record of the same user id, or adds it at the end.
// 0, or -1 when skey.mst could not be written.
int SaveSession(const std::string& dataDir, const SessionRecord& rec);

// Checks a key: the first record with that key; for a member account (MODE 1) the current
// HTTP_USER_AGENT must equal the stored one. On success userId is the id as stored, user the
// user's record, and 0 results; otherwise userId is empty and -1 results (also when the
// record's user no longer exists).
int CheckSession(const std::string& dataDir, int32_t key, std::string& userId, UserRecord& user);

// Issues the session of a login, reading skey.mst once under the data lock: with reuse (shared
// accounts) the key of the user's first record is given back when it is 1 or more (reused is
// then true and nothing is written); otherwise keys are drawn until one that no record holds
// comes up (at most maxDraws), and the record is saved as SaveSession saves it. The key, or -1
// when no key could be drawn or skey.mst could not be read or written.
int32_t IssueSession(const std::string& dataDir, const std::string& userId, bool reuse,
                     int maxDraws, bool& reused);

// The user id of the first record holding key, without any further check. 0 or -1.
int FindSessionUserOfKey(const std::string& dataDir, int32_t key, std::string& userId);

// The key of the first record of the user id (exact compare), or -1.
int32_t FindSessionKeyOfUser(const std::string& dataDir, const std::string& userId);

// Removes every record of the user id (exact compare). 0, or -1 when skey.mst could not be
// read or rewritten.
int DeleteSessionsOfUser(const std::string& dataDir, const std::string& userId);
// The same on the bytes of skey.mst in memory (FileChangeSet, store/journal.h): the count of
// records dropped.
long DropSessionsOfUserIn(std::string& bytes, const std::string& userId);
