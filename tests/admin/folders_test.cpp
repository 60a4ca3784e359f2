// The folder list and creating, deleting and moving folders, through the program.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "store/acl.h"
#include "store/folders.h"
#include "tests/admin/folder_fixture.h"

namespace {

using Lines = std::vector<std::string>;
const Lines kTree = {"A,1,Dir,", " B,2,Board,", " C,3,Board,", "D,4,Board,"};

class FolderAdminTest : public AdminSite {
protected:
    void Plant(const Lines& lines) {
        inst.WriteFolders(lines);
        for (const std::string& l : lines) {
            FolderRecord f;
            if (ParseFolderLine(l, f)) inst.WriteFolderSettings(f.folderNo, 1, 1);
        }
    }
};

TEST_F(FolderAdminTest, ListShowsEveryFolderWithItsLinksAndTheImportForm) {
    inst.WriteFolders({"Dir <&>,1,Dir,", " Board,2,Board,"});
    inst.WriteFolderSettings(2, 1, 1, "my pic.gif");
    const std::string page = Job("FOLDERLIST");
    const std::string k = key, v = "\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=";
    const auto button = [&](const char* job, int m) {
        return "<TD>\n<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"boardcgi.cgi\" METHOD=POST >\n"
               "<INPUT TYPE=\"hidden\" name=\"SKEY\" value=\"" + k + "\">\n"
               "<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"" + job + "\">\n"
               "<INPUT TYPE=\"submit\" name=\"SUB\" VALUE=\"" + inst.msg(m) + "\">\n</FORM>\n</TD>\n";
    };
    const auto actions = [&](int no, int pos, const std::string& alt) {
        std::string s;
        const char* jobs[] = {"BORDCONFIG&FOLDER_NO=", "BORDACCESS&FOLDER_NO=", "BORDMOVE&DISPNO="};
        for (int i = 0; i < 3; ++i)
            s += v + "\"CENTER\">\n<A HREF=\"boardcgi.cgi?SKEY=" + k + "&JOB=" + jobs[i] +
                 std::to_string(i < 2 ? no : pos) + "\"><IMG SRC=\"/web/bot000" +
                 std::to_string(i + 1) + ".gif\" ALT=\"" + alt + "\" BORDER=0></A></TD>\n";
        return s;
    };
    std::string headings;
    for (int m = 187; m <= 192; ++m)
        headings += "\t<TD NOWRAP BGCOLOR=\"#E0FFFF\" ALIGN=\"CENTER\">" + inst.msg(m) + "</TD>\n";
    const std::string expected =
        PageHead(inst.msg) + "\t\t<BODY BACKGROUND=\"/web/back.gif\" BGPROPERTIES=FIXED >\n"
        "<FONT SIZE=\"5\"><B>" + inst.msg(184) + "</B></FONT>\n<TABLE>\n<TR>\n" +
        button("ADMIN", 4) + button("NEWFOLDER", 185) + button("DELFOLDER", 186) +
        "<TD>\n<FORM ACTION=\"boardcgi.cgi\" METHOD=POST >\n"
        "<INPUT TYPE=\"hidden\" name=\"SKEY\" value=\"" + k + "\">\n"
        "<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"FOLDER_DOWNLOAD\">\n"
        "<INPUT TYPE=\"submit\" name=\"SUB\" VALUE=\"" + inst.msg(243) + "\">\n</FORM>\n</TD>\n"
        "</TR>\n</TABLE>\n<TABLE BORDER>\n<TR>\n" + headings + "</TR>\n"
        "<TR>\n" + v + "\"CENTER\">1</TD>\n" + v + "\"CENTER\">1</TD>\n" + v +
        "\"LEFT\"><IMG SRC=\"/web/folderclose.gif\">Dir &lt;&amp;&gt;</TD>\n" +
        actions(1, 1, "Dir &lt;&amp;&gt;") + "</TR>\n"
        "<TR>\n" + v + "\"CENTER\">2</TD>\n" + v + "\"CENTER\">2</TD>\n" + v +
        "\"LEFT\">&nbsp;&nbsp;<IMG SRC=\"/web/2/my%20pic.gif\">Board</TD>\n" +
        actions(2, 2, "Board") + "</TR>\n</TABLE>\n"
        "<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"boardcgi.cgi\" METHOD=POST >\n"
        "<INPUT TYPE=\"hidden\" name=\"SKEY\" value=\"" + k + "\">\n"
        "<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"FOLDER_UPLOAD\">\n<TABLE BORDER>\n<TR>\n"
        "\t<TD NOWRAP BGCOLOR=\"#E0FFFF\" ALIGN=\"CENTER\">" + inst.msg(244) + "</TD>\n" + v +
        "\"CENTER\"><INPUT TYPE=\"FILE\" NAME=\"FILE1\"></TD>" + v +
        "\"CENTER\"><INPUT TYPE=\"submit\" name=\"SUB\" VALUE=\"" + inst.msg(245) + "\"></TD>\n"
        "</TR>\n</TABLE>\n</FORM>\n</BODY>\n</HTML>\n";
    EXPECT_EQ(page, expected);

    // Below level 100 every folder page is refused and the writing steps change nothing.
    const std::string member = LoginUser("member", 99);
    for (const char* job : {"FOLDERLIST", "NEWFOLDER", "DELFOLDER", "BORDMOVE"})
        EXPECT_TRUE(Has(Job(job, "", member), inst.msg(3) + "\n<FORM>\n")) << job;
    Job("NEWFOLDERWR", "&DISPNO=0&CLASS=1&MODE=2&NAME=X", member);
    Job("DELFOLDERWR", "&DISPNO=1", member);
    EXPECT_TRUE(Has(Job("BORDMOVEWR", "&SRC_DISPNO=2&DISPNO=0&CLASS=1", member), Refused(3)));
    EXPECT_EQ(Tree(), Lines({"Dir <&>,1,Dir,", " Board,2,Board,"}));
}

TEST_F(FolderAdminTest, CreateAtEveryPlacementAndRefuseWhatCannotBeStored) {
    struct Case {
        Lines tree;
        std::string fields;
        Lines after;  // empty: refused with message refusal
        int refusal;
    };
    const Lines ab = {"A,1,Dir,", " B,2,Board,"};
    const Case cases[] = {
        {kTree, "DISPNO=2&CLASS=1&MODE=2&NAME=X",
         {"A,1,Dir,", " B,2,Board,", " X,5,Board,", " C,3,Board,", "D,4,Board,"}, 0},
        {kTree, "DISPNO=3&CLASS=1&MODE=3&NAME=X",
         {"A,1,Dir,", " B,2,Board,", " C,3,Board,", "X,5,Chat,", "D,4,Board,"}, 0},
        {kTree, "DISPNO=1&CLASS=2&MODE=1&NAME=X",
         {"A,1,Dir,", " X,5,Dir,", " B,2,Board,", " C,3,Board,", "D,4,Board,"}, 0},
        {kTree, "DISPNO=0&CLASS=2&MODE=2&NAME=X", {"A,1,Dir,", " B,2,Board,", " C,3,Board,",
                                                    "D,4,Board,", "X,5,Board,"}, 0},
        {ab, "DISPNO=1&CLASS=1&MODE=2&NAME=X", {"A,1,Dir,", " B,2,Board,", " X,3,Board,"}, 0},
        {{}, "DISPNO=0&CLASS=1&MODE=2&NAME=First", {"First,1,Board,"}, 0},
        // Blanks in front of a name would read back as depth.
        {{"A,1,Dir,"}, "DISPNO=1&CLASS=2&MODE=2&NAME=+++X", {"A,1,Dir,", " X,2,Board,"}, 0},
        {kTree, "DISPNO=1&CLASS=1&MODE=2&NAME=+++", {}, 206},
        // Positions count folders, not lines: a line that is no folder is passed over.
        {{"A,1,Dir,", "junk", " B,2,Board,"}, "DISPNO=2&CLASS=1&MODE=2&NAME=X",
         {"A,1,Dir,", "junk", " B,2,Board,", " X,3,Board,"}, 0},
        {kTree, "DISPNO=4&CLASS=2&MODE=2&NAME=X", {}, 207},
        {kTree, "DISPNO=9&CLASS=1&MODE=2&NAME=X", {}, 207},
        {kTree, "DISPNO=1&CLASS=1&MODE=2&NAME=", {}, 206},
        {kTree, "DISPNO=1&CLASS=1&MODE=2&NAME=X%2CY", {}, 362},
        {kTree, "DISPNO=1&CLASS=1&MODE=2&NAME=X%0D%0AY", {}, 362},
        {kTree, "DISPNO=1&CLASS=1&MODE=7&NAME=X", {}, 385},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fields);
        Plant(c.tree);
        const std::string page = Job("NEWFOLDERWR", "&" + c.fields);
        if (c.refusal != 0) {
            EXPECT_TRUE(Has(page, Refused(c.refusal)));
            EXPECT_EQ(Tree(), c.tree);
            continue;
        }
        EXPECT_TRUE(Has(page, inst.msg(184)));  // the folder list follows
        EXPECT_EQ(Tree(), c.after);
    }
    // The new folder's settings start with the two options at 1; stale entries of its number
    // (left by an older tree) are gone, so it starts with no access of its own.
    Plant(kTree);
    SaveUserAcl(inst.dataDir, UserAclEntry{5, "someone", 3});
    SaveGroupAcl(inst.dataDir, GroupAclEntry{5, 7, 2});
    Job("NEWFOLDERWR", "&DISPNO=0&CLASS=1&MODE=2&NAME=New");
    FolderSettings s;
    ASSERT_EQ(0, FindFolderSettings(inst.dataDir, 5, s));
    EXPECT_EQ(s.READ_CHK, 1);
    EXPECT_EQ(s.REWRITE_FLG, 1);
    EXPECT_EQ(s.readLevel, 0);
    EXPECT_TRUE(ReadUserAcls(inst.dataDir).empty());
    EXPECT_TRUE(ReadGroupAcls(inst.dataDir).empty());
}

TEST_F(FolderAdminTest, DeleteTakesTheSubtreeWithItsFilesSettingsAndAccessLists) {
    const std::string files = inst.root + "files/";
    std::filesystem::create_directory(files);
    inst.Set("ADD_FILE_PATH", files);
    Plant(kTree);
    const std::string outside = inst.root + "outside.txt";
    std::ofstream(outside) << "keep";
    for (int n = 1; n <= 4; ++n) {
        const std::string d = inst.dataDir + std::to_string(n), a = files + std::to_string(n);
        std::filesystem::create_directories(d + "/sub");
        std::filesystem::create_directories(a + "/X1");
        std::ofstream(d + "/index.dat") << "x";
        std::ofstream(a + "/X1/file.txt") << "x";
        std::filesystem::create_symlink(outside, d + "/link");
        SaveGroupAcl(inst.dataDir, GroupAclEntry{n, 1, 1});
        SaveUserAcl(inst.dataDir, UserAclEntry{n, "u", 2});
    }
    Job("DELFOLDERWR", "&DISPNO=1");
    EXPECT_EQ(Tree(), Lines({"D,4,Board,"}));
    for (int n = 1; n <= 4; ++n) {
        EXPECT_EQ(std::filesystem::exists(inst.dataDir + std::to_string(n)), n == 4) << n;
        EXPECT_EQ(std::filesystem::exists(files + std::to_string(n)), n == 4) << n;
    }
    EXPECT_EQ(ReadFileBytes(outside), "keep");
    const auto settings = ReadAllFolderSettings(inst.dataDir);
    ASSERT_EQ(settings.size(), 1u);
    EXPECT_EQ(settings[0].folderNo, 4);
    ASSERT_EQ(ReadGroupAcls(inst.dataDir).size(), 1u);
    EXPECT_EQ(ReadGroupAcls(inst.dataDir)[0].folderNo, 4);
    ASSERT_EQ(ReadUserAcls(inst.dataDir).size(), 1u);
    EXPECT_EQ(ReadUserAcls(inst.dataDir)[0].folderNo, 4);

    // A position with no folder deletes nothing; positions count folders, not lines.
    Job("DELFOLDERWR", "&DISPNO=5");
    EXPECT_EQ(Tree(), Lines({"D,4,Board,"}));
    Plant({"junk", "A,1,Board,", "B,2,Board,"});
    Job("DELFOLDERWR", "&DISPNO=2");
    EXPECT_EQ(Tree(), Lines({"junk", "A,1,Board,"}));
}

TEST_F(FolderAdminTest, MoveKeepsTheBlockShapeAndRefusesItsOwnSubtree) {
    const struct {
        std::string fields;
        Lines after;
        int refusal;
    } cases[] = {
        {"SRC_DISPNO=4&DISPNO=1&CLASS=2", {"A,1,Dir,", " D,4,Board,", " B,2,Board,", " C,3,Board,"}, 0},
        {"SRC_DISPNO=1&DISPNO=4&CLASS=1", {"D,4,Board,", "A,1,Dir,", " B,2,Board,", " C,3,Board,"}, 0},
        {"SRC_DISPNO=3&DISPNO=0&CLASS=2", {"C,3,Board,", "A,1,Dir,", " B,2,Board,", "D,4,Board,"}, 0},
        {"SRC_DISPNO=2&DISPNO=4&CLASS=1", {"A,1,Dir,", " C,3,Board,", "D,4,Board,", "B,2,Board,"}, 0},
        {"SRC_DISPNO=1&DISPNO=2&CLASS=1", {}, 242},
        {"SRC_DISPNO=1&DISPNO=3&CLASS=1", {}, 242},
        {"SRC_DISPNO=1&DISPNO=1&CLASS=2", {}, 242},
        {"SRC_DISPNO=9&DISPNO=1&CLASS=1", {}, 207},
        {"SRC_DISPNO=4&DISPNO=2&CLASS=2", {}, 207},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fields);
        Plant(kTree);
        const std::string page = Job("BORDMOVEWR", "&" + c.fields);
        if (c.refusal != 0) {
            EXPECT_TRUE(Has(page, Refused(c.refusal)));
            EXPECT_EQ(Tree(), kTree);
        } else {
            EXPECT_EQ(Tree(), c.after);
        }
    }
    // A directory's whole block moves with its inner depths.
    Plant({"A,1,Dir,", " B,2,Dir,", "  C,3,Board,", "D,4,Dir,"});
    Job("BORDMOVEWR", "&SRC_DISPNO=2&DISPNO=4&CLASS=2");
    EXPECT_EQ(Tree(), Lines({"A,1,Dir,", "D,4,Dir,", " B,2,Dir,", "  C,3,Board,"}));
}

TEST_F(FolderAdminTest, FormPagesOfferThePositions) {
    Plant(kTree);
    const std::string options = "<OPTION VALUE=\"1\">1:A\n<OPTION VALUE=\"2\">2:B\n"
                                "<OPTION VALUE=\"3\">3:C\n<OPTION VALUE=\"4\">4:D\n</SELECT>";
    const std::string create = Job("NEWFOLDER");
    EXPECT_TRUE(Has(create, "<OPTION VALUE=\"0\">" + inst.msg(195) + "\n" + options));
    EXPECT_TRUE(Has(create, "<SELECT NAME=\"MODE\" >\n<OPTION VALUE=\"2\">" + inst.msg(201) +
                                "\n<OPTION VALUE=\"3\">" + inst.msg(203) + "\n<OPTION VALUE=\"1\">" +
                                inst.msg(202) + "\n</SELECT></TD>\n"));
    EXPECT_TRUE(Has(Job("DELFOLDER"), "<SELECT NAME=\"DISPNO\" >\n" + options + "</TD>\n"));
    const std::string move = Job("BORDMOVE", "&DISPNO=2");
    EXPECT_TRUE(Has(move, "<FONT SIZE=\"5\"><B>(B) " + inst.msg(239) + "</B></FONT>\n"));
    EXPECT_TRUE(Has(move, "\t<TD NOWRAP BGCOLOR=\"#FFB6C1\" ALIGN=\"CENTER\">2</TD>\n"
                          "\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\">2</TD>\n"
                          "\t<TD NOWRAP BGCOLOR=\"#FFB6C1\" ALIGN=\"LEFT\">&nbsp;&nbsp;"));
    EXPECT_TRUE(Has(move, "<INPUT TYPE=\"hidden\" name=\"SRC_DISPNO\" value=\"2\">\n"));
}

}  // namespace
