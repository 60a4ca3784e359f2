// Changes of a board folder that end on its message list: deleting one message and marking
// every message of the folder read. Refusals are silent; the list page follows either way.
#pragma once

#include "app/run.h"

// DELMSG: deletes message SEL_NO of FOLDER_NO for its writer or a folder manager (member
// accounts only). A message that still has deeper records after it in its thread is kept as a
// deleted marker; otherwise its index record, read marks, attachment records and attachment
// directory go (the body file stays), the records as one change. 0 when something changed,
// -1 when refused (silently), kDeleteNotStored when the change could not be made.
inline constexpr int kDeleteNotStored = -4;
int DeleteMessage(Run& run);

// BORDALLFLG: gives the caller a read mark on every message of FOLDER_NO he has not read yet,
// deleted markers included. Needs read rights on the folder. 0, -1 when refused, or
// kMarksNotStored when a mark could not be written (the marks are independent of each other:
// those written stay, and the job done again adds the rest).
inline constexpr int kMarksNotStored = -4;
int MarkFolderRead(Run& run);
