// Several record files replaced as one change: a journal left behind is finished or dropped,
// and runs killed at random moments of subtree changes never leave the tree files apart.
#include "store/journal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <random>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "store/acl.h"
#include "store/folders.h"
#include "store/recordfile.h"
#include "store/users.h"
#include "tests/testutil.h"

namespace {

TEST(JournalTest, RefusesNamesOutsideTheDataDirectoryAndTwiceTheSameFile) {
    TempDir dir;
    for (const char* bad : {"", "/etc/passwd", "../x", "a/../b", "a//b", "x\ny", "./x"}) {
        EXPECT_EQ(-1, ReplaceFilesTogether(dir.path, {{"ok", "1"}, {bad, "2"}})) << bad;
        EXPECT_FALSE(FileExists(dir.File("ok")));
    }
    EXPECT_EQ(-1, ReplaceFilesTogether(dir.path, {{"ok", "1"}, {"ok", "2"}}));
    // A folder directory that does not exist cannot take a file: nothing of the change is made.
    EXPECT_EQ(-1, ReplaceFilesTogether(dir.path, {{"ok", "1"}, {"sub/x", "2"}}));
    EXPECT_FALSE(FileExists(dir.File("ok")));
    EXPECT_FALSE(FileExists(dir.File("ok.NEW")));
}

TEST(JournalTest, ALeftJournalIsFinishedWhenCompleteAndDroppedWhenNot) {
    TempDir dir;
    // A real journal stays behind when a rename fails: here a directory stands where "b" goes.
    WriteFileBytes(dir.File("a"), "old a");
    ASSERT_EQ(0, mkdir(dir.File("b").c_str(), 0700));
    WriteFileBytes(dir.File("b/inside"), "");
    ASSERT_EQ(0, ReplaceFilesTogether(dir.path, {{"a", "new a"}, {"b", "new b"}}));
    EXPECT_EQ(ReadFileBytes(dir.File("a")), "new a");
    const std::string journal = ReadFileBytes(dir.File("board.journal"));
    ASSERT_FALSE(journal.empty());
    std::filesystem::remove_all(dir.File("b"));

    std::string flipped = journal;
    flipped[flipped.size() - 2] ^= 1;  // a digit of the checksum
    const struct {
        std::string journal;
        bool complete;
    } cases[] = {{journal, true},
                 {journal.substr(0, journal.rfind('\n', journal.size() - 2) + 1), false},
                 {journal.substr(0, journal.size() - 1), false},
                 {flipped, false}};
    for (const auto& c : cases) {
        // The moment a run was killed: old files, every temporary written, the journal as given.
        WriteFileBytes(dir.File("a"), "old a");
        WriteFileBytes(dir.File("b"), "old b");
        WriteFileBytes(dir.File("a.NEW"), "new a");
        WriteFileBytes(dir.File("b.NEW"), "new b");
        WriteFileBytes(dir.File("board.journal"), c.journal);
        { DataLock lock(dir.path); }
        const std::string prefix = c.complete ? "new " : "old ";
        EXPECT_EQ(ReadFileBytes(dir.File("a")), prefix + "a") << c.journal;
        EXPECT_EQ(ReadFileBytes(dir.File("b")), prefix + "b") << c.journal;
        EXPECT_FALSE(FileExists(dir.File("board.journal")));
        EXPECT_FALSE(FileExists(dir.File("a.NEW")) || FileExists(dir.File("b.NEW")));
    }
}

// Runs random creations, moves and deletions of subtrees until killed.
[[noreturn]] void ChangeTreesForever(const std::string& data, unsigned seed) {
    std::mt19937 rnd(seed);
    for (;;) {
        const int n = static_cast<int>(ReadFolderTree(data).size());
        const int op = n < 6 ? 0 : static_cast<int>(rnd() % 3);
        if (op == 0) {
            FolderRecord f;
            f.name = "F" + std::to_string(rnd() % 1000);
            f.kind = 1 + static_cast<int>(rnd() % 3);
            if (CreateFolder(data, f, static_cast<int>(rnd() % (n + 1)), 1 + static_cast<int>(rnd() % 2)) == 0) {
                SaveGroupAcl(data, GroupAclEntry{f.folderNo, 1, 1});
                SaveUserAcl(data, UserAclEntry{f.folderNo, "u", 2});
            }
        } else if (op == 1) {
            MoveFolderSubtree(data, 1 + static_cast<int>(rnd() % n), static_cast<int>(rnd() % (n + 1)),
                              1 + static_cast<int>(rnd() % 2));
        } else {
            std::vector<int32_t> removed;
            DeleteFolderSubtree(data, 1 + static_cast<int>(rnd() % n), removed);
        }
    }
}

// What must hold whenever no change is under way: both files there and whole, one settings
// record per folder of the tree and none more, no access entry of a folder that is gone.
void ExpectTreeFilesInStep(const std::string& data) {
    std::string tree, settings;
    ASSERT_TRUE(ReadWholeFile(data + "b_title.mst", tree)) << "tree missing";
    ASSERT_TRUE(ReadWholeFile(data + "b_title2.mst", settings)) << "settings missing";
    ASSERT_EQ(settings.size() % kFolderSettingsSize, 0u) << "settings cut";
    ASSERT_TRUE(tree.empty() || tree.ends_with("\r\n")) << "tree cut";
    std::multiset<int32_t> inTree, inSettings;
    for (std::string_view line : SplitTextLines(tree)) {
        FolderRecord f;
        ASSERT_TRUE(ParseFolderLine(line, f)) << line;
        inTree.insert(f.folderNo);
    }
    for (const FolderSettings& s : ReadAllFolderSettings(data)) inSettings.insert(s.folderNo);
    ASSERT_EQ(inTree, inSettings);
    for (const GroupAclEntry& e : ReadGroupAcls(data)) ASSERT_TRUE(inTree.count(e.folderNo));
    for (const UserAclEntry& e : ReadUserAcls(data)) ASSERT_TRUE(inTree.count(e.folderNo));
}

TEST(JournalTest, KilledSubtreeChangesNeverLeaveTheTreeFilesApart) {
    TempDir dir;
    const std::string data = dir.path;
    for (int i = 0; i < 8; ++i) {
        FolderRecord f;
        f.name = "Start";
        f.kind = kFolderDir;
        ASSERT_EQ(0, CreateFolder(data, f, i, kPlaceInside));
    }
    std::mt19937 rnd(20240607);
    int kills = 0, journalsLeft = 0;
    const auto start = std::chrono::steady_clock::now();
    while (kills < 150) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) ChangeTreesForever(data, static_cast<unsigned>(rnd()));
        usleep(1000 + rnd() % 3000);  // mostly in the middle of a change
        ASSERT_EQ(0, kill(pid, SIGKILL));
        int status = 0;
        ASSERT_EQ(pid, waitpid(pid, &status, 0));
        ASSERT_TRUE(WIFSIGNALED(status)) << "the changing run ended by itself";
        ++kills;
        if (FileExists(data + std::string(kJournalName))) ++journalsLeft;
        { DataLock lock(data); }  // the next run finishes or drops what was left
        ASSERT_FALSE(FileExists(data + std::string(kJournalName)));
        ExpectTreeFilesInStep(data);
        if (HasFatalFailure()) return;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    RecordProperty("kills", kills);
    RecordProperty("journals_left", journalsLeft);
    std::printf("%d kills in %.1f s, %d left a journal behind\n", kills, seconds, journalsLeft);
}

// A change set writes only the files whose bytes it changed, and refuses a file it cannot read.
TEST(JournalTest, AChangeSetWritesWhatChangedOnly) {
    TempDir dir;
    WriteFileBytes(dir.File("a"), "old a");
    WriteFileBytes(dir.File("b"), "old b");
    ASSERT_EQ(0, mkdir(dir.File("d").c_str(), 0700));
    struct stat before, after;
    ASSERT_EQ(0, stat(dir.File("b").c_str(), &before));
    DataLock lock(dir.path);
    FileChangeSet change(dir.path);
    EXPECT_EQ(nullptr, change.Edit("d"));
    *change.Edit("a") += "+";
    *change.Edit("c") = "new c";
    ASSERT_NE(nullptr, change.Edit("b"));  // read, left as it was
    EXPECT_EQ("old a+", *change.Edit("a"));  // the same bytes again
    ASSERT_EQ(0, change.Commit());
    EXPECT_EQ("old a+", ReadFileBytes(dir.File("a")));
    EXPECT_EQ("new c", ReadFileBytes(dir.File("c")));
    ASSERT_EQ(0, stat(dir.File("b").c_str(), &after));
    EXPECT_EQ(before.st_ino, after.st_ino);  // not replaced
}

// Temporaries of killed runs go once they are an hour old, swept by a process that takes the
// data lock when the last sweep (the lock file's time) is an hour ago; fresh ones, files that
// are no temporaries, and the ".NEW" files of a journal still to be finished stay.
TEST(JournalTest, OldLeftoversOfKilledRunsAreSweptAndFreshOnesStay) {
    TempDir dir;
    ASSERT_EQ(0, mkdir(dir.File("1").c_str(), 0700));
    ASSERT_EQ(0, mkdir(dir.File("sub.TMP").c_str(), 0700));
    const time_t now = time(nullptr);
    const auto make = [&](const char* name, time_t age) {
        WriteFileBytes(dir.File(name), "x");
        const struct timespec times[2] = {{now - age, 0}, {now - age, 0}};
        ASSERT_EQ(0, utimensat(AT_FDCWD, dir.File(name).c_str(), times, 0));
    };
    const time_t old = kLeftoverAgeSeconds + 60, fresh = kLeftoverAgeSeconds - 60;
    for (const char* name : {"user.mst.TMP", "TEMP", "b_title.mst.NEW", "1/index.dat.TMP", "1/X3.DAT.NEW"})
        make(name, old);
    for (const char* name : {"skey.mst.TMP", "1/R2.DAT.TMP", "1/x.NEW"}) make(name, fresh);
    for (const char* name : {"group.mst", "1/index.dat", "1/TMP", "1/TEMP.DAT"}) make(name, old);
    make("board.lock", kSweepIntervalSeconds + 60);  // the last sweep is long past

    UserRecord u;
    u.USER_ID = "taro";
    ASSERT_EQ(0, AppendUser(dir.path, u));  // a writing job takes the lock
    for (const char* name : {"user.mst.TMP", "TEMP", "b_title.mst.NEW", "1/index.dat.TMP", "1/X3.DAT.NEW"})
        EXPECT_FALSE(FileExists(dir.File(name))) << name;
    for (const char* name : {"skey.mst.TMP", "1/R2.DAT.TMP", "1/x.NEW", "group.mst", "1/index.dat",
                             "1/TMP", "1/TEMP.DAT", "user.mst"})
        EXPECT_TRUE(FileExists(dir.File(name))) << name;
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("sub.TMP")));

    // The next sweep waits for its interval.
    make("user.mst.TMP", old);
    ASSERT_EQ(0, AppendUser(dir.path, u));
    EXPECT_TRUE(FileExists(dir.File("user.mst.TMP")));

    // While a journal waits to be finished its temporaries are its own.
    WriteFileBytes(dir.File(kJournalName), "pending");
    make("1/X3.DAT.NEW", old);
    EXPECT_EQ(1, SweepLeftovers(dir.path, now));  // user.mst.TMP
    EXPECT_TRUE(FileExists(dir.File("1/X3.DAT.NEW")));
}

}  // namespace
