// Folder access rights: the caller's level on a folder, from the user level, the folder's user
// entries, its read and write level thresholds and its group entries.
#pragma once

#include "app/run.h"

// Rights levels.
inline constexpr int kRightsNone = 0;    // folder hidden, pages refused
inline constexpr int kRightsRead = 1;
inline constexpr int kRightsWrite = 2;
inline constexpr int kRightsManage = 3;  // settings, access lists, others' messages

// A user level above this makes the system operator.
inline constexpr int kOperatorLevelAbove = 99;

// The caller's (run.login.user) level 0..3 on the folder. Reads the access lists, settings and
// the caller's memberships once per run (cached in run); the result is remembered per folder.
int FolderRights(Run& run, int folderNo);
