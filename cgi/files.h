// File helpers shared by the pages: a record file sent as a download, an upload moved to its
// place, file lists, the last component of a path, and removal of a directory tree.
// Paths are built by the callers; names this unit joins itself are joined with "/".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "cgi/output.h"

// Writes a download response: "Content-Type: application/octet-stream\n" (a CGI response
// needs a content type; browsers then save the file), then
// "Content-Disposition: attachment; filename=<name>\n\n", then the bytes of dir + name as they
// are. When the file cannot be opened the response ends after the header. Control bytes of the
// name are left out of the header line (they would end it).
void SendDownload(Output& out, const std::string& dir, const std::string& name);

// Sends the file at path as a download saved under shownName, its bytes unchanged:
// "Content-Type: application/octet-stream", the caller's further header lines (each ending in
// "\n"), "Content-Disposition: attachment; filename=\"<name>\"" (control bytes left out, quote
// and backslash escaped), the empty line and the bytes. false, with nothing written, when the
// file cannot be opened as a regular file.
bool SendFileAs(Output& out, const std::string& path, const std::string& shownName,
                std::string_view headerLines);

// Moves source to destination: the destination is replaced by the source's bytes and the source
// is deleted. A missing source is created empty first, so the destination then exists empty.
// 0 when the source was removed after copying; -1 when a file could not be opened, the copy
// failed (the source then stays and no partial destination is left) or the source could not be
// deleted. Moving a file onto itself leaves it in place with 0.
int MoveFile(const std::string& source, const std::string& destination);

// buffer holds a pattern such as "*.lng", optionally with a directory ("dir/*.lng"); it is
// replaced by the names of the matching files (not directories) of that directory (the working
// directory without one), sorted, joined with ",". Letter case is ignored in the match. The
// result stays below capacity bytes: a name that does not fit is left out whole. Names holding
// a comma cannot be listed and are left out. Empty when nothing matches.
void ListFiles(std::string& buffer, size_t capacity);

// text keeps only what follows the last separator (two-byte characters are stepped over, so
// their second byte is never taken for one); unchanged when there is none.
void CutToLastSeparator(std::string& text, char separator);

// Removes the directory path (no trailing separator) with everything in it. Symbolic links in
// the tree are removed, never followed. 0 when the directory itself was removed, -1 otherwise
// (also when path is missing or not a directory).
int RemoveDirectoryTree(const std::string& path);
