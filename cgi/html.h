// Escaping of data values that pages write into HTML and into URLs.
//
// Both work byte by byte over ASCII and pass every byte of 0x80 and above unchanged. The second
// byte of a real two-byte character is always 0x40 or above and never one of the bytes
// escaped here, so no such character is altered; and a stray byte that the scans count as a lead
// byte (0x7F, 0x80, 0xA0, 0xFD..0xFF) but a browser does not cannot shield a following '<' or
// '"' from being escaped.
#pragma once

#include <string>
#include <string_view>

// For text and attribute values: & < > " ' become &amp; &lt; &gt; &quot; &#39;.
std::string HtmlEscape(std::string_view text);

// For a value placed inside a URL (a query field, a mailto address or subject, a file name in a
// path): the control bytes (0x00..0x1F, 0x7F), blank, '"', '#', '%', '&', '\'', '+', '<', '>'
// and '?' become "%XX" (upper-case hex); everything else, two-byte characters included, passes
// unchanged.
std::string UrlEncodeValue(std::string_view text);
