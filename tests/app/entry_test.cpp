// The program run end to end: settings file and script name, the login page, login and session
// keys, the session pages, dispatch of unknown jobs and the access log of logins.
#include "app/entry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>

#include "app/session.h"
#include "cgi/fileops.h"
#include "installation.h"
#include "store/accesslog.h"
#include "store/recordfile.h"
#include "store/sessions.h"
#include "store/users.h"

namespace {

TEST(ProgramName, SettingsFileAndScriptName) {
    EXPECT_EQ("C:\\cgi\\board.ini", SettingsFileNameOf("C:\\cgi\\board.exe"));
    EXPECT_EQ("board.exe", ScriptNameOf("C:\\cgi\\board.exe"));
    EXPECT_EQ("/srv/cgi/boardcgi.ini", SettingsFileNameOf("/srv/cgi/boardcgi.cgi"));
    EXPECT_EQ("/srv/cgi/boardcgi.ini", SettingsFileNameOf("/srv/cgi/boardcgi"));
    EXPECT_EQ("boardcgi", ScriptNameOf("/srv/cgi/boardcgi"));
    // A dot in a directory name is no extension.
    EXPECT_EQ("/srv/cgi.d/boardcgi.ini", SettingsFileNameOf("/srv/cgi.d/boardcgi"));
    EXPECT_EQ("x.ini", SettingsFileNameOf("x.program"));
    EXPECT_EQ("x.program", ScriptNameOf("x.program"));
}

class ProgramTest : public ::testing::Test {
protected:
    Installation inst;

    std::string LoginPage() const {
        const MessageTable& m = inst.msg;
        return PageHead(m) +
               "\t\t<TITLE>Welcome to Vorbix Ver2.15 for WWW ServerOS WinNT3.51/NT4.0 & "
               "Windows95/98</TITLE>\n"
               "\t\t<BODY BACKGROUND=\"/web/back.gif\" BGPROPERTIES=FIXED >\n"
               "Vorbix Ver2.15 for WWW ServerOS WinNT3.51/NT4.0 & Windows95/98<BR>\n"
               "\t\t<CENTER>\n"
               "\t\t<IMG SRC=\"/web/title.jpg\" >\n"
               "\t\t<FORM ACTION=\"boardcgi.cgi\" METHOD=POST >\n"
               "\t\t" + m(100) + "<P>\n"
               "\t\t<TABLE>\n"
               "\t\t<TR>\n\t\t<TD>\n" + m(130) + "\t\t</TD>\n\t\t<TD>\n"
               "<INPUT TYPE=\"text\" NAME=\"uid\" SIZE=\"20\" MAXLENGTH=\"20\">\n"
               "\t\t</TD>\n\t\t</TR>\n"
               "\t\t<TR>\n\t\t<TD>\n" + m(131) + "\t\t</TD>\n\t\t<TD>\n"
               "<INPUT TYPE=\"password\" NAME=\"upw\" SIZE=\"20\" MAXLENGTH=\"20\">\n"
               "\t\t</TD>\n\t\t</TR>\n"
               "\t\t</TABLE>\n"
               "\t\t<INPUT TYPE=\"hidden\" NAME=\"JOB\" VALUE=\"TOP\"><P>\n"
               "\t\t<INPUT TYPE=\"submit\" NAME=\"sub\" VALUE=\"" + m(101) + "\">\n"
               "\t\t</FORM>\n"
               "\t\t</CENTER>\n"
               "</BODY>\n"
               "</HTML>\n";
    }
    std::string ExpiredPage() const {
        const MessageTable& m = inst.msg;
        return PageHead(m) + "<BODY BACKGROUND=\"/web/back.gif\" BGPROPERTIES=FIXED >\n"
               "<CENTER>\n<BR><FONT SIZE=\"5\"><B>" + m(6) + "</B></FONT>\n"
               "<P><BR><HR><P><BR>\n"
               "<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"boardcgi.cgi\" METHOD=POST "
               "TARGET=\"_parent\">\n"
               "<INPUT TYPE=\"submit\" VALUE=\"" + m(4) + "\" >\n"
               "</FORM>\n</CENTER>\n</BODY>\n</HTML>\n";
    }
    std::string Frameset(const std::string& key, const char* rightPage) const {
        return PageHead(inst.msg) + "<FRAMESET COLS=\"20%,*\" >\n"
               "\t<FRAME SRC = \"boardcgi.cgi?SKEY=" + key + "&JOB=FRM21\" NAME=\"FRM21\">\n"
               "\t<FRAME SRC = \"/web/" + rightPage + "\" NAME=\"FRM22\">\n"
               "</FRAMESET>\n</HTML>\n";
    }
    bool IsMenu(const std::string& page) const {
        return page.find("<TABLE>\n") != std::string::npos &&
               page.find("name=\"JOB\" value=\"SEARCH\"") != std::string::npos;
    }
};

TEST_F(ProgramTest, RequestsWithoutFieldsShowTheLoginPage) {
    EXPECT_EQ(LoginPage(), inst.Get(""));
    // A POST without a body decodes to nothing and is answered alike.
    EXPECT_EQ(LoginPage(), inst.Post(""));
    // The run created nothing but the settings it was given.
    EXPECT_FALSE(FileExists(inst.dataDir + "skey.mst"));
}

TEST_F(ProgramTest, MissingSettingsFileIsCreatedAndTheRunGoesOn) {
    std::filesystem::remove(inst.cgiDir + "boardcgi.ini");
    std::string page = inst.Get("");
    EXPECT_NE(std::string::npos, page.find("NAME=\"uid\""));
    EXPECT_TRUE(FileExists(inst.cgiDir + "boardcgi.ini"));
}

TEST_F(ProgramTest, PostingWindowClosesWithoutLogin) {
    const MessageTable& m = inst.msg;
    EXPECT_EQ(PageHead(m) +
                  "<SCRIPT Language=\"JavaScript\">\n<!--\nself.close();\n// -->\n</SCRIPT>\n"
                  "<BODY BACKGROUND=\"/web/back.gif\" BGPROPERTIES=FIXED >\n"
                  "<FONT SIZE=\"5\"><B>" + m(294) + "</B></FONT>\n<P>\n</BODY>\n</HTML>\n",
              inst.Get("JOB=BORDWRITEFIN"));
    // Even with a key that names no session.
    EXPECT_NE(std::string::npos, inst.Get("JOB=BORDWRITEFIN&SKEY=77").find("self.close();"));
}

// A session that cannot be stored is no wrong password: the login page says the change could
// not be stored.
TEST_F(ProgramTest, ALoginThatCannotBeStoredSaysSo) {
    inst.AddUser("Taro", "Secret", 1, 1);
    std::filesystem::remove(inst.dataDir + "board.lock");
    std::filesystem::create_directory(inst.dataDir + "board.lock");
    const std::string page = inst.Post("uid=taro&upw=Secret&JOB=TOP");
    EXPECT_NE(page, LoginPage());
    EXPECT_NE(page.find(inst.msg(382)), std::string::npos) << page;
}

TEST_F(ProgramTest, LoginIgnoresIdCaseButNotPasswordCase) {
    inst.AddUser("Taro", "Secret", 1, 1);
    EXPECT_EQ(LoginPage(), inst.Post("uid=taro&upw=secret&JOB=TOP"));
    EXPECT_EQ(LoginPage(), inst.Post("uid=hanako&upw=Secret&JOB=TOP"));
    EXPECT_FALSE(FileExists(inst.dataDir + "system.log"));

    // A login asked with another job shows the frameset all the same.
    const std::string page = inst.Post("uid=tARO&upw=Secret&JOB=ADMIN");
    const std::string key = Installation::KeyOfFrameset(page);
    ASSERT_FALSE(key.empty());
    EXPECT_EQ(Frameset(key, "info.html"), page);
    EXPECT_GE(std::stoll(key), 1);
    EXPECT_LE(std::stoll(key), 2147483647LL);
    // The session belongs to the id as stored.
    std::string user;
    ASSERT_EQ(0, FindSessionUserOfKey(inst.dataDir, std::stoi(key), user));
    EXPECT_EQ("Taro", user);
}

TEST_F(ProgramTest, EmptyJobWithKeyShowsTheFramesetAndUnknownJobsGetNoContent) {
    inst.AddUser("guest", "pw", 1, 2);
    const std::string key = inst.Login("guest", "pw");
    ASSERT_FALSE(key.empty());
    EXPECT_EQ(Frameset(key, "ginfo.html"), inst.Get("SKEY=" + key));
    EXPECT_EQ(kNoContent, inst.Get("SKEY=" + key + "&JOB=room"));
    EXPECT_EQ(kNoContent, inst.Get("SKEY=" + key + "&JOB=NOSUCHJOB"));
    // The key is taken as the number it names; other texts name no session.
    EXPECT_TRUE(IsMenu(inst.Get("SKEY=+" + key + "&JOB=FRM21")));
    EXPECT_EQ(ExpiredPage(), inst.Get("SKEY=abc&JOB=FRM21"));
    EXPECT_EQ(ExpiredPage(), inst.Get("SKEY=0&JOB=FRM21"));
}

TEST_F(ProgramTest, SecondMemberLoginExpiresTheFirstKey) {
    inst.AddUser("taro", "pw", 1, 1);
    const std::string first = inst.Login("taro", "pw");
    ASSERT_TRUE(IsMenu(inst.Get("SKEY=" + first + "&JOB=FRM21")));
    const std::string second = inst.Login("TARO", "pw");
    ASSERT_FALSE(second.empty());
    EXPECT_NE(first, second);
    EXPECT_EQ(ExpiredPage(), inst.Get("SKEY=" + first + "&JOB=FRM21"));
    EXPECT_TRUE(IsMenu(inst.Get("SKEY=" + second + "&JOB=FRM21")));
    // One record per user.
    EXPECT_EQ(static_cast<long>(kSessionRecordSize), FileSize(inst.dataDir + "skey.mst"));
}

TEST_F(ProgramTest, ConcurrentLoginsGetDistinctKeysAndAllSessionsStay) {
    const int n = 6;
    for (int i = 0; i < n; ++i) inst.AddUser("user" + std::to_string(i), "pw", 1, 1);
    std::vector<std::string> keys(n);
    std::vector<std::thread> logins;
    for (int i = 0; i < n; ++i)
        logins.emplace_back([&, i] { keys[i] = inst.Login("user" + std::to_string(i), "pw"); });
    for (std::thread& t : logins) t.join();
    EXPECT_EQ(static_cast<size_t>(n), std::set<std::string>(keys.begin(), keys.end()).size());
    for (int i = 0; i < n; ++i) {
        std::string user;
        ASSERT_EQ(0, FindSessionUserOfKey(inst.dataDir, std::stoi(keys[i]), user));
        EXPECT_EQ("user" + std::to_string(i), user);
    }
}

TEST_F(ProgramTest, SharedAccountLoginsShareOneKeyAndLogOnce) {
    inst.AddUser("shared", "pw", 1, 2);
    const std::string first = inst.Login("shared", "pw", "BrowserA");
    const std::string second = inst.Login("shared", "pw", "BrowserB");
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first, second);
    const std::string log = inst.ReadData("system.log");
    EXPECT_EQ(1, std::count(log.begin(), log.end(), '\n')) << log;
    // No browser binding for a shared account.
    EXPECT_TRUE(IsMenu(inst.Get("SKEY=" + first + "&JOB=FRM21", "BrowserC", "10.0.0.9")));
}

TEST_F(ProgramTest, SharedAccountWithAnOldKeyZeroGetsAKeyThatChecks) {
    inst.AddUser("shared", "pw", 1, 2);
    SessionRecord old;
    old.key = 0;
    old.USER_ID = "shared";
    ASSERT_EQ(0, AppendToFile(inst.dataDir, inst.dataDir + "skey.mst", PackSessionRecord(old),
                              true));
    const std::string key = inst.Login("shared", "pw");
    ASSERT_FALSE(key.empty());
    EXPECT_NE("0", key);
    EXPECT_TRUE(IsMenu(inst.Get("SKEY=" + key + "&JOB=FRM21")));
    // The old record was replaced, and later logins share the new key.
    EXPECT_EQ(static_cast<long>(kSessionRecordSize), FileSize(inst.dataDir + "skey.mst"));
    EXPECT_EQ(key, inst.Login("shared", "pw"));
}

TEST_F(ProgramTest, MemberSessionIsBoundToTheBrowserNotTheAddress) {
    inst.AddUser("taro", "pw", 1, 1);
    const std::string key = inst.Login("taro", "pw", "BrowserA");
    EXPECT_EQ(ExpiredPage(), inst.Get("SKEY=" + key + "&JOB=FRM21", "BrowserB"));
    EXPECT_TRUE(IsMenu(inst.Get("SKEY=" + key + "&JOB=FRM21", "BrowserA", "192.168.7.7")));
}

TEST_F(ProgramTest, LoginsAreLoggedOnlyWhileLogDateIsAboveZero) {
    inst.AddUser("taro", "pw", 1, 1);
    ASSERT_FALSE(inst.Login("taro", "pw", "Agent X").empty());
    const std::string log = inst.ReadData("system.log");
    // "date,user,login,0,address,agent" and a line end, no comma after the last field.
    ASSERT_EQ(16u, log.find(",taro,login,0,127.0.0.1,Agent X"));
    EXPECT_EQ(log.size() - 2, log.find("\r\n"));

    std::filesystem::remove(inst.dataDir + "system.log");
    inst.Set("LOG_DATE", "0");
    ASSERT_FALSE(inst.Login("taro", "pw").empty());
    EXPECT_FALSE(FileExists(inst.dataDir + "system.log"));
}

TEST_F(ProgramTest, LogOffEndsTheSessionAndShowsTheLoginPageOrTheRedirect) {
    inst.AddUser("taro", "pw", 1, 1);
    std::string key = inst.Login("taro", "pw");
    EXPECT_EQ(LoginPage(), inst.Post("SKEY=" + key + "&JOB=LOGOFF"));
    EXPECT_EQ(ExpiredPage(), inst.Get("SKEY=" + key + "&JOB=FRM21"));
    EXPECT_EQ(0, FileSize(inst.dataDir + "skey.mst"));

    inst.Set("LOGOFF_URL", "http://example.invalid/bye");
    key = inst.Login("taro", "pw");
    EXPECT_EQ(PageHead(inst.msg) +
                  "<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0;URL=http://example.invalid/bye\">"
                  "</HTML>\n",
              inst.Get("SKEY=" + key + "&JOB=LOGOFF"));

    // A session that cannot be ended is not passed off as ended.
    key = inst.Login("taro", "pw");
    std::filesystem::remove(inst.dataDir + "board.lock");
    std::filesystem::create_directory(inst.dataDir + "board.lock");
    EXPECT_NE(inst.Get("SKEY=" + key + "&JOB=LOGOFF").find(inst.msg(382)), std::string::npos);
}

TEST_F(ProgramTest, SharedAccountCannotLogOff) {
    inst.AddUser("shared", "pw", 1, 2);
    const std::string key = inst.Login("shared", "pw");
    EXPECT_EQ(kNoContent, inst.Get("SKEY=" + key + "&JOB=LOGOFF"));
    EXPECT_TRUE(IsMenu(inst.Get("SKEY=" + key + "&JOB=FRM21")));
}

TEST_F(ProgramTest, OwnDataIsNotServedWhileTheSettingForbidsIt) {
    inst.Set("MYDATA", "1");
    inst.AddUser("taro", "pw", 1, 1);
    const std::string key = inst.Login("taro", "pw");
    EXPECT_EQ(kNoContent, inst.Get("SKEY=" + key + "&JOB=MYDATA"));
    // The save is refused with a result page and stores nothing.
    const std::string refused = inst.Post("SKEY=" + key + "&JOB=MYDATAWR&USER_NAME=x&SUB1=1");
    EXPECT_NE(std::string::npos, refused.find(inst.msg(3)));
    UserRecord stored;
    std::string id = "taro";
    ASSERT_EQ(0, FindUser(inst.dataDir, id, stored));
    EXPECT_NE("x", stored.USER_NAME);
    EXPECT_EQ(std::string::npos, inst.Get("SKEY=" + key + "&JOB=FRM21").find("value=\"MYDATA\""));
}

TEST_F(ProgramTest, UserLanguageReplacesTheMessagesOfTheSession) {
    std::ofstream(inst.cgiDir + "own.lng") << "2,own comment,\n100,own text,\n";
    UserRecord u = inst.AddUser("taro", "pw", 1, 1);
    u.LANGUAGE = "own.lng";
    ASSERT_EQ(0, RewriteUser(inst.dataDir, u));
    const std::string key = inst.Login("taro", "pw");
    EXPECT_NE(std::string::npos, inst.Get("SKEY=" + key + "&JOB=FRM21").find("<!--own comment-->"));
}

// The access log is the record of who came in: with logging on, a login is granted exactly when
// its line is written. Each file operation of a login is made to fail in turn; a line that
// cannot be written is told to the operator on the standard error.
TEST(AccessRecord, ALoginIsGrantedOnlyWithItsLogLine) {
    char tmpl[] = "/tmp/access_recordXXXXXX";
    const std::string dir = std::string(mkdtemp(tmpl)) + "/";
    UserRecord taro;
    taro.USER_ID = "taro";
    taro.USER_PASS = "pw";
    taro.MODE = 1;
    StringOutput sink;
    long calls = 0;
    // A login with the n-th file operation failing (none for 0); calls counts them.
    const auto login = [&](long n, std::string& log, std::string& err) {
        std::filesystem::remove(dir + "system.log");
        std::filesystem::remove(dir + "skey.mst");
        ::Run run{sink};
        run.settings.DATA_FILE_PATH = dir;
        run.settings.LOG_DATE = "30";
        run.now = 1700000000;
        testing::internal::CaptureStderr();
        SetFileFault(n, ENOSPC);
        const int32_t key = LoginUser(run, "taro", "pw");
        calls = FileCallCount();
        SetFileFault(0, 0);
        err = testing::internal::GetCapturedStderr();
        ReadWholeFile(dir + "system.log", log);
        return key;
    };
    ASSERT_EQ(0, AppendUser(dir, taro));
    std::string log, err;
    ASSERT_GE(login(0, log, err), 1);
    const long all = calls;
    ASSERT_NE(log.find(",taro,login,0,"), std::string::npos);
    int reported = 0;
    for (long n = 1; n <= all; ++n) {
        const int32_t key = login(n, log, err);
        EXPECT_EQ(key >= 1, log.find(",taro,login,") != std::string::npos) << "call " << n;
        if (!err.empty()) {
            ++reported;
            EXPECT_EQ(kLoginNotStored, key);
            EXPECT_NE(err.find("system.log: the login of taro could not be recorded (No space"),
                      std::string::npos) << err;
        }
    }
    EXPECT_GE(reported, 1);  // the calls of the append itself
    std::filesystem::remove_all(dir);
}

}  // namespace
