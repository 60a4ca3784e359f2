// The unread summary of a board: unread.sum in the folder directory, a derived file that lets
// the unread count of a user be had without opening every read-mark file. It holds the number
// of index records and, for every reader id, the number of that id's read marks counted the way
// CountUnread counts them (for each index record, the marks with exactly that id in R<m>.DAT of
// its number; a number listed twice in the index counts twice). The unread count of a user is
// then records - marks[user], or 0 when the user is on the board's no-read list (read from
// unread.dat itself, not from the summary).
//
// Format (text, CR LF line ends):
//   "unread summary 1"
//   "stamp D_SEC D_NSEC I_INO I_SIZE I_SEC I_NSEC N_INO N_SIZE N_SEC N_NSEC"
//       the modification times of the folder directory (which changes whenever a file in it is
//       created, replaced or deleted), and inode, size and modification time of index.dat and
//       unread.dat (inode 0 and size -1 for a file that is missing)
//   "records N"
//   "COUNT ID", one line per reader id with marks; the id with every byte below 0x21, 0x7F
//       and "%" written as "%XX" (two upper-case hex digits)
//   "end HASH", HASH the 64-bit FNV-1a of every byte before this line, 16 lower-case hex digits
//
// When the summary is stored, the folder directory's modification time is set back by one
// nanosecond and that time recorded: a later change, even in the same clock tick, gives the
// directory the tick's time and so a different stamp.
//
// The summary is trusted only when it reads back whole (the hash matches) and its stamp equals
// the current state of those three files. Every store operation that changes index.dat, read
// marks, unread.dat or the set of files of a folder brings the summary up to date under the
// data lock (UnreadSummaryUpdate); anything else (another program, a restore) leaves a stamp
// that no longer matches, and the next count rebuilds the summary from the record files. An
// in-place write to an existing read-mark file by another program changes none of the stamped
// files and is not seen.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "store/recordfile.h"

struct UnreadSummaryStamp {
    int64_t dirSec = 0, dirNsec = 0;
    int64_t indexIno = 0, indexSize = -1, indexSec = 0, indexNsec = 0;
    int64_t listIno = 0, listSize = -1, listSec = 0, listNsec = 0;
    bool operator==(const UnreadSummaryStamp&) const = default;
};

struct UnreadSummary {
    UnreadSummaryStamp stamp;
    long records = 0;
    std::map<std::string, long> marks;  // reader id -> marks counted as described above
};

// "%s%d/unread.sum"
std::string UnreadSummaryPath(const std::string& dataDir, int folder);

// The current stamp of the folder's files. false when the folder directory cannot be examined.
bool TakeUnreadSummaryStamp(const std::string& dataDir, int folder, UnreadSummaryStamp& out);

// The stored file text of a summary, and back. Parse fails (false) on a damaged file.
std::string FormatUnreadSummary(const UnreadSummary& summary);
bool ParseUnreadSummary(const std::string& bytes, UnreadSummary& out);

// The summary counted from the record files (index.dat once, each R<m>.DAT once), stamped with
// the state before the count. A missing file counts as empty; with createMissing it is created
// empty, as the literal count leaves it (a check of the stored summary passes false and changes
// nothing). 0 (also when the folder directory is missing: nothing to count), or -1 when the
// index or a read-mark file is there but cannot be read.
int CountUnreadSummary(const std::string& dataDir, int folder, UnreadSummary& out,
                       bool createMissing);

// The stored summary when it can be trusted (reads back whole, stamp current). 0 or -1.
int LoadUnreadSummary(const std::string& dataDir, int folder, UnreadSummary& out);

// Counts the summary anew and stores it, under the data lock. 0, or -1 when it could not be
// counted or written.
int RebuildUnreadSummary(const std::string& dataDir, int folder);

// The trusted summary, rebuilt first under the data lock when the stored one cannot be trusted.
// 0, or -1 when it can be neither loaded nor counted.
int UnreadSummaryOf(const std::string& dataDir, int folder, UnreadSummary& out);

// The record count and the marks of one reader, as UnreadSummaryOf gives them; a trusted stored
// summary is read without unpacking the other readers' lines. 0, or -1 as UnreadSummaryOf.
int UnreadSummaryMarksOf(const std::string& dataDir, int folder, const std::string& readerId,
                         long& records, long& marks);

// A change of a folder's files, bracketed: the constructor takes the data lock and loads the
// summary while it still describes the files; the operation then changes the files and tells
// the changes of the counts; the destructor stores the summary with the new stamp. When the
// summary could not be trusted before the change it is removed instead (the next count
// rebuilds it). Updates nest: an update of a folder made while another of the same folder is
// open in this process adds to the open one, which alone stores the result.
class UnreadSummaryUpdate {
public:
    UnreadSummaryUpdate(const std::string& dataDir, int folder);
    ~UnreadSummaryUpdate();
    UnreadSummaryUpdate(const UnreadSummaryUpdate&) = delete;
    UnreadSummaryUpdate& operator=(const UnreadSummaryUpdate&) = delete;

    // Whether the counts are followed (else the changes need not be worked out).
    bool tracking() const { return outer_ ? outer_->tracking() : valid_; }
    void AddRecords(long n);
    void AddMarks(const std::string& readerId, long n);
    // The count can no longer be followed: the summary is removed at the end.
    void Drop();

private:
    UnreadSummaryUpdate* outer_ = nullptr;
    DataLock lock_;
    std::string dataDir_;
    int folder_;
    bool valid_ = false;
    bool existed_ = false;
    UnreadSummary summary_;
};
