#include "cgi/text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

// Two-byte characters whose second byte equals a delimiter of the scans.
static const std::string kYen = "\x81\x5C";   // second byte '\\'
static const std::string kGt = "\x82\x3E";    // second byte '>'
static const std::string kCr = "\xE0\x0D";    // second byte CR
static const std::string kLf = "\x9F\x0A";    // second byte LF
static const std::string kH = "\xA0h";         // second byte 'h'

static std::string Apply(void (*f)(std::string&, size_t), std::string s,
                         size_t capacity = kWorkSize) {
    f(s, capacity);
    return s;
}

// True when every lead byte in s has its second byte.
static bool EndsOnCharBoundary(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        i += ((c >= 0x7F && c <= 0xA0) || c >= 0xE0) ? 2 : 1;
    }
    return i == s.size();
}

TEST(DateStamp, FormatsLocalTime) {
    setenv("TZ", "UTC", 1);
    tzset();
    // 2001-02-03 04:05:06 UTC
    EXPECT_EQ(DateStampAt(981173106), "2001/02/03 04:05");
    EXPECT_EQ(DateStampSecondsAt(981173106), "2001/02/03 04:05.06");
    std::string s = "old";
    DateStamp(s);
    EXPECT_TRUE(std::regex_match(s, std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d)"))) << s;
    DateStampSeconds(s);
    EXPECT_TRUE(std::regex_match(s, std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d\.\d\d)"))) << s;
    DateStamp(s, 11);
    EXPECT_EQ(s.size(), 10u);
}

TEST(DayBefore, StepsBackAcrossDaysMonthsAndYears) {
    EXPECT_EQ(Apply(DayBefore, "2024/05/17"), "2024/05/16");
    EXPECT_EQ(Apply(DayBefore, "2024/05/02"), "2024/05/01");
    EXPECT_EQ(Apply(DayBefore, "2024/05/01"), "2024/04/30");
    EXPECT_EQ(Apply(DayBefore, "2024/08/01"), "2024/07/31");
    EXPECT_EQ(Apply(DayBefore, "1999/01/01"), "1998/12/31");
    EXPECT_EQ(Apply(DayBefore, "2001/03/01"), "2001/02/28");
    // February always has 28 days, leap years included.
    EXPECT_EQ(Apply(DayBefore, "2000/03/01"), "2000/02/28");
    EXPECT_EQ(Apply(DayBefore, "2024/03/01"), "2024/02/28");
    EXPECT_EQ(Apply(DayBefore, "2024/02/29"), "2024/02/28");
}

TEST(DayBefore, StampLosesItsTimeAndRepeats) {
    std::string s = "2005/01/03 12:34";
    for (int i = 0; i < 3; ++i) DayBefore(s);
    EXPECT_EQ(s, "2004/12/31");
    // 14 steps back, as the application purge does.
    s = "2010/01/10 08:00.00";
    for (int i = 0; i < 14; ++i) DayBefore(s);
    EXPECT_EQ(s, "2009/12/27");
}

TEST(DayBefore, OddInputStaysInBounds) {
    EXPECT_EQ(Apply(DayBefore, ""), "-001/12/31");
    EXPECT_EQ(Apply(DayBefore, "2000/00/01"), "1999/12/31");
    EXPECT_EQ(Apply(DayBefore, "2000/14/01"), "2000/12/31");
}

TEST(LinkUrls, WebAddresses) {
    EXPECT_EQ(Apply(LinkUrls, "see http://a.b/c, then"),
              "see <A HREF=\"http://a.b/c\">http://a.b/c</A>, then");
    EXPECT_EQ(Apply(LinkUrls, "HTTPS://x.y<br>"), "<A HREF=\"HTTPS://x.y\">HTTPS://x.y</A><br>");
    EXPECT_EQ(Apply(LinkUrls, "https://s/q?a=1&b=2\rnext"),
              "<A HREF=\"https://s/q?a=1&b=2\">https://s/q?a=1&b=2</A>\rnext");
    // Mixed case is not an address.
    EXPECT_EQ(Apply(LinkUrls, "Http://x hTTP://y"), "Http://x hTTP://y");
    // An address ends at a double quote: it can never leave the attribute.
    EXPECT_EQ(Apply(LinkUrls, "http://x\"onmouseover=\"alert(1)"),
              "<A HREF=\"http://x\">http://x</A>\"onmouseover=\"alert(1)");
}

TEST(LinkUrls, MailAddresses) {
    EXPECT_EQ(Apply(LinkUrls, "mailto:a@b.c here"),
              "<A HREF=\"mailto:a@b.c\">a@b.c</A> here");
    EXPECT_EQ(Apply(LinkUrls, "MAILTO:X@Y>"), "<A HREF=\"MAILTO:X@Y\">X@Y</A>>");
}

TEST(LinkUrls, AuthorLinksAndImagesKept) {
    EXPECT_EQ(Apply(LinkUrls, "<a href=\"u\">u</a> and http://v"),
              "<a href=\"u\">u</A> and <A HREF=\"http://v\">http://v</A>");
    // The address inside an author's link is not linked again.
    EXPECT_EQ(Apply(LinkUrls, "<A HREF=\"http://u\">http://u</A>"),
              "<A HREF=\"http://u\">http://u</A>");
    EXPECT_EQ(Apply(LinkUrls, "<a href=\"http://u\">no end"), "<a href=\"http://u\">no end");
    EXPECT_EQ(Apply(LinkUrls, "<img src=\"http://p/i.gif\"> http://q"),
              "<img src=\"http://p/i.gif\"> <A HREF=\"http://q\">http://q</A>");
    EXPECT_EQ(Apply(LinkUrls, "<IMG src=http://p"), "<IMG src=http://p");
}

TEST(LinkUrls, DoubleByteCharacters) {
    // A lead byte ends the address; a second byte 'h' does not start one.
    EXPECT_EQ(Apply(LinkUrls, "http://a" + kGt + "b"),
              "<A HREF=\"http://a\">http://a</A>" + kGt + "b");
    EXPECT_EQ(Apply(LinkUrls, kH + "ttp://x"), kH + "ttp://x");
    // An end of tag is never found on a second byte.
    EXPECT_EQ(Apply(LinkUrls, "<IMG a=\x81>http://d>"), "<IMG a=\x81>http://d>");
    EXPECT_EQ(Apply(LinkUrls, "<a href=\"u\">\x81</a>http://v</a>"),
              "<a href=\"u\">\x81</a>http://v</A>");
}

TEST(LinkUrls, NeverExceedsWorkSizeOrCapacity) {
    std::string big;
    while (big.size() < kWorkSize) big += "http://example.org/p ";
    std::string s = big;
    LinkUrls(s);
    EXPECT_LE(s.size(), kWorkSize - 1);
    // Cut after a whole link, never inside one.
    EXPECT_TRUE(s.ends_with("</A> ") || s.ends_with("</A>")) << s.substr(s.size() - 40);

    s = "ab http://x.y/z cd";
    LinkUrls(s, 20);
    EXPECT_EQ(s, "ab ");
    s = "ab" + kYen + "cd";
    LinkUrls(s, 4);
    EXPECT_EQ(s, "ab");
    s = "x";
    LinkUrls(s, 0);
    EXPECT_EQ(s, "");
}

TEST(LineBreaksToHtml, CarriageReturnsAndLineFeeds) {
    EXPECT_EQ(Apply(LineBreaksToHtml, "a\r\n\r\nb"), "a<BR>\n<BR>\nb");
    EXPECT_EQ(Apply(LineBreaksToHtml, "a\nb\r"), "ab<BR>\n");
    EXPECT_EQ(Apply(LineBreaksToHtml, kCr + kLf), kCr + kLf);
    // A lone lead byte at the end is no character.
    EXPECT_EQ(Apply(LineBreaksToHtml, "a\x81"), "a");
}

TEST(LineBreaksToHtml, StopsAtHundredThousandBytes) {
    std::string s(60000, '\r');
    LineBreaksToHtml(s);
    EXPECT_EQ(s.size(), 100000u);  // 20,000 breaks of five bytes
    s = std::string(99999, 'x') + "\r\r";
    LineBreaksToHtml(s);
    EXPECT_EQ(s, std::string(99999, 'x') + "<BR>\n");
    s = "a\rb";
    LineBreaksToHtml(s, 5);
    EXPECT_EQ(s, "a");
}

TEST(DropLineFeeds, RemovesOnlyLineFeedBytes) {
    EXPECT_EQ(Apply(DropLineFeeds, "a\r\nb\n\nc"), "a\rbc");
    EXPECT_EQ(Apply(DropLineFeeds, "x" + kLf + "\n"), "x" + kLf);
    EXPECT_EQ(Apply(DropLineFeeds, "abc" + kYen, 5), "abc");
}

TEST(QuoteLines, MarksEveryLine) {
    EXPECT_EQ(Apply(QuoteLines, "a\r\n\r\nb"), ">a\r>\r>b");
    EXPECT_EQ(Apply(QuoteLines, ""), "");
    EXPECT_EQ(Apply(QuoteLines, "a\nb"), ">a>b");
    // A second byte CR does not end a line; a two-byte character gets its ">" whole.
    EXPECT_EQ(Apply(QuoteLines, kCr + "x\r" + kGt), ">" + kCr + "x\r>" + kGt);
}

TEST(QuoteLines, NeverExceedsWorkSizeOrCapacity) {
    std::string s;
    for (int i = 0; i < 60000; ++i) s += "\r";
    QuoteLines(s);
    EXPECT_EQ(s.size(), kWorkSize - 1 - (kWorkSize - 1) % 2);  // whole ">\r" pairs
    s = "";
    for (int i = 0; i < 40000; ++i) s += kYen + "\r";
    QuoteLines(s);
    EXPECT_LE(s.size(), kWorkSize - 1);
    EXPECT_TRUE(EndsOnCharBoundary(s));
    s = "ab\rcd";
    QuoteLines(s, 6);
    EXPECT_EQ(s, ">ab\r");
}

TEST(ColorQuotes, QuotedRunsShareOneColour) {
    const std::string open = "<FONT COLOR=\"#0000FF\">";
    EXPECT_EQ(Apply([](std::string& t, size_t c) { ColorQuotes(t, "0000FF", c); },
                    ">x\r>y\rz"),
              open + ">x\r>y\r</FONT>z");
    std::string s = "a\r>b\r\r>c";
    ColorQuotes(s, "0000FF");
    EXPECT_EQ(s, "a\r" + open + ">b\r\r>c</FONT>");
    s = "a>b\r>";
    ColorQuotes(s, "0000FF");
    EXPECT_EQ(s, "a>b\r" + open + "></FONT>");
    s = ">q\r";
    ColorQuotes(s, "0000FF");
    EXPECT_EQ(s, open + ">q\r</FONT>");
    s = "\r\r";
    ColorQuotes(s, "0000FF");
    EXPECT_EQ(s, "\r\r");
}

TEST(ColorQuotes, DoubleByteAndOddColour) {
    // A second byte '>' at a line start is no quote; a two-byte character after a quoted line
    // closes the colour.
    std::string s = kGt + "\r>a\r" + kGt;
    ColorQuotes(s, "ff0000");
    EXPECT_EQ(s, kGt + "\r<FONT COLOR=\"#ff0000\">>a\r</FONT>" + kGt);
    s = ">a";
    ColorQuotes(s, "\"><script>12");
    EXPECT_EQ(s, "<FONT COLOR=\"#c12\">>a</FONT>");
}

TEST(ColorQuotes, CutKeepsColourClosed) {
    std::string s;
    for (int i = 0; i < 30000; ++i) s += ">abc\r";
    ColorQuotes(s, "00FF00");
    EXPECT_LE(s.size(), kWorkSize - 1);
    EXPECT_TRUE(s.ends_with("</FONT>"));
    s = ">abcdef";
    ColorQuotes(s, "00FF00", 32);
    EXPECT_EQ(s, "<FONT COLOR=\"#00FF00\">>a</FONT>");
}

TEST(GroupThousands, GroupsDigits) {
    EXPECT_EQ(Apply(GroupThousands, "0"), "0");
    EXPECT_EQ(Apply(GroupThousands, "999"), "999");
    EXPECT_EQ(Apply(GroupThousands, "1000"), "1,000");
    EXPECT_EQ(Apply(GroupThousands, "1001"), "1,001");
    EXPECT_EQ(Apply(GroupThousands, "1234"), "1,234");
    EXPECT_EQ(Apply(GroupThousands, "1000000"), "1,000,000");
    EXPECT_EQ(Apply(GroupThousands, "1000000000"), "1,000,000,000");
    EXPECT_EQ(Apply(GroupThousands, "2147483647"), "2,147,483,647");
    EXPECT_EQ(Apply(GroupThousands, "98765432109876"), "98,765,432,109,876");
}

TEST(GroupThousands, SignsAndNonNumbers) {
    EXPECT_EQ(Apply(GroupThousands, "-1"), "-1");  // size of a missing attachment
    EXPECT_EQ(Apply(GroupThousands, "-1234567"), "-1,234,567");
    EXPECT_EQ(Apply(GroupThousands, " 0012345 bytes"), "12,345");
    EXPECT_EQ(Apply(GroupThousands, "-0"), "0");
    EXPECT_EQ(Apply(GroupThousands, ""), "0");
    EXPECT_EQ(Apply(GroupThousands, "abc"), "0");
}

TEST(TrimAndUpperCase, StepOverDoubleByteCharacters) {
    EXPECT_EQ(Apply(TrimTrailingSpaces, "100   "), "100");
    EXPECT_EQ(Apply(TrimTrailingSpaces, "   "), "");
    EXPECT_EQ(Apply(TrimTrailingSpaces, " a b "), " a b");
    EXPECT_EQ(Apply(TrimTrailingSpaces, "\x81 "), "\x81 ");
    EXPECT_EQ(Apply(UpperCaseAscii, "abz-AZ{`"), "ABZ-AZ{`");
    EXPECT_EQ(Apply(UpperCaseAscii, "\x82" "a" "b"), "\x82" "aB");
    EXPECT_EQ(Apply(UpperCaseAscii, "abc", 3), "AB");
}
