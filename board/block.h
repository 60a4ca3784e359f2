// Pages that show many messages one below the other (the unread messages, the search results):
// the folder walk they share, the folder line above a folder's messages, and the message block,
// which shows a message as the detail page does but without its navigation and buttons.
#pragma once

#include <string>
#include <vector>

#include "app/run.h"
#include "board/detail.h"
#include "store/folders.h"
#include "store/messages.h"

// The folders of the tree in tree order, without those the caller may not read: a folder with
// rights below 1 hides itself and every deeper folder after it, up to the next folder that is
// not deeper (which is judged on its own again).
std::vector<FolderRecord> ReadableFolders(Run& run);

// The line that introduces a folder: its picture and, in bold, "[number]name" (withNumber) or
// the name alone.
void WriteFolderLine(Run& run, const FolderRecord& folder, bool withNumber);

// One message block: with a checkbox FOLSEL "folder,number" in front (ticked when the request's
// CHK_ALL is 1), then the message as WriteShownMessage shows it, its links carrying the caller's
// own display mode, and a closing rule. entry is a record of the board's index. Writes nothing
// to the store; in particular no read mark.
void WriteMessageBlock(Run& run, ShownBoard& board, const MessageIndexEntry& entry,
                       bool withCheckbox);
