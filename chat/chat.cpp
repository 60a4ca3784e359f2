#include "chat/chat.h"

#include <vector>

#include "app/rights.h"
#include "app/session.h"
#include "board/common.h"
#include "cgi/dbcs.h"
#include "cgi/html.h"
#include "cgi/request.h"
#include "cgi/text.h"
#include "store/chat.h"
#include "store/recordfile.h"

// Request field capacities.
static constexpr size_t kNumberCapacity = 100;
static constexpr size_t kNameCapacity = 82;
static constexpr size_t kColorCapacity = 22;
static constexpr size_t kLineCapacity = 252;

// Sizes of the stored fields of a chat line.
static constexpr size_t kNameSlot = 82;
static constexpr size_t kColorSlot = 22;
static constexpr size_t kTextSlot = 252;

static constexpr const char* kDefaultNameColor = "4161E1";
static constexpr const char* kDefaultTextColor = "000000";
static constexpr int kDefaultCount = 30;  // log lines and reload seconds when 0
static constexpr int kNoReload = 999;

// The colour list of the entry form, value and text equal; the first entry is empty.
static const char* const kColors[] = {
    "",          "BLUE",   "RED",    "GREEN",      "DARKBLUE", "CYAN",   "LIMEGREEN", "BROWN",
    "MEDIUMORCHID", "SILVER", "CHOCOLATE", "PLUM", "VIOLET",   "SANDYBROWN", "PINK", "YELLOW",
    "CORAL",
};
static const int kLogLineChoices[] = {10, 20, 30, 40, 50};
static const int kReloadChoices[] = {10, 20, 30, 60, 120, 180};

std::string EscapeToSlot(std::string_view value, size_t slotSize) {
    std::string out;
    if (slotSize == 0) return out;
    const size_t limit = slotSize - 1;
    for (size_t i = 0; i < value.size();) {
        const size_t step = IsLeadByte(value[i]) ? 2 : 1;
        if (i + step > value.size() || value[i] == '\0') break;
        // Byte by byte, as HtmlEscape does: a byte only the scans take for a lead byte cannot
        // shield the byte after it.
        const std::string piece = HtmlEscape(value.substr(i, step));
        if (out.size() + piece.size() > limit) break;
        out += piece;
        i += step;
    }
    return out;
}

bool MayUseChatRoom(Run& run, int folderNo) {
    if (FolderRights(run, folderNo) < kRightsRead) return false;
    for (const FolderRecord& f : FolderTree(run))
        if (f.folderNo == folderNo) return f.kind == kFolderChat;
    return false;
}

namespace {

// The request as the input and log frames read it.
struct ChatRequest {
    int folderNo = 0;
    std::string name;   // USER_NAME
    std::string color;  // COLOR
    int logLines = 0;   // LOG_LINE
    int reload = 0;     // RELOAD_TIME
    std::string script, key;  // escaped
};

ChatRequest ReadChatRequest(Run& run) {
    ChatRequest r;
    r.folderNo = IntField(run, "FOLDER_NO", kNumberCapacity);
    r.name = GetField(run.fields, "USER_NAME", 0, kNameCapacity);
    r.color = GetField(run.fields, "COLOR", 0, kColorCapacity);
    r.logLines = IntField(run, "LOG_LINE", kNumberCapacity);
    r.reload = IntField(run, "RELOAD_TIME", kNumberCapacity);
    r.script = ScriptAttr(run);
    r.key = KeyAttr(run);
    return r;
}

bool IsMember(const Run& run) { return run.login.user.MODE == kMemberAccount; }

void Hidden(Run& run, const char* name, const std::string& escapedValue) {
    run.out.Printf("<INPUT TYPE=\"hidden\" name=\"%s\" value=\"%s\">\n", name,
                   escapedValue.c_str());
}
void Hidden(Run& run, const char* name, int value) {
    run.out.Printf("<INPUT TYPE=\"hidden\" name=\"%s\" value=\"%d\">\n", name, value);
}

// The hidden fields of the talk form and the leave form.
void WriteTalkFields(Run& run, const ChatRequest& r, const char* job, int fast) {
    Hidden(run, "SKEY", r.key);
    Hidden(run, "FOLDER_NO", r.folderNo);
    Hidden(run, "JOB", job);
    Hidden(run, "FAST", fast);
    Hidden(run, "USER_NAME", HtmlEscape(r.name));
    Hidden(run, "COLOR", HtmlEscape(r.color));
    Hidden(run, "LOG_LINE", r.logLines);
    Hidden(run, "RELOAD_TIME", r.reload);
}

void WriteInputScript(Run& run) {
    Output& o = run.out;
    o << "<SCRIPT Language=\"JavaScript\">\n"
      << "<!--\n"
      << "function title_chk(){\n"
      << "if ( document.INPUT.USER_NAME.value==\"\" ) {\n";
    o.Printf("window.alert( \"%s\" );\n", run.msg(350).c_str());
    o << "return false }\n"
      << "if ( document.INPUT.COLOR.value==\"\" ) {\n";
    o.Printf("window.alert( \"%s\" );\n", run.msg(351).c_str());
    o << "return false }\n"
      << "}\n"
      << "function autoclear(){\n"
      << "document.INPUT.MTALK.value=\"\";\n"
      << "document.INPUT.MTALK.focus();\n"
      << "}\n"
      << "function f_color_chg(){\n"
      << "jidx=document.INPUT.COLOR_LIST.selectedIndex;\n"
      << "document.INPUT.COLOR.value=document.INPUT.COLOR_LIST.options[jidx].value;\n"
      << "document.INPUT.COLOR.focus();\n"
      << "return true \n"
      << "}\n"
      << "// -->\n"
      << "</SCRIPT>\n";
}

void WriteInputBodyTag(Run& run, int folderNo, const FolderSettings& fs) {
    const std::string webPath = HtmlEscape(run.settings.CG_FILE_WEB_PATH);
    if (!fs.BACKPIC.empty())
        run.out.Printf("\t\t<BODY BACKGROUND=\"%s%d/%s\" BGPROPERTIES=FIXED >\n", webPath.c_str(),
                       folderNo, HtmlEscape(fs.BACKPIC).c_str());
    else if (!run.settings.BACK_GIF.empty())
        run.out.Printf("\t\t<BODY BACKGROUND=\"%s%s\" BGPROPERTIES=FIXED >\n", webPath.c_str(),
                       HtmlEscape(run.settings.BACK_GIF).c_str());
}

void WriteRoomTitle(Run& run, int folderNo, const FolderSettings& fs) {
    if (!fs.DEFO.empty()) run.out.Printf("[%s]<BR>\n", HtmlEscape(fs.DEFO).c_str());
    run.out.Printf("<B>%s</B><BR>\n", HtmlEscape(FolderName(run, folderNo)).c_str());
}

// The entering or leaving line of the log. Name and colour are escaped as a typed line's are;
// the markup around them is the line's own.
void WriteSystemLine(Run& run, const ChatRequest& r, const FolderSettings& fs, bool entering) {
    ChatEntry e;
    e.MODE = 0;
    e.name = "System";
    const char* format = IsMember(run) ? "<B><FONT COLOR=\"%s\">.%s</FONT></B> %s"
                                       : "<B><FONT COLOR=\"%s\">%s</FONT></B> %s";
    StringOutput text;
    text.Printf(format, EscapeToSlot(r.color, kColorSlot).c_str(),
                EscapeToSlot(r.name, kNameSlot).c_str(),
                (entering ? run.msg(355) : run.msg(356)).c_str());
    e.text = text.text;  // the markup closes before the message, where a cut would fall
    const bool plain = entering ? fs.RESFONTCOLOR.empty() : fs.RESFONTCOLOR.size() < 6;
    e.color = plain ? kDefaultTextColor : EscapeToSlot(fs.RESFONTCOLOR, kColorSlot);
    e.date = DateStampSecondsAt(run.now);
    e.REMOTE_ADDR = run.remoteAddr;
    e.HTTP_USER_AGENT = run.userAgent;
    PrependChatEntry(run.dataDir(), r.folderNo, e);
}

void WriteTalkForm(Run& run, const ChatRequest& r, const FolderSettings& fs) {
    Output& o = run.out;
    o.Printf("<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST "
             "onSubmit=\"setTimeout(&quot;autoclear()&quot;,10)\" TARGET=\"CHAT2\">\n",
             r.script.c_str());
    WriteTalkFields(run, r, "CHAT_DOWN", 2);
    WriteRoomTitle(run, r.folderNo, fs);
    o.Printf("%s[%s]\n", run.msg(344).c_str(), HtmlEscape(r.name).c_str());
    o.Printf("%s[%d]\n", run.msg(346).c_str(), r.logLines);
    o.Printf("%s[%d]<BR>\n", run.msg(347).c_str(), r.reload);
    const int width = FindText(run.userAgent, "MSIE") >= 0 ? run.settings.IECOLS
                                                           : run.settings.NSCOLS;
    o.Printf("%s<INPUT TYPE=\"text\" NAME=\"MTALK\" SIZE=\"%d\" MAXLENGTH=\"250\" ><BR>\n",
             run.msg(353).c_str(), width);
    o.Printf("<INPUT TYPE=\"submit\" VALUE=\"%s\" > \n", run.msg(352).c_str());
    o << "</FORM>\n";
    o.Printf("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n",
             r.script.c_str());
    WriteTalkFields(run, r, "CHAT_UP", 3);
    o.Printf("<INPUT TYPE=\"submit\" VALUE=\"%s\" > \n", run.msg(354).c_str());
    o << "</FORM>\n"
      << "</BODY>\n"
      << "</HTML>\n";
}

// The colour field, the colour list and the two choices of the entry form. reloadAsText shows
// a first reload choice of 999 with its text instead of the number.
void WriteEntryChoices(Run& run, const std::string& color, int logLines, int reload,
                       bool reloadAsText) {
    Output& o = run.out;
    o.Printf("%s<INPUT TYPE=\"text\" NAME=\"COLOR\" SIZE=\"20\" VALUE=\"%s\" MAXLENGTH=\"20\">"
             "(RRGGBB)\n",
             run.msg(345).c_str(), HtmlEscape(color.empty() ? kDefaultNameColor : color).c_str());
    o << "<SELECT NAME=\"COLOR_LIST\" onChange=\"f_color_chg()\" >\n";
    for (const char* c : kColors) o.Printf("<OPTION VALUE=\"%s\">%s\n", c, c);
    o << "</SELECT><BR>\n";

    if (logLines == 0) logLines = kDefaultCount;
    o.Printf("%s<SELECT NAME=\"LOG_LINE\" >\n", run.msg(346).c_str());
    o.Printf("<OPTION VALUE=\"%d\">%d\n", logLines, logLines);
    for (int n : kLogLineChoices) o.Printf("<OPTION VALUE=\"%d\">%d\n", n, n);
    o << "</SELECT><BR>\n";

    if (reload == 0) reload = kDefaultCount;
    o.Printf("%s<SELECT NAME=\"RELOAD_TIME\" >\n", run.msg(347).c_str());
    if (reload == kNoReload && reloadAsText)
        o.Printf("<OPTION VALUE=\"%d\">%s\n", kNoReload, run.msg(348).c_str());
    else
        o.Printf("<OPTION VALUE=\"%d\">%d\n", reload, reload);
    for (int n : kReloadChoices) o.Printf("<OPTION VALUE=\"%d\">%d\n", n, n);
    o.Printf("<OPTION VALUE=\"%d\">%s\n", kNoReload, run.msg(348).c_str());
    o << "</SELECT><BR>\n";
}

void WriteEntryForm(Run& run, const ChatRequest& r, const FolderSettings& fs) {
    Output& o = run.out;
    o.Printf("<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n",
             r.script.c_str());
    Hidden(run, "SKEY", r.key);
    Hidden(run, "FOLDER_NO", r.folderNo);
    Hidden(run, "JOB", "CHAT_UP");
    Hidden(run, "FAST", 1);
    o << "<TABLE>\n"
      << "<TR><TD>\n";
    WriteRoomTitle(run, r.folderNo, fs);
    const UserRecord& caller = run.login.user;
    if (caller.MODE == kMemberAccount) {
        ChatMember m;
        FindChatMember(run.dataDir(), r.folderNo, caller.USER_ID, m);
        const std::string name = HtmlEscape(caller.USER_NAME);
        o.Printf("<INPUT TYPE=\"hidden\" NAME=\"USER_NAME\" value=\"%s\">\n", name.c_str());
        o.Printf("%s%s<BR>\n", run.msg(344).c_str(), name.c_str());
        WriteEntryChoices(run, m.color, m.LOG_LINE, m.RELOAD_TIME, false);
    } else if (caller.MODE == kSharedAccount) {
        o.Printf("%s<INPUT TYPE=\"text\" NAME=\"USER_NAME\" SIZE=\"40\" VALUE=\"%s\" "
                 "MAXLENGTH=\"80\"><BR>\n",
                 run.msg(344).c_str(), HtmlEscape(r.name).c_str());
        WriteEntryChoices(run, r.color, r.logLines, r.reload, true);
    }
    o << "</TD>\n"
      << "<TD>\n";
    o.Printf("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\" onClick=\"return title_chk()\"> \n",
             run.msg(349).c_str());
    o << "</TD></TR>\n"
      << "</TABLE>\n"
      << "</FORM>\n"
      << "</BODY>\n"
      << "</HTML>\n";
}

void WriteLogLine(Run& run, const ChatEntry& e, const std::string& textColor) {
    Output& o = run.out;
    o.Printf("<B><FONT COLOR=\"%s\">", e.color.empty() ? kDefaultNameColor : e.color.c_str());
    if (e.MODE == kMemberAccount) o << ".";
    o << e.name << "</FONT></B> > ";
    o.Printf("<FONT COLOR=\"%s\">", textColor.c_str());
    o << e.text << "</FONT>";
    o.Printf("<FONT COLOR=\"#9090e0\" SIZE=-1>(%s)</FONT>", HtmlEscape(e.date).c_str());
    if (e.MODE == 0) {
        o << "<FONT COLOR=\"#bbbbf0\" SIZE=-1>";
        o.Printf("(%s)", HtmlEscape(e.REMOTE_ADDR).c_str());
        o.Printf("(%s)", HtmlEscape(e.HTTP_USER_AGENT).c_str());
        o << "</FONT>";
    }
    o << "<BR>\n";
}

}  // namespace

void ShowChatFrames(Run& run) {
    const int folderNo = IntField(run, "FOLDER_NO", kNumberCapacity);
    WritePageHead(run);
    if (!MayUseChatRoom(run, folderNo)) {
        WriteRefusalBody(run);
        return;
    }
    const std::string script = ScriptAttr(run);
    const std::string key = KeyAttr(run);
    Output& o = run.out;
    o << "<FRAMESET ROWS=\"140,*\" >\n";
    o.Printf("\t<FRAME SRC = \"%s?SKEY=%s&JOB=CHAT_UP&FOLDER_NO=%d\" NAME=\"CHAT1\">\n",
             script.c_str(), key.c_str(), folderNo);
    o.Printf("\t<FRAME SRC = \"%s?SKEY=%s&JOB=CHAT_DOWN&FOLDER_NO=%d\" NAME=\"CHAT2\">\n",
             script.c_str(), key.c_str(), folderNo);
    o << "</FRAMESET>\n"
      << "</HTML>\n";
}

void ShowChatInput(Run& run) {
    const ChatRequest r = ReadChatRequest(run);
    const int fast = IntField(run, "FAST", kNumberCapacity);
    WritePageHead(run);
    if (!MayUseChatRoom(run, r.folderNo)) {
        WriteRefusalBody(run);
        return;
    }
    WriteInputScript(run);
    const FolderSettings fs = FolderSettingsOrEmpty(run, r.folderNo);
    WriteInputBodyTag(run, r.folderNo, fs);

    const UserRecord& caller = run.login.user;
    if (fast == 1) {
        if (IsMember(run)) {
            ChatMember m;
            m.userId = caller.USER_ID;
            m.color = r.color;
            m.LOG_LINE = r.logLines;
            m.RELOAD_TIME = r.reload;
            m.date = DateStampAt(run.now);
            SaveChatMember(run.dataDir(), r.folderNo, m);
        }
        WriteSystemLine(run, r, fs, true);
    } else if (fast == 3) {
        WriteSystemLine(run, r, fs, false);
        if (IsMember(run)) LeaveChatMember(run.dataDir(), r.folderNo, caller.USER_ID);
    }
    if (fast != 0 && fast != 3)
        WriteTalkForm(run, r, fs);
    else
        WriteEntryForm(run, r, fs);
}

void ShowChatLog(Run& run) {
    ChatRequest r = ReadChatRequest(run);
    const std::string line = GetField(run.fields, "MTALK", 0, kLineCapacity);
    if (!MayUseChatRoom(run, r.folderNo)) {
        WritePageHead(run);
        WriteRefusalBody(run);
        return;
    }
    const UserRecord& caller = run.login.user;
    if (IsMember(run))
        TouchChatMember(run.dataDir(), r.folderNo, caller.USER_ID, DateStampAt(run.now));
    if (r.logLines == 0) r.logLines = kDefaultCount;
    if (r.reload == 0) r.reload = kDefaultCount;

    Output& o = run.out;
    bool lost = false;
    if (!line.empty()) {
        ChatEntry e;
        e.MODE = caller.MODE;
        e.name = EscapeToSlot(r.name, kNameSlot);
        e.color = EscapeToSlot(r.color, kColorSlot);
        e.text = EscapeToSlot(line, kTextSlot);
        e.date = DateStampSecondsAt(run.now);
        e.REMOTE_ADDR = run.remoteAddr;
        e.HTTP_USER_AGENT = run.userAgent;
        if (PrependChatEntry(run.dataDir(), r.folderNo, e) == 0) {
            // Reload at once, without the line in the address.
            WritePageHead(run);
            o.Printf("<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0;URL=%s?JOB=CHAT_DOWN&SKEY=%s&"
                     "FOLDER_NO=%d&LOG_LINE=%d&RELOAD_TIME=%d\">",
                     r.script.c_str(), r.key.c_str(), r.folderNo, r.logLines, r.reload);
            o << "</HTML>\n";
            return;
        }
        lost = true;  // the log follows, with the line's failure above it
    }

    WritePageHead(run);
    if (r.reload != kNoReload)
        o.Printf("<META HTTP-EQUIV=\"Refresh\" CONTENT=\"%d;URL=%s?JOB=CHAT_DOWN&SKEY=%s&"
                 "FOLDER_NO=%d&LOG_LINE=%d&RELOAD_TIME=%d\">\n",
                 r.reload, r.script.c_str(), r.key.c_str(), r.folderNo, r.logLines, r.reload);
    const FolderSettings fs = FolderSettingsOrEmpty(run, r.folderNo);
    o << "<BODY BGCOLOR=\"#FFFFFF\" >\n";
    if (lost) o.Printf("<FONT COLOR=\"#FF0000\">%s</FONT><BR>\n", run.msg(394).c_str());
    const std::string textColor =
        fs.FONTCOLOR.empty() ? kDefaultTextColor : HtmlEscape(fs.FONTCOLOR);
    for (const ChatEntry& e : ReadChatEntries(run.dataDir(), r.folderNo, r.logLines))
        WriteLogLine(run, e, textColor);
    o << "</BODY>\n"
      << "</HTML>\n";
}
