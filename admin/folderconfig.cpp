#include "admin/folderconfig.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "admin/folder_common.h"
#include "admin/folders.h"
#include "admin/picture.h"
#include "app/rights.h"
#include "app/session.h"
#include "board/common.h"
#include "cgi/files.h"
#include "cgi/html.h"
#include "cgi/request.h"
#include "cgi/text.h"
#include "store/acl.h"
#include "store/groups.h"
#include "store/journal.h"
#include "store/recordfile.h"

namespace {

constexpr size_t kFolderNoCapacity = 1000;
constexpr size_t kFolderNoSaveCapacity = 10002;
constexpr size_t kFromCapacity = 20;
constexpr size_t kNumberCapacity = 100;
constexpr size_t kPictureCapacity = 252;
constexpr size_t kTextCapacity = 10001;
constexpr size_t kColourCapacity = 8;
constexpr size_t kButtonCapacity = 100;
constexpr size_t kGroupCapacity = 1000;
constexpr size_t kUserCapacity = 22;
constexpr size_t kUploadCapacity = 1000;

const char* const kPictureFields[] = {"FILE1", "FILE2", "FILE3"};

bool MayManage(Run& run, int folderNo) {
    return AdminIsOperator(run) || FolderRights(run, folderNo) >= kRightsManage;
}

// The folder's own background when it has one, else the system's, else no body line.
void WriteFolderBody(Run& run, int folderNo, const FolderSettings& fs) {
    const std::string web = HtmlEscape(run.settings.CG_FILE_WEB_PATH);
    if (!fs.BACKPIC.empty())
        run.out.Printf("\t\t<BODY BACKGROUND=\"%s%d/%s\" BGPROPERTIES=FIXED >\n", web.c_str(),
                       folderNo, PictureSrc(fs.BACKPIC).c_str());
    else if (!run.settings.BACK_GIF.empty())
        AdminBodyLine(run);
}

// The form of both pages: hidden SKEY, FOLDER_NO and JOB in this order.
void OpenFolderForm(Run& run, const char* job, int folderNo, const char* formName = nullptr) {
    if (formName != nullptr)
        run.out.Printf("<FORM NAME=\"%s\" ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n",
                       formName, ScriptAttr(run).c_str());
    else
        AdminFormLine(run);
    AdminHidden(run, "SKEY", run.login.SKEY);
    run.out.Printf("<INPUT TYPE=\"hidden\" name=\"FOLDER_NO\" value=\"%d\">\n", folderNo);
    AdminHidden(run, "JOB", job);
}

// Opened from the folder list (no FROM) the pages lead back to it; the list is the operator's
// alone, so a folder manager (whose saves come back without FROM) is not sent to a refusal.
bool OfferFolderList(Run& run) {
    return GetField(run.fields, "FROM", 0, kFromCapacity).empty() && AdminIsOperator(run);
}

// The end of both pages: opened from the folder list (no FROM) a way back to it.
void EndFolderPage(Run& run, bool fromList, int label) {
    Output& o = run.out;
    if (fromList) {
        o << "</FORM>\n";
        OpenAdminForm(run, "FOLDERLIST");
        o.Printf("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\">\n", run.msg(label).c_str());
    }
    o << "</FORM>\n";
}

void WriteTwoOptionSelect(Run& run, const char* name, int current, int label1, int label2) {
    Output& o = run.out;
    o.Printf("<SELECT NAME=\"%s\" >\n", name);
    if (current <= 0) current = 1;
    const auto option = [&](int value, int label) {
        o.Printf("<OPTION VALUE=\"%d\">%s\n", value, run.msg(label).c_str());
    };
    if (current == 1) {
        option(1, label1);
        option(2, label2);
    } else if (current == 2) {
        option(2, label2);
        option(1, label1);
    }
    o << "</SELECT>\n"
      << "</TD>\n";
}

void WritePictureRow(Run& run, int label, const char* field, const std::string& value,
                     const char* fileField) {
    run.out << "<TR>\n";
    WriteLabelCell(run, run.msg(label));
    OpenValueCell(run);
    run.out.Printf("<INPUT TYPE=\"text\" NAME=\"%s\" VALUE=\"%s\" SIZE=\"40\" MAXLENGTH=\"80\"><BR>\n",
                   field, HtmlEscape(value).c_str());
    run.out.Printf("%s<INPUT TYPE=\"FILE\" NAME=\"%s\">\n", run.msg(222).c_str(), fileField);
    run.out << "</TD>\n"
            << "</TR>\n";
}

// A stored text as typed: cut to what the record holds, line feeds dropped.
std::string StoredText(Run& run, const char* name) {
    std::string text = CutToSlot(GetField(run.fields, name, 0, kTextCapacity), kFolderTextLimit + 1);
    DropLineFeeds(text);
    return text;
}

// The client's file name and the temporary file of an upload field; false when it holds none.
bool UploadOf(Run& run, const char* field, std::string& client, std::string& tempPath) {
    std::string value = GetUploadField(run.fields, field, 0, kUploadCapacity);
    if (value.empty()) return false;
    std::string temp;
    SplitUploadValue(value, client, temp);
    if (temp.empty()) return false;
    CutToLastSeparator(client, '\\');
    CutToLastSeparator(client, '/');
    tempPath = run.workDir.empty() ? temp : run.workDir + "/" + temp;
    return true;
}

void DiscardPictureUploads(Run& run) {
    for (const char* field : kPictureFields) {
        std::string client, tempPath;
        if (UploadOf(run, field, client, tempPath)) unlink(tempPath.c_str());
    }
}

std::string LevelLabel(Run& run, int level) {
    return level >= 1 && level <= 3 ? run.msg(230 + level) : std::string();
}

}  // namespace

void ShowFolderConfig(Run& run) {
    Output& o = run.out;
    const int f = IntField(run, "FOLDER_NO", kFolderNoCapacity);
    const bool fromList = OfferFolderList(run);
    WritePageHead(run);
    o << "<SCRIPT Language=\"JavaScript\">\n"
      << "<!--\n"
      << "function title_chk(){\n"
      << "if ( document.INPUT.NAME.value==\"\" ) {\n";
    o.Printf("window.alert( \"%s\" );\n", run.msg(206).c_str());
    o << "return false }\n"
      << "}\n"
      << "// -->\n"
      << "</SCRIPT>\n";
    // A folder that is not in the tree shows an empty name and empty settings.
    bool listed = false;
    for (const FolderRecord& folder : FolderTree(run)) listed = listed || folder.folderNo == f;
    const std::string name = FolderName(run, f);
    const FolderSettings fs = listed ? FolderSettingsOrEmpty(run, f) : FolderSettings{};
    WriteFolderBody(run, f, fs);
    if (!MayManage(run, f)) {
        AdminRefusal(run);
        return;
    }
    WriteFolderAdminTitle(run, name, run.msg(190));
    AdminWriteNote(run);
    OpenFolderForm(run, "BORDCONFIGWR", f, "INPUT");
    o << "<TABLE BORDER>\n";

    const auto row = [&](int label) {
        o << "<TR>\n";
        WriteLabelCell(run, run.msg(label));
        OpenValueCell(run);
    };
    o << "<TR>\n";
    WriteLabelCell(run, run.msg(211));
    o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">%d</TD>\n", kAdminValueColour, f);
    o << "</TR>\n";
    row(212);
    o.Printf("<INPUT TYPE=\"text\" NAME=\"NAME\" VALUE=\"%s\" SIZE=\"40\" MAXLENGTH=\"80\"></TD>\n",
             HtmlEscape(name).c_str());
    o << "</TR>\n";
    row(213);
    o.Printf("<INPUT TYPE=\"text\" NAME=\"ADD_MAX\" VALUE=\"%d\" SIZE=\"10\" MAXLENGTH=\"10\"></TD>\n",
             fs.ADD_MAX);
    o << "</TR>\n";
    row(214);
    o.Printf("<TEXTAREA NAME=\"INFO\" COLS=\"40\" ROWS=\"5\" MAXLENGTH=\"250\">%s</TEXTAREA></TD>\n",
             HtmlEscape(fs.INFO).c_str());
    o << "</TR>\n";
    row(215);
    o.Printf("<TEXTAREA NAME=\"DEFO\" COLS=\"40\" ROWS=\"5\" MAXLENGTH=\"250\">%s</TEXTAREA></TD>\n",
             HtmlEscape(fs.DEFO).c_str());
    o << "</TR>\n";
    row(216);
    WriteTwoOptionSelect(run, "READ_CHK", fs.READ_CHK, 217, 218);
    o << "</TR>\n";
    row(305);
    WriteTwoOptionSelect(run, "REWRITE_FLG", fs.REWRITE_FLG, 307, 306);
    o << "</TR>\n";
    WritePictureRow(run, 219, "TITLEPIC", fs.TITLEPIC, "FILE1");
    WritePictureRow(run, 220, "BACKPIC", fs.BACKPIC, "FILE2");
    WritePictureRow(run, 221, "DIRPIC", fs.DIRPIC, "FILE3");
    row(308);
    o.Printf("<INPUT TYPE=\"text\" NAME=\"FONTCOLOR\" VALUE=\"%s\" SIZE=\"10\" MAXLENGTH=\"6\"> %s</TD>\n",
             HtmlEscape(fs.FONTCOLOR).c_str(), run.msg(310).c_str());
    o << "</TR>\n";
    row(309);
    o.Printf("<INPUT TYPE=\"text\" NAME=\"RESFONTCOLOR\" VALUE=\"%s\" SIZE=\"10\" MAXLENGTH=\"6\"> %s</TD>\n",
             HtmlEscape(fs.RESFONTCOLOR).c_str(), run.msg(310).c_str());
    o << "</TR>\n";

    o << "</TABLE>\n"
      << "<P>\n"
      << "<TABLE>\n"
      << "<TR>\n"
      << "<TD>\n";
    o.Printf("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\" onClick=\"return title_chk()\">\n",
             run.msg(223).c_str());
    o << "</TD>\n";
    if (fromList) {
        o << "<TD>\n";
        EndFolderPage(run, true, 4);
        o << "</TD>\n";
    }
    o << "</TR>\n"
      << "</TABLE>\n";
    if (!fromList) o << "</FORM>\n";
    o << "</BODY>\n"
      << "</HTML>\n";
}

int SaveFolderConfig(Run& run) {
    const int f = IntField(run, "FOLDER_NO", kFolderNoSaveCapacity);
    FolderSettings in;
    const std::string name = RequestedFolderName(run);
    in.ADD_MAX = IntField(run, "ADD_MAX", kNumberCapacity);
    in.READ_CHK = IntField(run, "READ_CHK", kNumberCapacity);
    in.REWRITE_FLG = IntField(run, "REWRITE_FLG", kNumberCapacity);
    in.TITLEPIC = GetField(run.fields, "TITLEPIC", 0, kPictureCapacity);
    in.BACKPIC = GetField(run.fields, "BACKPIC", 0, kPictureCapacity);
    in.DIRPIC = GetField(run.fields, "DIRPIC", 0, kPictureCapacity);
    in.INFO = StoredText(run, "INFO");
    in.DEFO = StoredText(run, "DEFO");
    in.FONTCOLOR = GetField(run.fields, "FONTCOLOR", 0, kColourCapacity);
    in.RESFONTCOLOR = GetField(run.fields, "RESFONTCOLOR", 0, kColourCapacity);

    int refusal = kConfigSaved;
    if (!MayManage(run, f)) refusal = kConfigNoRights;
    else if (name.empty()) refusal = kConfigNoName;
    else if (AdminHasLineBreaker(name)) refusal = kConfigBadName;
    if (refusal != kConfigSaved) {
        DiscardPictureUploads(run);  // a refused save stores nothing, pictures included
        return refusal;
    }

    // An upload whose name is no picture name is not placed; the rest is saved and the page
    // that follows says so.
    const std::string dir = FolderPictureDir(run, f);
    std::string* pictures[] = {&in.TITLEPIC, &in.BACKPIC, &in.DIRPIC};
    for (int i = 0; i < 3; ++i) {
        std::string client, tempPath;
        if (!UploadOf(run, kPictureFields[i], client, tempPath)) continue;
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
            unlink(tempPath.c_str());
            continue;
        }
        if (TakePicture(run, kPictureFields[i], dir, *pictures[i]) == PictureUpload::Refused)
            AdminNotePictureRefused(run);
    }

    DataLock lock(run.dataDir());
    FolderRecord folder;
    const bool listed = FindFolder(run.dataDir(), f, kFolderByNumber, folder) == 0;
    folder.name = name;
    // The read and write levels belong to the access page and stay as stored.
    FolderSettings stored;
    FindFolderSettings(run.dataDir(), f, stored);
    in.folderNo = f;
    in.readLevel = stored.readLevel;
    in.writeLevel = stored.writeLevel;
    // The name line and the settings record change together.
    return SaveFolderLineAndSettings(run.dataDir(), listed ? &folder : nullptr, in) == 0
               ? kConfigSaved
               : kConfigFailed;
}

void ShowFolderAccess(Run& run) {
    Output& o = run.out;
    const int f = IntField(run, "FOLDER_NO", kFolderNoCapacity);
    const bool fromList = OfferFolderList(run);
    WritePageHead(run);
    const FolderSettings fs = FolderSettingsOrEmpty(run, f);
    WriteFolderBody(run, f, fs);
    if (!MayManage(run, f)) {
        AdminRefusal(run);
        return;
    }
    const std::string name = FolderName(run, f);
    WriteFolderAdminTitle(run, name, run.msg(191));
    OpenFolderForm(run, "BORDACCESSWR", f);
    o << "<TABLE BORDER>\n";

    const auto emptyCell = [&] {
        o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\"></TD>\n", kAdminValueColour);
    };
    const auto centredCell = [&] {
        o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">\n", kAdminValueColour);
    };
    o << "<TR>\n";
    WriteLabelCell(run, run.msg(225));
    o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">%d</TD>\n", kAdminValueColour, f);
    emptyCell();
    o << "</TR>\n"
      << "<TR>\n";
    WriteLabelCell(run, run.msg(226));
    o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">%s</TD>\n", kAdminValueColour,
             HtmlEscape(name).c_str());
    emptyCell();
    o << "</TR>\n"
      << "<TR>\n";
    WriteLabelCell(run, run.msg(227));
    OpenValueCell(run);
    o.Printf("<INPUT TYPE=\"text\" NAME=\"READ_LEVEL\" VALUE=\"%d\" SIZE=\"10\" MAXLENGTH=\"3\"></TD>\n",
             fs.readLevel);
    o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\" ROWSPAN=2 >", kAdminValueColour);
    o.Printf("<INPUT TYPE=\"submit\" NAME=\"SUB1\" VALUE=\"%s\">", run.msg(229).c_str());
    o << "</TD>\n"
      << "</TR>\n"
      << "<TR>\n";
    WriteLabelCell(run, run.msg(228));
    OpenValueCell(run);
    o.Printf("<INPUT TYPE=\"text\" NAME=\"WRITE_LEVEL\" VALUE=\"%d\" SIZE=\"10\" MAXLENGTH=\"3\"></TD>\n",
             fs.writeLevel);
    o << "</TR>\n";

    // Groups: the folder's entries, and every group to add.
    const std::vector<GroupRecord> groups = ReadAllGroups(run.dataDir());
    const auto groupName = [&](int id) {
        for (const GroupRecord& g : groups)
            if (g.groupId == id) return g.groupName;
        return std::string();
    };
    o << "<TR>\n";
    WriteLabelCell(run, run.msg(230));
    centredCell();
    o << "<SELECT NAME=\"NOWGROUP\" SIZE=5 MULTIPLE>\n";
    for (const GroupAclEntry& e : GroupAclsOf(run, f))
        o.Printf("<OPTION VALUE=\"%d\">%s[%s]\n", e.groupId, HtmlEscape(groupName(e.groupId)).c_str(),
                 LevelLabel(run, e.level).c_str());
    o << "</SELECT><BR>\n";
    o.Printf("<INPUT TYPE=\"submit\" NAME=\"GROUP_DEL\" VALUE=\"%s\">\n", run.msg(234).c_str());
    o << "\t</TD>\n";
    centredCell();
    o << "<SELECT NAME=\"GROUPLIST\" SIZE=5 MULTIPLE>\n";
    for (const GroupRecord& g : groups)
        o.Printf("<OPTION VALUE=\"%d\">%s\n", g.groupId, HtmlEscape(g.groupName).c_str());
    o << "</SELECT><BR>\n";
    o.Printf("%s ", run.msg(235).c_str());
    o << "<SELECT NAME=\"GROUPMODE\">\n";
    for (int level = 1; level <= 2; ++level)
        o.Printf("<OPTION VALUE=\"%d\">%s\n", level, LevelLabel(run, level).c_str());
    o << "</SELECT><BR>\n";
    o.Printf("<INPUT TYPE=\"submit\" NAME=\"GROUP_ADD\" VALUE=\"%s\">\n", run.msg(236).c_str());
    o << "\t</TD>\n"
      << "</TR>\n";

    // Users: the folder's entries, and every user to add.
    o << "<TR>\n";
    WriteLabelCell(run, run.msg(237));
    centredCell();
    o << "<SELECT NAME=\"NOWUSER\" SIZE=5 MULTIPLE>\n";
    for (const UserAclEntry& e : UserAclsOf(run, f)) {
        const UserRecord* u = FindListedUser(run, e.USER_ID);
        o.Printf("<OPTION VALUE=\"%s\">%s[%s]\n", HtmlEscape(e.USER_ID).c_str(),
                 u != nullptr ? HtmlEscape(u->USER_NAME).c_str() : "",
                 LevelLabel(run, e.level).c_str());
    }
    o << "</SELECT><BR>\n";
    o.Printf("<INPUT TYPE=\"submit\" NAME=\"USER_DEL\" VALUE=\"%s\">\n", run.msg(234).c_str());
    o << "\t</TD>\n";
    centredCell();
    o << "<SELECT NAME=\"USERLIST\" SIZE=5 MULTIPLE>\n";
    for (const UserRecord& u : ListedUsers(run)) {
        o.Printf("<OPTION VALUE=\"%s\">%s", HtmlEscape(u.USER_ID).c_str(),
                 HtmlEscape(u.USER_NAME).c_str());
        if (u.P_GROUP >= 1) o.Printf("[%s]\n", HtmlEscape(groupName(u.P_GROUP)).c_str());
    }
    o << "</SELECT><BR>\n";
    o.Printf("%s ", run.msg(235).c_str());
    o << "<SELECT NAME=\"USERMODE\">\n";
    for (int level = 1; level <= 3; ++level)
        o.Printf("<OPTION VALUE=\"%d\">%s\n", level, LevelLabel(run, level).c_str());
    o << "</SELECT><BR>\n";
    o.Printf("<INPUT TYPE=\"submit\" NAME=\"USER_ADD\" VALUE=\"%s\">\n", run.msg(236).c_str());
    o << "\t</TD>\n"
      << "</TR>\n";

    o << "</TABLE>\n"
      << "<P>\n";
    EndFolderPage(run, fromList, 238);
    o << "</BODY>\n"
      << "</HTML>\n";
}

int SaveFolderAccess(Run& run) {
    const int f = IntField(run, "FOLDER_NO", kFolderNoCapacity);
    if (!MayManage(run, f)) return -1;
    // Folder 0 names no folder (and would stand for every folder in a group deletion).
    if (f < 1) return 0;
    const std::string& dataDir = run.dataDir();
    const auto pressed = [&](const char* button) {
        return !GetField(run.fields, button, 0, kButtonCapacity).empty();
    };
    // The k-th value of a repeated field; false past the last one.
    const auto value = [&](const char* name, int k, size_t capacity, std::string& out) {
        if (FindFormField(run.fields, name, k) == nullptr) return false;
        out = GetField(run.fields, name, k, capacity);
        return true;
    };

    std::string v;
    if (pressed("SUB1")) {
        DataLock lock(dataDir);
        FolderSettings fs;
        FindFolderSettings(dataDir, f, fs);
        fs.folderNo = f;
        if (fs.READ_CHK < 1) fs.READ_CHK = 1;
        fs.readLevel = IntField(run, "READ_LEVEL", kNumberCapacity);
        fs.writeLevel = IntField(run, "WRITE_LEVEL", kNumberCapacity);
        return SaveFolderSettings(dataDir, fs) == 0 ? 0 : kAccessNotStored;
    }
    // The entries of one list are changed in memory and written at once: all of them or none.
    const bool groups = pressed("GROUP_DEL") || pressed("GROUP_ADD");
    if (!groups && !pressed("USER_DEL") && !pressed("USER_ADD")) return 0;
    DataLock lock(dataDir);
    FileChangeSet change(dataDir);
    std::string* acl = change.Edit(groups ? kGroupAclFileName : kUserAclFileName);
    if (!lock.held() || acl == nullptr) return kAccessNotStored;
    if (pressed("GROUP_DEL")) {
        for (int k = 0; value("NOWGROUP", k, kGroupCapacity, v) && ParseInt(v) >= 1; ++k)
            DropGroupAclIn(*acl, f, ParseInt(v));
    } else if (pressed("GROUP_ADD")) {
        const int level = IntField(run, "GROUPMODE", kNumberCapacity);
        for (int k = 0; value("GROUPLIST", k, kGroupCapacity, v) && ParseInt(v) >= 1; ++k)
            PutGroupAclIn(*acl, GroupAclEntry{f, ParseInt(v), level});
    } else if (pressed("USER_DEL")) {
        for (int k = 0; value("NOWUSER", k, kUserCapacity, v); ++k)
            if (!v.empty()) DropUserAclIn(*acl, f, v);
    } else {
        const int level = IntField(run, "USERMODE", kNumberCapacity);
        for (int k = 0; value("USERLIST", k, kUserCapacity, v); ++k)
            if (!v.empty()) PutUserAclIn(*acl, UserAclEntry{f, v, level});
    }
    return change.Commit() == 0 ? 0 : kAccessNotStored;
}
