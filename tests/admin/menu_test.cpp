// The administration menu, and the operator level that every administration page and writing
// job asks for.
#include "tests/admin/admin_fixture.h"

namespace admintest {
namespace {

TEST_F(AdminTest, MenuOffersEveryAdministrationPageInTheRightFrame) {
    std::string expected = PageHead(inst.msg) +
                           "\t\t<BODY BACKGROUND=\"/web/back.gif\" BGPROPERTIES=FIXED >\n"
                           "<FONT SIZE=\"5\"><B>" + inst.msg(104) + "</B></FONT>\n<P>\n";
    for (const auto& [job, label] :
         {std::pair{"SYSTEM", 108}, {"USERLIST", 109}, {"FOLDERLIST", 110}, {"GROUPLIST", 111},
          {"AccessLogDISP", 112}, {"IDSINSEIlist2", 113}}) {
        expected += "<FORM ACTION=\"boardcgi.cgi\" METHOD=GET TARGET=\"FRM22\">\n"
                    "<INPUT TYPE=\"hidden\" name=\"SKEY\" value=\"" + opKey + "\">\n"
                    "<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"" + job + "\">\n"
                    "<INPUT TYPE=\"submit\" name=\"SUB\" VALUE=\"" + inst.msg(label) + "\">\n"
                    "</FORM>\n";
    }
    expected += "</BODY>\n</HTML>\n";
    EXPECT_EQ(expected, inst.Get("SKEY=" + opKey + "&JOB=ADMIN"));
}

TEST_F(AdminTest, BelowOperatorLevelEveryPageRefusesAndNoWriteChangesAnything) {
    inst.AddUser("almost", "pw", 99, 1);
    const std::string key = inst.Login("almost", "pw");
    std::ofstream(inst.dataDir + "group.mst", std::ios::binary) << "1,One,\r\n3,Three,\r\n";
    std::ofstream(inst.dataDir + "g_user.mst", std::ios::binary) << "1,taro,\r\n";
    const std::string refusal = inst.msg(3) + "\n<FORM>\n<INPUT TYPE=\"button\" VALUE=\"" +
                                inst.msg(4) + "\" onClick=\"history.back()\">\n</FORM>\n"
                                "</BODY>\n</HTML>\n";
    for (const char* job : {"ADMIN", "SYSTEM", "USERLIST", "USERMENT", "GROUPLIST", "NEWGROUP",
                            "EDITGROUP", "DELGROUP"}) {
        const std::string page = inst.Get("SKEY=" + key + "&JOB=" + job + "&SJOB=ORDER_ID");
        ASSERT_GE(page.size(), refusal.size()) << job;
        EXPECT_EQ(refusal, page.substr(page.size() - refusal.size())) << job;
        EXPECT_FALSE(Has(page, "SUB1")) << job;
    }

    const auto files = [&] {
        return Ini() + "|" + inst.ReadData("user.mst") + "|" + inst.ReadData("group.mst") + "|" +
               inst.ReadData("g_user.mst");
    };
    const std::string before = files();
    const Fields writes[] = {
        {{"JOB", "SYSTEMUPDATE"}, {"LANGUAGE", "x.lng"}, {"DATA_FILE_PATH", "/tmp/"}},
        {{"JOB", "USERWR"}, {"USER_ID", "taro"}, {"USER_NAME", "x"}, {"USER_LEVEL", "100"},
         {"SUB1", "1"}},
        {{"JOB", "USERWR"}, {"USER_ID", "taro"}, {"USER_NAME", "x"}, {"SUB3", "1"}},
        {{"JOB", "USERWR"}, {"USER_ID", "taro"}, {"USER_NAME", "x"}, {"GROUP_IN", "1"},
         {"GROUPLIST", "3"}},
        {{"JOB", "NEWUSERWR"}, {"USER_ID", "new"}, {"USER_NAME", "x"}, {"SUB1", "1"}},
        {{"JOB", "NEWGROUPWR"}, {"T02_GROUP_ID", "2"}, {"T02_GROUP_NAME", "Two"}},
        {{"JOB", "DELGROUPWR"}, {"T02_GROUP_ID", "1"}},
    };
    for (Fields w : writes) {
        w.insert(w.begin(), {"SKEY", key});
        const std::string page = Send(w);
        EXPECT_TRUE(Has(page, inst.msg(3))) << w[1].second;
        EXPECT_EQ(before, files()) << w[1].second;
    }
}

}  // namespace
}  // namespace admintest
