// The access log system.log: one text line per login or message written, appended in time
// order: "date,user id,kind word,number,remote address,browser identification" (no comma after
// the last field).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

inline constexpr size_t kLogUserIdSize = 22;
inline constexpr size_t kLogDateSize = 22;
inline constexpr size_t kLogAddrSize = 252;
inline constexpr size_t kLogAgentSize = 252;

inline constexpr int32_t kLogLogin = 1;  // kind word "login"
inline constexpr int32_t kLogWrite = 2;  // kind word "write"

struct AccessLogEntry {
    std::string userId;
    std::string date;        // "%04d/%02d/%02d %02d:%02d"
    int32_t kind = 0;        // kLogLogin or kLogWrite
    int32_t number = 0;      // 0 for a login, the folder number for a message written
    std::string remoteAddr;  // REMOTE_ADDR of a login, empty for a write
    std::string userAgent;   // HTTP_USER_AGENT of a login, empty for a write
};

struct UserLogSummary {
    std::string lastLogin;  // date field of the user's last "login" line, empty when none
    int32_t logins = 0;
    int32_t writes = 0;
};

// One system.log line (without its line end): date, user id, kind word, number and address,
// each followed by a comma, then the browser identification (which may hold commas). false when
// a comma is missing or the kind word is neither "login" nor "write".
bool ParseAccessLogLine(std::string_view line, AccessLogEntry& out);

// The line of an entry, ending in kLineEnd; "" for a kind other than login or write. Values
// are cut to their fields; none can break the line.
std::string FormatAccessLogLine(const AccessLogEntry& entry);

// Appends the entry's line to system.log (created when missing). 0, or -1 when it could not be
// written or the kind is neither login nor write.
int AppendAccessLog(const std::string& dataDir, const AccessLogEntry& entry);

// Last login date, login count and write count of the user id (exact compare). 0, or -1 with
// an empty summary when system.log does not exist.
int SummarizeUserLog(const std::string& dataDir, const std::string& userId, UserLogSummary& out);
// The same for every user id of the log, from one read.
std::unordered_map<std::string, UserLogSummary> SummarizeAccessLog(const std::string& dataDir);

// Removes the lines whose first 10 bytes do not compare greater (bytewise, unsigned) than the
// first 10 bytes of cutoff: every line dated on or before the cutoff day. Kept lines stay as
// they are. 0, or -1 when system.log does not exist or could not be rewritten.
int PruneAccessLog(const std::string& dataDir, std::string_view cutoff);
