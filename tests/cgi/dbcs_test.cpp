#include "cgi/dbcs.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;

TEST(DbcsTest, LeadByteRanges) {
    for (int c = 0; c < 256; ++c) {
        bool expected = (c >= 0x7F && c <= 0xA0) || c >= 0xE0;
        EXPECT_EQ(IsLeadByte(static_cast<unsigned char>(c)), expected) << c;
        EXPECT_EQ(IsLeadByte(static_cast<char>(c)), expected) << c;
    }
}

TEST(DbcsTest, FindTextSingleByteTexts) {
    EXPECT_EQ(FindText("aab", "ab"), 1);
    EXPECT_EQ(FindText("xaaab", "aab"), 2);
    EXPECT_EQ(FindText("abc,def", ","), 3);
    EXPECT_EQ(FindText("abc", "abc"), 0);
    EXPECT_EQ(FindText("abc", "abcd"), -1);
    EXPECT_EQ(FindText("abc", "x"), -1);
    EXPECT_EQ(FindText("", "a"), -1);
    EXPECT_EQ(FindText("a", ""), -1);
    EXPECT_EQ(FindText("a\0,b"s, ","), 2);  // a zero byte is an ordinary byte here
}

TEST(DbcsTest, FindTextStartsOnlyOnCharacterBoundaries) {
    // 0x83 0x5C is one character whose second byte equals "\".
    EXPECT_EQ(FindText("\x83\x5C", "\\"), -1);
    EXPECT_EQ(FindText("\x83\\x\\", "\\"), 3);
    // A comma inside a two-byte character is never found; the next one is.
    EXPECT_EQ(FindText("\x81,ab,c", ","), 4);
    EXPECT_EQ(FindText("\x7F,,", ","), 2);   // 0x7F and 0xA0 are lead bytes too
    EXPECT_EQ(FindText("\xA0,,", ","), 2);
    EXPECT_EQ(FindText("\xA1,,", ","), 1);   // half-width katakana is single-byte
    EXPECT_EQ(FindText("\xDF,,", ","), 1);
    EXPECT_EQ(FindText("\xE0,,", ","), 2);
    // A pattern ending with the first byte of a two-byte character does not match its half.
    EXPECT_EQ(FindText("a\x82\xA0", "a\x82"), -1);
}

TEST(DbcsTest, FindTextWithTwoByteCharacters) {
    const std::string text = "\x82\xA0\x82\xA2=\x82\xA4";  // three kana and "="
    EXPECT_EQ(FindText(text, "="), 4);
    EXPECT_EQ(FindText(text, "\x82\xA2"), 2);
    EXPECT_EQ(FindText(text, "\x82\xA4"), 5);
    EXPECT_EQ(FindText(text, "\xA0\x82"), -1);  // straddles two characters
    // After a mismatch inside a two-byte character the scan goes on at the next boundary.
    EXPECT_EQ(FindText("\x82\xA0\x82\xA0x", "\x82\xA0x"), 2);
    // A lead byte at the very end of the text never reads past it.
    EXPECT_EQ(FindText("ab\x82", "b\x82\xA0"), -1);
    EXPECT_EQ(FindText("ab\x82", "\x82\xA0"), -1);
}
