// Message bodies: X<m>.DAT in the folder directory holds the body text of message m, bytes
// alone (line breaks are single CR bytes), no terminator. At most 99999 bytes are read back.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr size_t kMaxBodyRead = 99999;

// "%s%d/X%d.DAT"
std::string MessageBodyPath(const std::string& dataDir, int folder, int messageNo);

// Replaces X<m>.DAT by the text (up to its first NUL, as a C string would be written). The
// file is replaced in one step (through X<m>.DAT.TMP), so a reader sees the old body or the new
// one, never a missing or half-written file. 0, or -1 when it could not be written.
int WriteMessageBody(const std::string& dataDir, int folder, int messageNo, std::string_view text);

// The body text, cut to its first 99999 bytes (and at a NUL byte, where a C string ends). A
// missing body file is created empty and yields the empty text. 0 when the bytes were read,
// -1 when the file can be neither opened nor created or a read fails.
int ReadMessageBody(const std::string& dataDir, int folder, int messageNo, std::string& out);
