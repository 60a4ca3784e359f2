// Group administration: the suggested number, storing and renaming, the refusals, deleting a
// group with everything that refers to it, and the pages' tables.
#include "tests/admin/admin_fixture.h"

#include "store/acl.h"
#include "store/groups.h"

namespace admintest {
namespace {

void WriteGroups(const Installation& inst, const std::string& lines) {
    std::ofstream(inst.dataDir + "group.mst", std::ios::binary | std::ios::trunc) << lines;
}

std::string SuggestedNumber(const std::string& page) {
    const std::string marker = "NAME=\"T02_GROUP_ID\" SIZE=\"3\" MAXLENGTH=\"3\" VALUE=\"";
    const size_t at = page.find(marker);
    if (at == std::string::npos) return "none";
    return page.substr(at + marker.size(), page.find('"', at + marker.size()) - at - marker.size());
}

TEST_F(AdminTest, NewGroupPageSuggestsTheNumberAfterTheLastLine) {
    EXPECT_EQ("1", SuggestedNumber(AsOperator("NEWGROUP")));
    for (const auto& [lines, expected] :
         {std::pair<std::string, std::string>{"", "1"},
          {"1,One,\r\n2,Two,\r\n5,Five,\r\n", "6"},
          {"1,One,\r\n9,\r\n", "10"},  // the last line's number counts even without a name
          {"1,One,\r\n,\r\n", "1"}}) {  // a last line without a number starts again at 1
        WriteGroups(inst, lines);
        EXPECT_EQ(expected, SuggestedNumber(AsOperator("NEWGROUP"))) << lines;
    }
}

TEST_F(AdminTest, GroupsAreStoredInNumberOrderAndRenamedInPlace) {
    WriteGroups(inst, "1,One,\r\n2,Two,\r\n5,Five,\r\n");
    AsOperator("NEWGROUPWR", {{"T02_GROUP_ID", "3"}, {"T02_GROUP_NAME", "Three"}});
    const std::string page = AsOperator("NEWGROUPWR", {{"T02_GROUP_ID", "2"},
                                                       {"T02_GROUP_NAME", "<Deux & Co>"}});
    AsOperator("NEWGROUPWR", {{"T02_GROUP_ID", "7x"}, {"T02_GROUP_NAME", "Seven"}});
    EXPECT_EQ("1,One,\r\n2,<Deux & Co>,\r\n3,Three,\r\n5,Five,\r\n7,Seven,\r\n",
              inst.ReadData("group.mst"));
    // The group list follows, its names escaped and linked to their edit pages.
    EXPECT_TRUE(Has(page, "<FONT SIZE=\"5\"><B>" + inst.msg(111) + "</B></FONT>\n<P>\n<TABLE>\n"));
    EXPECT_TRUE(Has(page, "\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\">2</TD>\n"
                          "\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"LEFT\"><A HREF=\"boardcgi.cgi?SKEY=" +
                          opKey + "&JOB=EDITGROUP&T02_GROUP_ID=2\">&lt;Deux &amp; Co&gt;</A>\n</TD>\n"));

    const std::string before = inst.ReadData("group.mst");
    for (const auto& [id, name, text] :
         {std::tuple<std::string, std::string, int>{"", "Name", 156},
          {"4", "", 157},
          {"x7", "Name", 158},
          {"0", "Name", 158},
          {"4", "Four,Vier", 362},
          {"4", "Four\r\n9", 362}}) {
        const std::string refused =
            AsOperator("NEWGROUPWR", {{"T02_GROUP_ID", id}, {"T02_GROUP_NAME", name}});
        EXPECT_TRUE(Has(refused, ResultOf(154, text))) << id << " " << name;
        EXPECT_EQ(before, inst.ReadData("group.mst"));
    }
}

TEST_F(AdminTest, DeletedGroupTakesItsMembershipsAccessEntriesAndPrimaryGroupsAlong) {
    WriteGroups(inst, "1,One,\r\n2,Two,\r\n");
    inst.AddUser("hanako", "pw", 1, 1, 2);
    inst.AddUser("jiro", "pw", 1, 1, 2);
    std::ofstream(inst.dataDir + "g_user.mst", std::ios::binary)
        << "1,taro,\r\n2,taro,\r\n2,hanako,\r\n";
    for (const GroupAclEntry& e : {GroupAclEntry{1, 2, 1}, GroupAclEntry{3, 2, 2},
                                   GroupAclEntry{3, 1, 3}})
        SaveGroupAcl(inst.dataDir, e);
    const std::string taroBefore = inst.ReadData("user.mst").substr(0, 100);

    const std::string page = AsOperator("DELGROUPWR", {{"T02_GROUP_ID", "2"}});
    EXPECT_EQ("1,One,\r\n", inst.ReadData("group.mst"));
    EXPECT_EQ("1,taro,\r\n", inst.ReadData("g_user.mst"));
    const std::vector<GroupAclEntry> acls = ReadGroupAcls(inst.dataDir);
    ASSERT_EQ(1u, acls.size());
    EXPECT_EQ(1, acls[0].groupId);
    for (std::string id : {"hanako", "jiro"}) {
        UserRecord u;
        ASSERT_EQ(0, FindUser(inst.dataDir, id, u));
        EXPECT_EQ(0, u.P_GROUP) << id;
    }
    EXPECT_EQ(taroBefore, inst.ReadData("user.mst").substr(0, 100));  // primary group 3 stays
    EXPECT_TRUE(Has(page, "<FONT SIZE=\"5\"><B>" + inst.msg(111) + "</B></FONT>\n"));

    // Without a usable number nothing happens.
    for (const char* id : {"", "0", "-1", "x"}) {
        AsOperator("DELGROUPWR", {{"T02_GROUP_ID", id}});
        EXPECT_EQ("1,One,\r\n", inst.ReadData("group.mst")) << id;
    }
}

TEST_F(AdminTest, EditAndDeletePagesShowTheGroupTable) {
    WriteGroups(inst, "1,One,\r\n2,\"Two\",\r\n");
    std::string page = AsOperator("EDITGROUP", {{"T02_GROUP_ID", "2"}});
    EXPECT_TRUE(Has(page, "<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"NEWGROUPWR\">\n"
                          "<INPUT TYPE=\"hidden\" name=\"T02_GROUP_ID\" value=\"2\">\n"));
    EXPECT_TRUE(Has(page, "\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"LEFT\">One</TD>\n"));
    EXPECT_TRUE(Has(page, "\t<TD NOWRAP BGCOLOR=\"#FFB6C1\" ALIGN=\"CENTER\">2</TD>\n"
                          "\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"LEFT\"><INPUT TYPE=\"text\" "
                          "NAME=\"T02_GROUP_NAME\" VALUE=\"&quot;Two&quot;\" SIZE=\"40\" MAXLENGTH=\"80\"></TD>\n"));
    page = AsOperator("DELGROUP");
    EXPECT_TRUE(Has(page, "<SELECT NAME=\"T02_GROUP_ID\" >\n<OPTION VALUE=\"1\">1:One\n"
                          "<OPTION VALUE=\"2\">2:&quot;Two&quot;\n</SELECT></TD>\n</TR>\n</TABLE>\n"));
}

}  // namespace
}  // namespace admintest
