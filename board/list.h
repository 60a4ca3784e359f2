// The folder message list (job ROOM): one board folder as a paged table of 20 messages, in
// thread order (mode 1), by number ascending (2) or descending (3), with the buttons for
// posting, paging, the other display modes and the folder's settings pages.
#pragma once

#include <vector>

#include "app/run.h"
#include "store/messages.h"

// Page count of a folder of n index records: (n - 1) / 20 + 1, so an empty folder has 1 page.
int ListPageCount(int records);

// The entries shown on a page of the list, in display order. index is the folder's index in
// file order; mode 1 takes positions page * 20 - 19 .. page * 20; modes 2 and 3 take the
// (page * 20 - 19)-th to (page * 20)-th existing message numbers counted from 1 upward (a
// number is shown by its first record), mode 3 listing them from the highest down.
std::vector<const MessageIndexEntry*> ListPageEntries(const std::vector<MessageIndexEntry>& index,
                                                      int mode, int page);

// The job ROOM.
void ShowFolderList(Run& run);
