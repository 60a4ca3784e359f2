// The folder menu as the program writes it: open and closed directories through DISP_NO,
// folders hidden by rights, pictures, unread counts and the buttons per account.
#include "app/menu.h"

#include <gtest/gtest.h>

#include "installation.h"
#include "store/messages.h"
#include "store/readmarks.h"

namespace {

class MenuTest : public ::testing::Test {
protected:
    Installation inst;
    std::string key;

    void LoginAs(const std::string& id, int level, int mode, int noReadMode = 0) {
        inst.AddUser(id, "pw", level, mode, 0, noReadMode);
        key = inst.Login(id, "pw");
        ASSERT_FALSE(key.empty());
    }
    std::string Menu(const std::string& extra = "") {
        return inst.Get("SKEY=" + key + "&JOB=FRM21" + extra);
    }
    static std::string Table(const std::string& page) {
        size_t from = page.find("<TABLE>\n");
        size_t to = page.find("</TABLE>\n");
        if (from == std::string::npos || to == std::string::npos) return "no table";
        return page.substr(from + 8, to - from - 8);
    }
    std::string DirRow(const std::string& name, const std::string& indent,
                       const std::string& disp, const std::string& count = "") const {
        return "<TR><TD NOWRAP>" + indent + "<A HREF=\"boardcgi.cgi?SKEY=" + key + "&JOB=FRM21" +
               disp + "\"><IMG SRC=\"/web/folderclose.gif\" ALT=\"" + name + "\" BORDER=0>" +
               count + name + "</A><BR>\n</TD></TR>\n";
    }
    std::string BoardRow(const std::string& name, int folder, const std::string& indent,
                         const std::string& count = "",
                         const std::string& picture = "folderbook.gif") const {
        return "<TR><TD NOWRAP>" + indent + "<A HREF=\"boardcgi.cgi?SKEY=" + key +
               "&JOB=ROOM&FOLDER_NO=" + std::to_string(folder) +
               "&FAST_FLG=1\" TARGET=\"FRM22\"><IMG SRC=\"/web/" + picture + "\" ALT=\"" + name +
               "\" BORDER=0>" + count + name + "</A><BR>\n</TD></TR>\n";
    }
    std::string Button(const char* job, int message, bool named = true) const {
        return "<FORM ACTION=\"boardcgi.cgi\" METHOD=GET TARGET=\"FRM22\">\n"
               "<INPUT TYPE=\"hidden\" name=\"SKEY\" value=\"" + key + "\">\n"
               "<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"" + job + "\">\n"
               "<INPUT TYPE=\"submit\" " + (named ? "name=\"SUB\" " : "") + "VALUE=\"" +
               inst.msg(message) + "\">\n</FORM>\n";
    }
    // A board of `count` messages of which the user has read `read`.
    void Messages(int folder, int count, int read, const std::string& reader) {
        ASSERT_EQ(0, EnsureFolderDir(inst.dataDir, folder));
        std::string index;
        for (int m = 1; m <= count; ++m) {
            MessageIndexEntry e;
            e.folderNo = folder;
            e.messageNo = m;
            e.threadNo = m;
            e.WRITE_TITLE = "t";
            index += PackMessageIndexEntry(e);
        }
        ASSERT_EQ(0, AppendToFile(inst.dataDir, MessageIndexPath(inst.dataDir, folder), index, true));
        for (int m = 1; m <= read; ++m) {
            ReadMark mark;
            mark.messageNo = m;
            mark.userId = reader;
            ASSERT_EQ(0, SaveReadMark(inst.dataDir, folder, mark));
        }
    }
};

TEST_F(MenuTest, DirectoriesOpenAndCloseThroughDispNo) {
    inst.WriteFolders({"A,1,Dir,", " B,2,Board,", "C,3,Board,"});
    for (int f : {1, 2, 3}) inst.WriteFolderSettings(f, 0, 0);
    LoginAs("taro", 1, 1);
    EXPECT_EQ(DirRow("A", "", "&DISP_NO=1") + BoardRow("C", 3, ""), Table(Menu()));
    EXPECT_EQ(DirRow("A", "", "") + BoardRow("B", 2, "&nbsp;&nbsp;") + BoardRow("C", 3, ""),
              Table(Menu("&DISP_NO=1")));
}

TEST_F(MenuTest, DeeperDirectoryLinksKeepTheirAncestorsOpen) {
    inst.WriteFolders({"A,1,Dir,", " D,2,Dir,", "  E,3,Board,"});
    for (int f : {1, 2, 3}) inst.WriteFolderSettings(f, 0, 0);
    LoginAs("taro", 1, 1);
    EXPECT_EQ(DirRow("A", "", "") + DirRow("D", "&nbsp;&nbsp;", "&DISP_NO=2&DISP_NO=1"),
              Table(Menu("&DISP_NO=1")));
    EXPECT_EQ(DirRow("A", "", "") + DirRow("D", "&nbsp;&nbsp;", "&DISP_NO=1") +
                  BoardRow("E", 3, "&nbsp;&nbsp;&nbsp;&nbsp;"),
              Table(Menu("&DISP_NO=1&DISP_NO=2")));
}

TEST_F(MenuTest, FoldersWithoutRightsAreHidden) {
    inst.WriteFolders({"A,1,Dir,", " Secret,2,Board,", " Open,3,Board,", "Chat,4,Chat,"});
    inst.WriteFolderSettings(1, 0, 0);
    inst.WriteFolderSettings(2, 50, 50);
    inst.WriteFolderSettings(3, 0, 0);
    inst.WriteFolderSettings(4, 0, 0);
    LoginAs("taro", 1, 1);
    EXPECT_EQ(DirRow("A", "", "") + BoardRow("Open", 3, "&nbsp;&nbsp;") +
                  "<TR><TD NOWRAP><A HREF=\"boardcgi.cgi?SKEY=" + key +
                  "&JOB=CHAT&FOLDER_NO=4&FAST_FLG=1\" TARGET=\"FRM22\"><IMG "
                  "SRC=\"/web/folderchat.gif\" ALT=\"Chat\" BORDER=0>Chat</A><BR>\n</TD></TR>\n",
              Table(Menu("&DISP_NO=1")));
}

TEST_F(MenuTest, MemberButtons) {
    inst.WriteFolders({});
    LoginAs("taro", 1, 1);
    const std::string page = Menu();
    const std::string buttons =
        Button("NRDETAILS", 102) + Button("BATCH_UPLOAD", 365, false) + Button("SEARCH", 103) +
        Button("MYDATA", 105) + Button("SETNOREAD", 373) + Button("IDSINSEI", 106) +
        Button("IDSINSEIlist", 107) +
        "<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"boardcgi.cgi\" METHOD=POST "
        "TARGET=\"_parent\">\n"
        "<INPUT TYPE=\"hidden\" name=\"SKEY\" value=\"" + key + "\">\n"
        "<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"LOGOFF\">\n"
        "<INPUT TYPE=\"submit\" VALUE=\"" + inst.msg(13) + "\" onClick=\"return confirm('" +
        inst.msg(14) + "')\">\n</FORM>\n";
    EXPECT_EQ(PageHead(inst.msg) + "<BODY BACKGROUND=\"/web/back.gif\" BGPROPERTIES=FIXED >\n"
                  "<TABLE>\n</TABLE>\n" + buttons + "</BODY>\n</HTML>\n",
              page);
}

TEST_F(MenuTest, OperatorSeesEveryFolderAndTheAdministrationButton) {
    inst.WriteFolders({"A,1,Dir,", " B,2,Board,"});  // no settings records at all
    LoginAs("root", 100, 1);
    const std::string page = Menu("&DISP_NO=1");
    EXPECT_EQ(DirRow("A", "", "") + BoardRow("B", 2, "&nbsp;&nbsp;"), Table(page));
    EXPECT_NE(std::string::npos, page.find(Button("SEARCH", 103) + Button("ADMIN", 104)));
}

TEST_F(MenuTest, UnreadCountsForMemberAccountsOnly) {
    inst.WriteFolders({"A,1,Dir,", " B,2,Board,", " Hidden,3,Board,", "C,4,Board,"});
    for (int f : {1, 2, 4}) inst.WriteFolderSettings(f, 0, 0);
    inst.WriteFolderSettings(3, 50, 50);
    Messages(2, 3, 1, "taro");
    Messages(3, 5, 0, "taro");  // not readable: counts nowhere
    Messages(4, 2, 2, "taro");  // all read: no count
    LoginAs("taro", 1, 1);
    EXPECT_EQ(DirRow("A", "", "&DISP_NO=1", "(2)") + BoardRow("C", 4, ""), Table(Menu()));
    EXPECT_EQ(DirRow("A", "", "", "(2)") + BoardRow("B", 2, "&nbsp;&nbsp;", "(2)") +
                  BoardRow("C", 4, ""),
              Table(Menu("&DISP_NO=1")));
}

TEST_F(MenuTest, NoCountsWhenSwitchedOff) {
    inst.WriteFolders({"B,1,Board,"});
    inst.WriteFolderSettings(1, 0, 0);
    Messages(1, 2, 0, "taro");
    LoginAs("taro", 1, 1, 1);
    EXPECT_EQ(BoardRow("B", 1, ""), Table(Menu()));
}

TEST_F(MenuTest, SharedAccountHasNoCountsAndNoMemberButtons) {
    inst.WriteFolders({"B,1,Board,"});
    inst.WriteFolderSettings(1, 0, 0);
    Messages(1, 2, 0, "guest");
    LoginAs("guest", 1, 2);
    const std::string page = Menu();
    EXPECT_EQ(BoardRow("B", 1, ""), Table(page));
    EXPECT_EQ(Button("BATCH_UPLOAD", 365, false) + Button("SEARCH", 103) +
                  Button("IDSINSEI", 106) + Button("IDSINSEIlist", 107) + "</BODY>\n</HTML>\n",
              page.substr(page.find("</TABLE>\n") + 9));
}

TEST_F(MenuTest, FolderPictureAndLinkFile) {
    inst.WriteFolders({"Pics & more,12,Board,"});
    inst.WriteFolderSettings(12, 0, 0, "b.gif");
    std::ofstream(inst.webDir + "link.html") << "<A HREF=\"x\">x</A><BR>\n";
    LoginAs("taro", 1, 1);
    const std::string page = Menu();
    EXPECT_EQ(BoardRow("Pics &amp; more", 12, "", "", "12/b.gif"), Table(page));
    EXPECT_NE(std::string::npos,
              page.find("BGPROPERTIES=FIXED >\n<A HREF=\"x\">x</A><BR>\n<TABLE>\n"));
}

}  // namespace
