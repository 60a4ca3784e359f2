// The message block: the detail page's pieces without its navigation, a title link in the
// caller's own display mode, the deleted notice, and no read mark.
#include "board/block.h"

#include "store/readmarks.h"
#include "view_fixture.h"

namespace {

class BlockTest : public viewtest::ViewTest {
protected:
    std::string Block(int folder, int number, bool withCheckbox,
                      const viewtest::Fields& fields = {}) {
        StringOutput out;
        ::Run r(out);
        UserRecord who = reader;
        who.USER_DISP_DEF = 3;
        Configure(r, who, fields);
        const std::vector<MessageIndexEntry> index = ReadMessageIndex(data, folder);
        for (const MessageIndexEntry& e : index)
            if (e.messageNo == number) WriteMessageBlock(r, folder, e, index, withCheckbox);
        return out.text;
    }
};

TEST_F(BlockTest, ShowsTheMessageWithoutNavigationAndWithoutReadMark) {
    FolderSettings fs;
    fs.FONTCOLOR = "112233";
    AddBoard(1, "Board", fs);
    Post(1, 0, "first <b>", "sysop", "line one\rline two");
    Post(1, 1, "second", "sysop", "reply");
    datetime = 2;
    const std::string block = Block(1, 2, true, {{"CHK_ALL", "1"}});
    EXPECT_EQ(block.rfind("<INPUT TYPE=\"checkbox\" NAME=\"FOLSEL\" VALUE=\"1,2\" checked >SEL:2<BR>\n"
                          "<TABLE BORDER=0>\n<TR>\n<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"LEFT\">Title</TD>\n"
                          "<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"LEFT\"><A HREF=\"board.cgi?SKEY=4321&JOB=DETAILS"
                          "&FOLDER_NO=1&SEL_NO=2&USER_DISP_DEF=3\">Re:^1:second</A></TD>\n",
                          0),
              0u)
        << block;
    EXPECT_NE(block.find("</TABLE>\n<FONT COLOR=\"#112233\">reply\n<P>\n</FONT>\n<TABLE BORDER>"),
              std::string::npos)
        << block;
    EXPECT_NE(block.find("first &lt;b&gt;</A>"), std::string::npos);  // the thread table
    EXPECT_EQ(Count(block, "2024/05/06<"), 3);  // header and both thread rows, date only
    EXPECT_EQ(block.find("SEL:</TD>"), std::string::npos);
    EXPECT_EQ(block.find("<FORM"), std::string::npos);
    EXPECT_EQ(block.substr(block.size() - 14), "</TABLE>\n<HR>\n");
    EXPECT_EQ(ReadReadMarks(data, 1, 2).size(), 1u);  // the writer's own

    MessageIndexEntry gone = Entry(1, 1);
    gone.deleted = 1;
    ASSERT_EQ(RewriteMessage(data, gone), 0);
    const std::string deleted = Block(1, 1, false);
    EXPECT_EQ(deleted.rfind("<BR>This message has been deleted.<BR>It is kept because it has "
                            "replies.<BR>Its text is no longer shown.<BR>The replies are listed "
                            "in the thread below.<P>\n</FONT>\n<TABLE BORDER>", 0),
              0u)
        << deleted;
    EXPECT_NE(deleted.find("NowDisp"), std::string::npos);
}

}  // namespace
