// No-read lists: unread.dat in a board's folder directory names, one per line, the users who
// took the board out of the unread tracking. Lines are written as the id and CR LF; they are
// read with a 300-byte line buffer, and a trailing CR is never part of the id.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// "%s%d/unread.dat"
std::string NoReadListPath(const std::string& dataDir, int folder);

// The ids of the lines of an unread.dat holding bytes, in file order, as the finders compare
// them (line end and a trailing CR removed).
std::vector<std::string> ParseNoReadList(std::string_view bytes);

// The 1-based line number of the first line equal to userId, or -1 when there is none or the
// file does not exist.
int FindNoReadEntry(const std::string& dataDir, int folder, const std::string& userId);

// Adds the user unless a line already equals the id (creating the folder directory when
// missing). 0 when it created the file, -1 when it appended to an existing one, -2 when the user
// was already listed, kNoReadNotStored when the file can be neither written nor created.
inline constexpr int kNoReadNotStored = -3;
int AddNoReadEntry(const std::string& dataDir, int folder, const std::string& userId);

// Rewrites unread.dat (through unread.dat.TMP) without the lines equal to the id; kept lines
// are copied byte for byte with their line ends. 0 when a line was dropped, -1 when none was or
// the file does not exist (nothing is created then), kNoReadNotStored when the rewrite failed.
int RemoveNoReadEntry(const std::string& dataDir, int folder, const std::string& userId);
