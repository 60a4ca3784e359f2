// Failed logins: loginfail.dat, a small text file of its own in the data directory that
// throttles password guessing. One line per user id with recent failures:
//   "USER_ID,until,t1,t2,...," (CR LF)
// until is the time (seconds since 1970) up to which logins of the id are refused, 0 when
// they are not; t1.. are the times of the failures within the last kLoginFailureWindow
// seconds, oldest first. Only ids of listed users get a line, so the file stays as small as
// the user list at most; lines that no longer hold anything are dropped when it is rewritten.
#pragma once

#include <ctime>
#include <string>

inline constexpr const char* kLoginFailFile = "loginfail.dat";
inline constexpr int kLoginFailureLimit = 10;          // failures within the window that lock
inline constexpr time_t kLoginFailureWindow = 600;     // seconds
inline constexpr time_t kLoginLockSeconds = 600;       // how long a locked id is refused

// Results of LoginAttempt.
inline constexpr int kLoginAccepted = 0;
inline constexpr int kLoginFailed = -1;
inline constexpr int kLoginThrottled = -2;

// One login attempt of userId (as stored in user.mst) at now, under the data directory's lock,
// reading the file once: kLoginThrottled while the id is locked, whatever passwordMatches says
// (nothing is recorded then); otherwise kLoginAccepted when the password matched (the id's
// failures are forgotten) or kLoginFailed (the failure is recorded, and the tenth within the
// window locks the id for kLoginLockSeconds).
int LoginAttempt(const std::string& dataDir, const std::string& userId, time_t now,
                 bool passwordMatches);
