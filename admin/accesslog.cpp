#include "admin/accesslog.h"

#include <cstdint>

#include "admin/folder_common.h"
#include "app/session.h"
#include "board/common.h"
#include "cgi/files.h"
#include "cgi/html.h"
#include "cgi/request.h"
#include "cgi/text.h"
#include "store/accesslog.h"
#include "store/acl.h"
#include "store/groups.h"
#include "store/recordfile.h"
#include "store/sessions.h"
#include "store/userchange.h"
#include "store/users.h"

namespace {

constexpr size_t kUserIdCapacity = 21;
constexpr int kDaysKeptForEver = 100000;  // about 270 years

// The forms of these pages: "METHOD=POST>" without the blank the folder pages have.
void OpenLogForm(Run& run, const char* job) {
    run.out.Printf("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST>\n",
                   ScriptAttr(run).c_str());
    AdminHidden(run, "SKEY", run.login.SKEY);
    AdminHidden(run, "JOB", job);
}

void WriteLogButton(Run& run, const char* job, const std::string& label) {
    OpenLogForm(run, job);
    run.out.Printf("<INPUT TYPE=\"submit\" name=\"SUB\" VALUE=\"%s\">\n", label.c_str());
    run.out << "</FORM>\n";
}

// Page head, body line and title; for a caller who is not the operator the refusal and the
// page end. false when the page has ended.
bool OpenLogPage(Run& run, const std::string& title) {
    WritePageHead(run);
    AdminBodyLine(run);
    run.out.Printf("<FONT SIZE=\"5\"><B>%s</B></FONT><P>\n", title.c_str());
    run.out << "<P>\n";
    if (AdminIsOperator(run)) return true;
    AdminRefusal(run);
    return false;
}

void WriteLogButtons(Run& run) {
    run.out << "<TABLE>\n"
            << "<TR>\n";
    const struct {
        const char* job;
        int label;
    } buttons[] = {{"ADMIN", 4}, {"AccessLogDOWNLOAD", 246}, {"AccessLogLastLogin", 247}};
    for (const auto& b : buttons) {
        run.out << "\t<TD>\n";
        WriteLogButton(run, b.job, run.msg(b.label));
        run.out << "\t</TD>\n";
    }
    run.out << "</TR>\n"
            << "</TABLE>\n";
}

// The prune's cut-off date: the date of the stamp stepped back one day `days` times (not at all
// for 0 or less).
std::string PruneCutoff(const std::string& stamp, int days) {
    std::string cutoff = stamp.substr(0, 10);
    for (int i = 0; i < days; ++i) DayBefore(cutoff);
    return cutoff;
}

}  // namespace

void ShowAccessLogMenu(Run& run) {
    if (!OpenLogPage(run, run.msg(112))) return;
    WriteLogButtons(run);
    run.out << "</BODY>\n"
            << "</HTML>\n";
    run.out.Flush();
    // The page is complete; now the log is cut to the days it keeps.
    // A count of days reaching back before any date the log can hold keeps everything; it is
    // not stepped back one day at a time (a ten-digit setting would take minutes).
    const int days = ParseInt(run.settings.LOG_DATE);
    if (days > kDaysKeptForEver) return;
    PruneAccessLog(run.dataDir(), PruneCutoff(DateStampAt(run.now), days));
}

void DownloadAccessLog(Run& run) {
    if (!AdminIsOperator(run)) return;
    SendDownload(run.out, run.dataDir(), "system.log");
}

void ShowLastLogins(Run& run) {
    Output& o = run.out;
    if (!OpenLogPage(run, run.msg(112) + " " + run.msg(247))) return;
    WriteLogButtons(run);
    o << "<TABLE BORDER>\n"
      << "<TR>\n";
    for (int m : {253, 248, 249, 247, 250, 251, 252}) WriteHeadingCell(run, run.msg(m));
    o << "</TR>\n";
    OpenLogForm(run, "AccessLogDeleteUser");

    const auto summaries = SummarizeAccessLog(run.dataDir());
    for (const UserRecord& u : ListedUsers(run)) {
        UserLogSummary s;
        if (auto it = summaries.find(u.USER_ID); it != summaries.end()) s = it->second;
        const std::string id = HtmlEscape(u.USER_ID);
        o << "<TR>\n";
        o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">", kAdminValueColour);
        o.Printf("<INPUT TYPE=\"checkbox\" NAME=\"USER_ID\" VALUE=\"%s\">", id.c_str());
        o << "</TD>\n";
        o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">%s</TD>\n", kAdminValueColour, id.c_str());
        o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">%s</TD>\n", kAdminValueColour,
                 HtmlEscape(u.USER_NAME).c_str());
        // A ratio needs logins to divide by: once pruning has removed them it stays empty.
        const std::string ratio =
            s.writes > 0 && s.logins > 0
                ? std::to_string(static_cast<int64_t>(s.writes) * 100 / s.logins)
                : std::string();
        const std::string cells[] = {HtmlEscape(s.lastLogin),
                                     s.logins > 0 ? std::to_string(s.logins) : std::string(),
                                     s.writes > 0 ? std::to_string(s.writes) : std::string(),
                                     ratio};
        for (const std::string& c : cells)
            o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">%s<BR></TD>\n", kAdminValueColour,
                     c.c_str());
        o << "</TR>\n";
    }
    o << "</TABLE>\n"
      << "<TABLE>\n"
      << "<TR>\n"
      << "<TD>\n";
    o.Printf("<INPUT TYPE=\"submit\" VALUE=\"%s\" onClick=\"return confirm('%s')\">\n",
             run.msg(254).c_str(), run.msg(255).c_str());
    o << "</FORM>\n"
      << "</TD>\n"
      << "<TD>\n";
    WriteLogButton(run, "ADMIN", run.msg(4));
    o << "</TD>\n"
      << "</TR>\n"
      << "</TABLE>\n"
      << "</BODY>\n"
      << "</HTML>\n";
}

int DeleteLoggedUsers(Run& run) {
    if (!AdminIsOperator(run)) return 0;  // the summary that follows refuses
    const std::string& dataDir = run.dataDir();
    std::vector<std::string> ids;
    for (int k = 0;; ++k) {
        std::string id = GetField(run.fields, "USER_ID", k, kUserIdCapacity + 1);
        if (id.empty()) break;
        ids.push_back(std::move(id));
    }
    // The users go from every file as one change, or none of them does.
    if (!ids.empty() && DeleteUsersEverywhere(dataDir, ids) != 0) return kLogDeleteNotStored;
    return 0;
}
