// Unread messages across the boards: the folder walk (excluded and unreadable folders), the
// display modes, ticking all boxes, marking ticked messages read, forged values, and the
// choice of excluded boards.
#include "board/unread.h"

#include <cerrno>
#include <filesystem>
#include <functional>

#include "cgi/fileops.h"
#include "store/readmarks.h"
#include "store/unread.h"
#include "view_fixture.h"

namespace {

using viewtest::Fields;

class UnreadTest : public viewtest::ViewTest {
protected:
    // Tree: Top (directory, excluded below) > Inner board 2; Hidden (read level 10) > board 5;
    // Open board 6 at the top level again; Closed board 7 (read level 10).
    void BuildTree() {
        AddFolder(1, kFolderDir, "Top", 0);
        AddFolder(2, kFolderBoard, "Inner", 1);
        AddFolder(4, kFolderDir, "Hidden", 0, 10);
        AddFolder(5, kFolderBoard, "Secret", 1);
        AddFolder(6, kFolderBoard, "Open", 0);
        AddFolder(7, kFolderBoard, "Closed", 0, 10);
        Post(2, 0, "inner one");
        Post(5, 0, "secret one");
        Post(6, 0, "open one");   // 1
        Post(6, 0, "open two");   // 2
        Post(6, 1, "open three"); // 3, file order 1 3 2
        Post(7, 0, "closed one");
    }
    // "folder,number" of every checkbox of a page, in order.
    static std::vector<std::string> Boxes(const std::string& page) {
        std::vector<std::string> boxes;
        std::regex re("NAME=\"FOLSEL\" VALUE=\"(\\d+,\\d+)\"");
        for (auto it = std::sregex_iterator(page.begin(), page.end(), re);
             it != std::sregex_iterator(); ++it)
            boxes.push_back((*it)[1]);
        return boxes;
    }
    size_t MarkCount(int folder, int number) { return ReadReadMarks(data, folder, number).size(); }
};

TEST_F(UnreadTest, WalkSkipsExcludedFoldersButNotTheirSubfoldersAndHidesUnreadableSubtrees) {
    BuildTree();
    ASSERT_EQ(AddNoReadEntry(data, 1, "reader"), 0);
    const std::string page = Page(ShowUnreadMessages, reader, {});
    EXPECT_EQ(page.find("[1]Top"), std::string::npos);
    EXPECT_NE(page.find("<IMG SRC=\"/cg/folderbook.gif\"><B>[2]Inner</B><BR>"), std::string::npos);
    EXPECT_EQ(page.find("Hidden"), std::string::npos);
    EXPECT_EQ(page.find("Secret"), std::string::npos);
    EXPECT_NE(page.find("<B>[6]Open</B>"), std::string::npos);
    EXPECT_EQ(Boxes(page), (std::vector<std::string>{"2,1", "6,1", "6,3", "6,2"}));
    EXPECT_NE(page.find("<INPUT TYPE=\"checkbox\" NAME=\"FOLSEL\" VALUE=\"6,3\">SEL:3<BR>"),
              std::string::npos);
    // Showing a block writes no read mark: only the writer's marks are there.
    EXPECT_EQ(MarkCount(6, 1), 1u);
    EXPECT_EQ(MarkCount(2, 1), 1u);
    // The messages the caller wrote himself carry his mark and are not listed.
    EXPECT_TRUE(Boxes(Page(ShowUnreadMessages, sysop, {})).empty());
}

TEST_F(UnreadTest, OwnDisplayModeOrdersTheBlocksAndCheckAllTicksEveryBox) {
    BuildTree();
    const struct {
        int mode;
        std::vector<std::string> boxes;
    } cases[] = {{1, {"2,1", "6,1", "6,3", "6,2"}},
                 {2, {"2,1", "6,1", "6,2", "6,3"}},
                 {3, {"2,1", "6,3", "6,2", "6,1"}}};
    for (const auto& c : cases) {
        UserRecord who = reader;
        who.USER_DISP_DEF = c.mode;
        const std::string page = Page(ShowUnreadMessages, who, {{"USER_DISP_DEF", "1"}});
        EXPECT_EQ(Boxes(page), c.boxes) << "mode " << c.mode;
        // Title and thread links carry the caller's own mode.
        EXPECT_NE(page.find("SEL_NO=3&USER_DISP_DEF=" + std::to_string(c.mode) + "\">Re:^1:open three</A>"),
                  std::string::npos)
            << "mode " << c.mode;
    }
    const std::string all = Page(ShowUnreadMessages, reader, {{"CHK_ALL", "1"}});
    EXPECT_EQ(Count(all, " checked >SEL:"), 4);
    EXPECT_EQ(Count(all, "NAME=\"FOLSEL\""), 4);
}

TEST_F(UnreadTest, TickedMessagesAreMarkedReadAndForgedValuesChangeNothing) {
    BuildTree();
    const std::string page = Job("NRDETAILSWR", reader,
                                 {{"FOLSEL", "6,1"}, {"FOLSEL", "6,2"},
                                  {"FOLSEL", "7,1"},    // a folder the reader cannot read
                                  {"FOLSEL", "6"},      // no comma: skipped, the walk goes on
                                  {"FOLSEL", "77,1"},   // not a folder
                                  {"FOLSEL", "1,1"},    // a directory
                                  {"FOLSEL", "6,40"},   // no such message
                                  {"FOLSEL", "2,1"}});
    EXPECT_EQ(Boxes(page), (std::vector<std::string>{"6,3"}));
    EXPECT_EQ(MarkCount(7, 1), 1u);
    EXPECT_FALSE(std::filesystem::exists(data + "77"));
    EXPECT_FALSE(std::filesystem::exists(data + "1"));
    EXPECT_FALSE(std::filesystem::exists(data + "6/R40.DAT"));

    // A shared account is refused and marks nothing.
    const UserRecord shared = viewtest::MakeUser("shared", 1, 2);
    AddUser(shared);
    const std::string refused = Job("NRDETAILSWR", shared, {{"FOLSEL", "6,3"}});
    EXPECT_NE(refused.find("You are not permitted to use this function."), std::string::npos);
    EXPECT_TRUE(Boxes(refused).empty());
    EXPECT_EQ(MarkCount(6, 3), 1u);
}

TEST_F(UnreadTest, ExcludingAndIncludingBoards) {
    BuildTree();
    const Fields exclude = {{"BOARD_IN", "Register"}, {"BOARDLIST", "6"}, {"BOARDLIST", "7"},
                            {"BOARDLIST", "77"}, {"BOARDLIST", "1"}};
    Job("SETNOREAD_WR", reader, exclude);
    const std::string page = Job("SETNOREAD_WR", reader, exclude);
    std::string list;
    ReadWholeFile(data + "6/unread.dat", list);
    EXPECT_EQ(list, "reader\r\n");  // twice excluded, one line
    for (const char* forged : {"7/unread.dat", "77", "1"})
        EXPECT_FALSE(std::filesystem::exists(data + forged)) << forged;
    EXPECT_NE(page.find("reader-name[reader]"), std::string::npos);
    EXPECT_NE(page.find("<SELECT NAME=\"NOWNOREAD\" SIZE=5 MULTIPLE>\n<OPTION VALUE=\"6\">Open\n"
                        "</SELECT>"),
              std::string::npos);
    EXPECT_NE(page.find("<SELECT NAME=\"BOARDLIST\" SIZE=5 MULTIPLE>\n<OPTION VALUE=\"2\">Inner\n"
                        "<OPTION VALUE=\"5\">Secret\n<OPTION VALUE=\"6\">Open\n</SELECT>"),
              std::string::npos);
    EXPECT_EQ(Page(ShowUnreadMessages, reader, {}).find("[6]Open"), std::string::npos);

    Job("SETNOREAD_WR", reader, {{"BOARD_OUT", "Delete"}, {"NOWNOREAD", "6"}});
    EXPECT_EQ(FindNoReadEntry(data, 6, "reader"), -1);
    EXPECT_NE(Page(ShowUnreadMessages, reader, {}).find("[6]Open"), std::string::npos);
}

// Marks and no-read lists that cannot be written are told (message 382), never passed for done:
// each file operation of a job that stores two things fails in turn. Without the message both
// are stored, or none (a folder tree that could not be read leaves nothing to change).
TEST_F(UnreadTest, AChangeThatCannotBeWrittenSaysSo) {
    struct Case {
        const char* job;
        Fields fields;
        std::function<int()> stored;  // how many of the two changes are on disk
    };
    const std::vector<Case> cases = {
        {"NRDETAILSWR", {{"FOLSEL", "6,2"}, {"FOLSEL", "6,3"}},
         [this] { return int(MarkCount(6, 2) == 2) + int(MarkCount(6, 3) == 2); }},
        {"SETNOREAD_WR", {{"BOARD_IN", "Register"}, {"BOARDLIST", "2"}, {"BOARDLIST", "6"}},
         [this] {
             return int(FindNoReadEntry(data, 2, "reader") == 1) +
                    int(FindNoReadEntry(data, 6, "reader") == 1);
         }},
    };
    for (const Case& c : cases) {
        BuildTree();
        SetFileFault(0, 0);
        Job(c.job, reader, c.fields);
        const long calls = FileCallCount();
        ASSERT_EQ(c.stored(), 2) << c.job;
        for (long n = 1; n <= calls; ++n) {
            TearDown();
            SetUp();
            BuildTree();
            SetFileFault(n, ENOSPC);
            const std::string page = Job(c.job, reader, c.fields);
            SetFileFault(0, 0);
            const bool told = page.find("The change could not be stored.") != std::string::npos;
            const int stored = c.stored();
            EXPECT_TRUE(told ? stored < 2 : stored != 1) << c.job << " call " << n;
        }
        TearDown();
        SetUp();
    }
}

}  // namespace
