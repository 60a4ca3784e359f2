// Several record files replaced as one change: after a run that was killed at any moment, or a
// power loss, either every file holds its new content or every file its old one. For writes
// whose files must stay in step, such as the folder tree (b_title.mst) and its settings
// (b_title2.mst) when a subtree is created, moved or deleted.
//
// How ReplaceFilesTogether makes a change (under DataLock of the data directory):
//  1. Each new content is written to the file's temporary "<name>.NEW" and flushed to disk.
//  2. The intent journal "board.journal" is written in the data directory: a header line, one
//     line per file name, and a closing line with the count of names and a checksum of all
//     lines before it. It is flushed to disk, and so is the data directory.
//  3. Each "<name>.NEW" is renamed over its file; the directories are flushed.
//  4. The journal is removed (and the data directory flushed).
// The change is decided in the moment the journal's closing line is on disk. A run killed
// before that leaves at most temporaries and an incomplete journal: the old files stand. A run
// killed after it leaves a complete journal: the new files stand, and the renames still to be
// done are done by whoever next takes the data lock. DataLock calls CompletePendingChange each
// time a process takes the lock (not when a held lock is taken again), so no change of any
// record file can run before a pending change is finished, and the entry calls it at the start
// of every run, so readers see the finished change too.
//
// Why the journal rolls forward rather than back: at the moment the journal is complete every
// new content is already on disk under its temporary name, so finishing needs nothing but
// renames, which are repeatable (a rename already done leaves no temporary behind and is simply
// skipped) and need no free space. Rolling back would need the old contents, which the first
// rename has already replaced, so they would have to be copied aside before every change.
//
// Adopting it in another writing job (posting, user deletion, batch upload, ...): take DataLock,
// read the files the change touches, build every new content whole in memory in the files'
// exact formats, and hand them to ReplaceFilesTogether instead of rewriting them one by one with
// RewriteViaTemp (a FileChangeSet, below, reads them and hands on only those that changed).
// Files are named relative to the data directory ("user.mst", or "12/index.dat" for a folder
// directory, which must exist); appends become replacements with the appended content. Files
// left out of the change are not touched.
#pragma once

#include <ctime>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view kJournalName = "board.journal";
inline constexpr std::string_view kJournalTempSuffix = ".NEW";

struct FileReplacement {
    std::string name;     // relative to the data directory; no "..", no leading "/"
    std::string content;  // the file's whole new content
};

// Replaces every named file by its content as one change (see above); takes the lock of
// dataDir. A file that does not exist is created; a replaced file keeps its permissions.
// 0 when the change is decided (its renames are then done, or will be done by the next run
// that takes the lock should one fail here); -1 when it was not made: a name is not allowed, a
// name appears twice, or a temporary file or the journal could not be written. Every file then
// keeps its old content and the temporaries are removed.
int ReplaceFilesTogether(const std::string& dataDir, const std::vector<FileReplacement>& files);

// Finishes a change that a killed run left behind: a complete journal is carried out and
// removed, an incomplete one is removed together with the temporaries it names. Nothing to do
// (the usual case) costs one failed open. Callers that hold no lock take it here; DataLock
// calls it with the lock held. 0, or -1 when a rename failed (the journal then stays).
int CompletePendingChange(const std::string& dataDir);

// ---- Leftovers of killed runs --------------------------------------------------------------

// A run killed in the middle of a rewrite leaves its temporary file behind, one killed before
// its journal was complete its "<name>.NEW" files. Such a file is removed once its last write is
// kLeftoverAgeSeconds ago: every rewrite happens under the data lock and takes moments, so no
// live run can still be writing it. DataLock sweeps when a process takes the lock and the last
// sweep is kSweepIntervalSeconds ago, which the lock file's modification time tells (it is
// touched by each sweep and by nothing else), so that no request scans the directories for it
// more often.
inline constexpr time_t kLeftoverAgeSeconds = 3600;
inline constexpr time_t kSweepIntervalSeconds = 3600;

// Names of temporary files: "<name>.TMP" of a rewrite, "TEMP" of the group file's deletions,
// "<name>.NEW" of a change of several files.
bool IsTemporaryName(std::string_view name);

// Removes the temporary files (IsTemporaryName) of the data directory and of its folder
// directories whose last write is earlier than now - kLeftoverAgeSeconds. While board.journal
// is there, the ".NEW" files are its own and stay. The caller holds the data lock. The number
// of files removed.
int SweepLeftovers(const std::string& dataDir, time_t now);

// DataLock's call with the lock just taken (lockFd the open lock file): when the lock file was
// last written kSweepIntervalSeconds or more ago (or in the future), it is touched and
// SweepLeftovers runs.
void SweepLeftoversWhenDue(const std::string& dataDir, int lockFd, time_t now);

// A change of several data-directory files built in memory: each file is read once, on first
// use, and edited in place; Commit hands every file whose bytes then differ from what was read
// to ReplaceFilesTogether, so files left as they were are not written. The caller holds DataLock
// of the data directory from before the first read until after Commit.
class FileChangeSet {
public:
    explicit FileChangeSet(std::string dataDir) : dataDir_(std::move(dataDir)) {}
    // The bytes of the file (named as for ReplaceFilesTogether) to be edited; a missing file
    // reads as empty. nullptr when the file is there but cannot be read: the change must then
    // not go ahead. The pointer stays valid for the lifetime of the set.
    std::string* Edit(std::string_view name);
    // 0 when the change is decided (or nothing changed), -1 when nothing was changed.
    int Commit();

private:
    struct File {
        std::string name, old, bytes;
    };
    std::string dataDir_;
    std::deque<File> files_;
};
