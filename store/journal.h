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
// RewriteViaTemp. Files are named relative to the data directory ("user.mst", or "12/index.dat"
// for a folder directory, which must exist); appends become replacements with the appended
// content. Files left out of the change are not touched.
#pragma once

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
