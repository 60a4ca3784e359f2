// The access log pages through the program: pruning, the per-user summary and deleting users.
#include <ctime>

#include "cgi/text.h"
#include "store/accesslog.h"
#include "store/acl.h"
#include "store/groups.h"
#include "store/sessions.h"
#include "store/users.h"
#include "tests/admin/folder_fixture.h"

namespace {

class AccessLogTest : public AdminSite {
protected:
    // The date stamp of `daysBack` days ago (today's time of day).
    static std::string Day(int daysBack) {
        std::string d = DateStampAt(time(nullptr));
        const std::string time = d.substr(10);
        for (int i = 0; i < daysBack; ++i) DayBefore(d);
        return d.substr(0, 10) + time;
    }
    static std::string Line(const std::string& date, const std::string& id, const char* kind) {
        return date + "," + id + "," + kind + ",0,,\r\n";
    }
    std::string Cells(const std::string& id, const std::string& last, const std::string& logins,
                      const std::string& writes, const std::string& ratio) const {
        const std::string v = "\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=";
        std::string row = "<TR>\n" + v + "\"CENTER\"><INPUT TYPE=\"checkbox\" NAME=\"USER_ID\" VALUE=\"" +
                          id + "\"></TD>\n" + v + "\"LEFT\">" + id + "</TD>\n" + v +
                          "\"LEFT\">Name of " + id + "</TD>\n";
        for (const std::string& c : {last, logins, writes, ratio})
            row += v + "\"CENTER\">" + c + "<BR></TD>\n";
        return row + "</TR>\n";
    }
};

TEST_F(AccessLogTest, TheMenuPrunesEverythingUpToTheCutoffDay) {
    const std::string log = Line(Day(0), "a", "login") + Line(Day(1), "a", "write") +
                            Line(Day(2), "a", "login") +
                            Line(Day(3), "a", "login");
    const struct {
        const char* days;
        std::string kept;
    } cases[] = {{"0", ""},
                 {"1", Line(Day(0), "a", "login")},
                 {"2", Line(Day(0), "a", "login") + Line(Day(1), "a", "write")},
                 {"-3", ""},
                 {"2000000000", log}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.days);
        inst.Set("LOG_DATE", c.days);
        WriteFileBytes(inst.dataDir + "system.log", log);
        const std::string page = Job("AccessLogDISP");
        EXPECT_TRUE(Has(page, "<FONT SIZE=\"5\"><B>" + inst.msg(112) + "</B></FONT><P>\n<P>\n<TABLE>\n<TR>\n"
                              "\t<TD>\n<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"boardcgi.cgi\" METHOD=POST>\n"));
        EXPECT_TRUE(page.ends_with("value=\"AccessLogLastLogin\">\n<INPUT TYPE=\"submit\" name=\"SUB\" VALUE=\"" +
                                   inst.msg(247) + "\">\n</FORM>\n\t</TD>\n</TR>\n</TABLE>\n</BODY>\n</HTML>\n"));
        EXPECT_EQ(inst.ReadData("system.log"), c.kept);
    }
    // Below level 100: the refusal, and the log stays.
    WriteFileBytes(inst.dataDir + "system.log", log);
    EXPECT_TRUE(Has(Job("AccessLogDISP", "", LoginUser("member", 99)), inst.msg(3) + "\n<FORM>\n"));
    EXPECT_TRUE(inst.ReadData("system.log").starts_with(log));
}

TEST_F(AccessLogTest, SummaryCountsLoginsAndWritesPerUser) {
    for (const char* id : {"u1", "u2", "u3", "u4", "u5"}) inst.AddUser(id, "pw", 1, 1);
    std::string log;
    for (int i = 0; i < 4; ++i) log += Line(Day(3), "u1", "login");
    for (int i = 0; i < 3; ++i) log += Line(Day(2), "u1", "write") + Line(Day(2), "u2", "login");
    log += Line(Day(1), "u2", "write") + Line(Day(0), "u3", "login") + Line(Day(5), "u3", "login") +
           Line(Day(0), "U1", "login") + Line(Day(1), "u5", "write");
    WriteFileBytes(inst.dataDir + "system.log", log);
    const std::string page = Job("AccessLogLastLogin");
    EXPECT_TRUE(Has(page, Cells("u1", Day(3), "4", "3", "75") + Cells("u2", Day(2), "3", "1", "33") +
                              Cells("u3", Day(5), "2", "", "") +
                              Cells("u4", "", "", "", "") + Cells("u5", "", "", "1", "") +
                              "</TABLE>\n<TABLE>\n<TR>\n<TD>\n<INPUT TYPE=\"submit\" VALUE=\"" +
                              inst.msg(254) + "\" onClick=\"return confirm('" + inst.msg(255) + "')\">\n</FORM>\n"));
}

TEST_F(AccessLogTest, DeletingUsersEndsTheirSessionsMembershipsAndAccess) {
    for (const char* id : {"u1", "u2", "u3"}) {
        ASSERT_FALSE(LoginUser(id, 1).empty());
        AddGroupMember(inst.dataDir, GroupMember{7, id});
        SaveUserAcl(inst.dataDir, UserAclEntry{2, id, 2});
        SaveUserAcl(inst.dataDir, UserAclEntry{5, id, 1});
    }
    const std::string member = LoginUser("member", 99);
    const auto files = [&] {
        return inst.ReadData("user.mst") + inst.ReadData("skey.mst") + inst.ReadData("g_user.mst") +
               inst.ReadData("b_u_acl.mst");
    };
    const std::string before = files();
    Job("AccessLogDeleteUser", "&USER_ID=u1", member);
    Job("AccessLogDeleteUser");
    EXPECT_EQ(files(), before)
        << "nothing changes below level 100 or without a selection";

    const std::string page = Job("AccessLogDeleteUser", "&USER_ID=u1&USER_ID=u2&USER_ID=&USER_ID=u3");
    EXPECT_FALSE(Has(page, "VALUE=\"u1\"") || Has(page, "VALUE=\"u2\""));
    EXPECT_TRUE(Has(page, "VALUE=\"u3\""));
    UserRecord u;
    for (std::string id : {"u1", "u2"}) {
        EXPECT_NE(0, FindUser(inst.dataDir, id, u));
        EXPECT_EQ(-1, FindSessionKeyOfUser(inst.dataDir, id));
        std::vector<int32_t> groups;
        EXPECT_EQ(-1, ListGroupsOfUser(inst.dataDir, id, groups));
    }
    for (const UserAclEntry& e : ReadUserAcls(inst.dataDir)) EXPECT_EQ(e.USER_ID, "u3");
    EXPECT_EQ(ReadUserAcls(inst.dataDir).size(), 2u);
    std::string u3 = "u3";
    EXPECT_EQ(0, FindUser(inst.dataDir, u3, u));
    EXPECT_NE(-1, FindSessionKeyOfUser(inst.dataDir, "u3"));
}

}  // namespace
