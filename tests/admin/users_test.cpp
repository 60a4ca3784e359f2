// User administration and the own profile: the save handler's checks and results, what a save
// keeps, memberships, deletion, the list orders and the pages' values.
#include "tests/admin/admin_fixture.h"

#include <filesystem>
#include <regex>

#include "admin/users.h"
#include "store/acl.h"
#include "store/groups.h"
#include "store/applications.h"
#include "store/sessions.h"

namespace admintest {
namespace {

Fields NewUser(const std::string& id, const std::string& name = "Jiro") {
    return {{"USER_ID", id},        {"USER_NAME", name}, {"USER_LEVEL", "7  "},
            {"E_MAIL_ADDR", "j@x"}, {"USER_PASS", "pw"}, {"P_GROUP", "2"},
            {"USER_DISP_DEF", "3"}, {"MODE", "2"},       {"WRITE_MODE", "2"},
            {"LANGUAGE", ""},       {"PICFILE", ""},     {"SUB1", "Register"}};
}

Fields With(Fields f, const std::string& name, const std::string& value) {
    for (auto& [n, v] : f)
        if (n == name) v = value;
    return f;
}

UserRecord Stored(const Installation& inst, std::string id) {
    UserRecord u;
    EXPECT_EQ(0, FindUser(inst.dataDir, id, u)) << id;
    return u;
}

TEST_F(AdminTest, EachRefusedSaveShowsItsMessageAndStoresNothing) {
    struct Case {
        const char* job;
        Fields fields;
        int text;
    };
    const Case cases[] = {
        {"NEWUSERWR", NewUser(""), 181},
        {"NEWUSERWR", NewUser("jiro", "   "), 182},
        {"NEWUSERWR", NewUser("TARO"), 312},  // taro exists: ids differ only in case
        {"NEWUSERWR", NewUser("ji ro"), 327},
        {"NEWUSERWR", NewUser("ji,ro"), 327},
        {"NEWUSERWR", NewUser("ji/ro"), 327},
        {"NEWUSERWR", NewUser("ji\\ro"), 327},
        {"NEWUSERWR", NewUser(".."), 327},
        {"NEWUSERWR", NewUser("ji\tro"), 327},
        {"NEWUSERWR", NewUser("jiro", "Ji,ro"), 362},
        {"NEWUSERWR", With(NewUser("jiro"), "USER_PASS", "p w"), 363},
        {"NEWUSERWR", With(NewUser("jiro"), "E_MAIL_ADDR", "j@x,y@z"), 364},
        {"USERWR", With(NewUser("taro"), "E_MAIL_ADDR", "t @x"), 364},
        {"MYDATAWR", With(NewUser("x"), "SUB1", ""), 3},  // the own profile saves only with SUB1
    };
    const std::string before = inst.ReadData("user.mst");
    for (const Case& c : cases) {
        const std::vector<FilePart> picture = {{"FILE1", "me.png", "PNG"}};
        const std::string page = c.job == std::string("MYDATAWR")
                                     ? AsMember(c.job, c.fields, picture)
                                     : AsOperator(c.job, c.fields, picture);
        EXPECT_TRUE(Has(page, ResultOf(109, c.text))) << c.fields[0].second << " " << c.text;
        EXPECT_EQ(before, inst.ReadData("user.mst")) << c.fields[0].second;
    }
    EXPECT_FALSE(std::filesystem::exists(inst.webDir + "userpic"));
}

TEST_F(AdminTest, NewUserIsStoredTrimmedWithPictureAndShownForEditing) {
    const std::string page =
        AsOperator("NEWUSERWR", With(NewUser("jiro  "), "USER_NAME", "Jiro Yamada "),
                   {{"FILE1", "C:\\My Pictures\\face.PNG", "PNGDATA"}});
    EXPECT_TRUE(Has(inst.ReadData("user.mst"),
                    "taro,Name of taro,5,,tpw,3,1,1,1,,,0,\r\n"
                    "jiro,Jiro Yamada,7,j@x,pw,2,3,2,2,,face.PNG,0,\r\n"));
    EXPECT_EQ("PNGDATA", inst.ReadData("../www/userpic/jiro/face.PNG"));
    // The edit page of the new user follows.
    EXPECT_TRUE(Has(page, "<FONT SIZE=\"5\"><B>" + inst.msg(166) + "</B></FONT>\n"));
    EXPECT_TRUE(Has(page, "<INPUT TYPE=\"hidden\" name=\"USER_ID\" value=\"jiro\">\njiro</TD>\n"));
    EXPECT_TRUE(Has(page, "<SELECT NAME=\"MODE\" >\n<OPTION VALUE=\"2\">" + inst.msg(168) +
                              "\n<OPTION VALUE=\"1\">" + inst.msg(167) + "\n</SELECT>\n"));
    EXPECT_TRUE(Has(page, "<SELECT NAME=\"USER_DISP_DEF\" >\n<OPTION VALUE=\"3\">" +
                              inst.msg(177) + "\n<OPTION VALUE=\"1\">"));

    // An edit by the operator keeps what the page does not show (the unread switch); a refused
    // picture leaves the stored one and the page says so.
    UserRecord jiro = Stored(inst, "jiro");
    jiro.NO_READ_MODE = 1;
    ASSERT_EQ(0, RewriteUser(inst.dataDir, jiro));
    const std::string edited = AsOperator("USERWR", With(NewUser("jiro"), "PICFILE", "face.PNG"),
                                          {{"FILE1", "face.svg", "<svg onload=x>"}});
    jiro = Stored(inst, "jiro");
    EXPECT_EQ(1, jiro.NO_READ_MODE);
    EXPECT_EQ("face.PNG", jiro.PICFILE);
    EXPECT_FALSE(std::filesystem::exists(inst.webDir + "userpic/jiro/face.svg"));
    EXPECT_TRUE(Has(edited, "<FONT COLOR=\"RED\"><B>" + inst.msg(380) + "</B></FONT>"));
}

TEST_F(AdminTest, OwnProfileChangesOnlyTheCallersOwnFieldsAndSwitchesLanguage) {
    std::filesystem::copy_file(BOARD_SOURCE_DIR "/lang/japan.lng", inst.cgiDir + "japan.lng");
    MessageTable japan;
    LoadMessages(japan, inst.cgiDir + "japan.lng");
    const std::string adminLine = inst.ReadData("user.mst").substr(0, 40);
    Fields form = With(With(NewUser("admin", "Taro T"), "LANGUAGE", "japan.lng"), "USER_LEVEL",
                       "100");
    form.push_back({"NO_READ_MODE", "1"});
    const std::string page = AsMember("MYDATAWR", form);
    EXPECT_EQ(adminLine, inst.ReadData("user.mst").substr(0, 40));
    const UserRecord taro = Stored(inst, "taro");
    EXPECT_EQ("Taro T", taro.USER_NAME);
    EXPECT_EQ(3, taro.USER_DISP_DEF);
    EXPECT_EQ(1, taro.NO_READ_MODE);
    EXPECT_EQ("japan.lng", taro.LANGUAGE);
    EXPECT_EQ(5, taro.USER_LEVEL);  // level, group and account kind stay as stored
    EXPECT_EQ(3, taro.P_GROUP);
    EXPECT_EQ(1, taro.MODE);
    // The own profile follows, already in the new language and with the new values.
    EXPECT_TRUE(Has(page, "<FONT SIZE=\"5\"><B>" + japan(183) + "</B></FONT>\n"));
    EXPECT_TRUE(Has(page, "NAME=\"USER_NAME\" SIZE=\"40\" MAXLENGTH=\"80\" VALUE=\"Taro T\""));
    EXPECT_TRUE(Has(page, "<SELECT NAME=\"LANGUAGE\" >\n<OPTION VALUE=\"japan.lng\">japan.lng\n"
                          "<OPTION VALUE=\"english.lng\">english.lng\n<OPTION VALUE=\"japan.lng\">"));

    // Back to the system language; a language file outside the working directory is not
    // taken.
    AsMember("MYDATAWR", With(form, "LANGUAGE", "../cgi/japan.lng"));
    EXPECT_EQ("", Stored(inst, "taro").LANGUAGE);
    const std::string profile = AsMember("MYDATA");
    EXPECT_TRUE(Has(profile, "<FONT SIZE=\"5\"><B>" + inst.msg(183) + "</B></FONT>\n"));
    // Without a language of his own the user is offered the system language as an empty
    // choice, so that saving keeps it.
    EXPECT_TRUE(Has(profile, "<SELECT NAME=\"LANGUAGE\" >\n<OPTION VALUE=\"\">english.lng\n"));
}

TEST_F(AdminTest, StoredLanguageOutsideTheWorkingDirectoryIsIgnoredAtEveryRequest) {
    std::ofstream(inst.dataDir + "own.lng") << "183,Own language title,\n";
    UserRecord taro = Stored(inst, "taro");
    taro.LANGUAGE = inst.dataDir + "own.lng";
    ASSERT_EQ(0, RewriteUser(inst.dataDir, taro));
    const std::string page = AsMember("MYDATA");
    EXPECT_TRUE(Has(page, "<FONT SIZE=\"5\"><B>" + inst.msg(183) + "</B></FONT>\n"));
    EXPECT_FALSE(Has(page, "own.lng"));
}

TEST_F(AdminTest, OwnProfileSaveIsRefusedWhileTheSettingForbidsIt) {
    const std::string before = inst.ReadData("user.mst");
    StringOutput sink;
    ::Run run(sink);
    run.settings.DATA_FILE_PATH = inst.dataDir;
    run.settings.MYDATA = 1;
    run.login.user = Stored(inst, "taro");
    for (const auto& [n, v] : With(NewUser("taro", "Changed"), "SUB1", "1"))
        run.fields.push_back({n, v, true});
    run.fields.push_back({"JOB", "MYDATAWR", true});
    EXPECT_EQ(-1, SaveUser(run));
    EXPECT_EQ(before, inst.ReadData("user.mst"));
}

TEST_F(AdminTest, MembershipsAreAddedSortedAndRemoved) {
    std::ofstream(inst.dataDir + "group.mst", std::ios::binary) << "1,One,\r\n2,Two,\r\n5,Five,\r\n";
    std::ofstream(inst.dataDir + "g_user.mst", std::ios::binary) << "2,hanako,\r\n";
    std::string page = AsOperator("USERWR", {{"USER_ID", "taro"}, {"USER_NAME", "Taro"},
                                             {"GROUP_IN", "Add"}, {"GROUPLIST", "5"},
                                             {"GROUPLIST", "1"}, {"GROUPLIST", "2"}});
    // Sorted after each addition by the membership file's exchange passes, which let equal
    // group numbers change places.
    EXPECT_EQ("1,taro,\r\n2,taro,\r\n2,hanako,\r\n5,taro,\r\n", inst.ReadData("g_user.mst"));
    EXPECT_TRUE(Has(page, "<SELECT NAME=\"NOWGROUP\" SIZE=5 MULTIPLE>\n<OPTION VALUE=\"1\">One\n"
                          "<OPTION VALUE=\"2\">Two\n<OPTION VALUE=\"5\">Five\n</SELECT><BR>\n"));
    page = AsOperator("USERWR", {{"USER_ID", "taro"}, {"USER_NAME", "Taro"},
                                 {"GROUP_OUT", "Delete"}, {"NOWGROUP", "5"}, {"NOWGROUP", "2"}});
    EXPECT_EQ("1,taro,\r\n2,hanako,\r\n", inst.ReadData("g_user.mst"));
    EXPECT_EQ("Name of taro", Stored(inst, "taro").USER_NAME);  // memberships only
}

TEST_F(AdminTest, UserListInItsFourOrders) {
    std::ofstream(inst.dataDir + "group.mst", std::ios::binary) << "2,Second,\r\n3,<Third>,\r\n";
    inst.AddUser("b", "pw", 20, 1, 2);
    inst.AddUser("A", "pw", 20, 2, 0);
    inst.AddUser("c", "pw", 1, 1, 1);
    const auto rows = [&](const std::string& sjob) {
        const std::string page = AsOperator("USERLIST", {{"SJOB", sjob}});
        std::string ids;
        std::regex re("JOB=USERMENT&USER_ID=([^\"]*)\">");
        for (auto it = std::sregex_iterator(page.begin(), page.end(), re);
             it != std::sregex_iterator(); ++it)
            ids += (*it)[1].str() + " ";
        return ids;
    };
    EXPECT_EQ("admin taro b A c ", rows("NON_ORDER"));
    EXPECT_EQ("A admin b c taro ", rows("ORDER_ID"));
    EXPECT_EQ("admin A b taro c ", rows("ORDER_LEVEL"));   // A and b share level 20
    EXPECT_EQ("admin A c b taro ", rows("ORDER_PGROUP"));  // admin and A share no group
    EXPECT_EQ("", rows("SOMETHING"));

    const std::string page = AsOperator("USERLIST", {{"SJOB", "NON_ORDER"}});
    EXPECT_TRUE(Has(page, "<B>" + inst.msg(163) + "</B><BR>\n<TABLE BORDER>\n"));
    EXPECT_TRUE(Has(page, "<TR>\n\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"LEFT\"><A HREF=\"boardcgi.cgi?SKEY=" +
                              opKey + "&JOB=USERMENT&USER_ID=taro\">taro</A></TD>\n"
                              "\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"LEFT\">Name of taro</TD>\n"
                              "\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\">5</TD>\n"
                              "\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"LEFT\">&lt;Third&gt;<BR></TD>\n"
                              "\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"LEFT\"><BR></TD>\n</TR>\n"));
    EXPECT_TRUE(Has(page, "ALIGN=\"LEFT\">" + inst.msg(168) + "<BR></TD>\n"));  // A is shared
    EXPECT_FALSE(Has(AsOperator("USERLIST"), "<TABLE BORDER>"));
}

TEST_F(AdminTest, DeletedUserLeavesNoSessionMembershipOrAccessEntry) {
    std::ofstream(inst.dataDir + "g_user.mst", std::ios::binary) << "1,taro,\r\n1,admin,\r\n";
    for (const UserAclEntry& e : {UserAclEntry{1, "taro", 2}, UserAclEntry{4, "taro", 3},
                                  UserAclEntry{4, "admin", 1}})
        SaveUserAcl(inst.dataDir, e);
    BuildUserListById(inst.dataDir);
    ASSERT_TRUE(Has(inst.ReadData("user2.mst"), "taro,"));
    const std::string page = AsOperator("USERWR", {{"USER_ID", "taro"}, {"USER_NAME", "Taro"},
                                                   {"SUB3", "Delete"}});
    EXPECT_FALSE(Has(inst.ReadData("user2.mst"), "taro,"));  // the built list goes along
    std::string id = "taro";
    UserRecord gone;
    EXPECT_EQ(-1, FindUser(inst.dataDir, id, gone));
    EXPECT_EQ("1,admin,\r\n", inst.ReadData("g_user.mst"));
    const std::vector<UserAclEntry> acls = ReadUserAcls(inst.dataDir);
    ASSERT_EQ(1u, acls.size());
    EXPECT_EQ("admin", acls[0].USER_ID);
    EXPECT_EQ(-1, FindSessionKeyOfUser(inst.dataDir, "taro"));
    // The list page with its buttons only follows.
    EXPECT_TRUE(Has(page, "<FONT SIZE=\"5\"><B>" + inst.msg(109) + "</B></FONT>\n<TABLE>\n"));
    EXPECT_FALSE(Has(page, "<TABLE BORDER>"));
    // A new user of the same id inherits nothing.
    AsOperator("NEWUSERWR", NewUser("taro"));
    EXPECT_TRUE(Has(inst.Get("SKEY=" + memberKey + "&JOB=FRM21"), inst.msg(6)));
}

TEST_F(AdminTest, EditPageEscapesEveryValue) {
    std::ofstream(inst.dataDir + "group.mst", std::ios::binary) << "3,<G&>,\r\n";
    UserRecord u = Stored(inst, "taro");
    u.USER_NAME = "\"><script>";
    u.USER_PASS = "p\"w";
    u.E_MAIL_ADDR = "a'b@x";
    u.PICFILE = "a\".png";
    ASSERT_EQ(0, RewriteUser(inst.dataDir, u));
    inst.AddUser("x&y", "pw", 1, 1);
    const std::string page = AsOperator("USERMENT", {{"USER_ID", "taro"}});
    EXPECT_FALSE(Has(page, "<script>"));
    EXPECT_TRUE(Has(page, "VALUE=\"&quot;&gt;&lt;script&gt;\""));
    EXPECT_TRUE(Has(page, "VALUE=\"p&quot;w\""));
    EXPECT_TRUE(Has(page, "VALUE=\"a&#39;b@x\""));
    EXPECT_TRUE(Has(page, "NAME=\"PICFILE\" VALUE=\"a&quot;.png\""));
    EXPECT_TRUE(Has(page, "<SELECT NAME=\"P_GROUP\" >\n<OPTION VALUE=\"3\">&lt;G&amp;&gt;\n"
                          "<OPTION VALUE=\"3\">&lt;G&amp;&gt;\n<OPTION VALUE=\"0\">" +
                          inst.msg(170) + "\n</SELECT>\n"));
    EXPECT_TRUE(Has(AsOperator("USERLIST", {{"SJOB", "NON_ORDER"}}),
                    "&JOB=USERMENT&USER_ID=x%26y\">x&amp;y</A>"));
}

// The deleting and deciding jobs change several files as one, the membership and access list
// changes several entries in one write: when that cannot be stored (here the data lock cannot
// be had) the job's result page says so and no file has changed.
TEST_F(AdminTest, DeletionsAndDecisionsThatCannotBeStoredSaySoAndChangeNothing) {
    std::ofstream(inst.dataDir + "group.mst", std::ios::binary) << "3,Third,\r\n";
    std::ofstream(inst.dataDir + "g_user.mst", std::ios::binary) << "3,taro,\r\n";
    IdApplication app;
    app.USER_ID = "jiro";
    ASSERT_EQ(0, AddApplication(inst.dataDir, app));
    const auto files = [&] {
        std::string all;
        for (const char* f : {"user.mst", "skey.mst", "group.mst", "g_user.mst", "g_user.dat",
                              "b_g_acl.mst", "b_u_acl.mst"})
            all += inst.ReadData(f) + "|";
        return all;
    };
    const std::string before = files();
    std::filesystem::remove(inst.dataDir + "board.lock");
    std::filesystem::create_directory(inst.dataDir + "board.lock");
    const struct {
        const char* job;
        Fields fields;
        int title;
    } cases[] = {
        {"USERWR", {{"USER_ID", "taro"}, {"USER_NAME", "Taro"}, {"SUB3", "Delete"}}, 109},
        {"AccessLogDeleteUser", {{"USER_ID", "taro"}}, 112},
        {"DELGROUPWR", {{"T02_GROUP_ID", "3"}}, 161},
        {"IDSINSEIsysopWR", {{"OK_NG", "1"}, {"MES", "1"}, {"USER_ID", "jiro"}}, 311},
        {"USERWR", {{"USER_ID", "taro"}, {"USER_NAME", "Taro"}, {"GROUP_IN", "Add"}, {"GROUPLIST", "3"}}, 109},
        {"USERWR", {{"USER_ID", "taro"}, {"USER_NAME", "Taro"}, {"GROUP_OUT", "Remove"}, {"NOWGROUP", "3"}}, 109},
        {"BORDACCESSWR", {{"FOLDER_NO", "1"}, {"GROUP_ADD", "Add"}, {"GROUPLIST", "3"}}, 191},
        {"BORDACCESSWR", {{"FOLDER_NO", "1"}, {"USER_ADD", "Add"}, {"USERLIST", "taro"}}, 191},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(Has(AsOperator(c.job, c.fields), ResultOf(c.title, 382))) << c.job;
        EXPECT_EQ(before, files()) << c.job;
    }
}

}  // namespace
}  // namespace admintest
