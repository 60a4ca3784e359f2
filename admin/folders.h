// Folder administration: the folder list, and creating, deleting and moving folders with
// everything below them. For the system operator only.
#pragma once

#include "app/run.h"

// Results of CreateFolderJob.
inline constexpr int kNewFolderDone = 0;
inline constexpr int kNewFolderNoName = 1;
inline constexpr int kNewFolderNotADirectory = 2;
inline constexpr int kNewFolderBadName = 3;  // a comma or a line break in the name
inline constexpr int kNewFolderBadKind = 4;  // MODE other than 1, 2, 3
inline constexpr int kNewFolderFailed = -1;  // the files could not be written

// FOLDERLIST: the folder table with the links to each folder's pages, the buttons to the
// other folder pages and the import form.
void ShowFolderAdminList(Run& run);
// NEWFOLDER and NEWFOLDERWR.
void ShowNewFolderForm(Run& run);
int CreateFolderJob(Run& run);
// DELFOLDER and DELFOLDERWR (removes the folders' directories of messages and attachments).
void ShowDeleteFolderForm(Run& run);
int DeleteFolderJob(Run& run);
// BORDMOVE and BORDMOVEWR: 0, -1 (no rights), -2 (no such folder, or inside a folder that is
// not a directory), -3 (into the moved folder's own subtree), kMoveNotStored (not written, or a
// line would grow too long for its reader; nothing changed).
inline constexpr int kMoveNotStored = -4;
void ShowMoveFolderForm(Run& run);
int MoveFolderJob(Run& run);
