#include "store/groups.h"
#include "store/recordfile.h"
#include "tests/testutil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

namespace {

class GroupStoreTest : public ::testing::Test {
protected:
    void Put(const std::string& name, const std::string& bytes) {
        WriteFileBytes(dir + name, bytes);
    }
    std::string Get(const std::string& name) { return ReadFileBytes(dir + name); }

    TempDir tmp{"groups_test"};
    const std::string dir = tmp.path;
};

TEST_F(GroupStoreTest, SaveGroupPlacesReplacesAndAppends) {
    Put("group.mst", "1,One,\r\n3,Three,\r\n5,Five,\n");
    ASSERT_EQ(SaveGroup(dir, GroupRecord{4, "Four"}), 0);
    EXPECT_EQ(Get("group.mst"), "1,One,\r\n3,Three,\r\n4,Four,\r\n5,Five,\n");
    ASSERT_EQ(SaveGroup(dir, GroupRecord{3, "Drei"}), 0);
    EXPECT_EQ(Get("group.mst"), "1,One,\r\n3,Drei,\r\n4,Four,\r\n5,Five,\n");
    ASSERT_EQ(SaveGroup(dir, GroupRecord{9, "Nine"}), 0);
    EXPECT_EQ(Get("group.mst"), "1,One,\r\n3,Drei,\r\n4,Four,\r\n5,Five,\n9,Nine,\r\n");
    EXPECT_FALSE(std::filesystem::exists(dir + "F_GROUP_MST.TMP"));

    // Lines without any token go; a last line without line end does not run on.
    Put("group.mst", "1,One,\r\n,,\r\n\r\n2,Two,");
    ASSERT_EQ(SaveGroup(dir, GroupRecord{7, "Seven"}), 0);
    EXPECT_EQ(Get("group.mst"), "1,One,\r\n2,Two,\r\n7,Seven,\r\n");

    ASSERT_EQ(DeleteGroup(dir, 2), 0);
    EXPECT_EQ(Get("group.mst"), "1,One,\r\n7,Seven,\r\n");
    EXPECT_FALSE(std::filesystem::exists(dir + "TEMP"));
}

TEST_F(GroupStoreTest, FindGroupNeedsIdAndName) {
    GroupRecord g;
    EXPECT_EQ(FindGroup(dir, 1, g), -1);
    EXPECT_TRUE(std::filesystem::exists(dir + "group.mst"));  // created empty

    Put("group.mst", "7,,\r\n2,,Two,\r\n" + std::string("8,") + std::string(100, 'g') + ",\r\n");
    EXPECT_EQ(FindGroup(dir, 7, g), -1);
    ASSERT_EQ(FindGroup(dir, 2, g), 0);  // empty fields are skipped like the tokenizer does
    EXPECT_EQ(g.groupName, "Two");
    ASSERT_EQ(FindGroup(dir, 8, g), 0);
    EXPECT_EQ(g.groupName, std::string(83, 'g'));
    EXPECT_EQ(ReadAllGroups(dir).size(), 2u);
}

TEST_F(GroupStoreTest, ListGroupsOfUser) {
    std::vector<int32_t> groups{42};
    EXPECT_EQ(ListGroupsOfUser(dir, "taro", groups), -1);  // no g_user.mst: untouched
    EXPECT_EQ(groups, std::vector<int32_t>{42});

    Put("g_user.mst", "2,taro,\r\n3,hana,\r\nbad\r\n5,taro,\n5,TARO,\r\n");
    EXPECT_EQ(ListGroupsOfUser(dir, "taro", groups), 1);
    EXPECT_EQ(groups, (std::vector<int32_t>{2, 5, 0}));
    EXPECT_EQ(ListGroupsOfUser(dir, "jiro", groups), -1);
    EXPECT_EQ(groups, std::vector<int32_t>{0});

    std::string many;
    for (int i = 1; i <= 10005; ++i) many += std::to_string(i) + ",u,\r\n";
    Put("g_user.mst", many);
    EXPECT_EQ(ListGroupsOfUser(dir, "u", groups), 9998);
    ASSERT_EQ(groups.size(), 10000u);
    EXPECT_EQ(groups[9998], 9999);
    EXPECT_EQ(groups[9999], 0);
}

TEST_F(GroupStoreTest, AddAndRemoveMembers) {
    ASSERT_EQ(AddGroupMember(dir, GroupMember{4, "taro"}), 0);  // creates g_user.mst
    ASSERT_EQ(AddGroupMember(dir, GroupMember{4, "taro"}), 0);  // exists: nothing changes
    EXPECT_EQ(Get("g_user.mst"), "4,taro,\r\n");

    Put("g_user.mst", "4,taro,\r\n 4,hana,\r\nbad\r\n2,taro,");
    ASSERT_EQ(AddGroupMember(dir, GroupMember{9, "jiro"}), 0);
    EXPECT_EQ(Get("g_user.mst"), "4,taro,\r\n 4,hana,\r\nbad\r\n2,taro,\r\n9,jiro,\r\n");

    ASSERT_EQ(RemoveGroupMembers(dir, GroupMember{4, "taro"}, kRemoveMember), 0);
    EXPECT_EQ(Get("g_user.mst"), "4,hana,\r\n2,taro,\r\n9,jiro,\r\n");  // re-formatted
    ASSERT_EQ(RemoveGroupMembers(dir, GroupMember{4, ""}, kRemoveWholeGroup), 0);
    EXPECT_EQ(Get("g_user.mst"), "2,taro,\r\n9,jiro,\r\n");
    ASSERT_EQ(RemoveUserFromGroups(dir, "taro"), 0);
    EXPECT_EQ(Get("g_user.mst"), "9,jiro,\r\n");

    std::filesystem::remove(dir + "g_user.mst");
    ASSERT_EQ(RemoveUserFromGroups(dir, "jiro"), 0);
    EXPECT_FALSE(std::filesystem::exists(dir + "g_user.mst"));
}

// ---- Sorting --------------------------------------------------------------------------------

struct Pair {
    int32_t group;
    std::string user;
};

bool ReadPair(const std::string& line, Pair& p) {
    const auto fields = CutFields(line);
    if (fields.size() < 2) return false;
    p = Pair{ParseInt(fields[0]), CutToSlot(fields[1], 24)};
    return true;
}

std::string Format(const Pair& p) { return std::to_string(p.group) + "," + p.user + ","; }

// The membership sort as the file sort does it, pass by pass over a list of lines: each pass
// reads the first well-formed line as the current pair, then n - 1 further well-formed lines,
// writing the smaller-or-equal one and carrying the other, writes the current pair and copies
// the remaining well-formed lines; every pass is a new "file".
std::string ReferenceSort(const std::string& content) {
    std::vector<std::string> lines;
    for (auto l : SplitTextLines(content, 1000)) lines.emplace_back(l);
    Pair p;
    size_t n = 0;
    for (const auto& l : lines) n += ReadPair(l, p) ? 1 : 0;
    if (n < 2) return content;
    while (n > 1) {
        std::vector<std::string> out;
        size_t i = 0;
        Pair cur;
        while (!ReadPair(lines[i], cur)) ++i;
        ++i;
        size_t read = 0;
        for (; read < n - 1 && i < lines.size(); ++i) {
            Pair next;
            if (!ReadPair(lines[i], next)) continue;
            ++read;
            if (cur.group < next.group) {
                out.push_back(Format(cur));
                cur = next;
            } else {
                out.push_back(Format(next));
            }
        }
        out.push_back(Format(cur));
        for (; i < lines.size(); ++i)
            if (ReadPair(lines[i], p)) out.push_back(Format(p));
        lines = std::move(out);
        --n;
    }
    std::string result;
    for (const auto& l : lines) result += l + "\r\n";
    return result;
}

TEST_F(GroupStoreTest, SortGroupMembersOrdersByGroup) {
    Put("g_user.mst", "3,c,\r\n1,a,\r\n2,b,\r\n");
    ASSERT_EQ(SortGroupMembers(dir), 0);
    EXPECT_EQ(Get("g_user.mst"), "1,a,\r\n2,b,\r\n3,c,\r\n");
    EXPECT_FALSE(std::filesystem::exists(dir + "g_user.mst.TMP"));

    // Fewer than two pairs: the file stays as it is.
    Put("g_user.mst", "junk\r\n3,c,\n");
    ASSERT_EQ(SortGroupMembers(dir), 0);
    EXPECT_EQ(Get("g_user.mst"), "junk\r\n3,c,\n");
}

TEST_F(GroupStoreTest, SortGroupMembersWritesWhatThePassByPassSortWrites) {
    std::mt19937 rng(20240611);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    for (int trial = 0; trial < 150; ++trial) {
        std::string content;
        const int lines = pick(40);
        const int keys = 1 + pick(6);  // few distinct ids: many equal keys
        for (int i = 0; i < lines; ++i) {
            switch (pick(10)) {
                case 0: content += "junk"; break;
                case 1: content += std::to_string(pick(keys)) + ",only one comma"; break;
                case 2: break;  // empty line
                case 3: content += "x," + std::string(pick(2) ? 30 : 3, 'L') + ","; break;
                default:
                    content += (pick(5) == 0 ? " -" : "") + std::to_string(pick(keys)) + ",u" +
                               std::to_string(i) + "," + (pick(4) == 0 ? "extra," : "");
            }
            if (i + 1 < lines || pick(2)) content += pick(3) ? "\r\n" : "\n";
        }
        Put("g_user.mst", content);
        ASSERT_EQ(SortGroupMembers(dir), 0);
        ASSERT_EQ(Get("g_user.mst"), ReferenceSort(content)) << "input:\n" << content;
    }
}

}  // namespace
