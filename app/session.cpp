#include "app/session.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cgi/html.h"
#include "cgi/text.h"
#include "store/accesslog.h"
#include "store/loginfail.h"
#include "store/recordfile.h"
#include "store/sessions.h"
#include "store/users.h"

// A fresh key is drawn again while another session holds it; a random 31-bit draw collides
// so rarely that running out of attempts means the random source is broken.
static constexpr int kMaxKeyDraws = 64;

void WriteSafetyHeaders(Output& o) {
    o << "Referrer-Policy: same-origin\n"
      << "X-Content-Type-Options: nosniff\n"
      << "Cache-Control: no-store\n"
      << "Content-Security-Policy: frame-ancestors 'self'\n";
}

void WritePageHead(Run& run) {
    Output& o = run.out;
    o << "Content-type: text/html\n";
    WriteSafetyHeaders(o);
    o << "\n"
      << "<HTML>\n"
      << "<HEAD>\n"
      << run.msg(1)
      << "</HEAD>\n";
    o.Printf("<!--%s-->\n", run.msg(2).c_str());
}

void WriteBackgroundBody(Run& run) {
    run.out.Printf("<BODY BACKGROUND=\"%s%s\" BGPROPERTIES=FIXED >\n",
                   HtmlEscape(run.settings.CG_FILE_WEB_PATH).c_str(),
                   HtmlEscape(run.settings.BACK_GIF).c_str());
}

bool RecordAccess(Run& run, const std::string& userId, int32_t kind, int32_t number) {
    if (ParseInt(run.settings.LOG_DATE) <= 0) return true;
    AccessLogEntry entry;
    entry.userId = userId;
    entry.date = DateStampAt(run.now);
    entry.kind = kind;
    entry.number = number;
    if (kind == kLogLogin) {
        entry.remoteAddr = run.remoteAddr;
        entry.userAgent = run.userAgent;
    }
    errno = 0;
    if (AppendAccessLog(run.dataDir(), entry) == 0) return true;
    const int error = errno;
    const std::string what = kind == kLogLogin
                                 ? "the login of " + userId
                                 : "a message of " + userId + " to folder " + std::to_string(number);
    fprintf(stderr, "boardcgi: %ssystem.log: %s could not be recorded (%s)\n",
            run.dataDir().c_str(), what.c_str(), error != 0 ? strerror(error) : "not written");
    fflush(stderr);
    return false;
}

int32_t LoginUser(Run& run, const std::string& uid, const std::string& upw) {
    const std::string& dataDir = run.dataDir();
    std::string id = uid;
    UserRecord user;
    if (FindUser(dataDir, id, user) != 0) return -1;

    int32_t key = -1;
    {
        // The throttle, looking for a free key and saving it form one step, so that two logins
        // at the same moment can neither slip past the failure count nor share a key.
        DataLock lock(dataDir);
        if (!lock.held()) return kLoginNotStored;
        const int attempt = LoginAttempt(dataDir, user.USER_ID, run.now, user.USER_PASS == upw);
        if (attempt == kLoginThrottled) return kLoginRefusedForNow;
        if (attempt != kLoginAccepted) return -1;
        // A shared account keeps its key. Keys are issued from 1 on: a record left by an
        // earlier installation may hold 0, which no request can present (KeyOfText); such a
        // session is issued anew, replacing that record, instead of handing out a key that
        // never checks.
        bool reused = false;
        key = IssueSession(dataDir, user.USER_ID, user.MODE == kSharedAccount, kMaxKeyDraws,
                           reused);
        if (key < 0) return kLoginNotStored;
        if (reused) {
            run.login.user = user;
            return key;
        }
        // The log is the record of who came in: a login it cannot record is not granted. The
        // new key stays unknown to everyone, since it is never handed out.
        if (!RecordAccess(run, user.USER_ID, kLogLogin, 0)) return kLoginNotStored;
    }

    run.login.user = user;
    return key;
}

// The key a text names: its decimal value. Keys are issued from 1 on, so a text that is not a
// number (value 0) or a negative one names no session.
static int32_t KeyOfText(const std::string& text) { return ParseInt(text); }

int CheckSessionKey(Run& run, const std::string& text) {
    const int32_t key = KeyOfText(text);
    if (key < 1) return 0;
    std::string userId;
    UserRecord user;
    if (CheckSession(run.dataDir(), key, userId, user) != 0) return 0;
    // Only a plain language file of the working directory is taken; anything else stands for
    // the system language.
    if (!IsUserLanguageName(user.LANGUAGE)) user.LANGUAGE.clear();
    run.login.user = user;
    if (!user.LANGUAGE.empty() && user.LANGUAGE != run.settings.LANGUAGE)
        LoadMessages(run.msg, user.LANGUAGE);
    return 1;
}

void LogOff(Run& run) {
    const int32_t key = KeyOfText(run.login.SKEY);
    std::string userId;
    UserRecord user;
    if (key >= 1 && CheckSession(run.dataDir(), key, userId, user) == 0 &&
        DeleteSessionsOfUser(run.dataDir(), userId) != 0) {
        // The session could not be ended and its key still works: the user is told so rather
        // than sent on as if logged off.
        ShowLoginPage(run, run.msg(382));
        return;
    }
    if (!run.settings.LOGOFF_URL.empty())
        ShowLogoffRedirect(run);
    else
        ShowLoginPage(run);
}

void ShowLoginPage(Run& run, const std::string& notice) {
    Output& o = run.out;
    const SystemSettings& s = run.settings;
    WritePageHead(run);
    o.Printf("\t\t<TITLE>Welcome to Vorbix %s for %s</TITLE>\n", kVersionText, kPlatformText);
    o.Printf("\t\t<BODY BACKGROUND=\"%s%s\" BGPROPERTIES=FIXED >\n",
             HtmlEscape(s.CG_FILE_WEB_PATH).c_str(), HtmlEscape(s.BACK_GIF).c_str());
    o.Printf("Vorbix %s for %s<BR>\n", kVersionText, kPlatformText);
    o << "\t\t<CENTER>\n";
    o.Printf("\t\t<IMG SRC=\"%s%s\" >\n", HtmlEscape(s.CG_FILE_WEB_PATH).c_str(),
             HtmlEscape(s.LOGIN_GIF).c_str());
    o.Printf("\t\t<FORM ACTION=\"%s\" METHOD=POST >\n", HtmlEscape(s.scriptName).c_str());
    if (!notice.empty()) o.Printf("\t\t<FONT COLOR=\"RED\"><B>%s</B></FONT><P>\n", notice.c_str());
    o.Printf("\t\t%s<P>\n", run.msg(100).c_str());
    o << "\t\t<TABLE>\n";
    o << "\t\t<TR>\n"
      << "\t\t<TD>\n" << run.msg(130) << "\t\t</TD>\n"
      << "\t\t<TD>\n"
      << "<INPUT TYPE=\"text\" NAME=\"uid\" SIZE=\"20\" MAXLENGTH=\"20\">\n"
      << "\t\t</TD>\n"
      << "\t\t</TR>\n";
    o << "\t\t<TR>\n"
      << "\t\t<TD>\n" << run.msg(131) << "\t\t</TD>\n"
      << "\t\t<TD>\n"
      << "<INPUT TYPE=\"password\" NAME=\"upw\" SIZE=\"20\" MAXLENGTH=\"20\">\n"
      << "\t\t</TD>\n"
      << "\t\t</TR>\n";
    o << "\t\t</TABLE>\n";
    o << "\t\t<INPUT TYPE=\"hidden\" NAME=\"JOB\" VALUE=\"TOP\"><P>\n";
    o.Printf("\t\t<INPUT TYPE=\"submit\" NAME=\"sub\" VALUE=\"%s\">\n", run.msg(101).c_str());
    o << "\t\t</FORM>\n"
      << "\t\t</CENTER>\n"
      << "</BODY>\n"
      << "</HTML>\n";
}

void ShowTopFrames(Run& run, const std::string& key) {
    Output& o = run.out;
    const SystemSettings& s = run.settings;
    WritePageHead(run);
    o.Printf("<FRAMESET COLS=\"%d%%,*\" >\n", s.FRAME_DIVIDE);
    o.Printf("\t<FRAME SRC = \"%s?SKEY=%s&JOB=FRM21\" NAME=\"FRM21\">\n",
             HtmlEscape(s.scriptName).c_str(), HtmlEscape(key).c_str());
    if (run.login.user.MODE == kMemberAccount)
        o.Printf("\t<FRAME SRC = \"%sinfo.html\" NAME=\"FRM22\">\n",
                 HtmlEscape(s.CG_FILE_WEB_PATH).c_str());
    else
        o.Printf("\t<FRAME SRC = \"%sginfo.html\" NAME=\"FRM22\">\n",
                 HtmlEscape(s.CG_FILE_WEB_PATH).c_str());
    o << "</FRAMESET>\n"
      << "</HTML>\n";
}

void ShowLogoffRedirect(Run& run) {
    WritePageHead(run);
    run.out.Printf("<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0;URL=%s\">",
                   HtmlEscape(run.settings.LOGOFF_URL).c_str());
    run.out << "</HTML>\n";
}

void ShowExpiredPage(Run& run) {
    Output& o = run.out;
    WritePageHead(run);
    WriteBackgroundBody(run);
    o << "<CENTER>\n"
      << "<BR>";
    o.Printf("<FONT SIZE=\"5\"><B>%s</B></FONT>\n", run.msg(6).c_str());
    o << "<P><BR><HR><P><BR>\n";
    o.Printf("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST TARGET=\"_parent\">\n",
             HtmlEscape(run.settings.scriptName).c_str());
    o.Printf("<INPUT TYPE=\"submit\" VALUE=\"%s\" >\n", run.msg(4).c_str());
    o << "</FORM>\n"
      << "</CENTER>\n"
      << "</BODY>\n"
      << "</HTML>\n";
}

void ShowPostingClosePage(Run& run) {
    Output& o = run.out;
    WritePageHead(run);
    o << "<SCRIPT Language=\"JavaScript\">\n"
      << "<!--\n"
      << "self.close();\n"
      << "// -->\n"
      << "</SCRIPT>\n";
    WriteBackgroundBody(run);
    o.Printf("<FONT SIZE=\"5\"><B>%s</B></FONT>\n", run.msg(294).c_str());
    o << "<P>\n"
      << "</BODY>\n"
      << "</HTML>\n";
}
