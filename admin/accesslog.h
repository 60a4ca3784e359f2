// The access log pages: the log menu (which also prunes the log to LOG_DATE days), the raw log
// as a download, the per-user summary of logins and writes, and deleting the users chosen on
// it. For the system operator only.
#pragma once

#include "app/run.h"

// AccessLogDISP: the menu page, then the prune.
void ShowAccessLogMenu(Run& run);
// AccessLogDOWNLOAD: system.log's bytes unchanged; nothing at all for other callers.
void DownloadAccessLog(Run& run);
// AccessLogLastLogin.
void ShowLastLogins(Run& run);
// AccessLogDeleteUser: every checked user leaves user.mst, skey.mst (their sessions end),
// g_user.mst and the user access lists of every folder, all as one change. 0, or
// kLogDeleteNotStored when the change could not be stored (nothing was changed).
inline constexpr int kLogDeleteNotStored = -1;
int DeleteLoggedUsers(Run& run);

