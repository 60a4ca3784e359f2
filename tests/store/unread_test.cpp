#include "store/unread.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "store/recordfile.h"
#include "tests/testutil.h"

namespace {

namespace fs = std::filesystem;

class NoReadList : public ::testing::Test {
protected:
    std::string Bytes() const { return ReadFileBytes(NoReadListPath(dir_, 5)); }
    void Write(const std::string& bytes) { WriteFileBytes(NoReadListPath(dir_, 5), bytes); }

    TempDir tmp_{"noread"};
    const std::string dir_ = tmp_.path;
};

TEST_F(NoReadList, AddFindRemove) {
    EXPECT_EQ(FindNoReadEntry(dir_, 5, "A"), -1);
    EXPECT_EQ(RemoveNoReadEntry(dir_, 5, "A"), -1);
    EXPECT_FALSE(fs::exists(FolderDirPath(dir_, 5)));  // nothing created

    EXPECT_EQ(AddNoReadEntry(dir_, 5, "TARO"), 0);  // creates folder directory and file
    EXPECT_EQ(AddNoReadEntry(dir_, 5, "TARO"), -2);
    EXPECT_EQ(AddNoReadEntry(dir_, 5, "JIRO"), -1);
    EXPECT_EQ(AddNoReadEntry(dir_, 5, "SABURO"), -1);
    EXPECT_EQ(Bytes(), "TARO\r\nJIRO\r\nSABURO\r\n");
    EXPECT_EQ(FindNoReadEntry(dir_, 5, "SABURO"), 3);
    EXPECT_EQ(FindNoReadEntry(dir_, 5, "TARO"), 1);
    EXPECT_EQ(FindNoReadEntry(dir_, 5, "taro"), -1);
    EXPECT_EQ(FindNoReadEntry(dir_, 5, "TAR"), -1);

    EXPECT_EQ(RemoveNoReadEntry(dir_, 5, "JIRO"), 0);
    EXPECT_EQ(RemoveNoReadEntry(dir_, 5, "JIRO"), -1);
    EXPECT_EQ(Bytes(), "TARO\r\nSABURO\r\n");
    EXPECT_EQ(RemoveNoReadEntry(dir_, 5, "TARO"), 0);
    EXPECT_EQ(RemoveNoReadEntry(dir_, 5, "SABURO"), 0);
    EXPECT_TRUE(fs::exists(NoReadListPath(dir_, 5)));  // empty, not missing
    EXPECT_EQ(Bytes(), "");
    EXPECT_FALSE(fs::exists(NoReadListPath(dir_, 5) + ".TMP"));
    EXPECT_EQ(AddNoReadEntry(dir_, 5, "TARO"), -1);  // the file exists: appended
}

TEST_F(NoReadList, MixedLineEndsAreMatchedAndKept) {
    ASSERT_EQ(EnsureFolderDir(dir_, 5), 0);
    Write("A\r\nB\nC\r\nB\r\nD");
    EXPECT_EQ(FindNoReadEntry(dir_, 5, "C"), 3);
    EXPECT_EQ(FindNoReadEntry(dir_, 5, "D"), 5);  // last line without line end
    EXPECT_EQ(AddNoReadEntry(dir_, 5, "B"), -2);
    EXPECT_EQ(RemoveNoReadEntry(dir_, 5, "B"), 0);
    EXPECT_EQ(Bytes(), "A\r\nC\r\nD");  // kept lines copied byte for byte
    // A new id never joins a last line that lacks its line end.
    EXPECT_EQ(AddNoReadEntry(dir_, 5, "E"), -1);
    EXPECT_EQ(Bytes(), "A\r\nC\r\nD\r\nE\r\n");
    EXPECT_EQ(FindNoReadEntry(dir_, 5, "E"), 4);
    EXPECT_EQ(FindNoReadEntry(dir_, 5, "DE"), -1);

    // Lines are read with a 300-byte buffer: a long line arrives in pieces of 299 bytes.
    Write(std::string(299, 'x') + "TAIL\r\nZ\r\n");
    EXPECT_EQ(FindNoReadEntry(dir_, 5, "TAIL"), 2);
    EXPECT_EQ(FindNoReadEntry(dir_, 5, "Z"), 3);
    // Dropping the tail piece of a long line must not join the head piece to the next id.
    EXPECT_EQ(RemoveNoReadEntry(dir_, 5, "TAIL"), 0);
    EXPECT_EQ(FindNoReadEntry(dir_, 5, "Z"), 3);
    EXPECT_EQ(Bytes(), std::string(299, 'x') + "\r\nZ\r\n");
}
}  // namespace
