#include "store/folders.h"
#include "store/recordfile.h"
#include "tests/testutil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <filesystem>

namespace {

class FolderStoreTest : public ::testing::Test {
protected:
    void Put(const std::string& name, const std::string& bytes) {
        WriteFileBytes(dir + name, bytes);
    }
    std::string Get(const std::string& name) { return ReadFileBytes(dir + name); }

    TempDir tmp{"folders_test"};
    const std::string dir = tmp.path;
};

void PutLe(std::string& b, size_t off, int32_t v) {
    uint32_t u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i) b[off + i] = static_cast<char>((u >> (8 * i)) & 0xFF);
}

TEST(FolderSettingsLayout, PacksAndUnpacksAtFixedOffsets) {
    FolderSettings s;
    s.folderNo = 12;
    s.ADD_MAX = 3;
    s.readLevel = 5;
    s.writeLevel = -7;
    s.READ_CHK = 1;
    s.REWRITE_FLG = 2;
    s.TITLEPIC = "t.gif";
    s.BACKPIC = "b.gif";
    s.DIRPIC = "d.gif";
    s.INFO = "info";
    s.DEFO = "defo";
    s.FONTCOLOR = "FF0000";
    s.RESFONTCOLOR = "00FF00";

    std::string want(8800, '\0');
    PutLe(want, 0, 12);
    PutLe(want, 4, 3);
    PutLe(want, 8, 5);
    PutLe(want, 12, -7);
    PutLe(want, 16, 1);
    PutLe(want, 20, 2);
    std::memcpy(&want[24], "t.gif", 5);
    std::memcpy(&want[276], "b.gif", 5);
    std::memcpy(&want[528], "d.gif", 5);
    std::memcpy(&want[780], "info", 4);
    std::memcpy(&want[4782], "defo", 4);
    std::memcpy(&want[8784], "FF0000", 6);
    std::memcpy(&want[8792], "00FF00", 6);

    EXPECT_EQ(PackFolderSettings(s), want);
    const FolderSettings back = UnpackFolderSettings(want);
    EXPECT_EQ(back.writeLevel, -7);
    EXPECT_EQ(back.REWRITE_FLG, 2);
    EXPECT_EQ(back.DIRPIC, "d.gif");
    EXPECT_EQ(back.DEFO, "defo");
    EXPECT_EQ(back.RESFONTCOLOR, "00FF00");

    // Over-long values stay inside their fields; a full field without NUL reads cut to its slot.
    s.INFO = std::string(5000, 'x');
    s.FONTCOLOR = "123456789";
    const std::string packed = PackFolderSettings(s);
    ASSERT_EQ(packed.size(), 8800u);
    EXPECT_EQ(packed[780 + 4000], 'x');
    EXPECT_EQ(packed[780 + 4001], '\0');
    EXPECT_EQ(packed.substr(4782, 4), "defo");
    EXPECT_EQ(packed.substr(8784, 8), std::string("1234567") + '\0');
    std::string full = want;
    std::memset(&full[8784], 'A', 8);
    EXPECT_EQ(UnpackFolderSettings(full).FONTCOLOR, "AAAAAAA");
}

TEST(FolderLines, ReadsAndWritesTheLineFormat) {
    FolderRecord r;
    ASSERT_TRUE(ParseFolderLine("  News,12,Board,", r));
    EXPECT_EQ(r.folderNo, 12);
    EXPECT_EQ(r.kind, kFolderBoard);
    EXPECT_EQ(r.indentation, 2);
    EXPECT_EQ(r.name, "News");
    EXPECT_EQ(FormatFolderLine(r), "  News,12,Board,\r\n");

    ASSERT_TRUE(ParseFolderLine("Talk,3,chat,", r));
    EXPECT_EQ(r.kind, kFolderChat);
    EXPECT_EQ(FormatFolderLine(r), "Talk,3,Chat,\r\n");
    ASSERT_TRUE(ParseFolderLine("Top,1,dir,", r));
    EXPECT_EQ(r.kind, kFolderDir);

    // Unknown kind word: kind 0, written back with an empty kind field that still ends the line.
    ASSERT_TRUE(ParseFolderLine("X,4,Room,", r));
    EXPECT_EQ(r.kind, kFolderUnknown);
    EXPECT_EQ(FormatFolderLine(r), "X,4,,\r\n");
    ASSERT_TRUE(ParseFolderLine("X,4,,", r));
    EXPECT_EQ(r.kind, kFolderUnknown);

    EXPECT_FALSE(ParseFolderLine("Top,1,Dir", r));
    EXPECT_FALSE(ParseFolderLine("", r));

    // A name the line cannot hold is cut at its comma / line break and to its slot.
    r = FolderRecord{5, kFolderBoard, "a,b", 0};
    EXPECT_EQ(FormatFolderLine(r), "a,5,Board,\r\n");
    r.name = std::string(100, 'n');
    EXPECT_EQ(FormatFolderLine(r), std::string(83, 'n') + ",5,Board,\r\n");
}

TEST_F(FolderStoreTest, FindCountsWellFormedLinesWhileInsertAndDeleteCountEveryLine) {
    FolderRecord r;
    EXPECT_EQ(FindFolder(dir, 1, kFolderByPosition, r), -1);  // no b_title.mst

    Put("b_title.mst", "Top,1,Dir,\r\n\r\n Sub,2,Board,\n Talk,3,Chat,\r\n");
    ASSERT_EQ(FindFolder(dir, 3, kFolderByPosition, r), 0);  // line 4 of the file
    EXPECT_EQ(r.folderNo, 3);
    EXPECT_EQ(FindFolder(dir, 4, kFolderByPosition, r), -1);
    EXPECT_EQ(FindFolder(dir, 0, kFolderByPosition, r), -1);
    ASSERT_EQ(FindFolder(dir, 2, kFolderByNumber, r), 0);
    EXPECT_EQ(r.name, "Sub");
    EXPECT_EQ(r.indentation, 1);
    ASSERT_EQ(ReadFolderTree(dir).size(), 3u);

    // After line 2 (the blank one), unchanged lines copied byte for byte.
    ASSERT_EQ(InsertFolderLine(dir, FolderRecord{9, kFolderBoard, "New", 1}, 2), 0);
    EXPECT_EQ(Get("b_title.mst"), "Top,1,Dir,\r\n\r\n New,9,Board,\r\n Sub,2,Board,\n Talk,3,Chat,\r\n");
    EXPECT_FALSE(std::filesystem::exists(dir + "b_title.mst.TMP"));

    EXPECT_EQ(DeleteFolderLine(dir, 2), 0);  // the blank line
    EXPECT_EQ(DeleteFolderLine(dir, 5), -1);
    EXPECT_EQ(Get("b_title.mst"), "Top,1,Dir,\r\n New,9,Board,\r\n Sub,2,Board,\n Talk,3,Chat,\r\n");

    EXPECT_EQ(InsertFolderLine(dir, FolderRecord{10, kFolderChat, "End", 0}, 50), 0);
    EXPECT_EQ(FindFolder(dir, 5, kFolderByPosition, r), 0);
    EXPECT_EQ(r.folderNo, 10);
    EXPECT_EQ(InsertFolderLine(dir, FolderRecord{11, kFolderChat, "Bad", 0}, 0), -1);
}

TEST_F(FolderStoreTest, InsertCreatesTheFileAndNeverRunsOnALastLineWithoutEnd) {
    ASSERT_EQ(InsertFolderLine(dir, FolderRecord{1, kFolderDir, "Top", 0}, 1), 0);
    EXPECT_EQ(Get("b_title.mst"), "Top,1,Dir,\r\n");

    Put("b_title.mst", "Top,1,Dir,");
    ASSERT_EQ(InsertFolderLine(dir, FolderRecord{2, kFolderBoard, "B", 1}, 1), 0);
    EXPECT_EQ(Get("b_title.mst"), "Top,1,Dir,\r\n B,2,Board,\r\n");
}

TEST_F(FolderStoreTest, RewriteReplacesTheFolderLineAndDropsMalformedLines) {
    Put("b_title.mst", "Top,1,Dir,\r\nbroken line\r\n Talk,3,chat,\r\n Sub,2,Board,\r\n");
    ASSERT_EQ(RewriteFolderLine(dir, FolderRecord{3, kFolderChat, "Lounge", 1}), 0);
    EXPECT_EQ(Get("b_title.mst"), "Top,1,Dir,\r\n Lounge,3,Chat,\r\n Sub,2,Board,\r\n");
    EXPECT_EQ(RewriteFolderLine(dir, FolderRecord{7, kFolderChat, "None", 0}), -1);
    EXPECT_EQ(Get("b_title.mst"), "Top,1,Dir,\r\n Lounge,3,Chat,\r\n Sub,2,Board,\r\n");
}

TEST_F(FolderStoreTest, SettingsFindSaveAppendDelete) {
    FolderSettings s;
    EXPECT_EQ(FindFolderSettings(dir, 1, s), -1);
    EXPECT_TRUE(std::filesystem::exists(dir + "b_title2.mst"));  // created empty

    FolderSettings a;
    a.folderNo = 1;
    a.INFO = "first";
    FolderSettings b;
    b.folderNo = 2;
    ASSERT_EQ(AppendFolderSettings(dir, a), 0);
    ASSERT_EQ(AppendFolderSettings(dir, b), 0);
    ASSERT_EQ(AppendFolderSettings(dir, a), 0);  // a second record of folder 1

    a.INFO = "saved";
    ASSERT_EQ(SaveFolderSettings(dir, a), 0);  // replaces both records of folder 1
    auto all = ReadAllFolderSettings(dir);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].INFO, "saved");
    EXPECT_EQ(all[1].folderNo, 2);
    EXPECT_EQ(all[2].INFO, "saved");
    ASSERT_NE(FindSettingsIn(all, 2), nullptr);
    EXPECT_EQ(FindSettingsIn(all, 9), nullptr);

    FolderSettings c;
    c.folderNo = 3;
    c.DEFO = "new";
    ASSERT_EQ(SaveFolderSettings(dir, c), 0);  // none yet: appended
    ASSERT_EQ(FindFolderSettings(dir, 3, s), 0);
    EXPECT_EQ(s.DEFO, "new");
    EXPECT_EQ(FileSize(dir + "b_title2.mst"), 4 * 8800);

    EXPECT_EQ(DeleteFolderSettings(dir, 1), 0);
    EXPECT_EQ(DeleteFolderSettings(dir, 1), -1);
    all = ReadAllFolderSettings(dir);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].folderNo, 2);
    EXPECT_EQ(all[1].folderNo, 3);
}

TEST_F(FolderStoreTest, AppendAfterAPartialRecordKeepsRecordsOnTheirBoundaries) {
    FolderSettings a;
    a.folderNo = 1;
    Put("b_title2.mst", PackFolderSettings(a) + std::string(100, 'z'));
    FolderSettings b;
    b.folderNo = 2;
    ASSERT_EQ(AppendFolderSettings(dir, b), 0);
    EXPECT_EQ(FileSize(dir + "b_title2.mst"), 2 * 8800);
    FolderSettings s;
    EXPECT_EQ(FindFolderSettings(dir, 2, s), 0);
}

}  // namespace

// No writer of the tree produces a line its 1000-byte reader would cut: a rename with the long
// kind word, a folder created inside a deep directory and a move into one are refused, and the
// file stays as it was.
TEST_F(FolderStoreTest, ALineTheReaderWouldCutIsNeverWritten) {
    const std::string deep(985, ' ');
    const std::string tree = "Top,1,D,\r\n" + deep + "Deep,2,D,\r\n" + deep + "Leaf,3,B,\r\n" +
                             "Other folder,4,B,\r\n";
    struct Case {
        const char* what;
        std::function<int()> change;
    } cases[] = {
        {"rename", [&] { return RewriteFolderLine(dir, {3, kFolderBoard, "Leaf name", 985}); }},
        {"settings", [&] {
             FolderRecord r{3, kFolderBoard, "Leaf name", 985};
             FolderSettings s;
             s.folderNo = 3;
             return SaveFolderLineAndSettings(dir, &r, s);
         }},
        {"create", [&] {
             FolderRecord r{0, kFolderBoard, "New folder", 0};
             return CreateFolder(dir, r, 2, kPlaceInside);
         }},
        {"move", [&] { return MoveFolderSubtree(dir, 4, 2, kPlaceInside); }},
    };
    for (const Case& c : cases) {
        Put("b_title.mst", tree);
        Put("b_title2.mst", "");
        EXPECT_EQ(c.change(), kTreeLineTooLong) << c.what;
        EXPECT_EQ(Get("b_title.mst"), tree) << c.what;
        EXPECT_EQ(Get("b_title2.mst"), "") << c.what;
        EXPECT_EQ(ReadFolderTree(dir).size(), 4u) << c.what;
    }
    // Within the limit the same rename is made.
    Put("b_title.mst", tree);
    EXPECT_EQ(RewriteFolderLine(dir, {3, kFolderBoard, "Leaf", 985}), 0);
    EXPECT_EQ(ReadFolderTree(dir)[2].name, "Leaf");
}
