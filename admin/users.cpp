#include "admin/users.h"

#include <sys/stat.h>

#include <map>
#include <vector>

#include "admin/common.h"
#include "app/session.h"
#include "admin/picture.h"
#include "board/common.h"
#include "cgi/dbcs.h"
#include "cgi/files.h"
#include "cgi/html.h"
#include "cgi/request.h"
#include "cgi/text.h"
#include "store/acl.h"
#include "store/groups.h"
#include "store/journal.h"
#include "store/recordfile.h"
#include "store/sessions.h"
#include "store/userchange.h"
#include "store/users.h"

namespace {

// Capacities with which the request fields are read.
constexpr size_t kKeyCapacity = 20;
constexpr size_t kJobCapacity = 20;
constexpr size_t kNumberCapacity = 20;
constexpr size_t kButtonCapacity = 10;
constexpr size_t kIdCapacity = 22;
constexpr size_t kNameCapacity = 82;
constexpr size_t kMailCapacity = 252;
constexpr size_t kPassCapacity = 22;
constexpr size_t kLanguageCapacity = 256;
constexpr size_t kPictureCapacity = 256;
constexpr size_t kUploadCapacity = 1000;
// The language files are listed into a buffer of this size.
constexpr size_t kLanguageListCapacity = 10000;

// ---- Page pieces ---------------------------------------------------------------------------

void LabelCell(Run& run, int msgNo) {
    run.out.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">%s</TD>\n", kAdminLabelColour,
                   run.msg(msgNo).c_str());
}

void ValueCellStart(Run& run) {
    run.out.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">", kAdminValueColour);
}

void Option(Run& run, int value, const std::string& label) {
    run.out.Printf("<OPTION VALUE=\"%d\">%s\n", value, label.c_str());
}

// The script block that checks the form before it is sent (the id only on the edit page).
void WriteCheckScript(Run& run, bool checkId) {
    Output& o = run.out;
    o << "<SCRIPT Language=\"JavaScript\">\n"
      << "<!--\n"
      << "function title_chk(){\n";
    if (checkId) {
        o << "if ( document.INPUT.USER_ID.value==\"\" ) {\n";
        o.Printf("window.alert( \"%s\" );\n", run.msg(181).c_str());
        o << "return false }\n";
    }
    o << "if ( document.INPUT.USER_NAME.value==\"\" ) {\n";
    o.Printf("window.alert( \"%s\" );\n", run.msg(182).c_str());
    o << "return false }\n"
      << "}\n"
      << "// -->\n"
      << "</SCRIPT>\n";
}

// A row of the user form: the label and one input field holding the value (escaped).
void InputRow(Run& run, int label, const char* type, const char* name, int size, int maxLength,
              const std::string& value) {
    run.out << "<TR>\n";
    LabelCell(run, label);
    ValueCellStart(run);
    run.out.Printf("<INPUT TYPE=\"%s\" NAME=\"%s\" SIZE=\"%d\" MAXLENGTH=\"%d\" VALUE=\"%s\"></TD>\n",
                   type, name, size, maxLength, HtmlEscape(value).c_str());
    run.out << "</TR>\n";
}

void PasswordRow(Run& run, const UserRecord& u) {
    InputRow(run, 131, "password", "USER_PASS", 20, 20, u.USER_PASS);
}
void NameRow(Run& run, const UserRecord& u) {
    InputRow(run, 137, "text", "USER_NAME", 40, 80, u.USER_NAME);
}
void MailRow(Run& run, const UserRecord& u) {
    InputRow(run, 169, "text", "E_MAIL_ADDR", 40, 250, u.E_MAIL_ADDR);
}

// The display mode: the current one first (0 shows as 1), then all three.
void DisplayModeRow(Run& run, const UserRecord& u) {
    static constexpr int kLabels[] = {175, 176, 177};
    run.out << "<TR>\n";
    LabelCell(run, 174);
    ValueCellStart(run);
    run.out << "<SELECT NAME=\"USER_DISP_DEF\" >\n";
    const int current = u.USER_DISP_DEF == 0 ? 1 : u.USER_DISP_DEF;
    if (current >= 1 && current <= 3) Option(run, current, run.msg(kLabels[current - 1]));
    for (int v = 1; v <= 3; ++v) Option(run, v, run.msg(kLabels[v - 1]));
    run.out << "</SELECT>\n</TD>\n</TR>\n";
}

// A select of the values 1 and 2 with the current one first (0 shows as 1); any other stored
// value gives no option.
void OneTwoRow(Run& run, int label, const char* name, int value, int label1, int label2) {
    run.out << "<TR>\n";
    LabelCell(run, label);
    ValueCellStart(run);
    run.out.Printf("<SELECT NAME=\"%s\" >\n", name);
    if (value == 0 || value == 1) {
        Option(run, 1, run.msg(label1));
        Option(run, 2, run.msg(label2));
    } else if (value == 2) {
        Option(run, 2, run.msg(label2));
        Option(run, 1, run.msg(label1));
    }
    run.out << "</SELECT>\n</TD>\n</TR>\n";
}

// The language: the stored one first, then every language file of the working directory. A
// user without a language of his own is shown the system language first, as an empty choice,
// so that saving the form keeps him on the system language.
void LanguageRow(Run& run, const UserRecord& u) {
    Output& o = run.out;
    o << "<TR>\n";
    LabelCell(run, 115);
    ValueCellStart(run);
    o << "<SELECT NAME=\"LANGUAGE\" >\n";
    if (IsUserLanguageName(u.LANGUAGE)) {
        const std::string name = HtmlEscape(u.LANGUAGE);
        o.Printf("<OPTION VALUE=\"%s\">%s\n", name.c_str(), name.c_str());
    } else {
        o.Printf("<OPTION VALUE=\"\">%s\n", HtmlEscape(run.settings.LANGUAGE).c_str());
    }
    std::string list = "*.lng";
    ListFiles(list, kLanguageListCapacity);
    for (std::string_view rest = list; !rest.empty();) {
        const size_t comma = rest.find(',');
        const std::string file(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        if (!IsUserLanguageName(file)) continue;
        const std::string name = HtmlEscape(file);
        o.Printf("<OPTION VALUE=\"%s\">%s\n", name.c_str(), name.c_str());
    }
    o << "</SELECT>\n</TD>\n</TR>\n";
}

void PictureRow(Run& run, const UserRecord& u) {
    run.out << "<TR>\n";
    LabelCell(run, 224);
    ValueCellStart(run);
    run.out.Printf(
        "<INPUT TYPE=\"text\" NAME=\"PICFILE\" VALUE=\"%s\" SIZE=\"40\" MAXLENGTH=\"250\"><BR>\n",
        HtmlEscape(u.PICFILE).c_str());
    run.out.Printf("%s<INPUT TYPE=\"FILE\" NAME=\"FILE1\">\n", run.msg(7).c_str());
    run.out << "</TD>\n</TR>\n";
}

std::map<int, std::string> GroupNames(const std::vector<GroupRecord>& groups) {
    std::map<int, std::string> names;
    for (const GroupRecord& g : groups) names.emplace(g.groupId, g.groupName);  // first wins
    return names;
}

std::string NameOf(const std::map<int, std::string>& names, int groupId) {
    auto it = names.find(groupId);
    return it == names.end() ? std::string() : it->second;
}

// ---- The user list -------------------------------------------------------------------------

struct ListOrder {
    const char* sjob;
    int label;
    int builds;  // how many of the list builders run first (by id, by level, by group)
    const char* file;
};

constexpr ListOrder kOrders[] = {
    {"NON_ORDER", 163, 0, "user.mst"},
    {"ORDER_ID", 133, 1, "user2.mst"},
    {"ORDER_LEVEL", 134, 2, "user3.mst"},
    {"ORDER_PGROUP", 164, 3, "user4.mst"},
};

void ListButton(Run& run, const char* job, const char* sjob, int label) {
    run.out << "<TD>\n";
    AdminFormLine(run);
    AdminHidden(run, "SKEY", run.login.SKEY);
    AdminHidden(run, "JOB", job);
    if (sjob != nullptr) AdminHidden(run, "SJOB", sjob);
    run.out.Printf("<INPUT TYPE=\"submit\" name=\"SUB\" VALUE=\"%s\">\n", run.msg(label).c_str());
    run.out << "</FORM>\n</TD>\n";
}

void WriteUserRows(Run& run, const std::string& file) {
    Output& o = run.out;
    std::string bytes;
    ReadWholeFile(DataFilePath(run.dataDir(), file), bytes);
    const std::map<int, std::string> groups = GroupNames(ReadAllGroups(run.dataDir()));
    const std::string script = ScriptAttr(run), key = KeyAttr(run);
    for (std::string_view line : SplitTextLines(bytes)) {
        const std::vector<std::string_view> f = CutFields(line);
        if (f.size() < 8) continue;
        const std::string id = CutToSlot(f[0], kUserIdSize);
        o << "<TR>\n";
        o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">", kAdminValueColour);
        o.Printf("<A HREF=\"%s?SKEY=%s&JOB=USERMENT&USER_ID=%s\">", script.c_str(), key.c_str(),
                 HtmlEscape(UrlEncodeValue(id)).c_str());
        o.Printf("%s</A></TD>\n", HtmlEscape(id).c_str());
        o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">%s</TD>\n", kAdminValueColour,
                 HtmlEscape(CutToSlot(f[1], kUserNameSize)).c_str());
        o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">%d</TD>\n", kAdminValueColour,
                 ParseInt(f[2]));
        o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">%s<BR></TD>\n", kAdminValueColour,
                 HtmlEscape(NameOf(groups, ParseInt(f[5]))).c_str());
        if (ParseInt(f[7]) == 2)
            o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">%s<BR></TD>\n", kAdminValueColour,
                     run.msg(168).c_str());
        else
            o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\"><BR></TD>\n", kAdminValueColour);
        o << "</TR>\n";
    }
}

// ---- Saving --------------------------------------------------------------------------------

struct UserForm {
    std::string job, id, name, mail, pass, language, picture;
    int level = 0, group = 0, display = 0, mode = 0, writeMode = 0, noRead = 0;
    bool save = false, cancel = false, remove = false, groupIn = false, groupOut = false;
};

UserForm ReadUserForm(Run& run) {
    const FieldList& f = run.fields;
    auto number = [&](const char* name) { return ParseInt(GetField(f, name, 0, kNumberCapacity)); };
    auto pressed = [&](const char* name) { return !GetField(f, name, 0, kButtonCapacity).empty(); };
    UserForm u;
    u.job = GetField(f, "JOB", 0, kJobCapacity);
    u.id = GetField(f, "USER_ID", 0, kIdCapacity);
    u.name = GetField(f, "USER_NAME", 0, kNameCapacity);
    std::string level = GetField(f, "USER_LEVEL", 0, kNumberCapacity);
    TrimTrailingSpaces(level);
    u.level = ParseInt(level);
    u.mail = GetField(f, "E_MAIL_ADDR", 0, kMailCapacity);
    u.pass = GetField(f, "USER_PASS", 0, kPassCapacity);
    u.group = number("P_GROUP");
    u.display = number("USER_DISP_DEF");
    u.mode = number("MODE");
    u.writeMode = number("WRITE_MODE");
    u.language = GetField(f, "LANGUAGE", 0, kLanguageCapacity);
    u.picture = GetField(f, "PICFILE", 0, kPictureCapacity);
    u.noRead = number("NO_READ_MODE");
    u.save = pressed("SUB1");
    u.cancel = pressed("SUB2");
    u.remove = pressed("SUB3");
    u.groupIn = pressed("GROUP_IN");
    u.groupOut = pressed("GROUP_OUT");
    return u;
}

bool Holds(const std::string& text, const char* what) { return FindText(text, what) >= 0; }

// The first failed check of the form, or 0.
int CheckUserForm(const UserForm& u) {
    if (u.id.empty()) return -2;
    if (u.name.empty()) return -3;
    if (!IsUsableUserId(u.id)) return -5;
    if (Holds(u.name, ",")) return -6;
    if (Holds(u.pass, ",") || Holds(u.pass, " ")) return -7;
    if (Holds(u.mail, ",") || Holds(u.mail, " ")) return -8;
    return 0;
}

// The id as stored when the user exists, else as given.
std::string StoredIdOf(const std::string& dataDir, const std::string& id) {
    std::string lookup = id;
    UserRecord found;
    return FindUser(dataDir, lookup, found) == 0 ? lookup : id;
}

void MakeDirectory(const std::string& path) { mkdir(path.c_str(), 0755); }

// Whether the upload field holds a file whose client name may name a picture.
bool HoldsPictureUpload(Run& run, const char* field) {
    std::string value = GetUploadField(run.fields, field, 0, kUploadCapacity);
    if (value.empty()) return false;
    std::string client, temp;
    SplitUploadValue(value, client, temp);
    return !temp.empty() && IsPictureName(client);
}

// The SUB1 save of the form: the stored record is the base, so fields the job does not set
// keep their values. Runs under the data lock.
int StoreUser(Run& run, const UserForm& form, bool ownProfile) {
    const std::string& dataDir = run.dataDir();
    std::string lookup = form.id;
    UserRecord rec;
    const bool found = FindUser(dataDir, lookup, rec) == 0;
    // An existing user keeps the id as stored, so that the rewrite finds his line.
    rec.USER_ID = found ? rec.USER_ID : form.id;
    const std::string storedPicture = rec.PICFILE;
    rec.USER_NAME = form.name;
    rec.E_MAIL_ADDR = form.mail;
    rec.USER_PASS = form.pass;
    rec.USER_DISP_DEF = form.display;
    rec.LANGUAGE = IsUserLanguageName(form.language) ? form.language : std::string();
    rec.PICFILE = form.picture;
    rec.WRITE_MODE = form.writeMode;
    if (ownProfile) {
        // Only the own profile page has the unread switch.
        rec.NO_READ_MODE = form.noRead;
    } else {
        rec.USER_LEVEL = form.level;
        rec.P_GROUP = form.group;
        rec.MODE = form.mode;
    }

    // The picture goes into the user's own directory under its file name.
    const std::string picRoot = run.settings.CG_FILE_PATH + "userpic";
    if (HoldsPictureUpload(run, "FILE1")) {
        MakeDirectory(picRoot);
        MakeDirectory(picRoot + "/" + rec.USER_ID);
    }
    std::string picture = storedPicture;
    switch (TakePicture(run, "FILE1", picRoot + "/" + rec.USER_ID + "/", picture)) {
        case PictureUpload::None: break;
        case PictureUpload::Stored: rec.PICFILE = picture; break;
        case PictureUpload::Refused:
            rec.PICFILE = storedPicture;
            AdminNotePictureRefused(run);
            break;
        case PictureUpload::Failed: rec.PICFILE = storedPicture; break;
    }

    const int stored = found ? RewriteUser(dataDir, rec) : AppendUser(dataDir, rec);
    if (stored != 0) return kUserNotStored;

    if (ownProfile) {
        run.login.user = rec;
        // The page that follows speaks the user's (new) language.
        LoadMessages(run.msg, rec.LANGUAGE.empty() ? run.settings.LANGUAGE : rec.LANGUAGE);
    }
    return 1;
}

// Group numbers of the repeated field name, in order, up to the first empty value.
std::vector<int> GroupValues(Run& run, const char* name) {
    std::vector<int> values;
    for (int k = 0;; ++k) {
        const std::string v = GetField(run.fields, name, k, kButtonCapacity);
        if (v.empty()) break;
        if (ParseInt(v) > 0) values.push_back(ParseInt(v));
    }
    return values;
}

}  // namespace

void ShowUserList(Run& run) {
    Output& o = run.out;
    AdminPageStart(run);
    if (!AdminIsOperator(run)) {
        AdminRefusal(run);
        return;
    }
    AdminTitle(run, 109);
    o << "<TABLE>\n<TR>\n";
    ListButton(run, "USERMENT", nullptr, 132);
    for (const ListOrder& order : kOrders) ListButton(run, "USERLIST", order.sjob, order.label);
    o << "</TR>\n<TR>\n<TD COLSPAN=5 >";
    AdminButtonForm(run, "ADMIN", 4);
    o << "</TD>\n</TR>\n</TABLE>\n";

    const std::string sjob = GetField(run.fields, "SJOB", 0, kKeyCapacity);
    if (!sjob.empty()) {
        const ListOrder* chosen = nullptr;
        for (const ListOrder& order : kOrders)
            if (sjob == order.sjob) chosen = &order;
        if (chosen != nullptr) o.Printf("<B>%s</B><BR>\n", run.msg(chosen->label).c_str());
        if (chosen != nullptr && chosen->builds >= 1) BuildUserListById(run.dataDir());
        if (chosen != nullptr && chosen->builds >= 2) BuildUserListByLevel(run.dataDir());
        if (chosen != nullptr && chosen->builds >= 3) BuildUserListByGroup(run.dataDir());
        o << "<TABLE BORDER>\n<TR>\n";
        for (int label : {136, 137, 138, 162, 139})
            o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">%s</TD>\n", kAdminLabelColour,
                     run.msg(label).c_str());
        o << "</TR>\n";
        if (chosen != nullptr) WriteUserRows(run, chosen->file);
        o << "</TABLE>\n";
    }
    AdminPageEnd(run);
}

void ShowUserEditPage(Run& run) {
    Output& o = run.out;
    std::string u = GetField(run.fields, "USER_ID", 0, kIdCapacity);
    TrimTrailingSpaces(u);
    WritePageHead(run);
    WriteCheckScript(run, true);
    AdminBodyLine(run);
    AdminTitle(run, u.empty() ? 165 : 166);
    if (!AdminIsOperator(run)) {
        AdminRefusal(run);
        return;
    }
    AdminWriteNote(run);
    UserRecord rec;
    if (!u.empty()) FindUser(run.dataDir(), u, rec);
    const std::vector<GroupRecord> groups = ReadAllGroups(run.dataDir());
    const std::map<int, std::string> names = GroupNames(groups);

    o.Printf("<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n",
             ScriptAttr(run).c_str());
    AdminHidden(run, "SKEY", run.login.SKEY);
    AdminHidden(run, "JOB", u.empty() ? "NEWUSERWR" : "USERWR");
    o << "<TABLE BORDER>\n";

    o << "<TR>\n";
    LabelCell(run, 136);
    ValueCellStart(run);
    if (u.empty()) {
        o << "<INPUT TYPE=\"text\" NAME=\"USER_ID\" SIZE=\"20\" MAXLENGTH=\"20\"></TD>\n";
    } else {
        AdminHidden(run, "USER_ID", u);
        o.Printf("%s</TD>\n", HtmlEscape(u).c_str());
    }
    o << "</TR>\n";
    PasswordRow(run, rec);
    NameRow(run, rec);

    o << "<TR>\n";
    LabelCell(run, 138);
    ValueCellStart(run);
    o.Printf("<INPUT TYPE=\"text\" NAME=\"USER_LEVEL\" SIZE=\"3\" MAXLENGTH=\"3\" VALUE=\"%d\"></TD>\n",
             rec.USER_LEVEL);
    o << "</TR>\n";
    MailRow(run, rec);

    o << "<TR>\n";
    LabelCell(run, 162);
    ValueCellStart(run);
    o << "<SELECT NAME=\"P_GROUP\" >\n";
    if (rec.P_GROUP > 0)
        Option(run, rec.P_GROUP, HtmlEscape(NameOf(names, rec.P_GROUP)));
    else
        Option(run, 0, run.msg(170));
    for (const GroupRecord& g : groups) Option(run, g.groupId, HtmlEscape(g.groupName));
    Option(run, 0, run.msg(170));
    o << "</SELECT>\n</TD>\n</TR>\n";

    DisplayModeRow(run, rec);
    OneTwoRow(run, 139, "MODE", rec.MODE, 167, 168);
    OneTwoRow(run, 291, "WRITE_MODE", rec.WRITE_MODE, 292, 293);
    LanguageRow(run, rec);
    PictureRow(run, rec);

    o << "</TABLE>\n<P>\n";
    o.Printf("<INPUT TYPE=\"submit\" NAME=\"SUB1\" VALUE=\"%s\" onClick=\"return title_chk()\"> \n",
             run.msg(171).c_str());
    o.Printf("<INPUT TYPE=\"submit\" NAME=\"SUB2\" VALUE=\"%s\"> \n", run.msg(4).c_str());
    if (!u.empty())
        o.Printf("<INPUT TYPE=\"submit\" NAME=\"SUB3\" VALUE=\"%s\" onClick=\"return confirm('%s')\">\n",
                 run.msg(172).c_str(), run.msg(173).c_str());
    o << "<P>\n";

    // Memberships.
    o << "<TABLE BORDER>\n<TR>\n";
    o.Printf("\t<TD NOWRAP ROWSPAN=2 BGCOLOR=\"%s\" ALIGN=\"CENTER\">%s</TD>\n", kAdminLabelColour,
             run.msg(178).c_str());
    for (int label : {179, 180})
        o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">%s</TD>\n", kAdminLabelColour,
                 run.msg(label).c_str());
    o << "</TR>\n<TR>\n";
    o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">", kAdminValueColour);
    o << "<SELECT NAME=\"NOWGROUP\" SIZE=5 MULTIPLE>\n";
    std::vector<int32_t> mine;
    if (!u.empty() && ListGroupsOfUser(run.dataDir(), u, mine) >= 0) {
        for (int32_t g : mine)
            if (g != 0) Option(run, g, HtmlEscape(NameOf(names, g)));
    }
    o << "</SELECT><BR>\n";
    o.Printf("<INPUT TYPE=\"submit\" NAME=\"GROUP_OUT\" VALUE=\"%s\">\n", run.msg(172).c_str());
    o << "</TD>\n";
    o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">", kAdminValueColour);
    o << "<SELECT NAME=\"GROUPLIST\" SIZE=5 MULTIPLE>\n";
    for (const GroupRecord& g : groups) Option(run, g.groupId, HtmlEscape(g.groupName));
    o << "</SELECT><BR>\n";
    o.Printf("<INPUT TYPE=\"submit\" NAME=\"GROUP_IN\" VALUE=\"%s\">\n", run.msg(171).c_str());
    o << "</TD>\n</TR>\n</TABLE>\n";
    o << "</FORM>\n";
    AdminPageEnd(run);
}

void ShowOwnProfile(Run& run) {
    Output& o = run.out;
    const UserRecord& me = run.login.user;
    WritePageHead(run);
    WriteCheckScript(run, false);
    AdminBodyLine(run);
    AdminTitle(run, 183);
    AdminWriteNote(run);
    o << "<P>\n<HR>\n<P>\n";
    o.Printf("<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n",
             ScriptAttr(run).c_str());
    AdminHidden(run, "SKEY", run.login.SKEY);
    AdminHidden(run, "JOB", "MYDATAWR");
    o << "<TABLE BORDER>\n";
    o << "<TR>\n";
    LabelCell(run, 136);
    o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">%s</TD>\n", kAdminValueColour,
             HtmlEscape(me.USER_ID).c_str());
    o << "</TR>\n";
    PasswordRow(run, me);
    NameRow(run, me);
    MailRow(run, me);
    DisplayModeRow(run, me);
    OneTwoRow(run, 291, "WRITE_MODE", me.WRITE_MODE, 292, 293);
    LanguageRow(run, me);
    PictureRow(run, me);

    o << "<TR>\n";
    LabelCell(run, 370);
    ValueCellStart(run);
    o << "<SELECT NAME=\"NO_READ_MODE\" >\n";
    // Any value but 0 hides the counts, so it shows as "hide".
    if (me.NO_READ_MODE == 0) {
        Option(run, 0, run.msg(371));
        Option(run, 1, run.msg(372));
    } else {
        Option(run, 1, run.msg(372));
        Option(run, 0, run.msg(371));
    }
    o << "</SELECT>\n</TD>\n</TR>\n";

    o << "</TABLE>\n<P>\n";
    o.Printf("<INPUT TYPE=\"submit\" NAME=\"SUB1\" VALUE=\"%s\" onClick=\"return title_chk()\"> \n",
             run.msg(171).c_str());
    o << "<P>\n";
    AdminPageEnd(run);
}

int SaveUser(Run& run) {
    UserForm form = ReadUserForm(run);
    const bool ownProfile = form.job == "MYDATAWR";
    if (form.cancel) return 2;
    if (!ownProfile && !AdminIsOperator(run)) return -1;
    if (ownProfile) {
        // Own data may be changed only while the setting allows it, and only by member
        // accounts: the password of a shared account belongs to everyone who uses it.
        if (run.settings.MYDATA != 0 || run.login.user.MODE != kMemberAccount) return -1;
        form.id = run.login.user.USER_ID;
    }
    TrimTrailingSpaces(form.id);
    TrimTrailingSpaces(form.name);
    TrimTrailingSpaces(form.mail);
    if (const int refused = CheckUserForm(form); refused != 0) return refused;

    const std::string& dataDir = run.dataDir();
    DataLock lock(dataDir);
    if (form.job == "NEWUSERWR") {
        std::string lookup = form.id;
        UserRecord existing;
        if (FindUser(dataDir, lookup, existing) == 0) return -4;
    }
    if (form.save) return StoreUser(run, form, ownProfile);
    if (ownProfile) return -1;

    const std::string id = StoredIdOf(dataDir, form.id);
    if (form.remove) {
        // A deleted user leaves nothing behind that a later user of the same id could inherit.
        if (DeleteUsersEverywhere(dataDir, {id}) != 0) return kUserNotStored;
        return 3;
    }
    if (!form.groupIn && !form.groupOut) return 4;
    // The memberships chosen are changed in memory and written at once: all of them or none.
    FileChangeSet change(dataDir);
    std::string* members = change.Edit(kMemberFileName);
    if (!lock.held() || members == nullptr) return kUserNotStored;
    if (form.groupIn) {
        for (int g : GroupValues(run, "GROUPLIST")) {
            AddGroupMemberIn(*members, GroupMember{g, id});
            SortGroupMembersIn(*members);
        }
    }
    if (form.groupOut) {
        for (int g : GroupValues(run, "NOWGROUP")) RemoveMemberIn(*members, GroupMember{g, id});
    }
    return change.Commit() == 0 ? 4 : kUserNotStored;
}
