#include <unistd.h>

#include <functional>

#include "tests/tools/fixture.h"

namespace {

// Replaces the index of a folder by its records in the given order (1-based positions), after
// edit has changed them.
void ReorderIndex(const Board& b, int folder, std::vector<int> order,
                  const std::function<void(std::vector<MessageIndexEntry>&)>& edit = nullptr) {
    std::vector<MessageIndexEntry> index = ReadMessageIndex(b.data, folder);
    if (edit) edit(index);
    std::string bytes;
    for (int p : order) bytes += PackMessageIndexEntry(index[static_cast<size_t>(p - 1)]);
    WriteFileBytes(MessageIndexPath(b.data, folder), bytes);
}

FolderSettings SettingsOf(int folder) {
    FolderSettings s;
    s.folderNo = folder;
    return s;
}

void Append(const std::string& path, const std::string& bytes) {
    WriteFileBytes(path, ReadFileBytes(path) + bytes);
}

struct Damage {
    const char* name;
    std::function<void(const Board&)> apply;
    std::vector<std::string> expected;  // the problem lines begin so, in this order
    bool repairable;
    std::function<void(const Board&)> afterRepair = nullptr;  // what the repair must keep
};

const std::vector<Damage>& Damages() {
    static const std::vector<Damage> damages = {
        {"user line without its fields",
         [](const Board& b) { Append(b.data + "user.mst", "broken line\r\n"); },
         {"user.mst line 4: does not parse"},
         false},
        {"line longer than the readers take",
         [](const Board& b) { Append(b.data + "system.log", std::string(1200, 'x') + ",\r\n"); },
         {"system.log line 2: is 1201 bytes long"},
         false},
        {"partial record",
         [](const Board& b) { Append(b.data + "b_u_acl.mst", "abcde"); },
         {"b_u_acl.mst: size 37 is not a multiple of the record size 32"},
         false},
        {"user id twice in another letter case",
         [](const Board& b) {
             b.AddUser("ALICE", 1, 0);
             BuildUserListById(b.data);
             BuildUserListByLevel(b.data);
             BuildUserListByGroup(b.data);
         },
         {"user.mst line 4: user id \"ALICE\" is already on line 2"},
         false},
        {"group id twice",
         [](const Board& b) { Append(b.data + "group.mst", "1,Again,\r\n"); },
         {"group.mst line 3: group id 1 is already on line 1"},
         false},
        {"folder number twice",
         [](const Board& b) { Append(b.data + "b_title.mst", "Copy,3,Board,\r\n"); },
         {"b_title.mst line 5: folder 3 is already on line 3"},
         false},
        {"message number twice",
         [](const Board& b) {
             ReorderIndex(b, 2, {1, 2, 3, 4}, [](auto& index) { index[2].messageNo = 2; });
         },
         {"2/index.dat record 3 (message 2): message number 2 is used twice",
          "2/R3.DAT: message 3 is not in index.dat, but its body X3.DAT and read marks are"},
         false},
        {"folder two levels deeper than the line above",
         [](const Board& b) {
             InsertFolderLine(b.data, FolderRecord{9, kFolderBoard, "Deep", 2}, 1);
             SaveFolderSettings(b.data, SettingsOf(9));
         },
         {"b_title.mst line 2: indented by 2 below a line indented by 0"},
         false},
        {"folder inside a board",
         [](const Board& b) {
             InsertFolderLine(b.data, FolderRecord{9, kFolderBoard, "Sub", 2}, 2);
             SaveFolderSettings(b.data, SettingsOf(9));
         },
         {"b_title.mst line 3: lies inside folder 2, which is not a directory"},
         false},
        {"folder without settings",
         [](const Board& b) { DeleteFolderSettings(b.data, 3); },
         {"b_title.mst line 3: folder 3 has no settings record"},
         false},
        {"settings without folder",
         [](const Board& b) { AppendFolderSettings(b.data, SettingsOf(77)); },
         {"b_title2.mst record 5: settings of folder 77, which is not in b_title.mst"},
         false},
        {"index records out of thread order",
         [](const Board& b) {
             ReorderIndex(b, 2, {1, 4, 2, 3});
         },
         {"2/index.dat record 3 (message 2): thread number 1, but it lies in thread 4",
          "2/index.dat record 4 (message 3): thread number 1, but it lies in thread 4"},
         false},
        {"depth against the placement rule",
         [](const Board& b) {
             ReorderIndex(b, 2, {1, 2, 3, 4}, [](auto& index) { index[2].depth = 3; });
         },
         {"2/index.dat record 3 (message 3): depth 3 below a record of depth 1"},
         false},
        {"thread number against the placement rule",
         [](const Board& b) {
             ReorderIndex(b, 2, {1, 2, 3, 4}, [](auto& index) { index[1].threadNo = 4; });
         },
         {"2/index.dat record 2 (message 2): thread number 4, but it lies in thread 1"},
         false},
        {"message without body",
         [](const Board& b) { unlink(MessageBodyPath(b.data, 2, 2).c_str()); },
         {"2/X2.DAT: body file of message 2 is missing"},
         false},
        {"body and read marks without message",
         [](const Board& b) {
             WriteMessageBody(b.data, 2, 50, "lost");
             SaveReadMark(b.data, 2, ReadMark{50, "alice", 0});
         },
         {"2/R50.DAT: message 50 is not in index.dat, but its body X50.DAT and read marks are"},
         false},
        {"read marks without message",
         [](const Board& b) {
             SaveReadMark(b.data, 2, ReadMark{60, "alice", 0});
         },
         {"2/R60.DAT: read marks of message 60, which is not in index.dat"},
         true},
        {"attachment record without file",
         [](const Board& b) { unlink((b.files + "2/X4/1/notes.txt").c_str()); },
         {"2/add_file.dat record 1: the file attachments/2/X4/1/notes.txt is missing"},
         false},
        {"attachment file without record",
         [](const Board& b) {
             std::filesystem::create_directories(b.files + "2/X4/2");
             WriteFileBytes(b.files + "2/X4/2/extra.txt", "x");
         },
         {"attachments/2/X4/2/extra.txt: file without an attachment entry in 2/add_file.dat"},
         false},
        {"attachment count against the records",
         [](const Board& b) {
             MessageIndexEntry e;
             FindMessage(b.data, 2, 4, kMessageByNumber, e);
             e.attachCount = 3;
             RewriteMessage(b.data, e);
         },
         {"2/index.dat message 4: attachment count 3, but add_file.dat holds 1 entries"},
         true},
        {"read mark of a user who does not exist",
         [](const Board& b) {
             SaveReadMark(b.data, 2, ReadMark{1, "ghost", 0});
         },
         {"2/R1.DAT record 3: read mark of user \"ghost\", who does not exist"},
         true},
        {"read mark twice",
         [](const Board& b) {
             Append(ReadMarkPath(b.data, 2, 1), PackReadMark(ReadMark{1, "bob", 0}));
         },
         {"2/R1.DAT record 3: a second read mark of user \"bob\""},
         true},
        {"access entries of a user and a folder that do not exist",
         [](const Board& b) {
             SaveUserAcl(b.data, UserAclEntry{2, "ghost", 1});
             SaveGroupAcl(b.data, GroupAclEntry{99, 1, 1});
         },
         {"b_g_acl.mst record 2: entry of folder 99, which does not exist",
          "b_u_acl.mst record 2: entry of user \"ghost\", who does not exist"},
         true},
        {"session of a deleted user",
         [](const Board& b) {
             SaveSession(b.data, SessionRecord{77, "ghost", "", ""});
         },
         {"skey.mst record 2: session of user \"ghost\", who does not exist"},
         true},
        {"user lists behind user.mst",
         [](const Board& b) { b.AddUser("carol", 5, 0); },
         {"user2.mst: differs from what user.mst gives", "user3.mst: differs",
          "user4.mst: differs"},
         true},
        {"chat member records of a user who does not exist, and repeated",
         [](const Board& b) {
             SaveChatMember(b.data, 4, ChatMember{"ghost", "red", 20, 10, "2026/12/07 10:00"});
             Append(ChatMemberListPath(b.data, 4),
                    PackChatMember(ChatMember{"alice", "blue", 20, 10, kChatLeftStamp}));
         },
         {"4/chat.idx record 2: member record of user \"ghost\", who does not exist",
          "4/chat.idx record 3: a second member record of user \"alice\""},
         true,
         [](const Board& b) {
             ChatMember m;
             EXPECT_EQ(0, FindChatMember(b.data, 4, "alice", m));
             EXPECT_EQ("red", m.color);
             EXPECT_EQ(static_cast<long>(kChatMemberSize),
                       FileSize(ChatMemberListPath(b.data, 4)));
         }},
        {"unread summary behind a read mark written in place",
         [](const Board& b) {
             Append(ReadMarkPath(b.data, 3, 1), PackReadMark(ReadMark{1, "alice", 0}));
         },
         {"3/unread.sum: differs from what 3/index.dat and its read marks give: it counts 0 "
          "read marks of \"alice\", the read-mark files hold 1"},
         true},
        {"temporary files of killed runs",
         [](const Board& b) {
             WriteFileBytes(b.data + "user.mst.TMP", "half");
             WriteFileBytes(b.data + "2/R1.TMP", "half");
         },
         {"user.mst.TMP: temporary file left", "2/R1.TMP: temporary file left"},
         true},
        {"change of several files left by a killed run",
         [](const Board& b) {
             WriteFileBytes(b.data + "board.journal", "cut short");
             WriteFileBytes(b.data + "b_title.mst.NEW", "half");
         },
         {"b_title.mst.NEW: temporary file left", "board.journal: a change of several files"},
         true},
        {"no-read list naming a user who does not exist",
         [](const Board& b) { AddNoReadEntry(b.data, 3, "ghost"); },
         {"3/unread.dat line 2: user \"ghost\" does not exist"},
         true},
        {"membership of a user who does not exist, out of group order",
         [](const Board& b) {
             AddGroupMember(b.data, GroupMember{1, "ghost"});
         },
         {"g_user.mst line 3: membership of user \"ghost\", who does not exist",
          "g_user.mst line 3: group 1 follows group 2"},
         true},
    };
    return damages;
}

std::map<std::string, std::string> Everything(const Board& b) {
    std::map<std::string, std::string> all = TreeBytes(b.data);
    for (const auto& [name, bytes] : TreeBytes(b.files)) all["files/" + name] = bytes;
    return all;
}

}  // namespace

TEST(Check, SoundInstallationChecksSoundAndIsLeftAsItWas) {
    Board b;
    b.MakeSound();
    const auto before = Everything(b);
    const CheckResult r = b.Check();
    EXPECT_TRUE(r.problems.empty()) << r.problems.front();
    EXPECT_TRUE(r.notes.empty());
    EXPECT_GT(r.files, 20u);
    EXPECT_EQ(before, Everything(b));

    // Without an attachment directory the files are not looked at, and the check says so.
    CheckOptions o;
    o.dataDir = b.data;
    CheckResult bare;
    ASSERT_EQ(0, CheckInstallation(o, bare, nullptr));
    EXPECT_TRUE(bare.problems.empty());
    ASSERT_EQ(1u, bare.notes.size());

    o.dataDir = b.root.path + "missing/";
    EXPECT_EQ(-1, CheckInstallation(o, bare, nullptr));
}

// Each kind of damage is reported as exactly its problem, the check changes nothing, and the
// repair mends what it can without losing a message, a body or an attachment; what it cannot
// mend it leaves as it was.
TEST(Check, EachDamageIsReportedAndRepairedWhereThatLosesNothing) {
    for (const Damage& d : Damages()) {
        SCOPED_TRACE(d.name);
        Board b;
        b.MakeSound();
        d.apply(b);
        const auto damaged = Everything(b);
        const CheckResult r = b.Check();
        EXPECT_EQ(damaged, Everything(b)) << "the check changed a file";
        ASSERT_EQ(d.expected.size(), r.problems.size())
            << (r.problems.empty() ? std::string("no problem") : r.problems.back());
        for (size_t i = 0; i < d.expected.size(); ++i) {
            EXPECT_EQ(0u, r.problems[i].find(d.expected[i])) << r.problems[i];
            const bool marked = r.problems[i].size() > 13 &&
                                r.problems[i].substr(r.problems[i].size() - 13) == " [repairable]";
            EXPECT_EQ(d.repairable, marked) << r.problems[i];
        }

        const auto kept = Messages(b);
        const CheckResult repaired = b.Check(true);
        EXPECT_EQ(kept, Messages(b)) << "the repair lost data";
        if (d.repairable) {
            EXPECT_TRUE(repaired.problems.empty()) << repaired.problems.front();
            EXPECT_FALSE(repaired.repairs.empty());
            for (const std::string& line : repaired.repairs)
                EXPECT_EQ(std::string::npos, line.find("could not")) << line;
            EXPECT_TRUE(b.Check().problems.empty());
            if (d.afterRepair) d.afterRepair(b);
        } else {
            EXPECT_EQ(r.problems, repaired.problems);
            EXPECT_TRUE(repaired.repairs.empty());
            EXPECT_EQ(damaged, Everything(b)) << "the repair changed what it cannot mend";
        }
    }
}

// A body whose message was deleted stays in the folder (the board keeps it); with its read
// marks emptied it is no problem.
TEST(Check, BodyOfADeletedMessageIsNoProblem) {
    Board b;
    b.MakeSound();
    ASSERT_EQ(0, DeleteMessageEntry(b.data, 2, 4));
    ASSERT_EQ(0, ClearReadMarks(b.data, 2, 4));
    ASSERT_EQ(0, DeleteAttachments(b.data, 2, 4));
    std::filesystem::remove_all(b.files + "2/X4");
    const CheckResult r = b.Check();
    EXPECT_TRUE(r.problems.empty()) << r.problems.front();
}
