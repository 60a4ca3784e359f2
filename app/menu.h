// The folder menu of the left frame (job FRM21): the folder tree as the caller may see it,
// directories that open and close through the repeated DISP_NO fields of their own links,
// boards and chat rooms that open in the right frame, unread counts for member accounts, and
// one button per further function.
#pragma once

#include "app/run.h"

void ShowFolderMenu(Run& run);

// Line position (from 1) of the parent of the folder at position p, or -1 for a top-level
// folder, a folder without a shallower line above it, or a position outside the list.
int ParentPosition(Run& run, int p);

// The picture of a folder under CG_FILE_WEB_PATH (unescaped): folder number + "/" + its DIRPIC
// when set, else the picture of its kind.
std::string FolderPicture(Run& run, const FolderRecord& folder);

// Sum of the caller's unread messages in the boards of the subtree of the directory at
// position p that the caller may read.
int DirectoryUnreadCount(Run& run, int p);
