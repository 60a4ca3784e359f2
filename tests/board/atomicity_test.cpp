// Every writing job changes the data all or nothing: each file operation of a job is made to
// fail in turn (a full disk, a failing device), and afterwards, once a later run has finished
// what was decided, the files are wholly as before (and the job said it failed) or wholly as
// after (and the job said it succeeded). Without the data directory's lock nothing changes.
#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>

#include "admin/accesslog.h"
#include "admin/folderconfig.h"
#include "admin/groups.h"
#include "admin/users.h"
#include "board/applications.h"
#include "board/delete.h"
#include "board/post.h"
#include "cgi/fileops.h"
#include "store/acl.h"
#include "store/applications.h"
#include "store/attachments.h"
#include "store/bodies.h"
#include "store/folders.h"
#include "store/groups.h"
#include "store/sessions.h"
#include "store/readmarks.h"
#include "store/journal.h"
#include "store/messages.h"
#include "store/recordfile.h"
#include "store/unreadsum.h"
#include "tests/testutil.h"

namespace {

namespace fs = std::filesystem;
using Snapshot = std::map<std::string, std::string>;

class AtomicityTest : public ::testing::Test {
public:
    // A fresh installation: board 1 (three attachment slots, editing allowed), directories 2
    // and 3 of the tree, the writer alice.
    void Fresh() {
        // In memory where there is such a file system: the test syncs thousands of times.
        dir = std::make_unique<TempDir>(fs::is_directory("/dev/shm") ? "../dev/shm/atomicity_test"
                                                                      : "atomicity_test");
        root = dir->path;
        data = root + "data/";
        add = root + "add/";
        work = root + "work";
        for (const std::string& d : {data, add, work, data + "1"}) ASSERT_EQ(mkdir(d.c_str(), 0700), 0);
        std::ofstream(data + "b_title.mst", std::ios::binary)
            << FormatFolderLine({1, kFolderBoard, "Talk", 0}) << FormatFolderLine({2, kFolderDir, "Dir", 0})
            << FormatFolderLine({3, kFolderDir, "Other", 0});
        FolderSettings s;
        s.folderNo = 1;
        s.ADD_MAX = 3;
        s.writeLevel = 2;
        s.REWRITE_FLG = 2;
        ASSERT_EQ(SaveFolderSettings(data, s), 0);
        alice.USER_ID = "alice";
        alice.USER_LEVEL = 2;
        alice.MODE = 1;
    }
    ::Run& Start(const std::string& fjob, int selNo, const std::string& title) {
        out = std::make_unique<StringOutput>();
        run = std::make_unique<::Run>(*out);
        run->settings.DATA_FILE_PATH = data;
        run->settings.ADD_FILE_PATH = add;
        run->settings.MAX_CONTENTS = 1000;
        run->settings.LOG_DATE = "0";
        run->workDir = work;
        run->now = 1700000000;
        run->login.user = alice;
        for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
                 {"FJOB", fjob}, {"FOLDER_NO", "1"}, {"SEL_NO", std::to_string(selNo)},
                 {"WRITE_TITLE", title}, {"WRITE_DATA", title + " text"}})
            run->fields.push_back({name, value, true});
        return *run;
    }
    // Users alice and bob in groups 5 and 6 (5 the primary group of both), with sessions, user
    // access entries and a built user list; group access entries of both groups; waiting ID
    // applications of dave, erin and bob (whose id is taken).
    void People() {
        for (const char* id : {"alice", "bob", "carol"}) {
            UserRecord u = alice;
            u.USER_ID = id;
            u.P_GROUP = id[0] == 'c' ? 6 : 5;
            ASSERT_EQ(AppendUser(data, u), 0);
            ASSERT_EQ(SaveSession(data, SessionRecord{id[0], id, "", ""}), 0);
            ASSERT_EQ(AddGroupMember(data, GroupMember{5, id}), 0);
            ASSERT_EQ(SaveUserAcl(data, UserAclEntry{1, id, 2}), -1);
        }
        ASSERT_EQ(AddGroupMember(data, GroupMember{6, "alice"}), 0);
        for (int g : {5, 6}) {
            ASSERT_EQ(SaveGroup(data, GroupRecord{g, "G" + std::to_string(g)}), 0);
            ASSERT_EQ(SaveGroupAcl(data, GroupAclEntry{1, g, 1}), -1);
        }
        BuildUserListById(data);
        for (const char* id : {"dave", "erin", "bob"}) {
            IdApplication a;
            a.USER_ID = id;
            a.USER_PASS = "pw";
            ASSERT_EQ(AddApplication(data, a), 0);
        }
    }
    // A run of the system operator with the given fields.
    ::Run& Operator(const std::vector<std::pair<std::string, std::string>>& fields) {
        Start("", 0, "");
        run->fields.clear();
        run->login.user.USER_LEVEL = 100;
        for (const auto& [name, value] : fields) run->fields.push_back({name, value, true});
        return *run;
    }
    void Upload(int slot, const std::string& name) {
        const std::string temp = "CGI" + std::to_string(slot);
        std::ofstream(work + "/" + temp, std::ios::binary) << name << " bytes";
        run->fields.push_back({"FILE" + std::to_string(slot), name + "," + temp, true, true});
    }
    int Post(const std::string& title, int parent = 0) {
        Start("BORDWRITE", parent, title);
        Upload(1, "one.txt");
        Upload(2, "two.txt");
        return SaveMessage(*run);
    }
    // Every non-empty file of the data and attachment directories (an empty record file reads
    // as a missing one); the lock file and temporaries aside.
    Snapshot Take() const {
        Snapshot s;
        for (const std::string& top : {data, add})
            for (const auto& e : fs::recursive_directory_iterator(top)) {
                const std::string p = e.path().string();
                if (!e.is_regular_file() || e.file_size() == 0 || p.ends_with("board.lock") ||
                    p.ends_with(".TMP") || p.ends_with(".NEW"))
                    continue;
                s[p.substr(root.size())] = ReadFileBytes(p);
            }
        return s;
    }

    std::unique_ptr<TempDir> dir;
    std::string root, data, add, work;
    UserRecord alice;
    std::unique_ptr<StringOutput> out;
    std::unique_ptr<::Run> run;
};

struct Job {
    const char* name;
    std::function<void(AtomicityTest&)> setup;
    std::function<int(AtomicityTest&)> change;  // 0 when it reports success
};

TEST_F(AtomicityTest, EveryFailingFileOperationLeavesTheDataWhollyBeforeOrAfter) {
    const Job jobs[] = {
        {"new post with attachments", [](AtomicityTest&) {},
         [](AtomicityTest& t) { return t.Post("First"); }},
        {"reply", [](AtomicityTest& t) { ASSERT_EQ(t.Post("First"), 0); },
         [](AtomicityTest& t) { return t.Post("Answer", 1); }},
        {"edit with attachments",
         [](AtomicityTest& t) {
             ASSERT_EQ(t.Post("First"), 0);
             ASSERT_EQ(t.Post("Second", 1), 0);
         },
         [](AtomicityTest& t) {
             t.Start("EDITMSG", 1, "Edited");
             t.run->fields.push_back({"ADD_FILE1", "ON", true});
             t.run->fields.push_back({"FILE2", "", true, true});  // dropped
             t.Upload(3, "three.txt");                           // added
             return SaveMessage(*t.run);
         }},
        {"edit replacing an attachment under its own name",
         [](AtomicityTest& t) { ASSERT_EQ(t.Post("First"), 0); },
         [](AtomicityTest& t) {
             t.Start("EDITMSG", 1, "Edited");
             t.run->fields.push_back({"ADD_FILE2", "ON", true});
             t.Upload(1, "one.txt");
             std::ofstream(t.work + "/CGI1", std::ios::binary) << "new content";
             return SaveMessage(*t.run);
         }},
        {"delete", [](AtomicityTest& t) { ASSERT_EQ(t.Post("First"), 0); },
         [](AtomicityTest& t) {
             t.Start("", 1, "");
             return DeleteMessage(*t.run);
         }},
        {"folder move", [](AtomicityTest&) {},
         [](AtomicityTest& t) { return MoveFolderSubtree(t.data, 1, 2, kPlaceInside); }},
        {"folder name and settings", [](AtomicityTest&) {},
         [](AtomicityTest& t) {
             FolderRecord r{2, kFolderDir, "Renamed", 0};
             FolderSettings s;
             s.folderNo = 2;
             s.INFO = "about";
             return SaveFolderLineAndSettings(t.data, &r, s);
         }},
        {"user deletion", [](AtomicityTest& t) { t.People(); },
         [](AtomicityTest& t) {
             return DeleteLoggedUsers(t.Operator({{"USER_ID", "alice"}, {"USER_ID", "bob"}}));
         }},
        {"group deletion", [](AtomicityTest& t) { t.People(); },
         [](AtomicityTest& t) { return DeleteGroupJob(t.Operator({{"T02_GROUP_ID", "5"}})); }},
        {"ID approval", [](AtomicityTest& t) { t.People(); },
         [](AtomicityTest& t) {
             return DecideApplications(t.Operator({{"OK_NG", "1"}, {"MES", "1"},
                                                   {"USER_ID", "dave"}, {"USER_ID", "erin"},
                                                   {"USER_ID", "bob"}}));
         }},
        {"memberships of a user", [](AtomicityTest& t) { t.People(); },
         [](AtomicityTest& t) {
             const int code = SaveUser(t.Operator({{"JOB", "USERWR"}, {"USER_ID", "carol"},
                                                   {"USER_NAME", "C"}, {"GROUP_IN", "Add"},
                                                   {"GROUPLIST", "6"}, {"GROUPLIST", "7"}}));
             return code == 4 ? 0 : code;
         }},
        {"access list of a folder", [](AtomicityTest& t) { t.People(); },
         [](AtomicityTest& t) {
             return SaveFolderAccess(t.Operator({{"FOLDER_NO", "1"}, {"USER_ADD", "Add"},
                                                 {"USERMODE", "3"}, {"USERLIST", "alice"},
                                                 {"USERLIST", "dave"}}));
         }},
    };
    long failed = 0, states = 0, mixed = 0;
    for (const Job& job : jobs) {
        Fresh();
        job.setup(*this);
        const Snapshot before = Take();
        SetFileFault(0, 0);
        ASSERT_EQ(job.change(*this), 0) << job.name;
        const long calls = FileCallCount();
        const Snapshot after = Take();
        ASSERT_NE(before, after) << job.name;
        std::printf("  %s: %ld file operations\n", job.name, calls);
        for (long n = 1; n <= calls; ++n) {
            Fresh();
            job.setup(*this);
            SetFileFault(n, n % 2 ? ENOSPC : EIO);
            const int code = job.change(*this);
            SetFileFault(0, 0);
            CompletePendingChange(data);  // what the next run does first
            const Snapshot now = Take();
            ++failed;
            ++states;
            // An attachment file the change released is removed after it is made; when that
            // removal fails the file stays behind, named by no entry (one replaced under its
            // own name as it was moved aside).
            Snapshot leftover = after;
            for (const auto& [k, v] : before)
                if (k.starts_with("add/") && !after.count(k)) leftover[k] = v;
                else if (k.starts_with("add/") && after.at(k) != v) leftover[k + ".OLD"] = v;
            const bool whole = (now == before && code != 0) ||
                               (code == 0 && (now == after || now == leftover));
            if (!whole) ++mixed;
            if (!whole)
                for (const auto& [k, v] : now)
                    if (!after.count(k) || after.at(k) != v) std::printf("  %s differs\n", k.c_str());
            if (!whole)
                for (const auto& [k, v] : after)
                    if (!now.count(k)) std::printf("  %s missing\n", k.c_str());
            EXPECT_TRUE(whole) << job.name << ": call " << n << " of " << calls << " failing, code "
                               << code << (now == before ? " (before)" : now == after ? " (after)" : " (mixed)");
        }
    }
    RecordProperty("calls_failed", static_cast<int>(failed));
    std::printf("%ld calls failed, %ld states checked, %ld mixed\n", failed, states, mixed);
}

TEST_F(AtomicityTest, WithoutTheLockNothingIsStored) {
    Fresh();
    ASSERT_EQ(Post("First"), 0);
    const Snapshot before = Take();
    // The lock file cannot be opened: a directory stands in its place.
    ASSERT_EQ(unlink((data + "board.lock").c_str()), 0);
    ASSERT_EQ(mkdir((data + "board.lock").c_str(), 0700), 0);
    EXPECT_EQ(Post("Second"), kPostNotStored);
    Start("", 1, "");
    EXPECT_EQ(DeleteMessage(*run), kDeleteNotStored);
    EXPECT_EQ(Take(), before);
}

// An upload the decoder could not keep whole is never stored short behind a success.
TEST_F(AtomicityTest, AnUploadCutShortIsNotStored) {
    Fresh();
    const Snapshot before = Take();
    Start("BORDWRITE", 0, "First");
    Upload(1, "one.txt");
    run->fields.back().isCut = true;
    EXPECT_EQ(SaveMessage(*run), kPostNotStored);
    EXPECT_EQ(Take(), before);
}

// A message stored whose access log line cannot follow stays stored, and the operator is told.
TEST_F(AtomicityTest, AWriteThatCannotBeLoggedIsStoredAndReported) {
    Fresh();
    ASSERT_EQ(mkdir((data + "system.log").c_str(), 0700), 0);
    Start("BORDWRITE", 0, "First");
    run->settings.LOG_DATE = "30";
    testing::internal::CaptureStderr();
    EXPECT_EQ(SaveMessage(*run), kPostStored);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "system.log: a message of alice to folder 1 could not be recorded ("),
              std::string::npos);
    EXPECT_EQ(ReadMessageIndex(data, 1).size(), 1u);
}

// For the killed runs: users u0..u9, each with a session, a membership of group 1 and a user
// access entry, primary group 11 to 14; groups 11 to 14, each with a group access entry and
// alice as member; waiting ID applications of a0..a9.
void Crowd(AtomicityTest& t) {
    for (int g = 11; g <= 14; ++g) {
        ASSERT_EQ(SaveGroup(t.data, GroupRecord{g, "G"}), 0);
        ASSERT_EQ(SaveGroupAcl(t.data, GroupAclEntry{1, g, 1}), -1);
        ASSERT_EQ(AddGroupMember(t.data, GroupMember{g, "alice"}), 0);
    }
    for (int i = 0; i < 10; ++i) {
        const std::string id = "u" + std::to_string(i);
        UserRecord u = t.alice;
        u.USER_ID = id;
        u.P_GROUP = 11 + i % 4;
        ASSERT_EQ(AppendUser(t.data, u), 0);
        ASSERT_EQ(SaveSession(t.data, SessionRecord{100 + i, id, "", ""}), 0);
        ASSERT_EQ(AddGroupMember(t.data, GroupMember{1, id}), 0);
        ASSERT_EQ(SaveUserAcl(t.data, UserAclEntry{1, id, 2}), -1);
        IdApplication a;
        a.USER_ID = "a" + std::to_string(i);
        ASSERT_EQ(AddApplication(t.data, a), 0);
    }
}

long ApplicationIndex(std::string_view bytes, const std::string& id) {
    for (size_t k = 0; k + kIdApplicationSize <= bytes.size(); k += kIdApplicationSize)
        if (UnpackIdApplication(bytes.substr(k, kIdApplicationSize)).USER_ID == id)
            return static_cast<long>(k / kIdApplicationSize);
    return -1;
}

// A user deletion, group deletion or ID decision of the jobs; or, where there is nothing to
// delete or decide, what was deleted or decided put back as one change.
void ChangePeople(AtomicityTest& t, std::mt19937& rnd, int pick) {
    const int i = static_cast<int>(rnd() % 10), g = 11 + static_cast<int>(rnd() % 4);
    const std::string u = "u" + std::to_string(i), a = "a" + std::to_string(i);
    std::string key = pick == 10 ? u : a;
    UserRecord found;
    GroupRecord group;
    const bool exists =
        pick == 11 ? FindGroup(t.data, g, group) == 0 : FindUser(t.data, key, found) == 0;
    if (pick == 10 && exists) DeleteLoggedUsers(t.Operator({{"USER_ID", u}}));
    if (pick == 11 && exists) DeleteGroupJob(t.Operator({{"T02_GROUP_ID", std::to_string(g)}}));
    if (pick == 12 && !exists)
        DecideApplications(t.Operator({{"OK_NG", "1"}, {"MES", "1"}, {"USER_ID", a}}));
    if (exists == (pick != 12)) return;
    DataLock lock(t.data);
    FileChangeSet c(t.data);
    if (pick == 10) {
        UserRecord r = t.alice;
        r.USER_ID = u;
        r.P_GROUP = FindGroup(t.data, g, group) == 0 ? g : 0;
        AppendUserIn(*c.Edit(kUserFileName), r);
        *c.Edit(kSessionFileName) += PackSessionRecord(SessionRecord{100 + i, u, "", ""});
        *c.Edit(kMemberFileName) += "1," + u + ",\r\n";
        *c.Edit(kUserAclFileName) += PackUserAclEntry(UserAclEntry{1, u, 2});
    } else if (pick == 11) {
        *c.Edit(kGroupFileName) += std::to_string(g) + ",G,\r\n";
        *c.Edit(kGroupAclFileName) += PackGroupAclEntry(GroupAclEntry{1, g, 1});
        *c.Edit(kMemberFileName) += std::to_string(g) + ",alice,\r\n";
    } else {
        DropUserIn(*c.Edit(kUserFileName), a);
        std::string& apps = *c.Edit(kApplicationFileName);
        IdApplication waiting;
        waiting.USER_ID = a;
        PutApplicationAt(apps, static_cast<size_t>(ApplicationIndex(apps, a)), waiting);
    }
    c.Commit();
}

// What must hold of the users, groups and applications between runs; "" when all holds.
std::string CheckPeople(const AtomicityTest& t) {
    const std::vector<UserRecord> users = ReadAllUsers(t.data);
    const std::vector<GroupMember> members = ReadGroupMembers(t.data);
    const auto user = [&](const std::string& id) {
        for (const UserRecord& u : users)
            if (u.USER_ID == id) return true;
        return false;
    };
    const auto member = [&](int g, const std::string& id) {
        for (const GroupMember& m : members)
            if (m.groupId == g && m.USER_ID == id) return true;
        return false;
    };
    for (int i = 0; i < 10; ++i) {
        const std::string u = "u" + std::to_string(i), a = "a" + std::to_string(i);
        bool acl = false;
        for (const UserAclEntry& e : ReadUserAcls(t.data)) acl |= e.USER_ID == u;
        const bool session = FindSessionKeyOfUser(t.data, u) >= 0;
        if (user(u) != session || user(u) != member(1, u) || user(u) != acl)
            return "user " + u + " half deleted";
        IdApplication app;
        if (FindApplication(t.data, a, 0, app) != 0) return "application " + a + " lost";
        if ((app.status == kAppApproved) != user(a)) return "application " + a + " half decided";
    }
    for (int g = 11; g <= 14; ++g) {
        GroupRecord r;
        const bool line = FindGroup(t.data, g, r) == 0;
        bool acl = false;
        for (const GroupAclEntry& e : ReadGroupAcls(t.data)) acl |= e.groupId == g;
        bool primary = false;
        for (const UserRecord& u : users) primary |= u.P_GROUP == g;
        if (line != acl || line != member(g, "alice") || (!line && primary))
            return "group " + std::to_string(g) + " half deleted";
    }
    return "";
}

// Runs posts, edits with attachments, deletions, folder moves, user and group deletions and ID
// decisions without end (in a child).
[[noreturn]] void WriteForever(AtomicityTest& t, unsigned seed) {
    std::mt19937 rnd(seed);
    for (int k = 0;; ++k) {
        const std::vector<MessageIndexEntry> index = ReadMessageIndex(t.data, 1);
        const int pick = static_cast<int>(rnd() % 13);
        if (pick >= 10) {
            ChangePeople(t, rnd, pick);
            continue;
        }
        const int some = index.empty() ? 0 : index[rnd() % index.size()].messageNo;
        const std::string title = "T" + std::to_string(seed) + "." + std::to_string(k);
        if (pick < 4 || some == 0) {
            t.Post(title, pick == 0 ? some : 0);
        } else if (pick < 7) {
            t.Start("EDITMSG", some, title);
            if (rnd() % 2) t.run->fields.push_back({"ADD_FILE1", "ON", true});
            else t.Upload(1, "e" + std::to_string(k) + ".txt");
            t.Upload(3, "three.txt");
            SaveMessage(*t.run);
        } else if (pick < 9) {
            t.Start("", some, "");
            DeleteMessage(*t.run);
        } else {
            MoveFolderSubtree(t.data, 1 + static_cast<int>(rnd() % 3), 1 + static_cast<int>(rnd() % 3),
                              kPlaceInside);
        }
    }
}

// What must hold whenever no run is under way: every record file whole, every message with its
// own body (title and body are written as one), its writer's read mark, and as many attachment
// records as its count says, each naming a file that is there; an unread summary that is
// trusted agrees with a fresh count (it is then stored, for the next runs to follow). "" when
// all holds.
std::string Check(const AtomicityTest& t) {
    CompletePendingChange(t.data);
    if (fs::exists(t.data + "board.journal")) return "journal left";
    if (ReadFolderTree(t.data).size() != 3) return "folder lost";
    if (ReadFileBytes(MessageIndexPath(t.data, 1)).size() % kMessageIndexEntrySize) return "index cut";
    if (ReadFileBytes(AttachmentListPath(t.data, 1)).size() % kAttachmentEntrySize)
        return "attachment list cut";
    const std::vector<AttachmentEntry> attached = ReadAttachments(t.data, 1);
    for (const MessageIndexEntry& e : ReadMessageIndex(t.data, 1)) {
        const std::string m = std::to_string(e.messageNo);
        std::string body;
        ReadMessageBody(t.data, 1, e.messageNo, body);
        if (body != e.WRITE_TITLE + " text") return "body of " + m + " is not its own";
        ReadMark mark;
        if (FindReadMark(t.data, 1, e.messageNo, "alice", mark) != 0) return "no mark on " + m;
        int count = 0;
        for (const AttachmentEntry& a : attached) {
            if (a.messageNo != e.messageNo) continue;
            ++count;
            if (!fs::exists(t.add + "1/X" + m + "/" + std::to_string(a.slot) + "/" + a.fileName))
                return "attachment file of " + m + " missing";
        }
        if (count != e.attachCount) return "attachment count of " + m;
    }
    UnreadSummary kept, counted;
    if (CountUnreadSummary(t.data, 1, counted, false) != 0) return "marks unreadable";
    if (LoadUnreadSummary(t.data, 1, kept) == 0) {
        std::erase_if(kept.marks, [](const auto& p) { return p.second == 0; });
        if (kept.records != counted.records || kept.marks != counted.marks)
            return "unread summary trusted but wrong";
    }
    UnreadSummaryOf(t.data, 1, kept);
    return CheckPeople(t);
}

TEST_F(AtomicityTest, ThousandsOfKilledRunsLeaveNoChangeHalfDone) {
    constexpr int kKills = 1200;
    Fresh();
    Crowd(*this);
    const auto start = std::chrono::steady_clock::now();
    std::mt19937 rnd(12345);
    int kills = 0, bad = 0;
    for (int i = 0; i < kKills; ++i) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) WriteForever(*this, static_cast<unsigned>(i));
        usleep(200 + rnd() % 3000);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        if (WIFSIGNALED(status)) ++kills;
        const std::string problem = Check(*this);
        if (!problem.empty()) ++bad;
        EXPECT_EQ(problem, "") << "after kill " << i;
        if (!problem.empty()) break;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(kills, 1000);
    RecordProperty("kills", kills);
    std::printf("%d kills in %.1f s, %zu messages at the end, %d half-done changes\n", kills, seconds,
                ReadMessageIndex(data, 1).size(), bad);
}

}  // namespace
