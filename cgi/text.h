// Text conversions applied when message texts are stored or shown, and the date stamps the
// records carry.
//
// Every conversion works in place on the caller's text. A lead byte and the byte after it form
// one character (IsLeadByte in cgi/dbcs.h): they are copied together and never taken for a
// delimiter. A lead byte standing alone at the very end of a text is not a character and is
// dropped by the conversions that rebuild the text.
//
// Bounds: the result never exceeds min(kWorkSize, capacity) - 1 bytes, where capacity is the
// size of the caller's buffer (terminator included, as the callers count it). A result that
// would be longer is cut on a character boundary; markup the conversion inserts (a link, a
// "<BR>", a colour tag) is written whole or not at all, and an opened colour is always closed.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>

// The work area of the conversions; callers hold message texts in buffers of this size.
inline constexpr size_t kWorkSize = 104000;

// ---- Date stamps ---------------------------------------------------------------------------

// Local time as "%04d/%02d/%02d %02d:%02d" (16 characters).
std::string DateStampAt(time_t t);
// Local time as "%04d/%02d/%02d %02d:%02d.%02d" (19 characters).
std::string DateStampSecondsAt(time_t t);
// The current local time in those forms, written over text.
void DateStamp(std::string& text, size_t capacity = kWorkSize);
void DateStampSeconds(std::string& text, size_t capacity = kWorkSize);

// text holds a date "%04d/%02d/%02d" (a longer stamp may follow; only its first ten characters
// are read). It becomes the date of the day before, date only. February always has 28 days, so
// the day before 1 March is 28 February in every year.
void DayBefore(std::string& text, size_t capacity = kWorkSize);

// ---- Conversions for showing a text --------------------------------------------------------

// Web addresses ("http://", "https://", "HTTP://", "HTTPS://") and mail addresses ("mailto:",
// "MAILTO:") become links. An address ends before a NUL, CR, LF, space, ",", "<", ">", '"' or
// a lead byte. Links the author wrote ("<A HREF" / "<a href" up to "</A>" / "</a>") and image
// tags ("<IMG" / "<img" up to ">") are copied as they are.
void LinkUrls(std::string& text, size_t capacity = kWorkSize);

// Every CR becomes "<BR>\n"; LF bytes vanish. Once the result has reached 100,000 bytes the
// rest of the input is dropped.
void LineBreaksToHtml(std::string& text, size_t capacity = kWorkSize);

// Lines that begin with ">" are set in colour (six hexadecimal digits, no "#"); consecutive
// quoted lines, with empty lines between them, share one colour run. Lines end at CR alone.
// A colour that is not six hexadecimal digits is reduced to its hexadecimal digits (at most
// six), so that it cannot leave the attribute.
void ColorQuotes(std::string& text, std::string_view colour, size_t capacity = kWorkSize);

// ---- Conversions for storing and quoting ---------------------------------------------------

// Removes every LF byte.
void DropLineFeeds(std::string& text, size_t capacity = kWorkSize);

// Puts ">" in front of every line (for the text of a reply): LF is dropped, a line ends at CR,
// and an empty line becomes ">".
void QuoteLines(std::string& text, size_t capacity = kWorkSize);

// ---- Small formatting ----------------------------------------------------------------------

// text holds a decimal number (leading blanks and a sign allowed, reading stops at the first
// non-digit; no digits read as 0). It becomes the number with a comma every three digits:
// '1234567' -> '1,234,567', '-1234' -> '-1,234'. Any number of digits is grouped.
void GroupThousands(std::string& text, size_t capacity = kWorkSize);

// Removes the spaces at the end of the text (a space that is the second byte of a two-byte
// character stays).
void TrimTrailingSpaces(std::string& text, size_t capacity = kWorkSize);

// The bytes "a".."z" become "A".."Z"; two-byte characters are left alone.
void UpperCaseAscii(std::string& text, size_t capacity = kWorkSize);
