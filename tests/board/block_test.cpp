// The message block: the detail page's pieces without its navigation, a title link in the
// caller's own display mode, the deleted notice, and no read mark.
#include "board/block.h"

#include <fstream>

#include "board/search.h"
#include "board/unread.h"
#include "store/attachments.h"
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
        ShownBoard board(r, folder);
        for (size_t i = 0; i < board.index().size(); ++i)
            if (board.index().number(i) == number)
                WriteMessageBlock(r, board, board.index().entry(i), withCheckbox);
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

// The pages of blocks read the index once and unpack only the records they show: a thread
// split by other records, a repeated number, a damaged record and a torn tail are shown as the
// records stand, and the attachment records serve every block of the board.
TEST_F(BlockTest, PagesOfBlocksShowAnIrregularIndexRecordByRecord) {
    FolderSettings fs;
    fs.ADD_MAX = 2;
    AddBoard(1, "Board", fs);
    auto record = [](int number, int thread, int depth, const std::string& title,
                     int attached = 0, int deleted = 0) {
        MessageIndexEntry e;
        e.folderNo = 1;
        e.messageNo = number;
        e.threadNo = thread;
        e.depth = depth;
        e.date = "2024/05/06 07:08";
        e.userId = "sysop";
        e.WRITE_TITLE = title;
        e.attachCount = attached;
        e.deleted = deleted;
        return PackMessageIndexEntry(e);
    };
    // Number, thread, depth and the other numbers -1, fields without an end; not deleted.
    std::string damaged(kMessageIndexEntrySize, '\xFF');
    damaged.replace(66, 4, "five");
    PutInt32(damaged, 152, 0);
    const std::string index = record(1, 1, 0, "one five", 1) + record(2, 1, 1, "two") + damaged +
                              record(3, 3, 0, "three five", 1) + record(2, 1, 1, "two again") +
                              record(4, 4, 0, "four five", 0, 1) + std::string(50, 'x');
    std::ofstream(data + "1/index.dat", std::ios::binary) << index;
    for (int no : {1, 3}) {
        AttachmentEntry a;
        a.messageNo = no;
        a.slot = 1;
        a.fileName = "file" + std::to_string(no) + ".txt";
        ASSERT_EQ(SaveAttachment(data, 1, a), 0);
    }

    const std::vector<int> thread1 = {1, 2, 2};
    auto block = [&](std::vector<int> links, const std::vector<int>& thread) {
        links.insert(links.end(), thread.begin(), thread.end());
        return links;
    };
    auto join = [](std::initializer_list<std::vector<int>> parts) {
        std::vector<int> all;
        for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const struct {
        int mode;
        std::vector<int> links;
    } cases[] = {
        // The deleted message 4 shows its notice, without a link.
        {1, join({block({1}, thread1), block({2}, thread1), {-1}, {3}, block({2}, thread1)})},
        {2, join({block({1}, thread1), block({2}, thread1), {3}})},
        {3, join({{3}, block({2}, thread1), block({1}, thread1)})},
    };
    auto links = [](const std::string& page) {
        std::vector<int> numbers;
        std::regex re("JOB=DETAILS&FOLDER_NO=1&SEL_NO=(-?\\d+)&");
        for (auto it = std::sregex_iterator(page.begin(), page.end(), re);
             it != std::sregex_iterator(); ++it)
            numbers.push_back(std::stoi((*it)[1]));
        return numbers;
    };
    for (const auto& c : cases) {
        UserRecord who = reader;
        who.USER_DISP_DEF = c.mode;
        const std::string page = Page(ShowUnreadMessages, who, {});
        EXPECT_EQ(links(page), c.links) << "mode " << c.mode;
        EXPECT_EQ(Count(page, "file1.txt (-1 byte)"), 1) << "mode " << c.mode;
        EXPECT_EQ(Count(page, "file3.txt (-1 byte)"), 1) << "mode " << c.mode;
        EXPECT_EQ(Count(page, "NowDisp"), c.mode == 1 ? 5 : 3) << "mode " << c.mode;
    }

    // The search skips the deleted record and matches the damaged record's title up to the
    // field's end.
    const std::string found =
        Page(ShowSearchResults, reader, {{"CONDITION", "five"}, {"STAT", "1"}});
    EXPECT_EQ(links(found), join({block({1}, thread1), {-1}, {3}})) << found;
    EXPECT_NE(found.find("SEL_NO=-1&USER_DISP_DEF=1\">five"), std::string::npos) << found;
}

}  // namespace
