#include "admin/groups.h"

#include <string>
#include <vector>

#include "admin/common.h"
#include "app/session.h"
#include "board/common.h"
#include "cgi/html.h"
#include "cgi/request.h"
#include "store/acl.h"
#include "store/groups.h"
#include "store/recordfile.h"
#include "store/userchange.h"
#include "store/users.h"

namespace {

constexpr size_t kSaveIdCapacity = 19;
constexpr size_t kDeleteIdCapacity = 99;
constexpr size_t kEditIdCapacity = 999;
constexpr size_t kNameCapacity = 81;

// One line of group.mst as the pages show it: split at commas, empty pieces skipped; a line
// without a first piece is not shown, one without a second has an empty name.
struct GroupLine {
    int id = 0;
    std::string name;
};

// The shown lines of group.mst in file order; existed tells whether the file is there.
std::vector<GroupLine> ReadGroupLines(Run& run, bool* lastHasNumber = nullptr) {
    std::vector<GroupLine> lines;
    std::string bytes;
    ReadWholeFile(DataFilePath(run.dataDir(), "group.mst"), bytes);
    const std::vector<std::string_view> raw = SplitTextLines(bytes);
    if (lastHasNumber != nullptr) *lastHasNumber = false;
    for (size_t i = 0; i < raw.size(); ++i) {
        const std::vector<std::string_view> tokens = CommaTokens(raw[i]);
        if (i + 1 == raw.size() && lastHasNumber != nullptr) *lastHasNumber = !tokens.empty();
        if (tokens.empty()) continue;
        GroupLine g;
        g.id = ParseInt(tokens[0]);
        if (tokens.size() > 1) g.name = CutToSlot(tokens[1], kGroupNameSize);
        lines.push_back(std::move(g));
    }
    return lines;
}

void HeadingCell(Run& run, int msgNo) {
    run.out.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">%s</TD>\n", kAdminLabelColour,
                   run.msg(msgNo).c_str());
}

void NumberCell(Run& run, int id, const char* colour) {
    run.out.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">%d</TD>\n", colour, id);
}

void PlainNameCell(Run& run, const std::string& name) {
    run.out.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">%s</TD>\n", kAdminValueColour,
                   HtmlEscape(name).c_str());
}

// "<TABLE BORDER>" and the heading row; the rows follow.
void TableStart(Run& run) {
    run.out << "<TABLE BORDER>\n<TR>\n";
    HeadingCell(run, 152);
    HeadingCell(run, 153);
    run.out << "</TR>\n";
}

// The plain group table (without its closing tag).
void PlainTable(Run& run, const std::vector<GroupLine>& lines) {
    TableStart(run);
    for (const GroupLine& g : lines) {
        run.out << "<TR>\n";
        NumberCell(run, g.id, kAdminValueColour);
        PlainNameCell(run, g.name);
        run.out << "</TR>\n";
    }
}

void BackButton(Run& run) {
    run.out.Printf("<INPUT TYPE=\"button\" VALUE=\"%s\" onClick=\"history.back()\">\n",
                   run.msg(4).c_str());
}

void FormStart(Run& run, const char* job) {
    AdminFormLine(run);
    AdminHidden(run, "SKEY", run.login.SKEY);
    AdminHidden(run, "JOB", job);
}

}  // namespace

void ShowGroupList(Run& run) {
    Output& o = run.out;
    AdminPageStart(run);
    if (!AdminIsOperator(run)) {
        AdminRefusal(run);
        return;
    }
    AdminTitle(run, 111);
    o << "<P>\n<TABLE>\n<TR>\n";
    for (const auto& [job, label] : {std::pair{"NEWGROUP", 150}, std::pair{"DELGROUP", 151},
                                     std::pair{"ADMIN", 4}}) {
        o << "<TD>\n";
        AdminButtonForm(run, job, label);
        o << "</TD>\n";
    }
    o << "</TR>\n</TABLE>\n";
    TableStart(run);
    const std::string script = ScriptAttr(run), key = KeyAttr(run);
    for (const GroupLine& g : ReadGroupLines(run)) {
        o << "<TR>\n";
        NumberCell(run, g.id, kAdminValueColour);
        o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">", kAdminValueColour);
        o.Printf("<A HREF=\"%s?SKEY=%s&JOB=EDITGROUP&T02_GROUP_ID=%d\">", script.c_str(),
                 key.c_str(), g.id);
        o << HtmlEscape(g.name) << "</A>\n</TD>\n";
        o << "</TR>\n";
    }
    o << "</TABLE>\n";
    AdminPageEnd(run);
}

void ShowNewGroupPage(Run& run) {
    Output& o = run.out;
    WritePageHead(run);
    o << "<SCRIPT Language=\"JavaScript\">\n"
      << "<!--\n"
      << "function title_chk(){\n"
      << "if ( document.INPUT.T02_GROUP_ID.value==\"\" ) {\n";
    o.Printf("window.alert( \"%s\" );\n", run.msg(156).c_str());
    o << "return false }\n"
      << "if ( document.INPUT.T02_GROUP_NAME.value==\"\" ) {\n";
    o.Printf("window.alert( \"%s\" );\n", run.msg(157).c_str());
    o << "return false }\n"
      << "}\n"
      << "// -->\n"
      << "</SCRIPT>\n";
    AdminBodyLine(run);
    if (!AdminIsOperator(run)) {
        AdminRefusal(run);
        return;
    }
    AdminTitle(run, 154);
    o << "<P>\n";
    o.Printf("<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n",
             ScriptAttr(run).c_str());
    AdminHidden(run, "SKEY", run.login.SKEY);
    AdminHidden(run, "JOB", "NEWGROUPWR");
    bool lastHasNumber = false;
    const std::vector<GroupLine> lines = ReadGroupLines(run, &lastHasNumber);
    PlainTable(run, lines);
    // The next number follows the number of the file's last line.
    const int suggested = lastHasNumber && !lines.empty() ? lines.back().id + 1 : 1;
    o << "<TR>\n";
    o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">", kAdminValueColour);
    o.Printf("<INPUT TYPE=\"text\" NAME=\"T02_GROUP_ID\" SIZE=\"3\" MAXLENGTH=\"3\" VALUE=\"%d\"></TD>\n",
             suggested);
    o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">\n", kAdminValueColour);
    o << "<INPUT TYPE=\"text\" NAME=\"T02_GROUP_NAME\" SIZE=\"40\" MAXLENGTH=\"80\"></TD>\n";
    o << "</TR>\n";
    o << "</TABLE>\n<P>\n";
    o.Printf("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\" onClick=\"return title_chk()\"> \n",
             run.msg(155).c_str());
    BackButton(run);
    o << "<P>\n</FORM>\n";
    AdminPageEnd(run);
}

void ShowEditGroupPage(Run& run) {
    Output& o = run.out;
    AdminPageStart(run);
    if (!AdminIsOperator(run)) {
        AdminRefusal(run);
        return;
    }
    const int groupId = IntField(run, "T02_GROUP_ID", kEditIdCapacity);
    AdminTitle(run, 159);
    FormStart(run, "NEWGROUPWR");
    o.Printf("<INPUT TYPE=\"hidden\" name=\"T02_GROUP_ID\" value=\"%d\">\n", groupId);
    TableStart(run);
    for (const GroupLine& g : ReadGroupLines(run)) {
        o << "<TR>\n";
        if (g.id == groupId) {
            NumberCell(run, g.id, kAdminMarkColour);
            o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">", kAdminValueColour);
            o.Printf("<INPUT TYPE=\"text\" NAME=\"T02_GROUP_NAME\" VALUE=\"%s\" SIZE=\"40\" MAXLENGTH=\"80\">",
                     HtmlEscape(g.name).c_str());
            o << "</TD>\n";
        } else {
            NumberCell(run, g.id, kAdminValueColour);
            PlainNameCell(run, g.name);
        }
        o << "</TR>\n";
    }
    o << "</TABLE>\n<P>\n";
    o.Printf("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\"> \n", run.msg(155).c_str());
    BackButton(run);
    o << "<P>\n</FORM>\n";
    AdminPageEnd(run);
}

void ShowDeleteGroupPage(Run& run) {
    Output& o = run.out;
    AdminPageStart(run);
    if (!AdminIsOperator(run)) {
        AdminRefusal(run);
        return;
    }
    AdminTitle(run, 161);
    o << "<P>\n";
    FormStart(run, "DELGROUPWR");
    const std::vector<GroupLine> lines = ReadGroupLines(run);
    PlainTable(run, lines);
    o << "</TABLE>\n<P>\n";
    o << "<TABLE BORDER>\n<TR>\n";
    HeadingCell(run, 160);
    o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">", kAdminValueColour);
    o << "<SELECT NAME=\"T02_GROUP_ID\" >\n";
    for (const GroupLine& g : lines)
        o.Printf("<OPTION VALUE=\"%d\">%d:%s\n", g.id, g.id, HtmlEscape(g.name).c_str());
    o << "</SELECT>";
    o << "</TD>\n</TR>\n</TABLE>\n";
    o << "<P>\n";
    o.Printf("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\"> \n", run.msg(151).c_str());
    BackButton(run);
    o << "<P>\n</FORM>\n";
    AdminPageEnd(run);
}

int SaveGroupJob(Run& run) {
    if (!AdminIsOperator(run)) return 0;
    const std::string idText = GetField(run.fields, "T02_GROUP_ID", 0, kSaveIdCapacity);
    const std::string name = GetField(run.fields, "T02_GROUP_NAME", 0, kNameCapacity);
    if (idText.empty()) return 2;
    if (name.empty()) return 3;
    const int groupId = ParseInt(idText);
    if (groupId <= 0) return 4;
    // group.mst cannot hold a comma or a line break in a name.
    if (AdminHasLineBreaker(name)) return kGroupNameRefused;
    if (SaveGroup(run.dataDir(), GroupRecord{groupId, name}) != 0) return kGroupNotStored;
    return 0;
}

int DeleteGroupJob(Run& run) {
    if (!AdminIsOperator(run)) return 0;
    const std::string idText = GetField(run.fields, "T02_GROUP_ID", 0, kDeleteIdCapacity);
    const int groupId = ParseInt(idText);
    if (idText.empty() || groupId <= 0) return 0;

    // The group's line, access entries, memberships and its place as primary group go as one.
    return DeleteGroupEverywhere(run.dataDir(), groupId) == 0 ? 0 : kGroupNotStored;
}
