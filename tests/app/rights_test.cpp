// Folder rights from the user level, the folder's user entries, its level thresholds and its
// group entries.
#include "app/rights.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "store/acl.h"
#include "store/folders.h"
#include "store/groups.h"
#include "store/recordfile.h"

namespace {

class RightsTest : public ::testing::Test {
protected:
    std::string dir;
    StringOutput sink;
    ::Run run{sink};  // "Run" alone names the test's own Run()

    void SetUp() override {
        char tmpl[] = "/tmp/rights_testXXXXXX";
        dir = std::string(mkdtemp(tmpl)) + "/";
        run.settings.DATA_FILE_PATH = dir;
        run.login.user.USER_ID = "taro";
        run.login.user.USER_LEVEL = 10;
        run.login.user.MODE = 1;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    void Thresholds(int folder, int readLevel, int writeLevel) {
        FolderSettings s;
        s.folderNo = folder;
        s.readLevel = readLevel;
        s.writeLevel = writeLevel;
        ASSERT_EQ(0, SaveFolderSettings(dir, s));
    }
    // Appends an entry even when one for the same folder and user exists.
    void UserEntry(int folder, const std::string& id, int level) {
        UserAclEntry e{folder, id, level};
        ASSERT_EQ(0, AppendToFile(dir, dir + "b_u_acl.mst", PackUserAclEntry(e), true));
    }
    void GroupEntry(int folder, int group, int level) {
        SaveGroupAcl(dir, GroupAclEntry{folder, group, level});
    }
    void Member(int group) { AddGroupMember(dir, GroupMember{group, "taro"}); }
    int Rights(int folder, int level) {
        ForgetCaches(run);
        run.login.user.USER_LEVEL = level;
        return FolderRights(run, folder);
    }
};

TEST_F(RightsTest, OperatorManagesEveryFolder) {
    EXPECT_EQ(3, Rights(999, 100));
    Thresholds(1, 200, 200);
    UserEntry(1, "taro", 0);
    EXPECT_EQ(3, Rights(1, 100));
    EXPECT_EQ(0, Rights(1, 99));
}

TEST_F(RightsTest, LevelThresholds) {
    Thresholds(1, 10, 50);
    EXPECT_EQ(1, Rights(1, 10));
    EXPECT_EQ(2, Rights(1, 50));
    EXPECT_EQ(0, Rights(1, 9));
    // No settings record and no entries: nothing.
    EXPECT_EQ(0, Rights(2, 99));
    // Levels compare as signed numbers.
    Thresholds(3, -5, 1000);
    EXPECT_EQ(1, Rights(3, -1));
}

TEST_F(RightsTest, UserEntries) {
    Thresholds(1, 10, 50);
    UserEntry(1, "taro", 1);
    EXPECT_EQ(2, Rights(1, 50));  // the entry gives 1, the write level 2
    UserEntry(2, "taro", 3);
    Thresholds(2, 1000, 1000);
    EXPECT_EQ(3, Rights(2, 1));
    // An entry of level 0 takes nothing away from the thresholds.
    UserEntry(3, "taro", 0);
    Thresholds(3, 10, 50);
    EXPECT_EQ(1, Rights(3, 10));
    // Ids compare exactly.
    UserEntry(4, "TARO", 2);
    EXPECT_EQ(0, Rights(4, 1));
}

TEST_F(RightsTest, LaterUserEntryOverridesDownwardsThenGroupsMayRaise) {
    UserEntry(1, "taro", 2);
    UserEntry(1, "taro", 1);
    EXPECT_EQ(1, Rights(1, 1));
    Member(5);
    GroupEntry(1, 5, 2);
    EXPECT_EQ(2, Rights(1, 1));
}

TEST_F(RightsTest, GroupEntries) {
    run.login.user.P_GROUP = 4;
    Member(7);
    GroupEntry(1, 4, 1);
    GroupEntry(1, 7, 2);
    EXPECT_EQ(2, Rights(1, 1));

    // A group level of 3 counts unless an earlier group entry already gave 2.
    GroupEntry(2, 7, 3);
    EXPECT_EQ(3, Rights(2, 1));
    GroupEntry(3, 4, 2);
    GroupEntry(3, 7, 3);
    EXPECT_EQ(2, Rights(3, 1));
    GroupEntry(4, 4, 1);
    GroupEntry(4, 7, 3);
    EXPECT_EQ(3, Rights(4, 1));
    // Otherwise the highest group level wins.
    GroupEntry(5, 7, 1);
    GroupEntry(5, 9, 3);
    EXPECT_EQ(1, Rights(5, 1));
}

TEST_F(RightsTest, NoPrimaryGroupMatchesNoEntry) {
    run.login.user.P_GROUP = 0;
    GroupEntry(1, 0, 2);
    EXPECT_EQ(0, Rights(1, 1));
}

TEST_F(RightsTest, DamagedLevelsStayOnTheScale) {
    UserEntry(1, "taro", 7);
    EXPECT_EQ(3, Rights(1, 1));
    UserEntry(2, "taro", -4);
    EXPECT_EQ(0, Rights(2, 1));
}

TEST_F(RightsTest, ResultsAreReadOncePerRunUntilForgotten) {
    Thresholds(1, 10, 50);
    run.login.user.USER_LEVEL = 10;
    EXPECT_EQ(1, FolderRights(run, 1));
    UserEntry(1, "taro", 3);
    EXPECT_EQ(1, FolderRights(run, 1));
    ForgetCaches(run);
    EXPECT_EQ(3, FolderRights(run, 1));
}

}  // namespace
