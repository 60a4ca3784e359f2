#include "admin/folders.h"

#include "admin/folder_common.h"
#include "app/session.h"
#include "board/common.h"
#include "cgi/files.h"
#include "cgi/request.h"
#include "store/folders.h"
#include "store/recordfile.h"

namespace {

constexpr size_t kNumberCapacity = 100;

// Page head, body line and, for a caller who is not the operator, the refusal. false when
// the page has ended there.
bool OpenOperatorPage(Run& run, bool titleScript) {
    WritePageHead(run);
    if (titleScript) {
        run.out << "<SCRIPT Language=\"JavaScript\">\n"
                << "<!--\n"
                << "function title_chk(){\n"
                << "if ( document.INPUT.NAME.value==\"\" ) {\n";
        run.out.Printf("window.alert( \"%s\" );\n", run.msg(206).c_str());
        run.out << "return false }\n"
                << "}\n"
                << "// -->\n"
                << "</SCRIPT>\n";
    }
    AdminBodyLine(run);
    if (AdminIsOperator(run)) return true;
    AdminRefusal(run);
    return false;
}

void WriteClassSelect(Run& run) {
    run.out << "<SELECT NAME=\"CLASS\" >\n";
    run.out.Printf("<OPTION VALUE=\"1\">%s\n", run.msg(198).c_str());
    run.out.Printf("<OPTION VALUE=\"2\">%s\n", run.msg(199).c_str());
    run.out << "</SELECT>"
            << "</TD>\n";
}

// A labelled row whose value cell the caller fills and closes.
void OpenFormRow(Run& run, int label) {
    run.out << "<TR>\n";
    WriteLabelCell(run, run.msg(label));
    OpenValueCell(run);
}

void EndFormPage(Run& run) {
    WriteHistoryBack(run);
    run.out << "</FORM>\n"
            << "</BODY>\n"
            << "</HTML>\n";
}

}  // namespace

void ShowFolderAdminList(Run& run) {
    Output& o = run.out;
    WritePageHead(run);
    AdminBodyLine(run);
    if (!AdminIsOperator(run)) {
        AdminRefusal(run);
        return;
    }
    AdminTitle(run, 184);
    o << "<TABLE>\n"
      << "<TR>\n";
    const struct {
        const char* job;
        int label;
    } buttons[] = {{"ADMIN", 4}, {"NEWFOLDER", 185}, {"DELFOLDER", 186}, {"FOLDER_DOWNLOAD", 243}};
    for (const auto& b : buttons) {
        o << "<TD>\n";
        if (std::string_view(b.job) == "FOLDER_DOWNLOAD") {
            // A plain form: the answer is a download, not a page.
            o.Printf("<FORM ACTION=\"%s\" METHOD=POST >\n", ScriptAttr(run).c_str());
            AdminHidden(run, "SKEY", run.login.SKEY);
            AdminHidden(run, "JOB", b.job);
            o.Printf("<INPUT TYPE=\"submit\" name=\"SUB\" VALUE=\"%s\">\n", run.msg(b.label).c_str());
            o << "</FORM>\n";
        } else {
            AdminButtonForm(run, b.job, b.label);
        }
        o << "</TD>\n";
    }
    o << "</TR>\n"
      << "</TABLE>\n"
      << "<TABLE BORDER>\n";
    WriteFolderTable(run, true);
    o << "</TABLE>\n";
    OpenAdminForm(run, "FOLDER_UPLOAD");
    o << "<TABLE BORDER>\n"
      << "<TR>\n";
    WriteHeadingCell(run, run.msg(244));
    o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\"><INPUT TYPE=\"FILE\" NAME=\"FILE1\"></TD>",
             kAdminValueColour);
    o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">", kAdminValueColour);
    o.Printf("<INPUT TYPE=\"submit\" name=\"SUB\" VALUE=\"%s\"></TD>\n", run.msg(245).c_str());
    o << "</TR>\n"
      << "</TABLE>\n"
      << "</FORM>\n"
      << "</BODY>\n"
      << "</HTML>\n";
}

void ShowNewFolderForm(Run& run) {
    Output& o = run.out;
    if (!OpenOperatorPage(run, true)) return;
    AdminTitle(run, 193);
    o << "<P>\n"
      << "<TABLE BORDER>\n";
    WriteFolderTable(run, false);
    o << "</TABLE>\n";
    OpenAdminForm(run, "NEWFOLDERWR", "INPUT");
    o << "<TABLE BORDER>\n";

    OpenFormRow(run, 194);
    o << "<SELECT NAME=\"DISPNO\" >\n";
    o.Printf("<OPTION VALUE=\"0\">%s\n", run.msg(195).c_str());
    WritePositionOptions(run);
    o << "</SELECT>";
    o.Printf(" %s\n", run.msg(196).c_str());
    o << "</TD>\n"
      << "</TR>\n";

    OpenFormRow(run, 197);
    WriteClassSelect(run);
    o << "</TR>\n";

    OpenFormRow(run, 200);
    o << "<SELECT NAME=\"MODE\" >\n";
    for (const auto& [value, label] : {std::pair{2, 201}, {3, 203}, {1, 202}})
        o.Printf("<OPTION VALUE=\"%d\">%s\n", value, run.msg(label).c_str());
    o << "</SELECT>"
      << "</TD>\n"
      << "</TR>\n";

    OpenFormRow(run, 204);
    o << "<INPUT TYPE=\"text\" NAME=\"NAME\" SIZE=\"40\" MAXLENGTH=\"80\"></TD>\n"
      << "</TR>\n";

    o << "</TABLE>\n"
      << "<P>\n";
    o.Printf("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\" onClick=\"return title_chk()\"> \n",
             run.msg(205).c_str());
    EndFormPage(run);
}

int CreateFolderJob(Run& run) {
    if (!AdminIsOperator(run)) return kNewFolderDone;  // the folder list that follows refuses
    const int position = IntField(run, "DISPNO", kNumberCapacity);
    const int place = IntField(run, "CLASS", kNumberCapacity);
    const int kind = IntField(run, "MODE", kNumberCapacity);
    FolderRecord folder;
    folder.name = RequestedFolderName(run);
    if (folder.name.empty()) return kNewFolderNoName;
    if (AdminHasLineBreaker(folder.name)) return kNewFolderBadName;
    if (kind != kFolderDir && kind != kFolderBoard && kind != kFolderChat) return kNewFolderBadKind;
    folder.kind = kind;

    const int rc = CreateFolder(run.dataDir(), folder, position < 1 ? 0 : position,
                                position < 1 ? kPlaceAfter : place);
    if (rc == kTreeNoSuchFolder) return kNewFolderNotADirectory;
    if (rc != 0) return kNewFolderFailed;
    // Directories a deletion cut short may have left under the number: the folder starts empty.
    RemoveDirectoryTree(FolderDirPath(run.dataDir(), folder.folderNo));
    RemoveDirectoryTree(run.settings.ADD_FILE_PATH + std::to_string(folder.folderNo));
    return kNewFolderDone;
}

void ShowDeleteFolderForm(Run& run) {
    Output& o = run.out;
    if (!OpenOperatorPage(run, false)) return;
    AdminTitle(run, 208);
    o << "<P>\n"
      << "<TABLE BORDER>\n";
    WriteFolderTable(run, false);
    o << "</TABLE>\n";
    OpenAdminForm(run, "DELFOLDERWR");
    o << "<TABLE BORDER>\n";
    OpenFormRow(run, 209);
    o << "<SELECT NAME=\"DISPNO\" >\n";
    WritePositionOptions(run);
    o << "</SELECT>"
      << "</TD>\n"
      << "</TR>\n"
      << "</TABLE>\n"
      << "<P>\n";
    o.Printf("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\" onClick=\"return confirm('%s')\"> \n",
             run.msg(186).c_str(), run.msg(210).c_str());
    EndFormPage(run);
}

int DeleteFolderJob(Run& run) {
    if (!AdminIsOperator(run)) return 0;
    const int position = IntField(run, "DISPNO", kNumberCapacity);
    std::vector<int32_t> removed;
    const int rc = DeleteFolderSubtree(run.dataDir(), position, removed);
    if (rc == kTreeNoSuchFolder) return 0;  // nothing there: nothing to delete
    if (rc != 0) return -1;
    // The record files no longer know these folders; their messages and attachments go now.
    for (int32_t n : removed) {
        RemoveDirectoryTree(FolderDirPath(run.dataDir(), n));
        RemoveDirectoryTree(run.settings.ADD_FILE_PATH + std::to_string(n));
    }
    return 0;
}

void ShowMoveFolderForm(Run& run) {
    Output& o = run.out;
    const int source = IntField(run, "DISPNO", kNumberCapacity);
    if (!OpenOperatorPage(run, false)) return;
    const std::vector<FolderRecord>& tree = FolderTree(run);
    const std::string name = source >= 1 && source <= static_cast<int>(tree.size())
                                 ? tree[source - 1].name
                                 : std::string();
    WriteFolderAdminTitle(run, name, run.msg(239));
    o << "<P>\n"
      << "<TABLE BORDER>\n";
    WriteFolderTable(run, false, source);
    o << "</TABLE>\n";
    OpenAdminForm(run, "BORDMOVEWR");
    o.Printf("<INPUT TYPE=\"hidden\" name=\"SRC_DISPNO\" value=\"%d\">\n", source);
    o << "<TABLE BORDER>\n";
    OpenFormRow(run, 240);
    o << "<SELECT NAME=\"DISPNO\" >\n";
    o.Printf("<OPTION VALUE=\"0\">%s\n", run.msg(195).c_str());
    WritePositionOptions(run);
    o << "</SELECT>";
    o.Printf(" %s\n", run.msg(241).c_str());
    o << "</TD>\n"
      << "</TR>\n";
    OpenFormRow(run, 197);
    WriteClassSelect(run);
    o << "</TR>\n"
      << "</TABLE>\n"
      << "<P>\n";
    o.Printf("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\"> &nbsp;&nbsp;\n", run.msg(192).c_str());
    EndFormPage(run);
}

int MoveFolderJob(Run& run) {
    if (!AdminIsOperator(run)) return -1;
    const int source = IntField(run, "SRC_DISPNO", kNumberCapacity);
    const int target = IntField(run, "DISPNO", kNumberCapacity);
    const int place = IntField(run, "CLASS", kNumberCapacity);
    const int rc = MoveFolderSubtree(run.dataDir(), source, target, place);
    if (rc == kTreeNoSuchFolder) return -2;
    if (rc == kTreeIntoOwnSubtree) return -3;
    if (rc != 0) return kMoveNotStored;
    return 0;
}
