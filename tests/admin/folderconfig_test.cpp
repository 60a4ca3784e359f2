// A folder's settings page and access page with their saves, through the program.
#include <filesystem>

#include "store/acl.h"
#include "store/folders.h"
#include "store/groups.h"
#include "tests/admin/folder_fixture.h"

namespace {

class FolderConfigTest : public AdminSite {
protected:
    void SetUp() override {
        AdminSite::SetUp();
        inst.WriteFolders({"A,1,Dir,", " B,2,Board,", " C,3,Board,"});
        for (int n = 1; n <= 3; ++n) inst.WriteFolderSettings(n, 5, 6);
        SaveGroup(inst.dataDir, GroupRecord{7, "Group <7>"});
        SaveGroup(inst.dataDir, GroupRecord{8, "Eight"});
    }
    FolderSettings Stored(int n) const {
        FolderSettings s;
        EXPECT_EQ(0, FindFolderSettings(inst.dataDir, n, s));
        return s;
    }
};

TEST_F(FolderConfigTest, AManagerEditsHisOwnFolderOnly) {
    const std::string mgr = LoginUser("mgr", 1);
    SaveUserAcl(inst.dataDir, UserAclEntry{2, "mgr", 3});
    for (const char* job : {"BORDCONFIG", "BORDACCESS"}) {
        EXPECT_TRUE(Has(Job(job, "&FOLDER_NO=2", mgr), "<FONT SIZE=\"5\"><B>(B) ")) << job;
        EXPECT_TRUE(Has(Job(job, "&FOLDER_NO=3", mgr), inst.msg(3) + "\n<FORM>\n")) << job;
    }
    const std::string save = "&NAME=Renamed&ADD_MAX=2&READ_CHK=2&REWRITE_FLG=2";
    EXPECT_TRUE(Has(Job("BORDCONFIGWR", "&FOLDER_NO=3" + save, mgr), Refused(3)));
    EXPECT_TRUE(Has(Job("BORDACCESSWR", "&FOLDER_NO=3&SUB1=x&READ_LEVEL=0", mgr), Refused(3)));
    EXPECT_EQ(Tree()[2], " C,3,Board,");
    EXPECT_EQ(Stored(3).readLevel, 5);

    Job("BORDCONFIGWR", "&FOLDER_NO=2" + save, mgr);
    Job("BORDACCESSWR", "&FOLDER_NO=2&SUB1=x&READ_LEVEL=0&WRITE_LEVEL=1", mgr);
    EXPECT_EQ(Tree()[1], " Renamed,2,Board,");
    EXPECT_EQ(Stored(2).ADD_MAX, 2);
    // The folder list is not his: no way back to it.
    EXPECT_FALSE(Has(Job("BORDCONFIG", "&FOLDER_NO=2", mgr), "value=\"FOLDERLIST\""));
    EXPECT_EQ(Stored(2).readLevel, 0);
}

TEST_F(FolderConfigTest, SettingsAndLevelsAreSavedEachWithoutTheOther) {
    const std::string info = "a%0D%0Ab" + std::string(4996, 'x');  // 5,000 bytes as typed
    const std::string page = Job("BORDCONFIGWR", "&FOLDER_NO=2&NAME=New+%3Cname%3E&ADD_MAX=3"
                                 "&READ_CHK=2&REWRITE_FLG=2&TITLEPIC=t.gif&BACKPIC=b.gif"
                                 "&DIRPIC=d.gif&INFO=" + info + "&DEFO=%3C%2FTEXTAREA%3Eq%0D%0A"
                                 "&FONTCOLOR=ff0000&RESFONTCOLOR=00ff00");
    FolderSettings s = Stored(2);
    EXPECT_EQ(s.INFO, "a\rb" + std::string(3996, 'x'));  // cut to 4,000 bytes, then no LF
    EXPECT_EQ(s.DEFO, "</TEXTAREA>q\r");
    EXPECT_EQ(std::make_tuple(s.ADD_MAX, s.READ_CHK, s.REWRITE_FLG, s.readLevel, s.writeLevel),
              std::make_tuple(3, 2, 2, 5, 6));
    EXPECT_EQ(std::make_tuple(s.TITLEPIC, s.BACKPIC, s.DIRPIC, s.FONTCOLOR, s.RESFONTCOLOR),
              std::make_tuple("t.gif", "b.gif", "d.gif", "ff0000", "00ff00"));
    EXPECT_EQ(Tree()[1], " New <name>,2,Board,");
    // The settings page follows, with every value escaped and the options in stored order.
    EXPECT_TRUE(Has(page, "\t\t<BODY BACKGROUND=\"/web/2/b.gif\" BGPROPERTIES=FIXED >\n"));
    EXPECT_TRUE(Has(page, "<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"boardcgi.cgi\" "
                          "METHOD=POST >\n<INPUT TYPE=\"hidden\" name=\"SKEY\" value=\"" + key +
                          "\">\n<INPUT TYPE=\"hidden\" name=\"FOLDER_NO\" value=\"2\">\n"
                          "<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"BORDCONFIGWR\">\n<TABLE BORDER>\n"));
    EXPECT_TRUE(Has(page, "NAME=\"NAME\" VALUE=\"New &lt;name&gt;\""));
    EXPECT_TRUE(Has(page, ">&lt;/TEXTAREA&gt;q\r</TEXTAREA>"));
    EXPECT_TRUE(Has(page, "<SELECT NAME=\"READ_CHK\" >\n<OPTION VALUE=\"2\">" + inst.msg(218) +
                              "\n<OPTION VALUE=\"1\">" + inst.msg(217) + "\n</SELECT>\n"));
    EXPECT_TRUE(Has(page, "name=\"JOB\" value=\"FOLDERLIST\">\n<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"" +
                              inst.msg(4) + "\">\n</FORM>\n</TD>\n"));
    EXPECT_FALSE(Has(Job("BORDCONFIG", "&FOLDER_NO=2&FROM=ROOM"), "value=\"FOLDERLIST\""));

    Job("BORDACCESSWR", "&FOLDER_NO=2&SUB1=Set&READ_LEVEL=7&WRITE_LEVEL=8");
    FolderSettings expected = s;
    expected.readLevel = 7;
    expected.writeLevel = 8;
    EXPECT_EQ(PackFolderSettings(Stored(2)), PackFolderSettings(expected));
}

TEST_F(FolderConfigTest, RefusedSavesStoreNothingAndUploadedPicturesTakeTheirClientName) {
    const std::string before = inst.ReadData("b_title.mst") + inst.ReadData("b_title2.mst");
    const struct {
        std::string name, picture;
        int refusal;
    } refused[] = {{"", "C:\\p\\ok.gif", 206}, {"a,b", "C:\\p\\ok.gif", 362},
                   {"a\nb", "ok.gif", 362}};
    for (const auto& r : refused) {
        SCOPED_TRACE(r.name + " " + r.picture);
        const std::string page = Multipart("BORDCONFIGWR", {{"FOLDER_NO", "2"},
                                                            {"NAME", r.name},
                                                            {"@FILE1", r.picture + "|GIF89a"}});
        EXPECT_TRUE(Has(page, Refused(r.refusal)));
        EXPECT_EQ(inst.ReadData("b_title.mst") + inst.ReadData("b_title2.mst"), before);
        EXPECT_FALSE(std::filesystem::exists(inst.webDir + "2"));
        EXPECT_FALSE(UploadsLeft());
    }
    // A picture with a picture name replaces what was typed; one without is not placed, the
    // rest is saved and the page says why.
    const std::string page = Multipart(
        "BORDCONFIGWR", {{"FOLDER_NO", "2"}, {"NAME", "Renamed"}, {"BACKPIC", "typed.gif"},
                         {"TITLEPIC", "title.gif"}, {"@FILE1", "C:\\p\\page.html|<script>"},
                         {"@FILE2", "C:\\pics\\wall.png|PNGDATA"}});
    EXPECT_TRUE(Has(page, "</B></FONT>\n<FONT COLOR=\"RED\"><B>" + inst.msg(380) + "</B></FONT><BR>\n"));
    EXPECT_EQ(Stored(2).BACKPIC, "wall.png");
    EXPECT_EQ(Stored(2).TITLEPIC, "title.gif");
    EXPECT_EQ(Tree()[1], " Renamed,2,Board,");
    EXPECT_EQ(ReadFileBytes(inst.webDir + "2/wall.png"), "PNGDATA");
    EXPECT_FALSE(std::filesystem::exists(inst.webDir + "2/page.html"));
    EXPECT_FALSE(UploadsLeft());
}

TEST_F(FolderConfigTest, AccessListsChangeOneButtonAtATime) {
    const std::string mgr = LoginUser("mgr", 1, 8);
    Job("BORDACCESSWR", "&FOLDER_NO=2&GROUP_ADD=Add&GROUPLIST=7&GROUPLIST=8&GROUPMODE=1");
    Job("BORDACCESSWR", "&FOLDER_NO=2&GROUP_ADD=Add&GROUPLIST=7&GROUPMODE=2");
    Job("BORDACCESSWR", "&FOLDER_NO=2&GROUP_DEL=Remove");  // nothing selected
    Job("BORDACCESSWR", "&FOLDER_NO=2&USER_ADD=Add&USERLIST=mgr&USERLIST=admin&USERMODE=3");
    Job("BORDACCESSWR", "&FOLDER_NO=2&USER_DEL=Remove&NOWUSER=admin&USER_ADD=later&USERLIST=admin");
    const auto groups = ReadGroupAcls(inst.dataDir);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(std::make_tuple(groups[0].groupId, groups[0].level), std::make_tuple(7, 2));
    EXPECT_EQ(std::make_tuple(groups[1].groupId, groups[1].level), std::make_tuple(8, 1));
    const auto users = ReadUserAcls(inst.dataDir);
    ASSERT_EQ(users.size(), 1u);
    EXPECT_EQ(users[0].USER_ID, "mgr");

    const std::string page = Job("BORDACCESS", "&FOLDER_NO=2");
    EXPECT_TRUE(Has(page, "<SELECT NAME=\"NOWGROUP\" SIZE=5 MULTIPLE>\n<OPTION VALUE=\"7\">Group &lt;7&gt;[" +
                              inst.msg(232) + "]\n<OPTION VALUE=\"8\">Eight[" + inst.msg(231) +
                              "]\n</SELECT><BR>\n"));
    EXPECT_TRUE(Has(page, "<OPTION VALUE=\"mgr\">Name of mgr[" + inst.msg(233) + "]\n</SELECT>"));
    EXPECT_TRUE(Has(page, "<OPTION VALUE=\"admin\">Name of admin<OPTION VALUE=\"mgr\">Name of mgr[Eight]\n"));
    EXPECT_TRUE(Has(page, "<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"" + inst.msg(238) + "\">\n"));
    EXPECT_FALSE(Has(Job("BORDACCESS", "&FOLDER_NO=2&FROM=ROOM"), inst.msg(238)));
    // The manager's new rights show at once: the folder's pages open for him.
    EXPECT_TRUE(Has(Job("BORDACCESS", "&FOLDER_NO=2", mgr), "<FONT SIZE=\"5\"><B>(B) "));
}

}  // namespace
