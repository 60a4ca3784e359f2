#include "cgi/files.h"
#include "tests/testutil.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class FilesTest : public ::testing::Test {
protected:
    std::string P(const std::string& name) const { return tmp.File(name); }
    void Write(const std::string& name, const std::string& bytes) const {
        WriteFileBytes(P(name), bytes);
    }
    std::string Read(const std::string& name) const { return ReadFileBytes(P(name)); }
    bool Exists(const std::string& name) const {
        struct stat st;
        return lstat(P(name).c_str(), &st) == 0;
    }
    TempDir tmp{"files_test"};
    const std::string dir = tmp.path;
};

}  // namespace

TEST_F(FilesTest, SendDownloadWritesHeaderAndLines) {
    Write("system.log", "line one\r\nline two\r\nline three\r\n");
    StringOutput out;
    SendDownload(out, dir, "system.log");
    EXPECT_EQ(out.text,
              "Content-Type: application/octet-stream\n"
              "Content-Disposition: attachment; filename=system.log\n\n"
              "line one\r\nline two\r\nline three\r\n");
}

TEST_F(FilesTest, SendDownloadOfMissingFileOrOddName) {
    StringOutput out;
    SendDownload(out, dir, "b_title.mst");
    EXPECT_EQ(out.text,
              "Content-Type: application/octet-stream\n"
              "Content-Disposition: attachment; filename=b_title.mst\n\n");
    // Bytes (zero included) and long lines pass unchanged; a line end in the name cannot add a
    // header.
    std::string bytes(3000, 'x');
    bytes += std::string("\0\r\n", 3);
    Write("a\nb", bytes);
    StringOutput out2;
    SendDownload(out2, dir, "a\nb");
    EXPECT_EQ(out2.text, "Content-Type: application/octet-stream\n"
                         "Content-Disposition: attachment; filename=ab\n\n" + bytes);
}

TEST_F(FilesTest, MoveFileMovesBytes) {
    std::string bytes;
    for (int i = 0; i < 5000; ++i) bytes.push_back(static_cast<char>(i * 7));
    Write("CGI0", bytes);
    Write("dest", "old content that is longer than nothing");
    EXPECT_EQ(MoveFile(P("CGI0"), P("dest")), 0);
    EXPECT_FALSE(Exists("CGI0"));
    EXPECT_EQ(Read("dest"), bytes);
    struct stat st;
    ASSERT_EQ(stat(P("dest").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(FilesTest, MoveFileMissingSourceGivesEmptyDestination) {
    EXPECT_EQ(MoveFile(P("CGI7"), P("new")), 0);
    EXPECT_TRUE(Exists("new"));
    EXPECT_EQ(Read("new"), "");
    EXPECT_FALSE(Exists("CGI7"));
}

TEST_F(FilesTest, MoveFileFailuresKeepSource) {
    Write("src", "data");
    // Destination directory missing.
    EXPECT_EQ(MoveFile(P("src"), P("nodir/dest")), -1);
    EXPECT_EQ(Read("src"), "data");
    // Destination is a directory.
    ASSERT_EQ(mkdir(P("d").c_str(), 0700), 0);
    EXPECT_EQ(MoveFile(P("src"), P("d")), -1);
    EXPECT_EQ(Read("src"), "data");
    // Onto itself.
    EXPECT_EQ(MoveFile(P("src"), P("src")), 0);
    EXPECT_EQ(Read("src"), "data");
}

TEST_F(FilesTest, MoveFileCopiesWhenSourceHasAnotherName) {
    // A hard-linked source takes the copying path; the other name keeps its bytes.
    Write("src", "linked");
    ASSERT_EQ(link(P("src").c_str(), P("other").c_str()), 0);
    EXPECT_EQ(MoveFile(P("src"), P("dest")), 0);
    EXPECT_FALSE(Exists("src"));
    EXPECT_EQ(Read("dest"), "linked");
    EXPECT_EQ(Read("other"), "linked");
    // A source that is a directory cannot be moved.
    ASSERT_EQ(mkdir(P("sd").c_str(), 0700), 0);
    EXPECT_EQ(MoveFile(P("sd"), P("dest2")), -1);
    EXPECT_TRUE(Exists("sd"));
}

TEST_F(FilesTest, ListFilesMatchesFilesOnly) {
    Write("japan.lng", "x");
    Write("english.lng", "x");
    Write("readme.txt", "x");
    Write("a,b.lng", "x");
    ASSERT_EQ(mkdir(P("old.lng").c_str(), 0700), 0);
    std::string buf = dir + "*.lng";
    ListFiles(buf, 1000);
    EXPECT_EQ(buf, "english.lng,japan.lng");

    buf = dir + "*.none";
    ListFiles(buf, 1000);
    EXPECT_EQ(buf, "");
    buf = dir + "missing/*.lng";
    ListFiles(buf, 1000);
    EXPECT_EQ(buf, "");
}

TEST_F(FilesTest, ListFilesWorkingDirectoryAndCapacity) {
    Write("aa.lng", "x");
    Write("bbbbbbbbbb.lng", "x");
    Write("cc.lng", "x");
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    std::string buf = "*.lng";
    ListFiles(buf, 1000);
    EXPECT_EQ(buf, "aa.lng,bbbbbbbbbb.lng,cc.lng");
    // 13 bytes and terminator: the long name is left out whole.
    buf = "*.LNG";
    ListFiles(buf, 14);
    EXPECT_EQ(buf, "aa.lng,cc.lng");
    buf = "*.lng";
    ListFiles(buf, 6);
    EXPECT_EQ(buf, "");
    ASSERT_EQ(chdir(cwd), 0);
}

TEST(CutToLastSeparator, KeepsLastComponent) {
    std::string s = "C:\\a\\b.exe";
    CutToLastSeparator(s, '\\');
    EXPECT_EQ(s, "b.exe");
    s = "prog";
    CutToLastSeparator(s, '\\');
    EXPECT_EQ(s, "prog");
    s = "/usr/lib/cgi-bin/boardcgi";
    CutToLastSeparator(s, '/');
    EXPECT_EQ(s, "boardcgi");
    s = "dir/";
    CutToLastSeparator(s, '/');
    EXPECT_EQ(s, "");
    // A second byte equal to the separator does not cut.
    s = "C:\\\x95\x5c\\\x83\x5c.txt";
    CutToLastSeparator(s, '\\');
    EXPECT_EQ(s, "\x83\x5c.txt");
}

TEST_F(FilesTest, RemoveDirectoryTreeRemovesNestedTree) {
    const std::string root = P("X12");
    ASSERT_EQ(mkdir(root.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((root + "/1").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((root + "/1/deep").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((root + "/empty").c_str(), 0700), 0);
    Write("X12/top.txt", "t");
    Write("X12/1/a.gif", "a");
    Write("X12/1/deep/b.doc", "b");
    // A link to a directory outside the tree is removed, not followed.
    ASSERT_EQ(mkdir(P("keep").c_str(), 0700), 0);
    Write("keep/k.txt", "k");
    ASSERT_EQ(symlink(P("keep").c_str(), (root + "/1/link").c_str()), 0);

    EXPECT_EQ(RemoveDirectoryTree(root), 0);
    EXPECT_FALSE(Exists("X12"));
    EXPECT_EQ(Read("keep/k.txt"), "k");
    EXPECT_EQ(RemoveDirectoryTree(root), -1);
    EXPECT_EQ(RemoveDirectoryTree(""), -1);
    Write("plain", "p");
    EXPECT_EQ(RemoveDirectoryTree(P("plain")), -1);
    EXPECT_TRUE(Exists("plain"));
}
