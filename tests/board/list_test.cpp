// The folder message list: paging, the three display modes, the page chooser, unread marks,
// the posting window's closing line, refusal and escaping.
#include "board/list.h"

#include "app/jobs.h"
#include "board/common.h"
#include "board/detail.h"
#include "board/post.h"
#include "store/recordfile.h"
#include "store/readmarks.h"
#include "view_fixture.h"

namespace {

using viewtest::Fields;
using viewtest::MakeUser;

class ListTest : public viewtest::ViewTest {
protected:
    std::string List(const UserRecord& who, Fields fields) {
        fields.insert(fields.begin(), {"FOLDER_NO", "1"});
        return Page(ShowFolderList, who, fields);
    }
    std::vector<int> Range(int from, int to, int step = 1) {
        std::vector<int> v;
        for (int k = from; step > 0 ? k <= to : k >= to; k += step) v.push_back(k);
        return v;
    }
};

TEST_F(ListTest, ModeOnePagesOfTwentyAndTheLastPageByDefault) {
    AddBoard(1, "Board");
    for (int k = 1; k <= 45; ++k) Post(1, 0, "T" + std::to_string(k));

    EXPECT_EQ(DetailLinks(List(sysop, {{"DISP_PAGE", "1"}, {"USER_DISP_DEF", "1"}})), Range(1, 20));
    std::string page3 = List(sysop, {{"DISP_PAGE", "3"}, {"USER_DISP_DEF", "1"}});
    EXPECT_EQ(DetailLinks(page3), Range(41, 45));
    EXPECT_NE(page3.find(" Page[3/3]<BR>"), std::string::npos);
    // DISP_PAGE absent or 0: the last page.
    EXPECT_EQ(DetailLinks(List(sysop, {{"USER_DISP_DEF", "1"}})), Range(41, 45));
    EXPECT_EQ(DetailLinks(List(sysop, {{"DISP_PAGE", "0"}, {"USER_DISP_DEF", "1"}})), Range(41, 45));
    // Beyond the last page: an empty list.
    EXPECT_TRUE(DetailLinks(List(sysop, {{"DISP_PAGE", "4"}, {"USER_DISP_DEF", "1"}})).empty());
}

TEST_F(ListTest, BackAndForwardStopAtTheEnds) {
    AddBoard(1, "Board");
    for (int k = 1; k <= 45; ++k) Post(1, 0, "T");
    auto shown = [&](const char* page, const char* button) {
        std::string text = List(sysop, {{"DISP_PAGE", page}, {button, "x"}});
        size_t at = text.find(" Page[");
        return text.substr(at, 12);
    };
    EXPECT_EQ(shown("1", "MOVE_REW"), " Page[1/3]<B");
    EXPECT_EQ(shown("2", "MOVE_REW"), " Page[1/3]<B");
    EXPECT_EQ(shown("2", "MOVE_FF"), " Page[3/3]<B");
    EXPECT_EQ(shown("3", "MOVE_FF"), " Page[3/3]<B");

    // On the first page the back button only alerts; the forward button submits.
    std::string first = List(sysop, {{"DISP_PAGE", "1"}});
    EXPECT_EQ(Count(first, "NAME=\"MOVE_REW\" VALUE=\"Previous page\" onClick=\"alert('This is the first page.')\""), 2);
    EXPECT_EQ(Count(first, "<INPUT TYPE=\"submit\" NAME=\"MOVE_FF\""), 2);
}

TEST_F(ListTest, EmptyFolderHasOnePageAndAlertButtons) {
    AddBoard(1, "Board");
    std::string text = List(sysop, {});
    EXPECT_NE(text.find(" Page[1/1]<BR>"), std::string::npos);
    EXPECT_EQ(Count(text, "TYPE=\"button\" NAME=\"MOVE_REW\""), 2);
    EXPECT_EQ(Count(text, "TYPE=\"button\" NAME=\"MOVE_FF\""), 2);
    EXPECT_TRUE(DetailLinks(text).empty());
    EXPECT_NE(text.find("<TD BGCOLOR=\"#E0FFFF\" NOWRAP>SEL</TD>"), std::string::npos);
}

TEST_F(ListTest, PageChooserListsTheCurrentPageFirstThenAllDescending) {
    AddBoard(1, "Board");
    for (int k = 1; k <= 45; ++k) Post(1, 0, "T");
    std::string text = List(sysop, {{"DISP_PAGE", "2"}, {"USER_DISP_DEF", "3"}});
    size_t from = text.find("<SELECT NAME=\"PPage\" onChange=\"f_Pjamp()\">");
    ASSERT_NE(from, std::string::npos);
    std::string chooser = text.substr(from, text.find("</SELECT>", from) - from);
    std::regex re("<OPTION VALUE=\"board.cgi\\?SKEY=4321&JOB=ROOM&FOLDER_NO=1&DISP_PAGE=(\\d+)&"
                  "USER_DISP_DEF=3\">(\\d+) Page\n");
    std::vector<int> pages;
    for (auto it = std::sregex_iterator(chooser.begin(), chooser.end(), re);
         it != std::sregex_iterator(); ++it) {
        EXPECT_EQ((*it)[1], (*it)[2]);
        pages.push_back(std::stoi((*it)[1]));
    }
    EXPECT_EQ(pages, (std::vector<int>{2, 3, 2, 1}));
    EXPECT_EQ(Count(text, "<FORM NAME=\"Pjamp\""), 1);
    EXPECT_NE(text.find("\tlocation.href = url;\n}\n"), std::string::npos);
}

TEST_F(ListTest, ModesTwoAndThreeSkipMissingNumbers) {
    AddBoard(1, "Board");
    for (int k = 1; k <= 25; ++k) Post(1, 0, "T");
    Post(1, 1, "reply");  // 26, stands after 1 in thread order
    ASSERT_EQ(DeleteMessageEntry(data, 1, 3), 0);
    ASSERT_EQ(DeleteMessageEntry(data, 1, 7), 0);

    std::vector<int> firstTwenty = {1, 2, 4, 5, 6};
    for (int k = 8; k <= 22; ++k) firstTwenty.push_back(k);
    EXPECT_EQ(DetailLinks(List(sysop, {{"DISP_PAGE", "1"}, {"USER_DISP_DEF", "2"}})), firstTwenty);
    EXPECT_EQ(DetailLinks(List(sysop, {{"DISP_PAGE", "2"}, {"USER_DISP_DEF", "2"}})),
              (std::vector<int>{23, 24, 25, 26}));
    std::vector<int> reversed(firstTwenty.rbegin(), firstTwenty.rend());
    EXPECT_EQ(DetailLinks(List(sysop, {{"DISP_PAGE", "1"}, {"USER_DISP_DEF", "3"}})), reversed);
    EXPECT_EQ(DetailLinks(List(sysop, {{"DISP_PAGE", "2"}, {"USER_DISP_DEF", "3"}})),
              (std::vector<int>{26, 25, 24, 23}));

    // Mode 1 follows the thread order and indents the reply; mode 2 marks it without indent.
    std::string threaded = List(sysop, {{"DISP_PAGE", "1"}, {"USER_DISP_DEF", "1"}});
    EXPECT_EQ(DetailLinks(threaded)[1], 26);
    EXPECT_NE(threaded.find("NOWRAP>&nbsp;&nbsp;<A HREF=\"board.cgi?SKEY=4321&JOB=DETAILS&FOLDER_NO=1"
                            "&SEL_NO=26&USER_DISP_DEF=1\">Re:^1:reply</A></TD>"),
              std::string::npos);
    std::string numbered = List(sysop, {{"DISP_PAGE", "2"}, {"USER_DISP_DEF", "2"}});
    EXPECT_NE(numbered.find("NOWRAP><A HREF=\"board.cgi?SKEY=4321&JOB=DETAILS&FOLDER_NO=1&SEL_NO=26"
                            "&USER_DISP_DEF=2\">Re:^1:reply</A>"),
              std::string::npos);
}

TEST_F(ListTest, DisplayModeFallsBackToTheUsersSetting) {
    AddBoard(1, "Board");
    for (int k = 1; k <= 3; ++k) Post(1, 0, "T");
    UserRecord descending = sysop;
    descending.USER_DISP_DEF = 3;
    EXPECT_EQ(DetailLinks(List(descending, {})), (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(DetailLinks(List(descending, {{"USER_DISP_DEF", "2"}})), (std::vector<int>{1, 2, 3}));
}

TEST_F(ListTest, UnreadMarksOnlyForMemberAccounts) {
    AddBoard(1, "Board");
    Post(1, 0, "mine", "reader");  // the writer has read his own message
    Post(1, 0, "other");
    const std::string mark = "<IMG SRC=\"/cg/NEW.GIF\" ALT=\"\x96\xA2\x93\xC7\"><BR></TD>\n";

    std::string member = List(reader, {});
    EXPECT_EQ(Count(member, mark), 1);
    // On the second row: after the first row's number, before the second's.
    EXPECT_GT(member.find(mark), member.find("\">1</TD>"));
    EXPECT_LT(member.find(mark), member.find("\">2</TD>"));
    EXPECT_NE(member.find("NAME=\"JOB\" VALUE=\"BORDALLFLG\""), std::string::npos);

    UserRecord shared = MakeUser("guest", 1, 2);
    AddUser(shared);
    std::string guest = List(shared, {});
    EXPECT_EQ(guest.find("NEW.GIF"), std::string::npos);
    EXPECT_EQ(guest.find("BORDALLFLG"), std::string::npos);
}

TEST_F(ListTest, PostingWindowIsClosedOnlyAfterAPostInWriteModeTwo) {
    AddBoard(1, "Board");
    const std::string line = "window.open(\"board.cgi?JOB=BORDWRITEFIN\",\"WBORDWRITE\")\n";
    UserRecord windowed = sysop;
    windowed.WRITE_MODE = 2;
    EXPECT_NE(List(windowed, {{"JOB", "BORDWRITEWR"}}).find(line), std::string::npos);
    EXPECT_EQ(List(windowed, {{"JOB", "DELMSG"}}).find(line), std::string::npos);
    EXPECT_EQ(List(windowed, {{"JOB", "BORDALLFLG"}}).find(line), std::string::npos);
    EXPECT_EQ(List(sysop, {{"JOB", "BORDWRITEWR"}}).find(line), std::string::npos);
    // The posting forms open in the posting window.
    EXPECT_EQ(Count(List(windowed, {}), "METHOD=POST TARGET=\"WBORDWRITE\">"), 2);
}

TEST_F(ListTest, RightsDecideTheButtonsAndRefusal) {
    FolderSettings closed;
    closed.readLevel = 10;
    AddBoard(1, "Board", closed);
    AddBoard(2, "Open");
    std::string refused = List(reader, {});
    EXPECT_NE(refused.find("<BODY BACKGROUND=\"/cg/back.gif\" BGPROPERTIES=FIXED >\n"
                           "You are not permitted to use this function.\n<FORM>\n"
                           "<INPUT TYPE=\"button\" VALUE=\"Back\" onClick=\"history.back()\">\n"
                           "</FORM>\n</BODY>\n</HTML>\n"),
              std::string::npos);
    EXPECT_EQ(refused.find("<TABLE"), std::string::npos);

    // Read rights only: no posting form, no settings buttons.
    std::string readOnly = Page(ShowFolderList, reader, {{"FOLDER_NO", "2"}});
    EXPECT_EQ(readOnly.find("VALUE=\"BORDWRITE\""), std::string::npos);
    EXPECT_EQ(readOnly.find("BORDCONFIG"), std::string::npos);
    std::string manager = Page(ShowFolderList, sysop, {{"FOLDER_NO", "2"}});
    EXPECT_EQ(Count(manager, "VALUE=\"BORDWRITE\""), 2);
    EXPECT_EQ(Count(manager, "<INPUT TYPE=\"hidden\" NAME=\"FROM\" VALUE=\"ROOM\">"), 2);
}

TEST_F(ListTest, FolderPicturesAndInformationOnlyWhenOpenedFromTheTree) {
    FolderSettings fs;
    fs.BACKPIC = "wall.gif";
    fs.TITLEPIC = "title.gif";
    fs.INFO = "Welcome\r<script>alert(1)</script><b>rules</b>";
    fs.FONTCOLOR = "FF0000";
    AddBoard(1, "Board", fs);
    std::string text = List(sysop, {{"FAST_FLG", "1"}});
    EXPECT_NE(text.find("<BODY BACKGROUND=\"/cg/1/wall.gif\" BGPROPERTIES=FIXED >"), std::string::npos);
    EXPECT_NE(text.find("<IMG SRC=\"/cg/1/title.gif\"><BR>"), std::string::npos);
    EXPECT_NE(text.find("<FONT COLOR=\"#FF0000\">Welcome<BR>\n<b>rules</b></FONT>"), std::string::npos);
    EXPECT_EQ(text.find("<script>"), std::string::npos);
    EXPECT_NE(text.find("<FONT COLOR=\"#FF0000\"> Page[1/1]<BR></FONT>"), std::string::npos);
    EXPECT_EQ(List(sysop, {}).find("title.gif"), std::string::npos);
}

TEST_F(ListTest, RowsShowPriorityWriterDateAndEscapeData) {
    AddBoard(1, "<i>Board</i>");
    UserRecord odd = MakeUser("odd", 1);
    odd.USER_NAME = "<b>Bob</b>";
    AddUser(odd);
    Post(1, 0, "<script>x</script>&\"", "odd");
    Post(1, 0, "gone", "nobody");
    MessageIndexEntry e = Entry(1, 2);
    e.deleted = 1;
    e.WRITE_PRIORITY = 2;
    ASSERT_EQ(RewriteMessage(data, e), 0);

    datetime = 2;
    std::string text = List(sysop, {});
    EXPECT_NE(text.find("<B>[1]&lt;i&gt;Board&lt;/i&gt;</B>"), std::string::npos);
    EXPECT_NE(text.find(">&lt;script&gt;x&lt;/script&gt;&amp;&quot;</A></TD>"), std::string::npos);
    EXPECT_NE(text.find(">&lt;b&gt;Bob&lt;/b&gt;</TD>"), std::string::npos);
    EXPECT_NE(text.find("USER_DISP_DEF=1\">--Delete--</A></TD>"), std::string::npos);
    EXPECT_NE(text.find(">nobody</TD>"), std::string::npos);
    EXPECT_NE(text.find("ALIGN=\"CENTER\">Urgent</TD>"), std::string::npos);
    EXPECT_NE(text.find("ALIGN=\"CENTER\"><BR></TD>\n<TD BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\">1</TD>"),
              std::string::npos);
    EXPECT_EQ(Count(text, ">2024/05/06</TD>"), 2);
    EXPECT_EQ(text.find("07:08"), std::string::npos);
}


TEST_F(ListTest, DispatchReachesTheListAndTheDetailPage) {
    AddBoard(1, "Board");
    Post(1, 0, "hello");
    for (const char* job : {"ROOM", "DETAILS"}) {
        StringOutput out;
        ::Run r(out);
        Configure(r, sysop, {{"FOLDER_NO", "1"}, {"SEL_NO", "1"}});
        r.login.JOB = job;
        DispatchJob(r);
        EXPECT_NE(out.text.find(">hello</"), std::string::npos) << job;
    }
}

}  // namespace

// A damaged depth field (here a million) never drives the output: the list and the detail
// page's thread table indent a message by at most as many levels as its thread has records.
TEST_F(ListTest, ADamagedDepthIsBoundedByItsThread) {
    AddBoard(1, "Board");
    Post(1, 0, "Top");
    Post(1, 1, "Reply");
    std::string damaged(4, '\0');
    PutInt32(damaged, 0, 1000000);
    ASSERT_EQ(WriteAt(data, MessageIndexPath(data, 1), 160 + 16, damaged), 0);

    const std::string list = List(sysop, {{"USER_DISP_DEF", "1"}});
    EXPECT_NE(list.find("NOWRAP>&nbsp;&nbsp;&nbsp;&nbsp;<A "), std::string::npos);
    EXPECT_LT(list.size(), 20000u);
    const std::string detail = Page(ShowMessageDetail, sysop,
                                    {{"FOLDER_NO", "1"}, {"SEL_NO", "1"}, {"USER_DISP_DEF", "1"}});
    EXPECT_NE(detail.find("NOWRAP>&nbsp;&nbsp;&nbsp;&nbsp;<A "), std::string::npos);
    EXPECT_LT(detail.size(), 20000u);

    // The same for a damaged number of attachment slots.
    FolderSettings fs;
    fs.folderNo = 1;
    fs.writeLevel = 50;
    fs.ADD_MAX = 0x7FFFFFFF;
    ASSERT_EQ(SaveFolderSettings(data, fs), 0);
    EXPECT_EQ(Count(Page(ShowPostingForm, sysop, {{"FOLDER_NO", "1"}}), "TYPE=\"FILE\""),
              kMaxAttachmentSlots);
}
