// Group administration: the group list, adding (or renaming) and deleting groups.
#pragma once

#include "app/run.h"

// GROUPLIST, NEWGROUP, EDITGROUP, DELGROUP.
void ShowGroupList(Run& run);
void ShowNewGroupPage(Run& run);
void ShowEditGroupPage(Run& run);
void ShowDeleteGroupPage(Run& run);

// NEWGROUPWR: stores a group under its number (adding it, or renaming the group of that
// number). 0 stored (or not allowed: the list page then shows the refusal), 2 no number, 3 no
// name, 4 a number below 1, kGroupNameRefused for a name with a comma or line break,
// kGroupNotStored when group.mst could not be written.
inline constexpr int kGroupNameRefused = 5;
inline constexpr int kGroupNotStored = 6;
int SaveGroupJob(Run& run);

// DELGROUPWR: deletes the group with its memberships and access list entries, and takes it
// from the users whose primary group it was, all as one change. 0, or kGroupNotStored when the
// change could not be stored (nothing was changed).
int DeleteGroupJob(Run& run);
