#include "store/chat.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "store/recordfile.h"
#include "tests/testutil.h"

namespace {

namespace fs = std::filesystem;

class ChatStore : public ::testing::Test {
protected:
    TempDir tmp_{"chat"};
    const std::string dir_ = tmp_.path;
};

void Put(std::string& r, size_t offset, const std::string& text) {
    std::memcpy(r.data() + offset, text.data(), text.size());
}

ChatEntry Line(const std::string& text) {
    ChatEntry e;
    e.MODE = 1;
    e.name = "Taro";
    e.color = "red";
    e.text = text;
    e.date = "2024/01/02 03:04.05";
    e.REMOTE_ADDR = "10.0.0.1";
    e.HTTP_USER_AGENT = "Agent/1.0";
    return e;
}

TEST_F(ChatStore, RecordLayouts) {
    std::string entry(884, '\0');
    entry[0] = 1;
    Put(entry, 4, "Taro");
    Put(entry, 86, "red");
    Put(entry, 108, "hi");
    Put(entry, 360, "2024/01/02 03:04.05");
    Put(entry, 380, "10.0.0.1");
    Put(entry, 632, "Agent/1.0");
    EXPECT_EQ(PackChatEntry(Line("hi")), entry);
    EXPECT_EQ(PackChatEntry(UnpackChatEntry(entry)), entry);
    ChatEntry longText = Line(std::string(400, 't'));
    longText.HTTP_USER_AGENT = std::string(400, 'u');
    std::string packed = PackChatEntry(longText);
    EXPECT_EQ(packed.substr(108, 252), std::string(251, 't') + '\0');
    EXPECT_EQ(packed.substr(632, 252), std::string(251, 'u') + '\0');

    std::string member(72, '\0');
    Put(member, 0, "TARO");
    Put(member, 22, "00FF00");
    member[44] = 20;
    member[48] = 30;
    Put(member, 52, "1990/01/01 00:00");
    ChatMember m;
    m.userId = "TARO";
    m.color = "00FF00";
    m.LOG_LINE = 20;
    m.RELOAD_TIME = 30;
    m.date = "1990/01/01 00:00";
    EXPECT_EQ(PackChatMember(m), member);
    EXPECT_EQ(PackChatMember(UnpackChatMember(member)), member);
}

TEST_F(ChatStore, LogIsNewestFirst) {
    ChatEntry e = Line("x");
    EXPECT_EQ(ReadChatEntryAt(dir_, 4, 0, e), -1);  // creates folder and empty log
    EXPECT_EQ(e.name, "");
    EXPECT_TRUE(fs::exists(ChatLogPath(dir_, 4)));
    ASSERT_EQ(PrependChatEntry(dir_, 4, Line("A")), 0);
    ASSERT_EQ(PrependChatEntry(dir_, 4, Line("B")), 0);
    // A trailing partial entry is dropped by the next line, and a leftover temporary file
    // longer than the log does not leak into it.
    std::ofstream(ChatLogPath(dir_, 4), std::ios::binary | std::ios::app) << "partial";
    WriteFileBytes(ChatLogPath(dir_, 4) + ".TMP", std::string(5000, 'z'));
    ASSERT_EQ(PrependChatEntry(dir_, 4, Line("C")), 0);
    EXPECT_EQ(fs::file_size(ChatLogPath(dir_, 4)), 3 * kChatEntrySize);
    EXPECT_FALSE(fs::exists(ChatLogPath(dir_, 4) + ".TMP"));

    const char* expected[] = {"C", "B", "A"};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(ReadChatEntryAt(dir_, 4, i, e), 0);
        EXPECT_EQ(e.text, expected[i]);
    }
    EXPECT_EQ(ReadChatEntryAt(dir_, 4, 3, e), -1);
    EXPECT_EQ(e.text, "");
    EXPECT_EQ(ReadChatEntryAt(dir_, 4, -1, e), -1);
    std::vector<ChatEntry> newest = ReadChatEntries(dir_, 4, 2);
    ASSERT_EQ(newest.size(), 2u);
    EXPECT_EQ(newest[0].text, "C");
    EXPECT_EQ(newest[1].text, "B");
    EXPECT_EQ(ReadChatEntries(dir_, 4, 1000000).size(), 3u);
}

TEST_F(ChatStore, Members) {
    ChatMember m;
    m.userId = "X";
    EXPECT_EQ(FindChatMember(dir_, 6, "TARO", m), -1);
    EXPECT_EQ(PackChatMember(m), std::string(72, '\0'));  // all zero
    EXPECT_LT(m.date, "1990/01/01 00:00");
    EXPECT_TRUE(fs::is_directory(FolderDirPath(dir_, 6)));

    for (const char* id : {"A", "B", "C"}) {
        m.userId = id;
        m.LOG_LINE = 10;
        ASSERT_EQ(SaveChatMember(dir_, 6, m), 0);
    }
    m.userId = "B";
    m.LOG_LINE = 50;
    m.date = "2024/01/01 12:00";
    ASSERT_EQ(SaveChatMember(dir_, 6, m), 0);  // keeps its place
    std::string bytes = ReadFileBytes(ChatMemberListPath(dir_, 6));
    ASSERT_EQ(bytes.size(), 3 * kChatMemberSize);
    EXPECT_EQ(UnpackChatMember(bytes.substr(72, 72)).LOG_LINE, 50);
    ChatMember found;
    ASSERT_EQ(FindChatMember(dir_, 6, "B", found), 0);
    EXPECT_EQ(found.date, "2024/01/01 12:00");
    EXPECT_EQ(FindChatMember(dir_, 6, "b", found), -1);
}
}  // namespace
