// Backup and restore of an installation's data directory and attachment directory as one
// gzip-compressed tar archive.
//
// The archive holds the data directory under "data/", the attachment directory under "files/"
// (directories and regular files; the lock file board.lock is left out) and, last,
// "manifest.txt": a line per file with its size in bytes, its SHA-256 (as sha256sum prints it)
// and its name in the archive, separated by single blanks; lines starting with "#" are
// comments. Names are written as stored, except that a backslash and the bytes below 0x20 and
// 0x7F are written as \xHH.
//
// The backup is taken under the data lock: no change of the board runs while the files are
// read (writers wait, readers go on), so the archive is one consistent state of the board.
#pragma once

#include <string>

class Progress;

// Results of Backup and Restore.
inline constexpr int kArchiveDone = 0;
// restore: the archive is damaged or does not match its manifest.
inline constexpr int kArchiveBad = 1;
// A directory or file could not be used.
inline constexpr int kArchiveCannot = 2;

// Writes the archive to out (through out + ".part", renamed when complete, so that an earlier
// archive of that name stays until the new one is whole). Directories end with "/". error
// tells why when the result is not kArchiveDone.
int Backup(const std::string& dataDir, const std::string& attachDir, const std::string& out,
           std::string& error, Progress* progress);

// Restores an archive into dataDir and attachDir, which must be empty or not exist yet (they
// are then created, with missing parents). Every file is checked against the manifest; when
// anything differs, what was restored is removed again (directories made here included) and
// kArchiveBad results.
int Restore(const std::string& archive, const std::string& dataDir, const std::string& attachDir,
            std::string& error, Progress* progress);

// The manifest's form of a name, and back (false when an escape is broken).
std::string EscapeManifestName(const std::string& name);
bool UnescapeManifestName(const std::string& text, std::string& name);
