// Body cleaning: active content in its usual disguises comes out inert, formatting and links
// stay, double-byte text passes unchanged.
#include "board/sanitize.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Nothing of the output can run: no tag the browser would read as script or active content,
// no event handler and no script address inside any tag.
void ExpectInert(const std::string& input) {
    const std::string out = Lower(CleanBodyHtml(input));
    for (const char* bad : {"<script", "<style", "<iframe", "<frame", "<object", "<embed", "<applet",
                            "<meta", "<link", "<base", "<form", "<svg", "<math", "<input",
                            "<textarea", "<body", "<!--"})
        EXPECT_EQ(out.find(bad), std::string::npos) << bad << " in " << out;
    // Inside tags: no on* attribute and no script scheme.
    for (size_t lt = out.find('<'); lt != std::string::npos; lt = out.find('<', lt + 1)) {
        std::string tag = out.substr(lt, out.find('>', lt) - lt);
        EXPECT_EQ(tag.find(" on"), std::string::npos) << tag;
        EXPECT_EQ(tag.find("javascript"), std::string::npos) << tag;
        EXPECT_EQ(tag.find("vbscript"), std::string::npos) << tag;
        EXPECT_EQ(tag.find("data:"), std::string::npos) << tag;
        EXPECT_EQ(tag.find("&#"), std::string::npos) << tag;
    }
}

TEST(CleanBodyHtml, ScriptInItsUsualFormsIsInert) {
    const char* attacks[] = {
        "<script>alert(1)</script>",
        "<SCRIPT >alert(1)</SCRIPT >",
        "<ScRiPt src=//evil/x.js></sCrIpT>",
        "<img src=x onerror=alert(1)>",
        "<IMG SRC=\"x\" ONERROR=\"alert(1)\">",
        "<img/src=x/onerror=alert(1)>",
        "<a href=\"javascript:alert(1)\">x</a>",
        "<a href=\"jav&#x61;script:alert(1)\">x</a>",
        "<a href=\"&#106;&#97;vascript:alert(1)\">x</a>",
        "<a href=\"&#x6A&#x61vascript:alert(1)\">x</a>",
        "<a href=\" javascript:alert(1)\">x</a>",
        "<a href=\"java\tscript:alert(1)\">x</a>",
        "<a href=\"java&Tab;script&colon;alert(1)\">x</a>",
        "<a href=\"\x01javascript:alert(1)\">x</a>",
        "<a href=JaVaScRiPt:alert(1)>x</a>",
        "<a href='vbscript:msgbox(1)'>x</a>",
        "<a href=\"data:text/html,<script>alert(1)</script>\">x</a>",
        "<img src=\"data:image/svg+xml;base64,PHN2Zz4=\">",
        "<svg onload=alert(1)>",
        "<svg><script>alert(1)</script></svg>",
        "<iframe src=\"http://evil/\"></iframe>",
        "<style>body{background:url(javascript:alert(1))}</style>",
        "<meta http-equiv=refresh content=\"0;url=http://evil/\">",
        "<form action=http://evil/><input type=submit></form>",
        "<object data=x.swf></object><embed src=x.swf><applet code=x>",
        "<link rel=stylesheet href=x.css><base href=http://evil/>",
        "<body onload=alert(1)>",
        "<b onmouseover=alert(1)>x</b>",
        "<font color=red style=\"x:expression(alert(1))\">x</font>",
        "<img src=x onerror=alert(1)",  // unclosed
        "<a href=\"http://ok/\" onclick=\"alert(1)",  // unclosed quote
        "<scr<script>ipt>alert(1)</script>",
        "<!--<script>alert(1)</script>-->",
        "<!--[if IE]><script>alert(1)</script><![endif]-->",
        "<<script>script>alert(1)<</script>/script>",
        "<div =onclick=alert(1)>x</div>",
        "<a href=\"http://ok/\"onmouseover=alert(1)>x</a>",
        "\x82<img src=x onerror=alert(1)>",  // stray lead byte before '<'
        "<img src=\"x\x81\" onerror=alert(1)>",  // stray lead byte before the closing quote
        "<a href=java&#09;script:alert(1)>x</a>",
        "<a href=\"java&#x0A;script&#x3a;alert(1)\">x</a>",
        "<A HREF=\"JAVASCRIPT:alert(1)\">x</A>",
        "<img srcset=\"javascript:alert(1)\" src=x>",
        "<button formaction=javascript:alert(1)>x</button>",
        "<td background=\"javascript:alert(1)\">x</td>",
        "<math><mi xlink:href=\"javascript:alert(1)\">x</mi></math>",
        "<svg><a xlink:href=\"javascript:alert(1)\"><text>x</text></a></svg>",
        "<![CDATA[<script>alert(1)</script>]]>",
        "<!--><script>alert(1)</script>-->",
        "<b title='\"><script>alert(1)</script>'>y</b>",
        "<IMG\"\"\"><SCRIPT>alert(1)</SCRIPT>\">",
    };
    for (const char* a : attacks) {
        SCOPED_TRACE(a);
        ExpectInert(a);
    }
}

TEST(CleanBodyHtml, NulBytesHideNothing) {
    using namespace std::string_literals;
    for (const std::string& a : {"<scr\0ipt>alert(1)</scr\0ipt>"s, "<a href=\"java\0script:alert(1)\">x</a>"s,
                                 "<img src=x \0onerror=alert(1)>"s, "<\0script>alert(1)"s}) {
        SCOPED_TRACE(a);
        ExpectInert(a);
    }
    EXPECT_EQ(CleanBodyHtml("<a href=\"java\0script:alert(1)\">x</a>"s), "<a>x</a>");
}

// An unfinished tag, comment or declaration swallows the rest of the text (as a browser reads
// it); the rest is shown as text, and hostile bodies take linear time.
TEST(CleanBodyHtml, UnfinishedMarkupEndsTheMarkupInLinearTime) {
    EXPECT_EQ(CleanBodyHtml("x<a title=\"t <b>bold</b>"), "x&lt;a title=&quot;t &lt;b&gt;bold&lt;/b&gt;");
    EXPECT_EQ(CleanBodyHtml("<!-- a <b>b</b>"), "&lt;!-- a &lt;b&gt;b&lt;/b&gt;");
    EXPECT_EQ(CleanBodyHtml("a<!x <b"), "a&lt;!x &lt;b");
    auto repeat = [](const std::string& piece, size_t size) {
        std::string s;
        while (s.size() + piece.size() <= size) s += piece;
        return s;
    };
    const std::string bodies[] = {repeat("<a ", 99999), repeat("<a b=\"", 99999), repeat("<!--", 99999),
                                  repeat("<!x", 99999), repeat("<i>", 1500) + repeat("</b>", 98000)};
    for (const std::string& body : bodies) {
        const auto start = std::chrono::steady_clock::now();
        CleanBodyHtml(body);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took.count(), 3.0) << body.substr(0, 12);
    }
}

// Table rows and cells stay inside a table the body itself opened, so they cannot close or
// add cells of a table around the body.
TEST(CleanBodyHtml, TablePartsOnlyInsideTheBodysTable) {
    EXPECT_EQ(CleanBodyHtml("a</td><td>b</td><tr><th>c</th></tr><caption>d<tbody>e"), "abcde");
    EXPECT_EQ(CleanBodyHtml("<table><tr><td>x</table><td>y"),
              "<table><tr><td>x</td></tr></table>y");
    EXPECT_EQ(CleanBodyHtml("<table><tr><td><b>x<td>y"),
              "<table><tr><td><b>x<td>y</td></b></td></tr></table>");
}

TEST(CleanBodyHtml, FormattingLinksAndImagesStay) {
    EXPECT_EQ(CleanBodyHtml("<b>bold</b> <font color=red>red</font>"),
              "<b>bold</b> <font color=\"red\">red</font>");
    EXPECT_EQ(CleanBodyHtml("<a href=\"http://example.com/a?b=1&amp;c=2\" target=_top>x</a>"),
              "<a href=\"http://example.com/a?b=1&amp;c=2\">x</a>");
    EXPECT_EQ(CleanBodyHtml("<img src=\"http://example.com/p.gif\" alt='a \"q\"' width=10 onload=x>"),
              "<img src=\"http://example.com/p.gif\" alt=\"a &quot;q&quot;\" width=\"10\">");
    EXPECT_EQ(CleanBodyHtml("<a href=\"mailto:a@b.c\">m</a><a href=\"../rel.html#top\">r</a>"),
              "<a href=\"mailto:a@b.c\">m</a><a href=\"../rel.html#top\">r</a>");
    EXPECT_EQ(CleanBodyHtml("<TABLE BORDER=1><TR><TD BGCOLOR=\"#FFFFFF\" NOWRAP>c</TD></TR></TABLE>"),
              "<TABLE BORDER=\"1\"><TR><TD BGCOLOR=\"#FFFFFF\" NOWRAP>c</TD></TR></TABLE>");
    // The markup the pages themselves insert passes byte for byte.
    const std::string own = "<FONT COLOR=\"#0000FF\">>q<BR>\n</FONT><A HREF=\"http://x.org\">"
                            "http://x.org</A><PRE>p</PRE>";
    EXPECT_EQ(CleanBodyHtml(own), own);
}

TEST(CleanBodyHtml, DisallowedTagsBecomeTextAndScriptsVanish) {
    EXPECT_EQ(CleanBodyHtml("a<script>x</script>b"), "ab");
    EXPECT_EQ(CleanBodyHtml("a<style>p{}</style>b<script>never closed"), "ab");
    EXPECT_EQ(CleanBodyHtml("<iframe src=x></iframe>"), "&lt;iframe src=x&gt;&lt;/iframe&gt;");
    EXPECT_EQ(CleanBodyHtml("1 < 2 > 0, a<b"), "1 &lt; 2 > 0, a&lt;b");
    EXPECT_EQ(CleanBodyHtml("x<!-- note -->y<!DOCTYPE html>z"), "xyz");
    EXPECT_EQ(CleanBodyHtml("<!-- open"), "&lt;!-- open");
    EXPECT_EQ(CleanBodyHtml("<a href=\"javascript:alert(1)\">x</a>"), "<a>x</a>");
}

TEST(CleanBodyHtml, ElementsAreClosedWithinTheBody) {
    EXPECT_EQ(CleanBodyHtml("<b><i>x</b>y"), "<b><i>x</i></b>y");
    EXPECT_EQ(CleanBodyHtml("</td></tr></table>x<a href=\"http://a/\">open"),
              "x<a href=\"http://a/\">open</a>");
    EXPECT_EQ(CleanBodyHtml("<br/><hr size=2 /></br>"), "<br><hr size=\"2\">");
}

TEST(CleanBodyHtml, DoubleByteTextSurvives) {
    // Second bytes that are '@', '[', '\\', ']', '|' and a katakana run.
    const std::string text = "\x83\x40\x83\x5B\x95\x5C\x83\x5D\x83\x7C\xB1\xB2 \xE0\x40";
    EXPECT_EQ(CleanBodyHtml(text), text);
    EXPECT_EQ(CleanBodyHtml("<b>" + text + "</b>"), "<b>" + text + "</b>");
    EXPECT_EQ(CleanBodyHtml("<img alt=\"" + text + "\">"), "<img alt=\"" + text + "\">");
    // A lead byte before '<' does not hide the tag; in text the stray byte stays.
    EXPECT_EQ(CleanBodyHtml("\x82<script>x</script>"), "\x82");
    EXPECT_EQ(CleanBodyHtml("\x82<b>x</b>"), "\x82<b>x</b>");
    // In an attribute value a stray lead byte goes, so it cannot take the closing quote.
    EXPECT_EQ(CleanBodyHtml("<img alt=\"a\x81\">"), "<img alt=\"a\">");
    // A lone lead byte at the very end is kept as it is.
    EXPECT_EQ(CleanBodyHtml("end\x82"), "end\x82");
}

}  // namespace
