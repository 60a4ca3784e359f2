// Cleaning of message bodies (and folder information texts) for display.
//
// Bodies are stored exactly as their authors wrote them and are shown as HTML. Before they
// reach the page they pass CleanBodyHtml, which keeps the formatting and link markup that
// authors use and neutralises everything active:
//  - Tags are checked against an allowlist (b, i, u, font, a, img, table, lists, headings ...).
//    An allowed tag is written anew from its parts: the tag name as written, only the allowed
//    attributes, each value re-quoted and escaped, so that what the browser reads is exactly
//    what was checked. Any other tag is written as text (escaped); script and style elements
//    are dropped together with their content; comments and declarations are dropped.
//  - Attributes outside the allowlist (on* handlers, style, target ...) are dropped.
//  - href and src values must be relative or use an allowed scheme (http, https, ftp, mailto
//    for links; http, https for images), judged after character references are resolved and
//    blanks and control bytes removed; otherwise the attribute is dropped.
//  - End tags close only elements this body opened; elements left open are closed at the end;
//    rows, cells and table sections are kept only inside a table the body opened. So a body
//    cannot reach into the page around it.
//  - Text passes unchanged, except that a "<" that starts no tag becomes "&lt;". A tag, comment
//    or declaration that the text ends inside takes the rest of the text with it in a browser;
//    here that rest is written as text (escaped), which also keeps the scan linear.
//
// The text is bytes in the installation's double-byte code page and is never converted. A lead
// byte (IsLeadByte) followed by a byte of 0x40 or above is one character and copied whole; the
// second byte of a real two-byte character is always in that range, and no byte in it has a
// meaning for the markup. A lead byte before any lower byte is not the start of a character (a
// browser does not join them either), so the byte after it is read as what it is: a stray byte
// can never hide a "<" or a quote from the cleaning. Stray lead bytes are kept in text and
// dropped from attribute values.
#pragma once

#include <string>
#include <string_view>

std::string CleanBodyHtml(std::string_view html);
