#include "admin/menu.h"

#include "admin/common.h"
#include "board/common.h"

namespace {

struct MenuEntry {
    const char* job;
    int label;
};

constexpr MenuEntry kEntries[] = {
    {"SYSTEM", 108},     {"USERLIST", 109},      {"FOLDERLIST", 110},
    {"GROUPLIST", 111},  {"AccessLogDISP", 112}, {"IDSINSEIlist2", 113},
};

}  // namespace

void ShowAdminMenu(Run& run) {
    Output& o = run.out;
    AdminPageStart(run);
    AdminTitle(run, 104);
    o << "<P>\n";
    if (!AdminIsOperator(run)) {
        AdminRefusal(run);
        return;
    }
    for (const MenuEntry& e : kEntries) {
        o.Printf("<FORM ACTION=\"%s\" METHOD=GET TARGET=\"FRM22\">\n", ScriptAttr(run).c_str());
        AdminHidden(run, "SKEY", run.login.SKEY);
        AdminHidden(run, "JOB", e.job);
        o.Printf("<INPUT TYPE=\"submit\" name=\"SUB\" VALUE=\"%s\">\n", run.msg(e.label).c_str());
        o << "</FORM>\n";
    }
    AdminPageEnd(run);
}
