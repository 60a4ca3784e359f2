#include "admin/common.h"

#include "app/session.h"
#include "board/common.h"
#include "cgi/html.h"

bool AdminIsOperator(const Run& run) { return run.login.user.USER_LEVEL >= kAdminOperatorLevel; }

void AdminBodyLine(Run& run) {
    run.out.Printf("\t\t<BODY BACKGROUND=\"%s%s\" BGPROPERTIES=FIXED >\n",
                   HtmlEscape(run.settings.CG_FILE_WEB_PATH).c_str(),
                   HtmlEscape(run.settings.BACK_GIF).c_str());
}

void AdminPageStart(Run& run) {
    WritePageHead(run);
    AdminBodyLine(run);
}

void AdminTitle(Run& run, int msgNo) {
    run.out.Printf("<FONT SIZE=\"5\"><B>%s</B></FONT>\n", run.msg(msgNo).c_str());
}

void AdminRefusal(Run& run) {
    Output& o = run.out;
    o << run.msg(3) << "\n"
      << "<FORM>\n";
    o.Printf("<INPUT TYPE=\"button\" VALUE=\"%s\" onClick=\"history.back()\">\n",
             run.msg(4).c_str());
    o << "</FORM>\n";
    AdminPageEnd(run);
}

void AdminPageEnd(Run& run) { run.out << "</BODY>\n</HTML>\n"; }

void AdminHidden(Run& run, const char* name, const std::string& value) {
    run.out.Printf("<INPUT TYPE=\"hidden\" name=\"%s\" value=\"%s\">\n", name,
                   HtmlEscape(value).c_str());
}

void AdminFormLine(Run& run) {
    run.out.Printf("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n",
                   ScriptAttr(run).c_str());
}

void AdminButtonForm(Run& run, const char* job, int msgNo) {
    AdminFormLine(run);
    AdminHidden(run, "SKEY", run.login.SKEY);
    AdminHidden(run, "JOB", job);
    run.out.Printf("<INPUT TYPE=\"submit\" name=\"SUB\" VALUE=\"%s\">\n", run.msg(msgNo).c_str());
    run.out << "</FORM>\n";
}

// Message of the note: the picture's file name was not acceptable.
static constexpr int kPictureRefusedMsg = 380;

void AdminNotePictureRefused(Run& run) { run.noteMsg = kPictureRefusedMsg; }

void AdminWriteNote(Run& run) {
    if (run.noteMsg == 0) return;
    run.out.Printf("<FONT COLOR=\"RED\"><B>%s</B></FONT><BR>\n", run.msg(run.noteMsg).c_str());
}

bool AdminHasLineBreaker(const std::string& text) {
    return text.find_first_of(",\r\n") != std::string::npos;
}
