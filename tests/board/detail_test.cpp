// The message detail page: read marks, neighbours and the list page, reader list, deleted
// messages, dates, attachments, escaping, body modes and the posting buttons.
#include "board/detail.h"

#include <filesystem>
#include <fstream>

#include "store/attachments.h"
#include "store/readmarks.h"
#include "view_fixture.h"

namespace {

using viewtest::Fields;
using viewtest::MakeUser;

class DetailTest : public viewtest::ViewTest {
protected:
    std::string Detail(const UserRecord& who, int selNo, int mode = 1, int folder = 1) {
        return Page(ShowMessageDetail, who,
                    {{"FOLDER_NO", std::to_string(folder)}, {"SEL_NO", std::to_string(selNo)},
                     {"USER_DISP_DEF", std::to_string(mode)}});
    }
    int MarksOf(int folder, int number, const std::string& id) {
        int n = 0;
        for (const ReadMark& m : ReadReadMarks(data, folder, number)) n += m.userId == id;
        return n;
    }
    // The value of a hidden field in the form of the given job that holds the button label.
    static std::string Hidden(const std::string& page, const std::string& label,
                              const std::string& field) {
        size_t button = page.find("VALUE=\"" + label + "\"");
        size_t form = page.rfind("<FORM", button);
        size_t at = page.find("NAME=\"" + field + "\" VALUE=\"", form);
        if (button == std::string::npos || at == std::string::npos || at > button) return "?";
        at = page.find("VALUE=\"", at) + 7;
        return page.substr(at, page.find('"', at) - at);
    }
    static bool Submits(const std::string& page, const std::string& label) {
        return page.find("<INPUT TYPE=\"submit\" VALUE=\"" + label + "\"") != std::string::npos;
    }
};

TEST_F(DetailTest, ReadMarkIsWrittenOnceAndNotForUnknownMessages) {
    AddBoard(1, "Board");
    Post(1, 0, "first");
    Detail(reader, 1);
    Detail(reader, 1);
    EXPECT_EQ(MarksOf(1, 1, "reader"), 1);
    EXPECT_EQ(ReadReadMarks(data, 1, 1).size(), 2u);  // the writer's and the reader's

    std::string unknown = Detail(reader, 9);
    EXPECT_NE(unknown.find("You are not permitted to use this function.\n<FORM>\n"
                           "<INPUT TYPE=\"button\" VALUE=\"Back\" onClick=\"history.back()\">"),
              std::string::npos);
    EXPECT_EQ(unknown.find("SEL:"), std::string::npos);
    EXPECT_EQ(MarksOf(1, 9, "reader"), 0);

    FolderSettings closed;
    closed.readLevel = 10;
    AddBoard(2, "Closed", closed);
    Post(2, 0, "secret");
    EXPECT_NE(Detail(reader, 1, 1, 2).find("onClick=\"history.back()\""), std::string::npos);
    EXPECT_EQ(MarksOf(2, 1, "reader"), 0);
}

TEST_F(DetailTest, NeighboursAndListPageFollowTheDisplayMode) {
    AddBoard(1, "Board");
    Post(1, 0, "one");    // 1
    Post(1, 0, "two");    // 2
    Post(1, 1, "re one"); // 3, file order 1 3 2

    std::string threaded = Detail(sysop, 3, 1);
    EXPECT_EQ(Hidden(threaded, "Previous", "SEL_NO"), "1");
    EXPECT_EQ(Hidden(threaded, "Next", "SEL_NO"), "2");
    EXPECT_EQ(Hidden(threaded, "Back", "DISP_PAGE"), "1");

    // By number the walk ends at the number of the last record (2): 3 is not reached.
    MessageNeighbours nb = FindNeighbours(ReadMessageIndex(data, 1), 2, 3);
    EXPECT_EQ(nb.previous, 2);
    EXPECT_EQ(nb.next, 0);
    EXPECT_EQ(nb.page, 0);
    std::string byNumber = Detail(sysop, 2, 3);
    EXPECT_EQ(Hidden(byNumber, "Previous", "SEL_NO"), "1");
    EXPECT_FALSE(Submits(byNumber, "Next"));
    EXPECT_NE(byNumber.find("VALUE=\"Next\" onClick=\"alert('There is no next message.')\""),
              std::string::npos);

    std::string first = Detail(sysop, 1, 1);
    EXPECT_FALSE(Submits(first, "Previous"));
    EXPECT_NE(first.find("onClick=\"alert('There is no previous message.')\""), std::string::npos);
    EXPECT_EQ(Hidden(first, "Next", "SEL_NO"), "3");

    for (int k = 4; k <= 25; ++k) Post(1, 0, "more");
    ASSERT_EQ(DeleteMessageEntry(data, 1, 5), 0);
    EXPECT_EQ(Hidden(Detail(sysop, 22, 2), "Back", "DISP_PAGE"), "2");  // 21st existing number
    EXPECT_EQ(Hidden(Detail(sysop, 21, 3), "Back", "DISP_PAGE"), "1");
    EXPECT_EQ(Hidden(Detail(sysop, 21, 3), "Back", "USER_DISP_DEF"), "3");
    EXPECT_EQ(Hidden(Detail(sysop, 6, 2), "Previous", "SEL_NO"), "4");
}

TEST_F(DetailTest, ReaderListWithReadCheckTwo) {
    AddBoard(1, "Board");
    Post(1, 0, "checked");
    MessageIndexEntry e = Entry(1, 1);
    e.READ_CHK = 2;
    ASSERT_EQ(RewriteMessage(data, e), 0);
    ASSERT_EQ(SaveReadMark(data, 1, {1, "vanished", 0}), 0);

    std::string text = Detail(reader, 1);
    EXPECT_NE(text.find("\t<TD NOWRAP BGCOLOR=\"#E0FFFF\" ALIGN=\"CENTER\" ROWSPAN=3 >Read by\n"
                        "<FORM>\n<SELECT>\n<OPTION>3 reader(s)\n"
                        "<OPTION VALUE=\"0\">sysop-name\n<OPTION VALUE=\"0\">vanished\n"
                        "<OPTION VALUE=\"0\">reader-name\n</SELECT>\n</FORM>\n\t</TD>\n"),
              std::string::npos);

    Post(1, 0, "unchecked");
    EXPECT_EQ(Detail(reader, 2).find("Read by"), std::string::npos);
}

TEST_F(DetailTest, DeletedMessageShowsTheNoticeAndItsThread) {
    FolderSettings fs;
    fs.FONTCOLOR = "008000";
    AddBoard(1, "Board", fs);
    Post(1, 0, "parent", "reader");
    Post(1, 1, "child");
    MessageIndexEntry e = Entry(1, 1);
    e.deleted = 1;
    ASSERT_EQ(RewriteMessage(data, e), 0);

    std::string text = Detail(sysop, 1);
    EXPECT_NE(text.find("This message has been deleted.<BR>\nIt is kept because it has replies.<BR>\n"
                        "Its text is no longer shown.<BR>\n"
                        "The replies are listed in the thread below.<P>\n</FONT>\n<TABLE BORDER>\n"),
              std::string::npos);
    EXPECT_EQ(text.find("SEL:"), std::string::npos);
    EXPECT_NE(text.find("<TD BGCOLOR=\"#FFB6C1\" NOWRAP>NowDisp</TD>\n<TD BGCOLOR=\"#FFFFFF\" NOWRAP>"
                        "<A HREF=\"board.cgi?SKEY=4321&JOB=DETAILS&FOLDER_NO=1&SEL_NO=1&USER_DISP_DEF=1\">"
                        "--Delete--</A></TD>\n<TD BGCOLOR=\"#FFFFFF\"><BR></TD>\n"),
              std::string::npos);
    EXPECT_NE(text.find("<TD BGCOLOR=\"#FFFFFF\"><BR></TD>\n<TD BGCOLOR=\"#FFFFFF\" NOWRAP>&nbsp;&nbsp;"
                        "<A HREF=\"board.cgi?SKEY=4321&JOB=DETAILS&FOLDER_NO=1&SEL_NO=2&USER_DISP_DEF=1\">"
                        "Re:^1:child</A></TD>\n<TD BGCOLOR=\"#FFFFFF\" NOWRAP>sysop-name</TD>\n"),
              std::string::npos);
    EXPECT_TRUE(Submits(text, "Reply"));

    // A thread of one message has no thread table.
    Post(1, 0, "alone");
    EXPECT_EQ(Detail(sysop, 3).find("<TABLE BORDER>"), std::string::npos);
}

TEST_F(DetailTest, DateTimeTwoCutsEveryDate) {
    AddBoard(1, "Board");
    Post(1, 0, "a");
    Post(1, 1, "b");
    datetime = 2;
    std::string text = Detail(sysop, 2);
    EXPECT_EQ(Count(text, "2024/05/06</TD>"), 3);  // header and both thread rows
    EXPECT_EQ(text.find("07:08"), std::string::npos);
    datetime = 1;
    EXPECT_EQ(Count(Detail(sysop, 2), "2024/05/06 07:08</TD>"), 3);
}

TEST_F(DetailTest, AttachmentsWithSizesAndMissingFiles) {
    FolderSettings fs;
    fs.ADD_MAX = 3;
    AddBoard(1, "Board", fs);
    Post(1, 0, "files");
    MessageIndexEntry e = Entry(1, 1);
    e.attachCount = 2;
    ASSERT_EQ(RewriteMessage(data, e), 0);
    ASSERT_EQ(SaveAttachment(data, 1, {1, 3, "gone.zip"}), 0);
    ASSERT_EQ(SaveAttachment(data, 1, {1, 1, "a b&\"c.txt"}), 0);
    ASSERT_EQ(SaveAttachment(data, 1, {1, 4, "beyond.txt"}), 0);  // above ADD_MAX
    std::filesystem::create_directories(add + "1/X1/1");
    std::ofstream(add + "1/X1/1/a b&\"c.txt") << std::string(1234567, 'x');

    std::string text = Detail(sysop, 1);
    // Attachments are fetched through the program, never from a web directory.
    const std::string one =
        "Attachment 1:<A HREF=\"board.cgi?SKEY=4321&JOB=ATTACHMENT&FOLDER_NO=1&SEL_NO=1&ADD_NO=1\">"
        "a b&amp;&quot;c.txt (1,234,567 byte)</A><P>\n";
    const std::string three =
        "Attachment 3:<A HREF=\"board.cgi?SKEY=4321&JOB=ATTACHMENT&FOLDER_NO=1&SEL_NO=1&ADD_NO=3\">"
        "gone.zip (-1 byte)</A><P>\n";
    ASSERT_NE(text.find(one), std::string::npos);
    EXPECT_EQ(text.find(one) + one.size(), text.find(three));
    EXPECT_EQ(text.find("beyond.txt"), std::string::npos);

    e.attachCount = 0;
    ASSERT_EQ(RewriteMessage(data, e), 0);
    EXPECT_EQ(Detail(sysop, 1).find("Attachment"), std::string::npos);
}

TEST_F(DetailTest, HeaderEscapesTitleNameAndMail) {
    AddBoard(1, "Board");
    UserRecord odd = MakeUser("odd", 1);
    odd.USER_NAME = "<b>Bob</b>";
    odd.E_MAIL_ADDR = "b\"o b@x.com";
    odd.PICFILE = "me.gif";
    AddUser(odd);
    Post(1, 0, "<img src=x onerror=alert(1)> see http://example.com/?a=1&b=2", "odd");

    std::string text = Detail(sysop, 1);
    EXPECT_NE(text.find("&lt;img src=x onerror=alert(1)&gt; see <A HREF=\"http://example.com/?a=1&amp;b=2\">"
                        "http://example.com/?a=1&amp;b=2</A></TD>"),
              std::string::npos);
    EXPECT_NE(text.find("<A HREF=\"mailto:b%22o%20b@x.com?subject=Re:%3Cimg%20src=x%20onerror=alert(1)%3E"
                        "%20see%20http://example.com/%3Fa=1%26b=2\">&lt;b&gt;Bob&lt;/b&gt;  [odd]</A>"),
              std::string::npos);
    EXPECT_NE(text.find("\t<TD NOWRAP ALIGN=\"CENTER\" ROWSPAN=3 ><IMG SRC=\"/cg/userpic/odd/me.gif\">"),
              std::string::npos);
    EXPECT_EQ(text.find("<img"), std::string::npos);

    Post(1, 1, "re", "nobody");
    std::string orphan = Detail(sysop, 2);
    EXPECT_NE(orphan.find(">nobody  [nobody]</TD>"), std::string::npos);
    EXPECT_NE(orphan.find(">Re:^1:re</TD>"), std::string::npos);
}

TEST_F(DetailTest, BodyModesAreCleaned) {
    FolderSettings fs;
    fs.FONTCOLOR = "008000";
    AddBoard(1, "Board", fs);
    Post(1, 0, "auto", "sysop", ">quoted\rsee http://x.org <script>alert(1)</script><b>bold</b>", 0);
    Post(1, 0, "pre", "sysop", ">q\r<a href=\"javascript:alert(1)\">x</a>", 1);
    Post(1, 0, "html", "sysop", "<font color=red onmouseover=\"alert(1)\">red</font><iframe src=x>", 2);

    std::string automatic = Detail(sysop, 1);
    EXPECT_NE(automatic.find("<HR>\n<FONT COLOR=\"#008000\"><FONT COLOR=\"#0000FF\">>quoted<BR>\n"
                             "</FONT>see <A HREF=\"http://x.org\">http://x.org</A> <b>bold</b>\n<HR>\n<P>\n"
                             "</FONT>\n"),
              std::string::npos)
        << automatic;
    std::string pre = Detail(sysop, 2);
    EXPECT_NE(pre.find("<PRE><FONT COLOR=\"#0000FF\">>q\r</FONT><a>x</a></PRE>"), std::string::npos);
    std::string html = Detail(sysop, 3);
    EXPECT_NE(html.find("<font color=\"red\">red</font>&lt;iframe src=x&gt;"), std::string::npos);
    EXPECT_EQ(html.find("onmouseover"), std::string::npos);
}

TEST_F(DetailTest, PostingButtonsFollowRightsAndOwnership) {
    FolderSettings fs;
    fs.REWRITE_FLG = 2;
    fs.writeLevel = 1;
    AddBoard(1, "Board", fs);
    UserRecord writer = MakeUser("writer", 1);
    writer.WRITE_MODE = 2;
    AddUser(writer);
    UserRecord other = MakeUser("other", 1);
    AddUser(other);
    Post(1, 0, "own", "writer");

    std::string own = Detail(writer, 1);
    EXPECT_TRUE(Submits(own, "New message"));
    EXPECT_EQ(Hidden(own, "Reply", "SEL_NO"), "1");
    EXPECT_EQ(Hidden(own, "Edit", "JOB"), "EDITMSG");
    EXPECT_NE(own.find("VALUE=\"Delete\" onClick=\"return confirm('Do you want to delete this message?')\""),
              std::string::npos);
    EXPECT_EQ(Count(own, "METHOD=POST TARGET=\"WBORDWRITE\">"), 3);

    std::string foreign = Detail(other, 1);
    EXPECT_TRUE(Submits(foreign, "Reply"));
    EXPECT_FALSE(Submits(foreign, "Edit"));
    EXPECT_EQ(foreign.find("VALUE=\"Delete\""), std::string::npos);
    EXPECT_EQ(foreign.find("TARGET="), std::string::npos);
    EXPECT_NE(Detail(sysop, 1).find("VALUE=\"Delete\""), std::string::npos);

    UserRecord shared = writer;
    shared.MODE = 2;
    std::string sharedPage = Detail(shared, 1);
    EXPECT_FALSE(Submits(sharedPage, "Edit"));
    EXPECT_EQ(sharedPage.find("VALUE=\"Delete\""), std::string::npos);

    fs.folderNo = 1;
    fs.REWRITE_FLG = 1;
    ASSERT_EQ(SaveFolderSettings(data, fs), 0);
    EXPECT_FALSE(Submits(Detail(writer, 1), "Edit"));

    UserRecord lowly = MakeUser("lowly", 0);
    EXPECT_EQ(Detail(lowly, 1).find("New message"), std::string::npos);
}

}  // namespace
