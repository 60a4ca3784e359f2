#include "app/result.h"

#include "app/session.h"
#include "cgi/html.h"

void ShowResultPage(Run& run, const std::string& title, const std::string& text) {
    Output& o = run.out;
    WritePageHead(run);
    WriteBackgroundBody(run);
    o << "<CENTER>\n"
      << "<BR>";
    o.Printf("<FONT SIZE=\"5\"><B>%s</B></FONT>\n", title.c_str());
    o << "<P><BR><HR><P><BR>\n";
    o.Printf("<FONT COLOR=\"RED\"><B>%s</B></FONT>\n", text.c_str());
    o.Printf("<FORM ACTION=\"%s\" METHOD=POST >\n", HtmlEscape(run.settings.scriptName).c_str());
    o << "<INPUT TYPE=\"button\" VALUE=\" OK \" onClick=\"history.back()\">\n"
      << "</FORM>\n"
      << "</CENTER>\n"
      << "</BODY>\n"
      << "</HTML>\n";
}

void ShowOperatorRefusal(Run& run, const std::string& heading, bool boardBody) {
    Output& o = run.out;
    WritePageHead(run);
    if (boardBody)
        WriteBackgroundBody(run);
    else
        o.Printf("\t\t<BODY BACKGROUND=\"%s%s\" BGPROPERTIES=FIXED >\n",
                 HtmlEscape(run.settings.CG_FILE_WEB_PATH).c_str(),
                 HtmlEscape(run.settings.BACK_GIF).c_str());
    o << heading;
    WriteRefusalTail(run);
}

void WriteRefusalTail(Run& run) {
    Output& o = run.out;
    o << run.msg(3) << "\n";
    o << "<FORM>\n";
    o.Printf("<INPUT TYPE=\"button\" VALUE=\"%s\" onClick=\"history.back()\">\n",
             run.msg(4).c_str());
    o << "</FORM>\n"
      << "</BODY>\n"
      << "</HTML>\n";
}
