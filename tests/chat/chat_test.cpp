// The chat pages: who may use a room, entering, talking and leaving as members and shared
// accounts, the log frame's choices, escaping of what is typed, and many talkers at once.
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
        FolderSettings fs;
        fs.FONTCOLOR = "102030";
        fs.RESFONTCOLOR = "808080";
        AddRoom(kRoom, fs);
    }
    void AddRoom(int folderNo, FolderSettings fs = {}, int kind = kFolderChat) {
        ASSERT_EQ(InsertFolderLine(data, {folderNo, kind, "Room", 0}, 1000), 0);
        fs.folderNo = folderNo;
        if (fs.writeLevel == 0) fs.writeLevel = 50;
        ASSERT_EQ(SaveFolderSettings(data, fs), 0);
    }

    std::string Chat(void (*page)(::Run&), const UserRecord& who, Fields fields,
                     const std::string& agent = "Agent/1.0") {
        if (fields.empty() || fields[0].first != "FOLDER_NO")
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
        return Chat(ShowChatLog, who, {{"USER_NAME", name}, {"COLOR", color}, {"MTALK", line}});
    }
    std::vector<ChatEntry> Log() { return ReadChatEntries(data, kRoom, 1000000); }
    static bool Has(const std::string& text, const std::string& what) {
        return text.find(what) != std::string::npos;
    }

    UserRecord guest = MakeUser("guest", 1, kSharedAccount);
};

TEST_F(ChatTest, OnlyChatRoomsWithReadRights) {
    EXPECT_TRUE(Has(Chat(ShowChatFrames, reader, {}),
                    "\t<FRAME SRC = \"board.cgi?SKEY=4321&JOB=CHAT_DOWN&FOLDER_NO=7\" NAME=\"CHAT2\">\n"));
    FolderSettings closed;
    closed.readLevel = 50;
    AddRoom(8, closed);
    AddRoom(9, {}, kFolderBoard);
    const struct {
        const char* folder;
        const UserRecord& who;
    } refused[] = {{"8", reader}, {"9", sysop}, {"99", sysop}};
    for (const auto& c : refused) {
        for (auto page : {ShowChatFrames, ShowChatInput, ShowChatLog}) {
            const std::string text = Chat(page, c.who, {{"FOLDER_NO", c.folder}, {"FAST", "1"},
                                                        {"USER_NAME", "A"}, {"MTALK", "hello"}});
            EXPECT_TRUE(Has(text, "You are not permitted to use this function.\n<FORM>\n"
                                  "<INPUT TYPE=\"button\" VALUE=\"Back\"")) << c.folder;
            EXPECT_FALSE(Has(text, "<FORM NAME=\"INPUT\"") || Has(text, "FRAMESET")) << c.folder;
        }
        EXPECT_TRUE(ReadChatEntries(data, std::stoi(c.folder), 10).empty()) << c.folder;
    }
    EXPECT_TRUE(Has(Chat(ShowChatFrames, sysop, {{"FOLDER_NO", "8"}}), "<FRAMESET"));
}

TEST_F(ChatTest, MemberEntersTalksAndLeaves) {
    const Fields enter = {{"FAST", "1"}, {"USER_NAME", "sysop-name"}, {"COLOR", "RED"},
                          {"LOG_LINE", "20"}, {"RELOAD_TIME", "60"}};
    EXPECT_TRUE(Has(Chat(ShowChatInput, sysop, enter),
                    "TARGET=\"CHAT2\">\n<INPUT TYPE=\"hidden\" name=\"SKEY\" value=\"4321\">\n"));
    ChatMember m;
    ASSERT_EQ(FindChatMember(data, kRoom, "sysop", m), 0);
    EXPECT_EQ(PackChatMember(m), PackChatMember({"sysop", "RED", 20, 60, DateStampAt(kNow)}));

    // Every reload while in the room moves the member's date on; a typed line answers with an
    // immediate reload that does not carry the line.
    m.date = "2001/02/03 04:05";
    ASSERT_EQ(SaveChatMember(data, kRoom, m), 0);
    EXPECT_TRUE(Has(Say(sysop, "hello all", "sysop-name"),
                    "<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0;URL=board.cgi?JOB=CHAT_DOWN&"
                    "SKEY=4321&FOLDER_NO=7&LOG_LINE=30&RELOAD_TIME=30\"></HTML>\n"));
    ASSERT_EQ(FindChatMember(data, kRoom, "sysop", m), 0);
    EXPECT_EQ(m.date, DateStampAt(kNow));

    // The member's line with the dot and no address; the system line with both.
    const std::string date = DateStampSecondsAt(kNow);
    EXPECT_TRUE(Has(Chat(ShowChatLog, sysop, {}),
                    "<BODY BGCOLOR=\"#FFFFFF\" >\n"
                    "<B><FONT COLOR=\"RED\">.sysop-name</FONT></B> > <FONT COLOR=\"102030\">hello "
                    "all</FONT><FONT COLOR=\"#9090e0\" SIZE=-1>(" + date + ")</FONT><BR>\n"
                    "<B><FONT COLOR=\"808080\">System</FONT></B> > <FONT COLOR=\"102030\">"
                    "<B><FONT COLOR=\"RED\">.sysop-name</FONT></B> has entered the room.</FONT>"
                    "<FONT COLOR=\"#9090e0\" SIZE=-1>(" + date + ")</FONT>"
                    "<FONT COLOR=\"#bbbbf0\" SIZE=-1>(10.0.0.9)(Agent/1.0)</FONT><BR>\n"
                    "</BODY>\n</HTML>\n"));

    // Leaving marks the member as gone and shows the entry form with the remembered choices.
    Fields leave = enter;
    leave[0].second = "3";
    const std::string form = Chat(ShowChatInput, sysop, leave);
    EXPECT_TRUE(Has(form, "Namesysop-name<BR>\nColour<INPUT TYPE=\"text\" NAME=\"COLOR\" "
                          "SIZE=\"20\" VALUE=\"RED\" MAXLENGTH=\"20\">(RRGGBB)\n"));
    EXPECT_TRUE(Has(form, "<SELECT NAME=\"LOG_LINE\" >\n<OPTION VALUE=\"20\">20\n<OPTION VALUE=\"10\">"));
    EXPECT_TRUE(Has(form, "<SELECT NAME=\"RELOAD_TIME\" >\n<OPTION VALUE=\"60\">60\n<OPTION VALUE=\"10\">"));
    ASSERT_EQ(FindChatMember(data, kRoom, "sysop", m), 0);
    EXPECT_EQ(m.date, kChatLeftStamp);
    EXPECT_TRUE(Has(Log()[0].text, ".sysop-name</FONT></B> has left the room."));
    // A reload after leaving does not bring the member back; leaving without having entered
    // makes no record.
    Chat(ShowChatLog, sysop, {});
    ASSERT_EQ(FindChatMember(data, kRoom, "sysop", m), 0);
    EXPECT_EQ(m.date, kChatLeftStamp);
    Chat(ShowChatInput, reader, {{"FAST", "3"}});
    EXPECT_EQ(FindChatMember(data, kRoom, "reader", m), -1);
}

TEST_F(ChatTest, SharedAccountKeepsWhatItSent) {
    Say(guest, "hi", "Visitor", "00AA00");
    const std::string form = Chat(ShowChatInput, guest,
                                  {{"FAST", "3"}, {"USER_NAME", "Visitor"}, {"COLOR", "00AA00"},
                                   {"LOG_LINE", "0"}, {"RELOAD_TIME", "999"}});
    EXPECT_TRUE(Has(form, "NAME=\"USER_NAME\" SIZE=\"40\" VALUE=\"Visitor\" MAXLENGTH=\"80\"><BR>\n"
                          "Colour<INPUT TYPE=\"text\" NAME=\"COLOR\" SIZE=\"20\" VALUE=\"00AA00\""));
    EXPECT_TRUE(Has(form, "<SELECT NAME=\"LOG_LINE\" >\n<OPTION VALUE=\"30\">30\n"));
    EXPECT_TRUE(Has(form, "<SELECT NAME=\"RELOAD_TIME\" >\n<OPTION VALUE=\"999\">No reload\n"));
    EXPECT_TRUE(Has(Chat(ShowChatInput, guest, {}), "VALUE=\"4161E1\" MAXLENGTH=\"20\">"));
    ChatMember m;
    EXPECT_EQ(FindChatMember(data, kRoom, "guest", m), -1);
    // Neither the dot nor the address.
    EXPECT_TRUE(Has(Chat(ShowChatLog, guest, {}),
                    "<B><FONT COLOR=\"00AA00\">Visitor</FONT></B> > <FONT COLOR=\"102030\">hi</FONT>"
                    "<FONT COLOR=\"#9090e0\" SIZE=-1>(" + DateStampSecondsAt(kNow) + ")</FONT><BR>\n"));
}

TEST_F(ChatTest, LogFrameChoicesAndInputWidth) {
    for (const char* t : {"one", "two", "three"}) Say(reader, t);
    const struct {
        const char* logLine;
        const char* reload;
        int shown;
        const char* refresh;  // nullptr: none
    } cases[] = {
        {"10", "999", 3, nullptr},
        {"0", "0", 3, "30;URL=board.cgi?JOB=CHAT_DOWN&SKEY=4321&FOLDER_NO=7&LOG_LINE=30&RELOAD_TIME=30"},
        {"2", "10", 2, "10;URL="},
        {"-5", "", 0, "30;URL="},
    };
    for (const auto& c : cases) {
        const std::string page =
            Chat(ShowChatLog, reader, {{"LOG_LINE", c.logLine}, {"RELOAD_TIME", c.reload}});
        EXPECT_EQ(Count(page, "<FONT COLOR=\"102030\">"), c.shown) << c.logLine;
        if (c.shown >= 2) {
            EXPECT_LT(page.find(">three<"), page.find(">two<")) << "newest first";
        }
        EXPECT_EQ(Has(page, "Refresh"), c.refresh != nullptr) << c.logLine;
        if (c.refresh) {
            EXPECT_TRUE(Has(page, c.refresh)) << c.logLine;
        }
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
    Chat(ShowChatInput, guest, {{"FAST", "1"}, {"USER_NAME", evil}, {"COLOR", "\"><b"}},
         "UA<img src=x>");
    Say(guest, evil + "&", evil, "red\" onmouseover=\"x");
    const std::vector<ChatEntry> log = Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].name, "&lt;script&gt;alert(1)&lt;/script&gt;");
    EXPECT_EQ(log[0].color, "red&quot; onmouseover");  // cut to the 22-byte field
    EXPECT_EQ(log[0].text, "&lt;script&gt;alert(1)&lt;/script&gt;&amp;");
    EXPECT_EQ(log[1].text, "<B><FONT COLOR=\"&quot;&gt;&lt;b\">&lt;script&gt;alert(1)&lt;/script&gt;"
                           "</FONT></B> has entered the room.");
    const std::string page = Chat(ShowChatLog, guest, {});
    EXPECT_FALSE(Has(page, "<script>"));
    EXPECT_TRUE(Has(page, "(10.0.0.9)(UA&lt;img src=x&gt;)</FONT>"));
    for (const char* fast : {"0", "2", "3"})
        EXPECT_FALSE(Has(Chat(ShowChatInput, guest, {{"FAST", fast}, {"USER_NAME", evil}}),
                         "<script>alert"));

    // The cut keeps whole entities and whole two-byte characters.
    const struct {
        std::string in;
        size_t slot;
        std::string out;
    } cuts[] = {
        {"ab<c", 6, "ab"},  // "&lt;" needs 4 bytes, the terminator one
        {"ab<c", 7, "ab&lt;"},
        {"a\x82\xA0" "b", 3, "a"},
        {"a\x82\xA0" "b", 4, "a\x82\xA0"},
        {"\x80<", 10, "\x80&lt;"},  // a stray lead byte shields nothing
        {"ab\x82", 10, "ab"},       // a lead byte without its second byte
    };
    for (const auto& c : cuts) EXPECT_EQ(EscapeToSlot(c.in, c.slot), c.out) << c.in;
}

TEST_F(ChatTest, ALineThatCannotBeStoredIsReported) {
    // The room's directory is taken by a plain file: the log cannot be rewritten.
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
