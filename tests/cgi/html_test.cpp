#include "cgi/html.h"

#include <gtest/gtest.h>

TEST(HtmlEscape, EscapesMarkupCharacters) {
    EXPECT_EQ(HtmlEscape("<script>alert('x')</script>"),
              "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;");
    EXPECT_EQ(HtmlEscape("a \"b\" & c"), "a &quot;b&quot; &amp; c");
    EXPECT_EQ(HtmlEscape("&amp;"), "&amp;amp;");
    EXPECT_EQ(HtmlEscape(""), "");
    EXPECT_EQ(HtmlEscape(std::string_view("a\0b", 3)), std::string("a\0b", 3));
}

TEST(HtmlEscape, DoubleByteCharactersPassUnchanged) {
    const std::string kanji = "\x93\xfa\x96\x7b\x8c\xea\x81\x5c\x81\x40";  // incl. second byte '\\'
    EXPECT_EQ(HtmlEscape(kanji), kanji);
    EXPECT_EQ(HtmlEscape("\xb1\xb2"), "\xb1\xb2");  // single-byte katakana
    // Bytes the scans count as lead bytes but browsers do not cannot hide a markup character.
    EXPECT_EQ(HtmlEscape("\xa0<b>\x7f\"\xff'"), "\xa0&lt;b&gt;\x7f&quot;\xff&#39;");
}

TEST(UrlEncodeValue, EncodesWhatCouldEndTheFieldOrAttribute) {
    EXPECT_EQ(UrlEncodeValue("a b\"c&d#e?f<g>h%i+j'k"),
              "a%20b%22c%26d%23e%3Ff%3Cg%3Eh%25i%2Bj%27k");
    EXPECT_EQ(UrlEncodeValue(std::string("\r\n\t\x01\x7f\0", 6)), "%0D%0A%09%01%7F%00");
    EXPECT_EQ(UrlEncodeValue("user@example.com"), "user@example.com");
    EXPECT_EQ(UrlEncodeValue("Re:report_v1.2-final.txt"), "Re:report_v1.2-final.txt");
}

TEST(UrlEncodeValue, DoubleByteCharactersPassUnchanged) {
    const std::string name = "\x8e\x91\x97\xbf\x81\x5c.doc";  // second byte '\\'
    EXPECT_EQ(UrlEncodeValue(name), name);
    EXPECT_EQ(UrlEncodeValue("\xa0\"x"), "\xa0%22x");
}
