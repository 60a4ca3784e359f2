// ID applications: g_user.dat, a fixed-record file of one IdApplication per application, in the
// order of arrival. Several records may carry the same id; they are told apart by their order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view kApplicationFileName = "g_user.dat";
inline constexpr size_t kIdApplicationSize = 1160;
// Offsets and sizes of the fields.
inline constexpr size_t kAppIdOffset = 0, kAppIdSize = 22;
inline constexpr size_t kAppNameOffset = 22, kAppNameSize = 82;
inline constexpr size_t kAppMailOffset = 104, kAppMailSize = 252;
inline constexpr size_t kAppPassOffset = 356, kAppPassSize = 22;
inline constexpr size_t kAppDateOffset = 378, kAppDateSize = 20;
inline constexpr size_t kAppAddrOffset = 398, kAppAddrSize = 252;
inline constexpr size_t kAppAgentOffset = 650, kAppAgentSize = 252;
inline constexpr size_t kAppMessageOffset = 902, kAppMessageSize = 254;
inline constexpr size_t kAppStatusOffset = 1156;

inline constexpr int32_t kAppWaiting = 0;
inline constexpr int32_t kAppApproved = 1;
inline constexpr int32_t kAppRefused = 2;

struct IdApplication {
    std::string USER_ID;          // the id applied for
    std::string USER_NAME;
    std::string E_MAIL_ADDR;
    std::string USER_PASS;        // as typed
    std::string date;             // "%04d/%02d/%02d %02d:%02d"
    std::string REMOTE_ADDR;      // the applicant's address
    std::string HTTP_USER_AGENT;  // the applicant's browser identification
    std::string message;          // the administrator's message, empty until decided
    int32_t status = kAppWaiting; // kAppWaiting, kAppApproved or kAppRefused
};

std::string PackIdApplication(const IdApplication& app);
IdApplication UnpackIdApplication(std::string_view bytes);

// The record at index (from 0). 0, or -1 when the file holds fewer than index + 1 records.
int ReadApplicationAt(const std::string& dataDir, int index, IdApplication& out);
// Every record in file order, from one read.
std::vector<IdApplication> ReadAllApplications(const std::string& dataDir);
// The n-th record (from 0) whose id equals userId exactly. 0 or -1.
int FindApplication(const std::string& dataDir, const std::string& userId, int n,
                    IdApplication& out);
// Appends app unless some record already has its id (then nothing is written): 0, -1 when the id
// has a record, kApplicationNotWritten when the file could not be read or written.
inline constexpr int kApplicationNotWritten = -2;
int AddApplication(const std::string& dataDir, const IdApplication& app);
// Overwrites in place the n-th record (from 0) whose id equals userId. 0 or -1.
int RewriteApplication(const std::string& dataDir, const std::string& userId, int n,
                       const IdApplication& app);
// Removes the record at index. 0, or -1 when there is no such record or the rewrite failed.
int DeleteApplicationAt(const std::string& dataDir, int index);
// Removes the decided records (approved or refused) at the head of the file that are dated on
// or before the day of cutoff (its first ten characters, "%04d/%02d/%02d"): from the first
// record on, up to the first record dated later; waiting records there stay. The number of
// records removed, or -1 when the file could not be rewritten.
int PurgeDecidedApplications(const std::string& dataDir, std::string_view cutoff);

// On the bytes of g_user.dat in memory, for changes of several files made as one
// (FileChangeSet, store/journal.h): the index of the first waiting record whose id equals
// userId exactly (out then holds it), or -1; and the record at index (a complete one)
// overwritten with app.
long FindWaitingApplicationIn(std::string_view bytes, const std::string& userId,
                              IdApplication& out);
void PutApplicationAt(std::string& bytes, size_t index, const IdApplication& app);
