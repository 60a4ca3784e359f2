// The chat pages: frameset, entering, talking and leaving as members and shared accounts, the
// log frame's choices, who may use a room, escaping of what is typed, and many talkers at once.
#include "chat/chat.h"

#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>

#include "app/session.h"
#include "cgi/text.h"
#include "store/chat.h"
#include "tests/board/view_fixture.h"

namespace {

using viewtest::Fields;
using viewtest::MakeUser;

constexpr int kRoom = 7;
constexpr time_t kNow = 1717000000;

class ChatTest : public viewtest::ViewTest {
protected:
    void SetUp() override {
        ViewTest::SetUp();
        AddUser(guest);
        FolderSettings fs;
        fs.DEFO = "Be <nice>";
        fs.FONTCOLOR = "102030";
        fs.RESFONTCOLOR = "808080";
        AddRoom(kRoom, "Talk & more", fs);
    }

    void AddRoom(int folderNo, const std::string& name, FolderSettings fs = {}, int kind = kFolderChat) {
        ASSERT_EQ(InsertFolderLine(data, {folderNo, kind, name, 0}, 1000), 0);
        fs.folderNo = folderNo;
        if (fs.writeLevel == 0) fs.writeLevel = 50;
        ASSERT_EQ(SaveFolderSettings(data, fs), 0);
    }

    std::string Chat(void (*page)(::Run&), const UserRecord& who, Fields fields,
                     const std::string& agent = "Agent/1.0") {
        fields.insert(fields.begin(), {"FOLDER_NO", std::to_string(kRoom)});
        StringOutput out;
        ::Run r(out);
        Configure(r, who, fields);
        r.remoteAddr = "10.0.0.9";
        r.userAgent = agent;
        r.now = kNow;
        r.settings.IECOLS = 77;
        r.settings.NSCOLS = 55;
        page(r);
        return out.text;
    }
    std::string Say(const UserRecord& who, const std::string& line, const std::string& name = "Ann",
                    const std::string& color = "RED") {
        return Chat(ShowChatLog, who,
                    {{"USER_NAME", name}, {"COLOR", color}, {"MTALK", line}, {"FAST", "2"}});
    }
    std::vector<ChatEntry> Log() { return ReadChatEntries(data, kRoom, 1000000); }

    std::string Head() {
        MessageTable m;
        LoadMessages(m, std::string(BOARD_SOURCE_DIR) + "/lang/english.lng");
        return "Content-type: text/html\nReferrer-Policy: same-origin\n"
               "X-Content-Type-Options: nosniff\n\n<HTML>\n<HEAD>\n" +
               m(1) + "</HEAD>\n<!--" + m(2) + "-->\n";
    }
    static bool Has(const std::string& text, const std::string& what) {
        return text.find(what) != std::string::npos;
    }

    UserRecord guest = MakeUser("guest", 1, kSharedAccount);
};

TEST_F(ChatTest, FramesetAndWhoMayUseTheRoom) {
    EXPECT_EQ(Chat(ShowChatFrames, reader, {}),
              Head() +
                  "<FRAMESET ROWS=\"140,*\" >\n"
                  "\t<FRAME SRC = \"board.cgi?SKEY=4321&JOB=CHAT_UP&FOLDER_NO=7\" NAME=\"CHAT1\">\n"
                  "\t<FRAME SRC = \"board.cgi?SKEY=4321&JOB=CHAT_DOWN&FOLDER_NO=7\" NAME=\"CHAT2\">\n"
                  "</FRAMESET>\n</HTML>\n");

    FolderSettings closed;
    closed.readLevel = 50;
    AddRoom(8, "Staff chat", closed);
    AddRoom(9, "A board", {}, kFolderBoard);
    const std::string refusal =
        "<BODY BACKGROUND=\"/cg/back.gif\" BGPROPERTIES=FIXED >\n"
        "You are not permitted to use this function.\n<FORM>\n"
        "<INPUT TYPE=\"button\" VALUE=\"Back\" onClick=\"history.back()\">\n"
        "</FORM>\n</BODY>\n</HTML>\n";
    const struct {
        const char* folder;
        const UserRecord& who;
    } refused[] = {{"8", reader}, {"9", sysop}, {"99", sysop}};
    for (const auto& c : refused) {
        for (auto page : {ShowChatFrames, ShowChatInput, ShowChatLog}) {
            Fields f = {{"FOLDER_NO", c.folder}, {"FAST", "1"}, {"USER_NAME", "Ann"},
                        {"COLOR", "RED"}, {"MTALK", "hello"}};
            StringOutput out;
            ::Run r(out);
            Configure(r, c.who, f);
            page(r);
            EXPECT_EQ(out.text, Head() + refusal) << c.folder;
        }
        EXPECT_TRUE(ReadChatEntries(data, std::stoi(c.folder), 10).empty()) << c.folder;
    }
    // The operator may use the closed room.
    EXPECT_TRUE(Has(Chat(ShowChatFrames, sysop, {{"FOLDER_NO", "8"}}), "<FRAMESET"));
}

TEST_F(ChatTest, MemberEntersTalksAndLeaves) {
    const std::string script =
        "<SCRIPT Language=\"JavaScript\">\n<!--\nfunction title_chk(){\n"
        "if ( document.INPUT.USER_NAME.value==\"\" ) {\nwindow.alert( \"Please enter a name.\" );\n"
        "return false }\nif ( document.INPUT.COLOR.value==\"\" ) {\n"
        "window.alert( \"Please enter a colour.\" );\nreturn false }\n}\n"
        "function autoclear(){\ndocument.INPUT.MTALK.value=\"\";\ndocument.INPUT.MTALK.focus();\n}\n"
        "function f_color_chg(){\njidx=document.INPUT.COLOR_LIST.selectedIndex;\n"
        "document.INPUT.COLOR.value=document.INPUT.COLOR_LIST.options[jidx].value;\n"
        "document.INPUT.COLOR.focus();\nreturn true \n}\n// -->\n</SCRIPT>\n"
        "\t\t<BODY BACKGROUND=\"/cg/back.gif\" BGPROPERTIES=FIXED >\n";
    auto hidden = [](const char* job, int fast) {
        return std::string("<INPUT TYPE=\"hidden\" name=\"SKEY\" value=\"4321\">\n"
                           "<INPUT TYPE=\"hidden\" name=\"FOLDER_NO\" value=\"7\">\n"
                           "<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"") +
               job + "\">\n<INPUT TYPE=\"hidden\" name=\"FAST\" value=\"" + std::to_string(fast) +
               "\">\n<INPUT TYPE=\"hidden\" name=\"USER_NAME\" value=\"sysop-name\">\n"
               "<INPUT TYPE=\"hidden\" name=\"COLOR\" value=\"RED\">\n"
               "<INPUT TYPE=\"hidden\" name=\"LOG_LINE\" value=\"20\">\n"
               "<INPUT TYPE=\"hidden\" name=\"RELOAD_TIME\" value=\"60\">\n";
    };
    const Fields enter = {{"FAST", "1"}, {"USER_NAME", "sysop-name"}, {"COLOR", "RED"},
                          {"LOG_LINE", "20"}, {"RELOAD_TIME", "60"}};
    EXPECT_EQ(Chat(ShowChatInput, sysop, enter),
              Head() + script +
                  "<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"board.cgi\" "
                  "METHOD=POST onSubmit=\"setTimeout(&quot;autoclear()&quot;,10)\" "
                  "TARGET=\"CHAT2\">\n" +
                  hidden("CHAT_DOWN", 2) +
                  "[Be &lt;nice&gt;]<BR>\n<B>Talk &amp; more</B><BR>\n"
                  "Name[sysop-name]\nLines shown[20]\nReload (seconds)[60]<BR>\n"
                  "Message:<INPUT TYPE=\"text\" NAME=\"MTALK\" SIZE=\"55\" MAXLENGTH=\"250\" ><BR>\n"
                  "<INPUT TYPE=\"submit\" VALUE=\"Send\" > \n</FORM>\n"
                  "<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"board.cgi\" METHOD=POST >\n" +
                  hidden("CHAT_UP", 3) +
                  "<INPUT TYPE=\"submit\" VALUE=\"Leave\" > \n</FORM>\n</BODY>\n</HTML>\n");
    ChatMember m;
    ASSERT_EQ(FindChatMember(data, kRoom, "sysop", m), 0);
    EXPECT_EQ(m.color, "RED");
    EXPECT_EQ(m.LOG_LINE, 20);
    EXPECT_EQ(m.RELOAD_TIME, 60);
    EXPECT_EQ(m.date, DateStampAt(kNow));

    // Every reload of a member in the room moves the member's date on.
    m.date = "2001/02/03 04:05";
    ASSERT_EQ(SaveChatMember(data, kRoom, m), 0);
    // A typed line answers with an immediate reload that does not carry the line.
    EXPECT_EQ(Say(sysop, "hello all", "sysop-name"),
              Head() + "<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0;URL=board.cgi?JOB=CHAT_DOWN&"
                       "SKEY=4321&FOLDER_NO=7&LOG_LINE=30&RELOAD_TIME=30\"></HTML>\n");

    ASSERT_EQ(FindChatMember(data, kRoom, "sysop", m), 0);
    EXPECT_EQ(m.date, DateStampAt(kNow));

    // The log: the member's line with the dot and no address, the system line with both.
    const std::string date = DateStampSecondsAt(kNow);
    EXPECT_EQ(Chat(ShowChatLog, sysop, {{"LOG_LINE", "20"}, {"RELOAD_TIME", "60"}}),
              Head() +
                  "<META HTTP-EQUIV=\"Refresh\" CONTENT=\"60;URL=board.cgi?JOB=CHAT_DOWN&SKEY=4321&"
                  "FOLDER_NO=7&LOG_LINE=20&RELOAD_TIME=60\">\n<BODY BGCOLOR=\"#FFFFFF\" >\n"
                  "<B><FONT COLOR=\"RED\">.sysop-name</FONT></B> > <FONT COLOR=\"102030\">hello "
                  "all</FONT><FONT COLOR=\"#9090e0\" SIZE=-1>(" + date + ")</FONT><BR>\n"
                  "<B><FONT COLOR=\"808080\">System</FONT></B> > <FONT COLOR=\"102030\">"
                  "<B><FONT COLOR=\"RED\">.sysop-name</FONT></B> has entered the room.</FONT>"
                  "<FONT COLOR=\"#9090e0\" SIZE=-1>(" + date + ")</FONT>"
                  "<FONT COLOR=\"#bbbbf0\" SIZE=-1>(10.0.0.9)(Agent/1.0)</FONT><BR>\n"
                  "</BODY>\n</HTML>\n");

    // Leaving: the system line, the member marked as gone, the entry form with the remembered
    // colour and choices first.
    Fields leave = enter;
    leave[0].second = "3";
    const std::string form = Chat(ShowChatInput, sysop, leave);
    EXPECT_TRUE(Has(form, "<INPUT TYPE=\"hidden\" NAME=\"USER_NAME\" value=\"sysop-name\">\n"
                          "Namesysop-name<BR>\nColour<INPUT TYPE=\"text\" "));
    EXPECT_TRUE(Has(form, "NAME=\"COLOR\" SIZE=\"20\" VALUE=\"RED\" MAXLENGTH=\"20\">(RRGGBB)\n"
                          "<SELECT NAME=\"COLOR_LIST\" onChange=\"f_color_chg()\" >\n"
                          "<OPTION VALUE=\"\">\n<OPTION VALUE=\"BLUE\">BLUE\n"));
    EXPECT_TRUE(Has(form, "<OPTION VALUE=\"YELLOW\">YELLOW\n<OPTION VALUE=\"CORAL\">CORAL\n</SELECT><BR>\n"));
    EXPECT_TRUE(Has(form, "Lines shown<SELECT NAME=\"LOG_LINE\" >\n<OPTION VALUE=\"20\">20\n"
                          "<OPTION VALUE=\"10\">10\n<OPTION VALUE=\"20\">20\n<OPTION VALUE=\"30\">30\n"
                          "<OPTION VALUE=\"40\">40\n<OPTION VALUE=\"50\">50\n</SELECT><BR>\n"));
    EXPECT_TRUE(Has(form, "Reload (seconds)<SELECT NAME=\"RELOAD_TIME\" >\n<OPTION VALUE=\"60\">60\n"
                          "<OPTION VALUE=\"10\">10\n<OPTION VALUE=\"20\">20\n<OPTION VALUE=\"30\">30\n"
                          "<OPTION VALUE=\"60\">60\n<OPTION VALUE=\"120\">120\n"
                          "<OPTION VALUE=\"180\">180\n<OPTION VALUE=\"999\">No reload\n"
                          "</SELECT><BR>\n</TD>\n<TD>\n<INPUT TYPE=\"submit\" NAME=\"SUB\" "
                          "VALUE=\"Enter\" onClick=\"return title_chk()\"> \n</TD></TR>\n"
                          "</TABLE>\n</FORM>\n</BODY>\n</HTML>\n"));
    ASSERT_EQ(FindChatMember(data, kRoom, "sysop", m), 0);
    EXPECT_EQ(m.date, kChatLeftStamp);
    ASSERT_EQ(Log().size(), 3u);
    EXPECT_TRUE(Has(Log()[0].text, ".sysop-name</FONT></B> has left the room."));

    // A reload after leaving does not bring the member back.
    Chat(ShowChatLog, sysop, {});
    ASSERT_EQ(FindChatMember(data, kRoom, "sysop", m), 0);
    EXPECT_EQ(m.date, kChatLeftStamp);
    // Leaving without ever having entered makes no record.
    Chat(ShowChatInput, reader, {{"FAST", "3"}});
    EXPECT_EQ(FindChatMember(data, kRoom, "reader", m), -1);
}

TEST_F(ChatTest, SharedAccountTypesANameAndKeepsWhatItSent) {
    Chat(ShowChatInput, guest, {{"FAST", "1"}, {"USER_NAME", "Visitor"}, {"COLOR", "00AA00"}});
    Say(guest, "hi", "Visitor", "00AA00");
    const std::string form = Chat(ShowChatInput, guest,
                                  {{"FAST", "3"}, {"USER_NAME", "Visitor"}, {"COLOR", "00AA00"},
                                   {"LOG_LINE", "0"}, {"RELOAD_TIME", "999"}});
    EXPECT_TRUE(Has(form, "Name<INPUT TYPE=\"text\" NAME=\"USER_NAME\" SIZE=\"40\" "
                          "VALUE=\"Visitor\" MAXLENGTH=\"80\"><BR>\n"
                          "Colour<INPUT TYPE=\"text\" NAME=\"COLOR\" SIZE=\"20\" VALUE=\"00AA00\""));
    EXPECT_TRUE(Has(form, "<SELECT NAME=\"LOG_LINE\" >\n<OPTION VALUE=\"30\">30\n"));
    EXPECT_TRUE(Has(form, "<SELECT NAME=\"RELOAD_TIME\" >\n<OPTION VALUE=\"999\">No reload\n"
                          "<OPTION VALUE=\"10\">10\n"));
    // A fresh entry form: the default colour.
    EXPECT_TRUE(Has(Chat(ShowChatInput, guest, {}), "VALUE=\"4161E1\" MAXLENGTH=\"20\">"));
    ChatMember m;
    EXPECT_EQ(FindChatMember(data, kRoom, "guest", m), -1);  // no record for shared accounts

    const std::vector<ChatEntry> log = Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1].MODE, kSharedAccount);
    EXPECT_TRUE(Has(log[2].text, "<B><FONT COLOR=\"00AA00\">Visitor</FONT></B> has entered"));
    const std::string shown = Chat(ShowChatLog, guest, {});
    // The shared account's line: neither the dot nor the address.
    EXPECT_TRUE(Has(shown, "<B><FONT COLOR=\"00AA00\">Visitor</FONT></B> > <FONT COLOR=\"102030\">"
                           "hi</FONT><FONT COLOR=\"#9090e0\" SIZE=-1>(" +
                               DateStampSecondsAt(kNow) + ")</FONT><BR>\n"));
}

TEST_F(ChatTest, LogFrameChoicesAndInputWidth) {
    for (const char* t : {"one", "two", "three"}) Say(reader, t);
    auto lines = [&](const std::string& page) {
        std::vector<std::string> texts;
        for (size_t p = 0; (p = page.find("<FONT COLOR=\"102030\">", p)) != std::string::npos;) {
            p += 21;
            texts.push_back(page.substr(p, page.find('<', p) - p));
        }
        return texts;
    };
    const struct {
        const char* logLine;
        const char* reload;
        std::vector<std::string> shown;
        const char* refresh;  // nullptr: none
    } cases[] = {
        {"10", "999", {"three", "two", "one"}, nullptr},
        {"0", "0", {"three", "two", "one"}, "CONTENT=\"30;URL=board.cgi?JOB=CHAT_DOWN&SKEY=4321&"
                                            "FOLDER_NO=7&LOG_LINE=30&RELOAD_TIME=30\">\n"},
        {"2", "10", {"three", "two"}, "CONTENT=\"10;URL="},
        {"-5", "", {}, "CONTENT=\"30;URL="},
    };
    for (const auto& c : cases) {
        const std::string page =
            Chat(ShowChatLog, reader, {{"LOG_LINE", c.logLine}, {"RELOAD_TIME", c.reload}});
        EXPECT_EQ(lines(page), c.shown) << c.logLine;
        if (c.refresh == nullptr)
            EXPECT_FALSE(Has(page, "Refresh")) << c.logLine;
        else
            EXPECT_TRUE(Has(page, std::string("<META HTTP-EQUIV=\"Refresh\" ") + c.refresh))
                << c.logLine;
    }

    const struct {
        const char* agent;
        const char* size;
    } widths[] = {{"Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)", "77"},
                  {"Mozilla/5.0 (X11; Linux x86_64) Firefox/120.0", "55"},
                  {"msie lower case", "55"}};
    for (const auto& w : widths)
        EXPECT_TRUE(Has(Chat(ShowChatInput, reader, {{"FAST", "2"}}, w.agent),
                        std::string("NAME=\"MTALK\" SIZE=\"") + w.size + "\" MAXLENGTH=\"250\""))
            << w.agent;
}

TEST_F(ChatTest, TypedTextIsStoredEscapedAndComesOutInert) {
    const std::string evil = "<script>alert(1)</script>";
    Chat(ShowChatInput, guest, {{"FAST", "1"}, {"USER_NAME", evil}, {"COLOR", "\"><b"}});
    Say(guest, evil + "&", evil, "red\" onmouseover=\"x");
    const std::vector<ChatEntry> log = Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].name, "&lt;script&gt;alert(1)&lt;/script&gt;");
    EXPECT_EQ(log[0].color, "red&quot; onmouseover");  // cut to the 22-byte field
    EXPECT_EQ(log[0].text, "&lt;script&gt;alert(1)&lt;/script&gt;&amp;");
    EXPECT_EQ(log[1].text, "<B><FONT COLOR=\"&quot;&gt;&lt;b\">&lt;script&gt;alert(1)&lt;/script&gt;"
                           "</FONT></B> has entered the room.");
    EXPECT_FALSE(Has(Chat(ShowChatLog, guest, {}), "<script>"));
    // Values echoed into the input frame's forms are escaped as well.
    EXPECT_FALSE(Has(Chat(ShowChatInput, guest, {{"FAST", "2"}, {"USER_NAME", evil}}), "<script>"));
    EXPECT_FALSE(Has(Chat(ShowChatInput, guest, {{"FAST", "3"}, {"USER_NAME", evil}}), "<script>"));
    // The browser identification of a system line is written escaped.
    Chat(ShowChatInput, guest, {{"FAST", "3"}, {"USER_NAME", "u"}}, "UA<img src=x>");
    EXPECT_TRUE(Has(Chat(ShowChatLog, guest, {}), "(10.0.0.9)(UA&lt;img src=x&gt;)</FONT>"));

    // The cut keeps whole entities and whole two-byte characters.
    const struct {
        std::string in;
        size_t slot;
        std::string out;
    } cuts[] = {
        {"ab<c", 6, "ab"},                     // "&lt;" would need 6 bytes + terminator
        {"ab<c", 7, "ab&lt;"},
        {"a\x82\xA0" "b", 3, "a"},             // no half character
        {"a\x82\xA0" "b", 4, "a\x82\xA0"},
        {"\x80<", 10, "\x80&lt;"},             // a stray lead byte shields nothing
        {"ab\x82", 10, "ab"},                  // a lead byte without its second byte
        {std::string(300, '"'), 252, [] { std::string s; for (int i = 0; i < 41; ++i) s += "&quot;"; return s; }()},
    };
    for (const auto& c : cuts) EXPECT_EQ(EscapeToSlot(c.in, c.slot), c.out) << c.in;
}

TEST_F(ChatTest, ALineThatCannotBeStoredIsReported) {
    Say(reader, "kept");
    // The room's directory is taken by a plain file: the log cannot be rewritten.
    RemoveDirectoryTree(data + std::to_string(kRoom));
    std::ofstream(data + std::to_string(kRoom)) << "x";
    const std::string page = Say(reader, "lost");
    EXPECT_TRUE(Has(page, "<BODY BGCOLOR=\"#FFFFFF\" >\n<FONT COLOR=\"#FF0000\">"
                          "The line could not be stored. Please send it again.</FONT><BR>\n"));
    EXPECT_TRUE(Has(page, "CONTENT=\"30;URL="));
}

// Several processes type into one room at once; the data lock keeps every line.
TEST_F(ChatTest, ConcurrentTalkersLoseNoLine) {
    constexpr int kTalkers = 4;
    constexpr int kLines = 100;
    std::vector<pid_t> children;
    for (int t = 0; t < kTalkers; ++t) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int i = 0; i < kLines; ++i)
                Say(t % 2 ? reader : guest, "t" + std::to_string(t) + "-" + std::to_string(i));
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::map<std::string, int> seen;
    std::vector<int> last(kTalkers, kLines);  // newest first: each talker's lines count down
    for (const ChatEntry& e : Log()) {
        ++seen[e.text];
        const int t = e.text[1] - '0';
        const int i = std::stoi(e.text.substr(3));
        EXPECT_LT(i, last[t]) << e.text;
        last[t] = i;
    }
    EXPECT_EQ(seen.size(), size_t{kTalkers * kLines});
    for (const auto& [text, n] : seen) EXPECT_EQ(n, 1) << text;
}

}  // namespace
