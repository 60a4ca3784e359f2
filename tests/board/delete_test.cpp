// Deleting messages (removed, or kept as a marker while deeper records follow in the thread)
// and marking a whole folder read.
#include "board/delete.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "store/attachments.h"
#include "store/bodies.h"
#include "store/folders.h"
#include "store/messages.h"
#include "store/readmarks.h"
#include "tests/testutil.h"

namespace {

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

UserRecord Member(const std::string& id, int level) {
    UserRecord u;
    u.USER_ID = id;
    u.USER_NAME = id;
    u.USER_LEVEL = level;
    u.MODE = 1;
    return u;
}

class DeleteTest : public ::testing::Test {
protected:
    void SetUp() override {
        data = dir.File("data/");
        add = dir.File("add/");
        for (const std::string& d : {data, add, data + "1"}) ASSERT_EQ(mkdir(d.c_str(), 0700), 0);
        std::ofstream(data + "b_title.mst", std::ios::binary)
            << FormatFolderLine({1, kFolderBoard, "Board", 0});
        FolderSettings fs;
        fs.folderNo = 1;
        fs.readLevel = 1;
        fs.writeLevel = 1;
        SaveFolderSettings(data, fs);
        alice = Member("alice", 1);
        bob = Member("bob", 1);
    }
    // Message by the writer, as a reply to parent (0: a new thread); returns its number.
    int Post(const std::string& writer, int parent) {
        MessageIndexEntry e;
        e.folderNo = 1;
        e.messageNo = parent;
        e.userId = writer;
        e.WRITE_TITLE = "t";
        EXPECT_EQ(AppendMessage(data, e, writer), 0);
        WriteMessageBody(data, 1, e.messageNo, "body");
        return e.messageNo;
    }
    int Job(const UserRecord& who, int (*handler)(::Run&), int selNo) {
        out = std::make_unique<StringOutput>();
        run = std::make_unique<::Run>(*out);
        run->settings.DATA_FILE_PATH = data;
        run->settings.ADD_FILE_PATH = add;
        run->login.user = who;
        run->fields = {{"FOLDER_NO", "1", true}, {"SEL_NO", std::to_string(selNo), true}};
        return handler(*run);
    }
    bool Listed(int no) {
        MessageIndexEntry e;
        return FindMessage(data, 1, no, kMessageByNumber, e) == 0;
    }
    int Deleted(int no) {
        MessageIndexEntry e;
        EXPECT_EQ(FindMessage(data, 1, no, kMessageByNumber, e), 0);
        return e.deleted;
    }

    TempDir dir{"deltest"};
    std::string data, add;
    UserRecord alice, bob;
    std::unique_ptr<StringOutput> out;
    std::unique_ptr<::Run> run;
};

TEST_F(DeleteTest, MessageWithoutRepliesIsRemovedWithMarksAndAttachments) {
    const int m = Post("alice", 0);
    ReadMark mark{m, "bob", 0};
    SaveReadMark(data, 1, mark);
    SaveAttachment(data, 1, {m, 1, "a.txt"});
    SaveAttachment(data, 1, {m + 1, 1, "other.txt"});
    const std::string dir = add + "1/X" + std::to_string(m);
    ASSERT_EQ(mkdir((add + "1").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((dir + "/1").c_str(), 0700), 0);
    std::ofstream(dir + "/1/a.txt") << "a";

    EXPECT_EQ(Job(alice, DeleteMessage, m), 0);
    EXPECT_FALSE(Listed(m));
    EXPECT_TRUE(ReadReadMarks(data, 1, m).empty());
    const std::vector<AttachmentEntry> left = ReadAttachments(data, 1);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].fileName, "other.txt");
    EXPECT_FALSE(Exists(dir));
    EXPECT_TRUE(Exists(MessageBodyPath(data, 1, m)));  // the body file stays
}

TEST_F(DeleteTest, MessageWithReplyStaysAsMarkerAndTheLastReplyGoes) {
    const int a = Post("alice", 0);
    const int r = Post("bob", a);
    SaveReadMark(data, 1, {a, "bob", 0});

    EXPECT_EQ(Job(alice, DeleteMessage, a), 0);
    EXPECT_EQ(Deleted(a), 1);
    EXPECT_EQ(ReadReadMarks(data, 1, a).size(), 2u);
    std::string body;
    ReadMessageBody(data, 1, a, body);
    EXPECT_EQ(body, "body");
    // Deleting the marker again leaves it a marker.
    EXPECT_EQ(Job(alice, DeleteMessage, a), 0);
    EXPECT_EQ(Deleted(a), 1);

    EXPECT_EQ(Job(bob, DeleteMessage, r), 0);
    EXPECT_FALSE(Listed(r));
    EXPECT_EQ(Deleted(a), 1);
    EXPECT_EQ(CountMessages(data, 1), 1);
}

TEST_F(DeleteTest, DeeperRecordAnsweringALaterSiblingAlsoKeepsTheMessage) {
    const int top = Post("alice", 0);
    const int first = Post("alice", top);   // depth 1, no reply of its own
    const int second = Post("bob", top);    // depth 1
    const int deep = Post("bob", second);   // depth 2, after "first" in the thread
    const int other = Post("bob", 0);       // another thread, not looked at

    EXPECT_EQ(Job(alice, DeleteMessage, first), 0);
    EXPECT_EQ(Deleted(first), 1);
    EXPECT_EQ(Job(bob, DeleteMessage, deep), 0);
    EXPECT_FALSE(Listed(deep));
    EXPECT_EQ(Job(bob, DeleteMessage, other), 0);
    EXPECT_FALSE(Listed(other));
    EXPECT_EQ(CountMessages(data, 1), 3);
}

TEST_F(DeleteTest, OnlyTheWriterOrAManagerDeletesAndOnlyWithAMemberAccount) {
    const int m = Post("alice", 0);
    EXPECT_EQ(Job(bob, DeleteMessage, m), -1);  // rights 2, not the writer
    EXPECT_TRUE(Listed(m));
    UserRecord shared = alice;
    shared.MODE = 2;
    EXPECT_EQ(Job(shared, DeleteMessage, m), -1);
    EXPECT_TRUE(Listed(m));
    EXPECT_EQ(Job(alice, DeleteMessage, 99), -1);  // no such message

    // The writer needs no rights level on the folder.
    UserRecord outsider = alice;
    outsider.USER_LEVEL = 0;
    EXPECT_EQ(Job(outsider, DeleteMessage, m), 0);
    EXPECT_FALSE(Listed(m));

    const int n = Post("alice", 0);
    UserRecord boss = bob;
    boss.USER_LEVEL = 100;
    EXPECT_EQ(Job(boss, DeleteMessage, n), 0);
    EXPECT_FALSE(Listed(n));
}

TEST_F(DeleteTest, MarkFolderReadMarksEveryMessageOnce) {
    const int a = Post("alice", 0);
    const int b = Post("bob", a);
    const int c = Post("bob", 0);
    Job(alice, DeleteMessage, a);  // a marker now; it is marked as well
    ASSERT_EQ(Deleted(a), 1);

    EXPECT_EQ(Job(bob, MarkFolderRead, 0), 0);
    EXPECT_EQ(Job(bob, MarkFolderRead, 0), 0);
    for (int no : {a, b, c}) {
        int bobs = 0;
        for (const ReadMark& m : ReadReadMarks(data, 1, no)) {
            if (m.userId == "bob") ++bobs;
            EXPECT_EQ(m.count, 0);
        }
        EXPECT_EQ(bobs, 1) << no;
    }
    EXPECT_EQ(CountUnread(data, 1, "bob"), 0);

    // Without read rights nothing is marked.
    const UserRecord outsider = Member("carol", 0);
    EXPECT_EQ(Job(outsider, MarkFolderRead, 0), -1);
    EXPECT_EQ(CountUnread(data, 1, "carol"), 3);

    // A mark that cannot be written is told, not passed over: a directory stands in its file.
    const std::string marks = data + "1/R" + std::to_string(c) + ".DAT";
    ASSERT_EQ(unlink(marks.c_str()), 0);
    ASSERT_EQ(mkdir(marks.c_str(), 0700), 0);
    EXPECT_EQ(Job(alice, MarkFolderRead, 0), kMarksNotStored);
}

}  // namespace
