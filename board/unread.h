// Unread messages across the boards: the page of every unread message of the boards the caller
// reads and has not excluded, the step that marks the ticked ones read, and the page and step
// that choose the excluded boards (their no-read lists).
#pragma once

#include "app/run.h"

// NRDETAILS: every unread message, board by board, each as a message block with a checkbox.
// Shared accounts are refused.
void ShowUnreadMessages(Run& run);
// NRDETAILSWR: a read mark for every ticked FOLSEL "folder,number" that names a message of a
// board the caller may read. Shared accounts change nothing. 0, or kUnreadNotStored when a mark
// could not be written (the marks are independent: those written stay).
inline constexpr int kUnreadNotStored = -4;
int SaveUnreadMarks(Run& run);

// SETNOREAD: the excluded boards and all readable boards, for moving boards between the two.
void ShowUnreadSettings(Run& run);
// SETNOREAD_WR: BOARD_OUT takes the chosen NOWNOREAD boards back into the unread tracking,
// BOARD_IN takes the chosen BOARDLIST boards out of it; only readable boards of the tree are
// changed. 0, or kUnreadNotStored when a list could not be written.
int SaveUnreadSettings(Run& run);
