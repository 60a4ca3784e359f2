#include "store/readmarks.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>

#include "store/messages.h"
#include "store/recordfile.h"
#include "store/unread.h"
#include "tests/testutil.h"

namespace {

namespace fs = std::filesystem;

class ReadMarks : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(EnsureFolderDir(dir_, 1), 0); }

    int Mark(int message, const std::string& user) {
        ReadMark mark;
        mark.messageNo = message;
        mark.userId = user;
        return SaveReadMark(dir_, 1, mark);
    }

    TempDir tmp_{"readmarks"};
    const std::string dir_ = tmp_.path;
};

std::string Mark32(int32_t message, const std::string& id24, int32_t count = 0) {
    std::string r(32, '\0');
    std::memcpy(r.data(), &message, 4);  // the test machine is little-endian like the files
    std::memcpy(r.data() + 4, id24.data(), std::min<size_t>(id24.size(), 24));
    std::memcpy(r.data() + 28, &count, 4);
    return r;
}

std::string IndexRecord(int32_t number) {
    MessageIndexEntry e;
    e.folderNo = 1;
    e.messageNo = number;
    e.threadNo = number;
    return PackMessageIndexEntry(e);
}

TEST_F(ReadMarks, LayoutReplacementAndClearing) {
    ReadMark mark;
    mark.messageNo = 7;
    mark.userId = "HANAKO";
    EXPECT_EQ(PackReadMark(mark), Mark32(7, "HANAKO"));
    mark.userId = std::string(30, 'x');
    EXPECT_EQ(PackReadMark(mark), Mark32(7, std::string(23, 'x')));
    EXPECT_EQ(UnpackReadMark(Mark32(7, std::string(24, 'y'), 5)).userId, std::string(23, 'y'));
    EXPECT_EQ(UnpackReadMark(Mark32(7, "y", 5)).count, 5);

    const std::string path = ReadMarkPath(dir_, 1, 7);
    EXPECT_EQ(path, dir_ + "1/R7.DAT");
    EXPECT_EQ(Mark(7, "A"), 0);
    EXPECT_EQ(Mark(7, "B"), 0);
    EXPECT_EQ(Mark(7, "A"), 0);  // replaces, keeps the position
    EXPECT_EQ(ReadFileBytes(path), Mark32(7, "A") + Mark32(7, "B"));
    ReadMark out;
    ASSERT_EQ(ReadMarkAt(dir_, 1, 7, 1, out), 0);
    EXPECT_EQ(out.userId, "B");
    EXPECT_EQ(ReadMarkAt(dir_, 1, 7, 2, out), -1);
    EXPECT_EQ(FindReadMark(dir_, 1, 7, "B", out), 0);
    EXPECT_EQ(FindReadMark(dir_, 1, 7, "b", out), -1);  // exact compare
    EXPECT_EQ(FindReadMark(dir_, 1, 8, "A", out), -1);
    EXPECT_TRUE(fs::exists(ReadMarkPath(dir_, 1, 8)));  // a missing file is created empty

    // A partial record at the end is overwritten by the next new mark, not left before it.
    WriteFileBytes(path, ReadFileBytes(path) + "junk");
    EXPECT_EQ(Mark(7, "C"), 0);
    EXPECT_EQ(ReadFileBytes(path), Mark32(7, "A") + Mark32(7, "B") + Mark32(7, "C"));

    // Clearing keeps records of other numbers only; the file stays and takes the next mark first.
    WriteFileBytes(path, Mark32(7, "A") + Mark32(9, "Q") + Mark32(7, "B"));
    EXPECT_EQ(ClearReadMarks(dir_, 1, 7), 0);
    EXPECT_EQ(ReadFileBytes(path), Mark32(9, "Q"));
    WriteFileBytes(path, Mark32(7, "A"));
    EXPECT_EQ(ClearReadMarks(dir_, 1, 7), 0);
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::file_size(path), 0u);
    EXPECT_FALSE(fs::exists(dir_ + "1/R7.TMP"));
    EXPECT_EQ(Mark(7, "Z"), 0);
    EXPECT_EQ(ReadFileBytes(path), Mark32(7, "Z"));
}

TEST_F(ReadMarks, CountUnread) {
    WriteFileBytes(MessageIndexPath(dir_, 1),
               IndexRecord(1) + IndexRecord(2) + IndexRecord(3) + IndexRecord(4) + IndexRecord(5));
    Mark(2, "TARO");
    Mark(4, "TARO");
    Mark(4, "JIRO");
    Mark(5, "TAROX");
    EXPECT_EQ(CountUnread(dir_, 1, "TARO"), 3);
    EXPECT_EQ(CountUnread(dir_, 1, "JIRO"), 4);
    for (int m = 1; m <= 5; ++m) EXPECT_TRUE(fs::exists(ReadMarkPath(dir_, 1, m))) << m;

    // On the no-read list: nothing is unread.
    EXPECT_EQ(AddNoReadEntry(dir_, 1, "TARO"), 0);
    EXPECT_EQ(CountUnread(dir_, 1, "TARO"), 0);
    EXPECT_EQ(CountUnread(dir_, 1, "JIRO"), 4);

    // A read-mark file that can be neither opened nor created.
    fs::remove(ReadMarkPath(dir_, 1, 3));
    fs::create_directory(ReadMarkPath(dir_, 1, 3));
    EXPECT_EQ(CountUnread(dir_, 1, "JIRO"), -1);

    EXPECT_EQ(CountUnread(dir_, 2, "JIRO"), 0);  // no such folder
}

// ---- The counting algorithm done step by step, as the board always did it ---------------------

int OpenOrCreate(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR);
    return fd >= 0 ? fd : open(path.c_str(), O_RDWR | O_CREAT, 0600);
}

bool StepByStepOnNoReadList(const std::string& dir, const std::string& user) {
    FILE* f = std::fopen((dir + "1/unread.dat").c_str(), "r");
    if (f == nullptr) return false;
    char line[300];
    bool found = false;
    while (!found && std::fgets(line, sizeof line, f) != nullptr) {
        size_t n = std::strlen(line);
        if (n > 0 && line[n - 1] == '\n') line[--n] = '\0';
        if (n > 0 && line[n - 1] == '\r') line[--n] = '\0';
        found = user == line;
    }
    std::fclose(f);
    return found;
}

int StepByStepCountUnread(const std::string& dir, const std::string& user) {
    if (StepByStepOnNoReadList(dir, user)) return 0;
    int messages = 0, marked = 0;
    for (int p = 1;; ++p) {
        // Find the message at position p: open the index, check its size, read one record.
        int fd = OpenOrCreate(dir + "1/index.dat");
        if (fd < 0) break;
        off_t size = lseek(fd, 0, SEEK_END);
        char rec[160];
        bool ok = size / 160 >= p && pread(fd, rec, 160, (p - 1) * 160) == 160;
        close(fd);
        if (!ok) break;
        ++messages;
        int32_t number;
        std::memcpy(&number, rec + 4, 4);
        int rfd = OpenOrCreate(dir + "1/R" + std::to_string(number) + ".DAT");
        if (rfd < 0) return -1;
        char mark[32];
        while (read(rfd, mark, 32) == 32) {
            char id[24] = {};
            std::memcpy(id, mark + 4, 23);  // the id as its slot holds it
            if (user == id) ++marked;
        }
        close(rfd);
    }
    return messages - marked;
}

std::map<std::string, uintmax_t> Listing(const std::string& dir) {
    std::map<std::string, uintmax_t> files;
    for (const auto& e : fs::directory_iterator(dir + "1"))
        if (e.path().filename() != "unread.sum")  // the derived summary of the counts
            files[e.path().filename().string()] = e.file_size();
    return files;
}

TEST_F(ReadMarks, CountUnreadAgreesWithTheStepByStepCount) {
    const std::vector<std::string> ids = {"A", "B", "AB", "a", "ABCDEFGHIJKLMNOPQRSTUVW",
                                          "ABCDEFGHIJKLMNOPQRSTUVWX"};
    const std::vector<std::string> users = {"A", "B", "AB", "ABCDEFGHIJKLMNOPQRSTUVW", "Z"};
    std::mt19937 rng(2024);
    auto pick = [&](const std::vector<std::string>& v) { return v[rng() % v.size()]; };
    const std::string mine = dir_, theirs = dir_ + "ref/";
    for (int round = 0; round < 200; ++round) {
        std::map<std::string, std::string> files;
        std::string index;
        for (int i = rng() % 11; i > 0; --i) index += IndexRecord(1 + rng() % 6);
        if (rng() % 3 == 0) index += std::string(rng() % 160, '\x01');
        files["index.dat"] = index;
        for (int m = 1; m <= 6; ++m) {
            if (rng() % 5 < 2) continue;
            std::string marks;
            for (int i = rng() % 6; i > 0; --i) marks += Mark32(rng() % 3 ? m : 9, pick(ids));
            if (rng() % 5 == 0) marks += "tail";
            files["R" + std::to_string(m) + ".DAT"] = marks;
        }
        if (rng() % 5 < 2) {
            std::string list;
            for (int i = rng() % 4; i > 0; --i) list += pick({"A", "B", "C", "AB"}) + (rng() % 2 ? "\r\n" : "\n");
            if (rng() % 4 == 0) list += "B";
            files["unread.dat"] = list;
        }
        for (const std::string& d : {mine, theirs}) {
            fs::remove_all(d + "1");
            fs::create_directories(d + "1");
            for (const auto& [name, bytes] : files) WriteFileBytes(d + "1/" + name, bytes);
        }
        const std::string user = pick(users);
        ASSERT_EQ(CountUnread(mine, 1, user), StepByStepCountUnread(theirs, user)) << "round " << round;
        ASSERT_EQ(Listing(mine), Listing(theirs)) << "round " << round;
    }
}

}  // namespace
