#include "store/acl.h"
#include "store/recordfile.h"
#include "tests/testutil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace {

class AclStoreTest : public ::testing::Test {
protected:
    void Put(const std::string& name, const std::string& bytes) {
        WriteFileBytes(dir + name, bytes);
    }
    std::string Get(const std::string& name) { return ReadFileBytes(dir + name); }
    // Group entries (folder, group, level) as stored.
    void PutGroups(std::initializer_list<GroupAclEntry> entries) {
        std::string bytes;
        for (const auto& e : entries) bytes += PackGroupAclEntry(e);
        Put("b_g_acl.mst", bytes);
    }
    std::vector<std::pair<int, int>> GroupPairs() {
        std::vector<std::pair<int, int>> pairs;
        for (const auto& e : ReadGroupAcls(dir)) pairs.emplace_back(e.folderNo, e.groupId);
        return pairs;
    }

    TempDir tmp{"acl_test"};
    const std::string dir = tmp.path;
};

TEST(AclLayout, EntriesAtFixedOffsets) {
    const std::string g = PackGroupAclEntry(GroupAclEntry{3, 7, 2});
    EXPECT_EQ(g, std::string("\x03\0\0\0\x07\0\0\0\x02\0\0\0", 12));
    EXPECT_EQ(UnpackGroupAclEntry(std::string("\xFF\xFF\xFF\xFF\x01\x01\0\0\x03\0\0\0", 12)).groupId,
              257);

    std::string want(32, '\0');
    want[0] = 5;
    std::memcpy(&want[4], "Taro", 4);
    want[28] = 3;
    EXPECT_EQ(PackUserAclEntry(UserAclEntry{5, "Taro", 3}), want);
    const UserAclEntry u = UnpackUserAclEntry(want);
    EXPECT_EQ(u.folderNo, 5);
    EXPECT_EQ(u.USER_ID, "Taro");
    EXPECT_EQ(u.level, 3);

    // An id longer than the slot is cut to 23 bytes and never touches the level.
    const std::string longId = PackUserAclEntry(UserAclEntry{1, std::string(40, 'i'), 2});
    EXPECT_EQ(longId.substr(4, 24), std::string(23, 'i') + '\0');
    EXPECT_EQ(GetInt32(longId, 28), 2);
    std::string full = want;
    std::memset(&full[4], 'k', 24);
    EXPECT_EQ(UnpackUserAclEntry(full).USER_ID, std::string(23, 'k'));
}

TEST_F(AclStoreTest, FindGroupAclTakesTheNthEntryOfTheFolder) {
    GroupAclEntry e;
    EXPECT_EQ(FindGroupAcl(dir, 4, 0, e), -1);
    EXPECT_TRUE(std::filesystem::exists(dir + "b_g_acl.mst"));  // created empty

    PutGroups({{1, 1, 1}, {2, 1, 1}, {4, 10, 1}, {1, 2, 2}, {3, 3, 3}, {4, 20, 3}});
    ASSERT_EQ(FindGroupAcl(dir, 4, 0, e), 0);
    EXPECT_EQ(e.groupId, 10);
    ASSERT_EQ(FindGroupAcl(dir, 4, 1, e), 0);
    EXPECT_EQ(e.groupId, 20);
    EXPECT_EQ(e.level, 3);
    EXPECT_EQ(FindGroupAcl(dir, 4, 2, e), -1);
    EXPECT_EQ(FindGroupAcl(dir, 4, -1, e), -1);
}

TEST_F(AclStoreTest, SaveGroupAclReplacesInPlaceOrAppends) {
    PutGroups({{1, 1, 1}, {4, 10, 1}, {4, 20, 1}});
    EXPECT_EQ(SaveGroupAcl(dir, GroupAclEntry{4, 10, 3}), 0);
    GroupAclEntry e;
    ASSERT_EQ(FindGroupAcl(dir, 4, 0, e), 0);
    EXPECT_EQ(e.groupId, 10);
    EXPECT_EQ(e.level, 3);
    EXPECT_EQ(SaveGroupAcl(dir, GroupAclEntry{4, 30, 2}), -1);
    EXPECT_EQ(GroupPairs(), (std::vector<std::pair<int, int>>{{1, 1}, {4, 10}, {4, 20}, {4, 30}}));

    // An append after a partial record lands on the record boundary.
    Put("b_g_acl.mst", Get("b_g_acl.mst") + "xyz");
    EXPECT_EQ(SaveGroupAcl(dir, GroupAclEntry{5, 1, 1}), -1);
    EXPECT_EQ(FileSize(dir + "b_g_acl.mst"), 5 * 12);
    ASSERT_EQ(FindGroupAcl(dir, 5, 0, e), 0);
}

TEST_F(AclStoreTest, DeleteGroupAclWithFolderZeroMeansEveryFolder) {
    PutGroups({{1, 7, 1}, {3, 7, 2}, {3, 8, 2}, {5, 7, 3}});
    EXPECT_EQ(DeleteGroupAcl(dir, 3, 7), 0);
    EXPECT_EQ(GroupPairs(), (std::vector<std::pair<int, int>>{{1, 7}, {3, 8}, {5, 7}}));
    EXPECT_EQ(DeleteGroupAcl(dir, 0, 7), 0);
    EXPECT_EQ(GroupPairs(), (std::vector<std::pair<int, int>>{{3, 8}}));
    EXPECT_EQ(DeleteGroupAcl(dir, 0, 7), -1);
    EXPECT_FALSE(std::filesystem::exists(dir + "b_g_acl.mst.TMP"));

    // A rewrite drops a partial record at the end even when nothing matched.
    Put("b_g_acl.mst", Get("b_g_acl.mst") + "xy");
    EXPECT_EQ(DeleteGroupAcl(dir, 0, 99), -1);
    EXPECT_EQ(FileSize(dir + "b_g_acl.mst"), 12);
}

TEST_F(AclStoreTest, UserAclsCompareIdsExactly) {
    EXPECT_EQ(SaveUserAcl(dir, UserAclEntry{3, "Taro", 1}), -1);
    EXPECT_EQ(SaveUserAcl(dir, UserAclEntry{0, "Taro", 1}), -1);
    EXPECT_EQ(SaveUserAcl(dir, UserAclEntry{3, "Hana", 2}), -1);
    EXPECT_EQ(SaveUserAcl(dir, UserAclEntry{3, "TARO", 2}), -1);  // another user
    EXPECT_EQ(SaveUserAcl(dir, UserAclEntry{3, "Taro", 3}), 0);   // in place
    EXPECT_EQ(FileSize(dir + "b_u_acl.mst"), 4 * 32);

    UserAclEntry u;
    ASSERT_EQ(FindUserAcl(dir, 3, 0, u), 0);
    EXPECT_EQ(u.USER_ID, "Taro");
    EXPECT_EQ(u.level, 3);
    ASSERT_EQ(FindUserAcl(dir, 3, 2, u), 0);
    EXPECT_EQ(u.USER_ID, "TARO");
    EXPECT_EQ(FindUserAcl(dir, 3, 3, u), -1);

    EXPECT_EQ(DeleteUserAcl(dir, 3, "taro"), -1);
    EXPECT_EQ(DeleteUserAcl(dir, 3, "TARO"), 0);
    EXPECT_EQ(DeleteUserAcl(dir, 0, "Taro"), 0);  // only the entry of folder 0
    const auto all = ReadUserAcls(dir);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].USER_ID, "Taro");
    EXPECT_EQ(all[0].folderNo, 3);
    EXPECT_EQ(all[1].USER_ID, "Hana");

    // A long id matches the entry saved for it (both cut to the slot).
    const std::string longId(30, 'q');
    EXPECT_EQ(SaveUserAcl(dir, UserAclEntry{4, longId, 1}), -1);
    EXPECT_EQ(SaveUserAcl(dir, UserAclEntry{4, longId, 2}), 0);
    EXPECT_EQ(DeleteUserAcl(dir, 4, longId), 0);
}

}  // namespace
