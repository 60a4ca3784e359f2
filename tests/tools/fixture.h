// A sound installation for the operator command tests, written through the store as the pages
// write it: users, groups and memberships, a folder tree with settings, threads with replies,
// an attachment, read marks, access lists, a session, a no-read list, a chat room, the access
// log, the user lists and an unread summary.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>

#include "store/accesslog.h"
#include "store/acl.h"
#include "store/attachments.h"
#include "store/bodies.h"
#include "store/chat.h"
#include "store/folders.h"
#include "store/groups.h"
#include "store/messages.h"
#include "store/readmarks.h"
#include "store/recordfile.h"
#include "store/sessions.h"
#include "store/unread.h"
#include "store/unreadsum.h"
#include "store/users.h"
#include "tests/testutil.h"
#include "tools/check.h"

struct Board {
    TempDir root{"tools_test"};
    std::string data = root.path + "data/";
    std::string files = root.path + "files/";

    Board() {
        mkdir(data.c_str(), 0700);
        mkdir(files.c_str(), 0755);
    }

    void AddUser(const std::string& id, int level, int group) const {
        UserRecord u;
        u.USER_ID = id;
        u.USER_NAME = "Name of " + id;
        u.USER_LEVEL = level;
        u.USER_PASS = id;
        u.P_GROUP = group;
        u.USER_DISP_DEF = 1;
        u.MODE = 1;
        u.WRITE_MODE = 1;
        ASSERT_EQ(0, AppendUser(data, u));
    }

    // Posts as the posting page does; parent 0 starts a thread. The new number.
    int Post(int folder, int parent, const std::string& writer, const std::string& body,
             const std::string& attachment = "") const {
        DataLock lock(data);
        MessageIndexEntry e;
        e.folderNo = folder;
        e.messageNo = parent;
        e.date = "2026/12/07 10:00";
        e.userId = writer;
        e.WRITE_TITLE = "Title " + body;
        e.READ_CHK = 1;
        e.attachCount = attachment.empty() ? 0 : 1;
        EXPECT_EQ(0, AppendMessage(data, e, writer));
        EXPECT_EQ(0, WriteMessageBody(data, folder, e.messageNo, body));
        if (!attachment.empty()) {
            const std::string dir =
                files + std::to_string(folder) + "/X" + std::to_string(e.messageNo) + "/1/";
            std::filesystem::create_directories(dir);
            WriteFileBytes(dir + attachment, "attached to " + body);
            EXPECT_EQ(0, SaveAttachment(data, folder, AttachmentEntry{e.messageNo, 1, attachment}));
        }
        return e.messageNo;
    }

    // Folders: 1 "General" (directory) holding board 2; board 3; chat room 4.
    // Board 2: thread 1 with replies 2 (to 1) and 3 (to 2); thread 4 with an attachment.
    void MakeSound() const {
        AddUser("admin", 100, 0);
        AddUser("alice", 10, 1);
        AddUser("bob", 50, 2);
        ASSERT_EQ(0, SaveGroup(data, GroupRecord{1, "Members"}));
        ASSERT_EQ(0, SaveGroup(data, GroupRecord{2, "Staff"}));
        ASSERT_EQ(0, AddGroupMember(data, GroupMember{2, "bob"}));
        ASSERT_EQ(0, AddGroupMember(data, GroupMember{1, "alice"}));
        ASSERT_EQ(0, SortGroupMembers(data));
        const struct {
            int no, kind, indent;
            const char* name;
        } folders[] = {{1, kFolderDir, 0, "General"},
                       {2, kFolderBoard, 1, "Questions"},
                       {3, kFolderBoard, 0, "Lounge"},
                       {4, kFolderChat, 0, "Chat"}};
        int line = 1;
        for (const auto& f : folders) {
            ASSERT_EQ(0,
                      InsertFolderLine(data, FolderRecord{f.no, f.kind, f.name, f.indent}, line++));
            FolderSettings s;
            s.folderNo = f.no;
            s.ADD_MAX = 3;
            s.READ_CHK = 1;
            s.REWRITE_FLG = 1;
            ASSERT_EQ(0, AppendFolderSettings(data, s));
        }
        ASSERT_EQ(1, Post(2, 0, "alice", "first"));
        ASSERT_EQ(2, Post(2, 1, "bob", "reply"));
        ASSERT_EQ(3, Post(2, 2, "alice", "reply to the reply"));
        ASSERT_EQ(4, Post(2, 0, "bob", "with a file", "notes.txt"));
        ASSERT_EQ(1, Post(3, 0, "admin", "lounge"));
        ASSERT_EQ(0, SaveReadMark(data, 2, ReadMark{1, "bob", 0}));
        ASSERT_EQ(-1, SaveGroupAcl(data, GroupAclEntry{2, 1, 2}));
        ASSERT_EQ(-1, SaveUserAcl(data, UserAclEntry{3, "bob", 3}));
        ASSERT_EQ(0, SaveSession(data, SessionRecord{1234, "alice", "", ""}));
        ASSERT_EQ(0, AddNoReadEntry(data, 3, "bob"));
        ChatEntry line1;
        line1.MODE = 1;
        line1.name = "alice";
        line1.text = "hello";
        ASSERT_EQ(0, PrependChatEntry(data, 4, line1));
        ASSERT_EQ(0,
                  SaveChatMember(data, 4, ChatMember{"alice", "red", 20, 10, "2026/12/07 10:00"}));
        AccessLogEntry log;
        log.userId = "alice";
        log.date = "2026/12/07 10:00";
        log.kind = kLogLogin;
        log.remoteAddr = "127.0.0.1";
        log.userAgent = "Browser/1.0 (X11, Linux)";
        ASSERT_EQ(0, AppendAccessLog(data, log));
        BuildUserListById(data);
        BuildUserListByLevel(data);
        BuildUserListByGroup(data);
        UnreadSummary summary;  // the lounge's unread summary, as a menu view leaves it
        ASSERT_EQ(0, UnreadSummaryOf(data, 3, summary));
    }

    CheckResult Check(bool repair = false) const {
        CheckOptions o;
        o.dataDir = data;
        o.attachDir = files;
        o.repair = repair;
        CheckResult r;
        EXPECT_EQ(0, CheckInstallation(o, r, nullptr));
        return r;
    }
};

// Every regular file below dir (relative name -> bytes), the lock file left out.
inline std::map<std::string, std::string> TreeBytes(const std::string& dir) {
    std::map<std::string, std::string> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
        if (!e.is_regular_file()) continue;
        const std::string rel = e.path().string().substr(dir.size());
        if (rel != "board.lock") out[rel] = ReadFileBytes(e.path().string());
    }
    return out;
}

// What must never be lost: every message of every board (index record, body) and every
// attachment file, by name.
inline std::map<std::string, std::string> Messages(const Board& b) {
    std::map<std::string, std::string> out;
    for (int folder : {2, 3}) {
        for (const MessageIndexEntry& e : ReadMessageIndex(b.data, folder)) {
            std::string body = "(no body)";
            ReadWholeFile(MessageBodyPath(b.data, folder, e.messageNo), body);
            out[std::to_string(folder) + "/" + std::to_string(e.messageNo)] =
                e.WRITE_TITLE + "|" + body;
        }
    }
    for (const auto& [name, bytes] : TreeBytes(b.files)) out["files/" + name] = bytes;
    return out;
}
