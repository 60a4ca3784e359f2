// One folder's settings page and access page with their saves: for the system operator and for
// the folder's managers (rights 3).
#pragma once

#include "app/run.h"

// Results of SaveFolderConfig.
inline constexpr int kConfigSaved = 0;
inline constexpr int kConfigNoRights = -1;
inline constexpr int kConfigNoName = -2;
inline constexpr int kConfigBadName = -3;        // a comma or a line break in the name
inline constexpr int kConfigFailed = -4;         // the settings could not be written

// Capacity of INFO and DEFO as stored.
inline constexpr size_t kFolderTextLimit = 4000;

// BORDCONFIG and BORDCONFIGWR. An uploaded picture takes the client's file name when that is a
// picture name (admin/picture.h); otherwise it is not placed and the settings page that follows
// says so.
void ShowFolderConfig(Run& run);
int SaveFolderConfig(Run& run);
// BORDACCESS and BORDACCESSWR (one change per request: levels, or groups or users added or
// removed, each in one write). 0, -1 without rights, or kAccessNotStored when the change could
// not be stored (nothing was changed).
inline constexpr int kAccessNotStored = -2;
void ShowFolderAccess(Run& run);
int SaveFolderAccess(Run& run);
