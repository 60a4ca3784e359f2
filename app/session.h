// Login, the session check and log-off, and the pages that frame a session: the page head
// every HTML page starts with, the login page, the top frameset, the log-off redirect, the
// session-expired page and the page that closes the separate posting window.
#pragma once

#include <cstdint>
#include <string>

#include "app/run.h"

// Version texts of the login page.
inline constexpr const char* kVersionText = "Ver2.15";
inline constexpr const char* kPlatformText = "WWW ServerOS WinNT3.51/NT4.0 & Windows95/98";

// Account kinds (UserRecord::MODE).
inline constexpr int kMemberAccount = 1;
inline constexpr int kSharedAccount = 2;

// The header lines every response of the program carries besides its content type: no
// referrer beyond the board, no type sniffing, no copy kept by browsers or proxies (the
// session key travels in the URLs), and no framing by other sites.
void WriteSafetyHeaders(Output& out);

// "Content-type: text/html", the safety headers, the empty line, "<HTML>", the head with
// message 1 and message 2 as a comment.
void WritePageHead(Run& run);
// "<BODY BACKGROUND=..." with the system background picture (CG_FILE_WEB_PATH + BACK_GIF).
void WriteBackgroundBody(Run& run);

// LoginUser's answer for an id that failed too often of late (see store/loginfail.h).
inline constexpr int32_t kLoginRefusedForNow = -2;
// LoginUser's answer when the session or its access log line could not be stored (no lock, a
// file not writable, a full disk).
inline constexpr int32_t kLoginNotStored = -3;

// Records a login (kind kLogLogin, with the request's address and browser identification) or a
// message written to folder number (kLogWrite) of userId in the access log, when LOG_DATE is
// above 0. true when the line was written or nothing is to be logged. A line that cannot be
// written is reported on the standard error, which the web server keeps in its error log, and
// gives false.
bool RecordAccess(Run& run, const std::string& userId, int32_t kind, int32_t number);

// Checks user id and password and issues the session key: a member account gets a new key that
// replaces its earlier session; a shared account keeps the key of its existing session. Writes
// the access log line of a new session when LOG_DATE is above 0 (RecordAccess); a login that
// cannot be recorded there is not granted (kLoginNotStored, its key is never handed out). On success run.login.user is
// the user's record and the key (1..2147483647, or a stored older key) results; -1 for an
// unknown id or a wrong password; kLoginRefusedForNow, whatever the password, while the id is
// locked after ten failures within ten minutes; kLoginNotStored when the password is right but
// the session cannot be stored (each failure of a listed id is recorded, and a
// successful login forgets them).
int32_t LoginUser(Run& run, const std::string& uid, const std::string& upw);

// 1 when the text names a valid session (for a member account: from the same browser); the
// caller's record is then in run.login.user and the messages are those of the user's own
// language file when it has one. 0 otherwise.
int CheckSessionKey(Run& run, const std::string& text);

// Ends the session of run.login.SKEY (every session record of its user) and shows the log-off
// redirect, or the login page when LOGOFF_URL is empty. When the session cannot be ended (the
// session file cannot be written) the login page says the change could not be stored.
void LogOff(Run& run);

// The login page; a notice (a message text, such as why the last login was refused) stands in
// red above the prompt.
void ShowLoginPage(Run& run, const std::string& notice = "");
void ShowTopFrames(Run& run, const std::string& key);
void ShowLogoffRedirect(Run& run);
void ShowExpiredPage(Run& run);
// BORDWRITEFIN: closes the separate posting window; needs no login.
void ShowPostingClosePage(Run& run);
