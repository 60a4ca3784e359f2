#include "board/applications.h"

#include <vector>

#include "app/rights.h"
#include "app/session.h"
#include "board/common.h"
#include "cgi/dbcs.h"
#include "cgi/html.h"
#include "cgi/request.h"
#include "cgi/text.h"
#include "store/applications.h"
#include "store/recordfile.h"
#include "store/userchange.h"
#include "store/users.h"

namespace {

constexpr size_t kIdCapacity = 22;
constexpr size_t kPassCapacity = 22;
constexpr size_t kNameCapacity = 82;
constexpr size_t kMailCapacity = 252;
constexpr size_t kMessageCapacity = 252;
constexpr size_t kNumberCapacity = 20;
constexpr int kPurgeDays = 14;

// The level and settings of a user created by an approval.
constexpr int kNewUserLevel = 10;

bool HasCommaOrSpace(const std::string& text) {
    return FindText(text, ",") >= 0 || FindText(text, " ") >= 0;
}

bool IsOperator(const Run& run) { return run.login.user.USER_LEVEL > kOperatorLevelAbove; }

void OpenForm(Run& run, const char* job, bool named) {
    run.out.Printf("<FORM %sENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n",
                   named ? "NAME=\"INPUT\" " : "", ScriptAttr(run).c_str());
    WriteHidden(run, "SKEY", CutToSlot(run.login.SKEY, kKeyFieldCapacity));
    WriteHidden(run, "JOB", job);
}

void WriteInputRow(Run& run, int label, const char* name, int size, int maxLength) {
    run.out.Printf("<TR><TD BGCOLOR=\"#E0FFFF\">%s</TD><TD BGCOLOR=\"#FFFFFF\">"
                   "<INPUT TYPE=\"text\" NAME=\"%s\" SIZE=\"%d\" MAXLENGTH=\"%d\"></TD></TR>\n",
                   run.msg(label).c_str(), name, size, maxLength);
}

void WriteCell(Run& run, const std::string& text, bool centred = false) {
    run.out << "<TD BGCOLOR=\"#FFFFFF\"" << (centred ? " ALIGN=\"CENTER\"" : "") << ">"
            << HtmlEscape(text) << "</TD>";
}

void WriteHeadingCells(Run& run, std::initializer_list<int> messages) {
    for (int m : messages) run.out << "<TD BGCOLOR=\"#E0FFFF\">" << run.msg(m) << "</TD>";
}

}  // namespace

void ShowApplicationForm(Run& run) {
    Output& o = run.out;
    WritePageHead(run);
    o << "<SCRIPT Language=\"JavaScript\">\n<!--\nfunction title_chk(){\n";
    o.Printf("  if(document.INPUT.USER_ID.value == \"\"){\n    alert(\"%s\");\n    return false;\n  }\n",
             run.msg(181).c_str());
    o.Printf("  if(document.INPUT.USER_NAME.value == \"\"){\n    alert(\"%s\");\n    return false;\n  }\n",
             run.msg(182).c_str());
    o << "  return true;\n}\n// -->\n</SCRIPT>\n";
    WriteBackgroundBody(run);
    o << "<CENTER>\n<FONT SIZE=\"5\"><B>" << run.msg(311) << "</B></FONT>\n";
    OpenForm(run, "IDSINSEIWR", true);
    o << "<TABLE BORDER>\n";
    WriteInputRow(run, 136, "USER_ID", 20, 20);
    WriteInputRow(run, 131, "USER_PASS", 20, 20);
    WriteInputRow(run, 137, "USER_NAME", 40, 80);
    WriteInputRow(run, 169, "E_MAIL_ADDR", 40, 250);
    o << "</TABLE>\n<P>\n";
    o.Printf("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\" onClick=\"return title_chk()\">\n",
             run.msg(171).c_str());
    o.Printf("<INPUT TYPE=\"BUTTON\" VALUE=\"%s\" onClick=\"history.back()\">\n",
             run.msg(4).c_str());
    o << "<P>\n</FORM>\n</CENTER>\n</BODY>\n</HTML>\n";
}

int SaveApplication(Run& run) {
    const std::string& dataDir = run.dataDir();
    IdApplication app;
    app.USER_ID = GetField(run.fields, "USER_ID", 0, kIdCapacity);
    app.USER_PASS = GetField(run.fields, "USER_PASS", 0, kPassCapacity);
    app.USER_NAME = GetField(run.fields, "USER_NAME", 0, kNameCapacity);
    app.E_MAIL_ADDR = GetField(run.fields, "E_MAIL_ADDR", 0, kMailCapacity);
    if (app.USER_ID.empty()) return kApplicationNoId;
    if (app.USER_NAME.empty()) return kApplicationNoName;

    DataLock lock(dataDir);
    std::string id = app.USER_ID;  // FindUser changes its argument
    UserRecord user;
    if (FindUser(dataDir, id, user) == 0) return kApplicationIdInUse;
    IdApplication earlier;
    for (int n = 0; FindApplication(dataDir, app.USER_ID, n, earlier) == 0; ++n)
        if (earlier.status != kAppRefused) return kApplicationExists;
    if (!IsUsableUserId(app.USER_ID)) return kApplicationBadId;
    if (FindText(app.USER_NAME, ",") >= 0) return kApplicationBadName;
    if (HasCommaOrSpace(app.USER_PASS)) return kApplicationBadPassword;
    if (HasCommaOrSpace(app.E_MAIL_ADDR)) return kApplicationBadMail;

    app.date = DateStampAt(run.now);
    app.REMOTE_ADDR = run.remoteAddr;
    app.HTTP_USER_AGENT = run.userAgent;
    app.status = kAppWaiting;
    // A refused application of the same id that is not purged yet keeps its place: the new
    // one is not stored, and the applicant is told so rather than shown the old record.
    const int added = AddApplication(dataDir, app);
    if (added == kApplicationNotWritten) return kApplicationNotStored;
    return added == 0 ? kApplicationStored : kApplicationExists;
}

void ShowApplicationList(Run& run) {
    Output& o = run.out;
    const std::string& dataDir = run.dataDir();
    WritePageHead(run);
    WriteBackgroundBody(run);
    o << "<FONT SIZE=\"5\"><B>" << run.msg(107) << "</B></FONT><P>\n";
    o << run.msg(314) << "<P>\n";

    std::string cutoff = DateStampAt(run.now);
    for (int d = 0; d < kPurgeDays; ++d) DayBefore(cutoff);
    PurgeDecidedApplications(dataDir, cutoff);

    o << "<TABLE BORDER>\n<TR>";
    WriteHeadingCells(run, {315, 136, 137, 316, 317});
    o << "</TR>\n";
    for (const IdApplication& a : ReadAllApplications(dataDir)) {
        o << "<TR>";
        WriteCell(run, a.date, true);
        WriteCell(run, a.USER_ID);
        WriteCell(run, a.USER_NAME);
        if (a.status == kAppWaiting)
            o << "<TD BGCOLOR=\"#FFFFFF\">" << run.msg(318) << "</TD>";
        else if (a.status == kAppApproved)
            o << "<TD BGCOLOR=\"#B0E0E6\">" << run.msg(319) << "</TD>";
        else if (a.status == kAppRefused)
            o << "<TD BGCOLOR=\"#FFB6C1\">" << run.msg(320) << "</TD>";
        else
            o << "<TD BGCOLOR=\"#FFFFFF\"><BR></TD>";
        o << "<TD BGCOLOR=\"#FFFFFF\">" << HtmlEscape(a.message) << "<BR></TD></TR>\n";
    }
    o << "</TABLE>\n</BODY>\n</HTML>\n";
}

void ShowPendingApplications(Run& run) {
    Output& o = run.out;
    WritePageHead(run);
    WriteBackgroundBody(run);
    o << "<FONT SIZE=\"5\"><B>" << run.msg(311) << "</B></FONT><P>\n";
    if (!IsOperator(run)) {
        o << run.msg(3) << "\n<FORM>\n";
        o.Printf("<INPUT TYPE=\"button\" VALUE=\"%s\" onClick=\"history.back()\">\n",
                 run.msg(4).c_str());
        o << "</FORM>\n</BODY>\n</HTML>\n";
        return;
    }
    OpenForm(run, "IDSINSEIsysopWR", false);
    o << "<TABLE BORDER>\n<TR><TD BGCOLOR=\"#E0FFFF\"><BR></TD>";
    WriteHeadingCells(run, {315, 136, 137, 321, 322});
    o << "</TR>\n";
    for (const IdApplication& a : ReadAllApplications(run.dataDir())) {
        if (a.status != kAppWaiting) continue;
        o.Printf("<TR><TD BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\">"
                 "<INPUT TYPE=\"checkbox\" NAME=\"USER_ID\" VALUE=\"%s\"></TD>",
                 HtmlEscape(a.USER_ID).c_str());
        WriteCell(run, a.date);
        WriteCell(run, a.USER_ID);
        WriteCell(run, a.USER_NAME);
        WriteCell(run, a.REMOTE_ADDR);
        WriteCell(run, a.HTTP_USER_AGENT);
        o << "</TR>\n";
    }
    o << "</TABLE>\n<P>\n<TABLE BORDER>\n";
    o << "<TR><TD BGCOLOR=\"#E0FFFF\">" << run.msg(323) << "</TD><TD BGCOLOR=\"#FFFFFF\">";
    o << "<INPUT TYPE=\"radio\" NAME=\"OK_NG\" VALUE=\"1\" checked>" << run.msg(324) << "\n";
    o << "<INPUT TYPE=\"radio\" NAME=\"OK_NG\" VALUE=\"2\">" << run.msg(325) << "</TD></TR>\n";
    o << "<TR><TD BGCOLOR=\"#E0FFFF\">" << run.msg(317) << "</TD><TD BGCOLOR=\"#FFFFFF\">\n";
    for (int m = 1; m <= 4; ++m)
        o.Printf("<INPUT TYPE=\"radio\" NAME=\"MES\" VALUE=\"%d\"%s>%s<BR>\n", m,
                 m == 1 ? " checked" : "", run.msg(325 + m).c_str());
    o << "<INPUT TYPE=\"text\" NAME=\"MESSAGE\" SIZE=\"40\" MAXLENGTH=\"250\"></TD></TR>\n";
    o << "</TABLE>\n<P>\n<CENTER>\n";
    o.Printf("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\">\n", run.msg(171).c_str());
    o.Printf("<INPUT TYPE=\"BUTTON\" VALUE=\"%s\" onClick=\"history.back()\">\n",
             run.msg(4).c_str());
    o << "</CENTER>\n</FORM>\n</BODY>\n</HTML>\n";
}

int DecideApplications(Run& run) {
    if (!IsOperator(run)) return 0;
    const int decision = IntField(run, "OK_NG", kNumberCapacity);
    if (decision != kAppApproved && decision != kAppRefused) return 0;
    const int mes = IntField(run, "MES", kNumberCapacity);
    std::string message;
    if (mes >= 1 && mes <= 3) message = run.msg(325 + mes);
    else if (mes == 4) message = GetField(run.fields, "MESSAGE", 0, kMessageCapacity);

    std::vector<std::string> ids;
    for (int i = 0;; ++i) {
        std::string id = GetField(run.fields, "USER_ID", i, kIdCapacity);
        if (id.empty()) break;
        ids.push_back(std::move(id));
    }
    UserRecord user;  // id, name, address and password come from each application
    user.USER_LEVEL = kNewUserLevel;
    user.P_GROUP = 0;
    user.USER_DISP_DEF = 1;
    user.MODE = kMemberAccount;
    user.WRITE_MODE = 1;
    user.LANGUAGE = run.settings.LANGUAGE;
    // Every decision of the request, and the users approved, are stored as one change.
    if (!ids.empty() && DecideIdApplications(run.dataDir(), ids, decision, message, user) != 0)
        return kDecisionNotStored;
    return 0;
}
