// Double-byte text: the stored texts are bytes in the installation's double-byte code page.
// A lead byte and the byte after it form one character; every scan steps over the pair and
// never takes either byte for a delimiter.
#pragma once

#include <string_view>

// A byte in 0x7F..0xA0 or 0xE0..0xFF starts a two-byte character.
inline bool IsLeadByte(unsigned char c) {
    return (c >= 0x7F && c <= 0xA0) || c >= 0xE0;
}
inline bool IsLeadByte(char c) { return IsLeadByte(static_cast<unsigned char>(c)); }

// Index of the first occurrence of pattern in text that starts on a character boundary,
// or -1 when there is none or either is empty.
int FindText(std::string_view text, std::string_view pattern);
