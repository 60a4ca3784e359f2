// Searching: the words of a condition, matching titles, bodies and writer names with any or all
// words, case sensitivity, and the folder lines of the result page.
#include "board/search.h"

#include "view_fixture.h"

namespace {

using viewtest::Fields;

class SearchTest : public viewtest::ViewTest {
protected:
    void SetUp() override {
        ViewTest::SetUp();
        UserRecord carol = viewtest::MakeUser("carol", 1);
        carol.USER_NAME = "Carol Smith";
        AddUser(carol);
        AddFolder(1, kFolderDir, "Dir", 0);
        AddFolder(2, kFolderBoard, "Board", 1);
        AddFolder(3, kFolderDir, "Hidden", 0, 10);
        AddFolder(4, kFolderBoard, "Inside hidden", 1);
        AddFolder(5, kFolderChat, "Chat <&>", 0);
        AddFolder(6, kFolderBoard, "Empty", 0);
        Post(2, 0, "apple pie", "carol", "with banana");   // 1
        Post(2, 0, "Apple cake", "sysop", "cherry");       // 2
        Post(2, 0, "plain", "reader", "nothing apple");    // 3
        Post(4, 0, "apple hidden", "carol", "");           // 1 in the hidden subtree
    }
    std::vector<int> Hits(const std::string& condition, const std::string& writer, int stat,
                          int folder = 0) {
        const std::string page = Page(ShowSearchResults, reader,
                                      {{"CONDITION", condition}, {"WRITER", writer},
                                       {"STAT", std::to_string(stat)},
                                       {"FOLDER_NO", std::to_string(folder)}});
        // Each block links its title once; the thread table is not shown for single messages.
        return DetailLinks(page);
    }
};

TEST_F(SearchTest, AnyOrAllWordsInTitleBodyAndWriterName) {
    const struct {
        const char* condition;
        const char* writer;
        int stat;
        std::vector<int> hits;
    } cases[] = {
        {"apple", "", 1, {1, 3}},             // title or body; "Apple" is another word
        {"Apple", "", 1, {2}},
        {"pie banana", "", 2, {1}},           // title word and body word
        {"apple cherry", "", 1, {1, 2, 3}},
        {"apple cherry", "", 2, {}},
        {"", "Carol", 1, {1}},
        {"", "carol", 1, {}},                 // names are compared case-sensitively too
        {"cherry", "Carol", 1, {1, 2}},       // either matches
        {"apple", "Smith", 2, {1}},           // words and writer
        {"nothing", "Smith", 2, {}},
        {"q1 q2 q3 q4 q5 q6 q7 q8 q9 q10 apple", "", 1, {}},  // the eleventh word is ignored
        {"pie  banana", "", 2, {1}},         // two spaces give an empty word, which is ignored
        {"", "", 1, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Hits(c.condition, c.writer, c.stat), c.hits)
            << c.condition << " / " << c.writer << " / " << c.stat;
}

TEST_F(SearchTest, FolderLinesForEveryReadableFolderInScope) {
    const std::string page = Page(ShowSearchResults, reader, {{"CONDITION", "zzz"}});
    EXPECT_NE(page.find("<IMG SRC=\"/cg/folderclose.gif\"><B>Dir</B><BR>\n"
                        "<IMG SRC=\"/cg/folderbook.gif\"><B>Board</B><BR>\n"
                        "<IMG SRC=\"/cg/folderchat.gif\"><B>Chat &lt;&amp;&gt;</B><BR>\n"
                        "<IMG SRC=\"/cg/folderbook.gif\"><B>Empty</B><BR>\n</FORM>"),
              std::string::npos)
        << page;
    EXPECT_EQ(page.find("Hidden"), std::string::npos);
    EXPECT_EQ(page.find("Inside"), std::string::npos);
    EXPECT_EQ(Hits("apple", "", 1, 4), std::vector<int>{});  // hidden by its directory
    EXPECT_EQ(Hits("apple", "", 1, 2), (std::vector<int>{1, 3}));

    // The form's folder choice leaves out the hidden subtree in the same way.
    const std::string form = Page(ShowSearchForm, reader, {});
    EXPECT_NE(form.find("<OPTION VALUE=\"0\">All folders\n<OPTION VALUE=\"1\">Dir\n"
                        "<OPTION VALUE=\"2\">Board\n<OPTION VALUE=\"5\">Chat &lt;&amp;&gt;\n"
                        "<OPTION VALUE=\"6\">Empty\n</SELECT>"),
              std::string::npos);
}

}  // namespace
