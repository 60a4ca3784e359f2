#include "admin/system.h"

#include "admin/common.h"
#include "admin/picture.h"
#include "cgi/html.h"
#include "cgi/request.h"
#include "store/recordfile.h"

namespace {

// Capacity with which the number fields of the form are read.
constexpr size_t kNumberCapacity = 20;

void LabelCell(Run& run, int msgNo) {
    run.out.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">%s</TD>\n", kAdminLabelColour,
                   run.msg(msgNo).c_str());
}

void ValueCellStart(Run& run) {
    run.out.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">", kAdminValueColour);
}

// A row of a text setting: "<INPUT TYPE="text" NAME=... VALUE=... SIZE="40"></TD>".
void TextRow(Run& run, int label, const char* name, const std::string& value) {
    run.out << "<TR>\n";
    LabelCell(run, label);
    ValueCellStart(run);
    run.out.Printf("<INPUT TYPE=\"text\" NAME=\"%s\" VALUE=\"%s\" SIZE=\"40\"></TD>\n", name,
                   HtmlEscape(value).c_str());
    run.out << "</TR>\n";
}

// A row of a picture setting: its name and an upload field.
void PictureRow(Run& run, int label, const char* name, const std::string& value,
                const char* uploadField) {
    run.out << "<TR>\n";
    LabelCell(run, label);
    ValueCellStart(run);
    run.out.Printf("<INPUT TYPE=\"text\" NAME=\"%s\" VALUE=\"%s\" SIZE=\"40\"><BR>\n", name,
                   HtmlEscape(value).c_str());
    run.out.Printf("%s<INPUT TYPE=\"FILE\" NAME=\"%s\">\n", run.msg(7).c_str(), uploadField);
    run.out << "</TD>\n</TR>\n";
}

// A two-option select whose current option comes first; a value that is neither gives no
// option. firstAlso is a value that shows like first (DATETIME 0 shows as 1).
void PairSelect(Run& run, const char* name, int value, int first, int firstLabel, int second,
                int secondLabel, int firstAlso) {
    Output& o = run.out;
    o.Printf("<SELECT NAME=\"%s\" >\n", name);
    auto option = [&](int v, int label) {
        o.Printf("<OPTION VALUE=\"%d\">%s\n", v, run.msg(label).c_str());
    };
    if (value == first || value == firstAlso) {
        option(first, firstLabel);
        option(second, secondLabel);
    } else if (value == second) {
        option(second, secondLabel);
        option(first, firstLabel);
    }
    o << "</SELECT>\n</TD>\n";
}

// A label cell with a second, blue line (the text area widths).
void WidthLabelCell(Run& run, int sub) {
    run.out.Printf(
        "\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">%s<BR> <FONT COLOR=\"#0000FF\"> &nbsp;%s</FONT></TD>\n",
        kAdminLabelColour, run.msg(125).c_str(), run.msg(sub).c_str());
}

void WriteBackForm(Run& run) { AdminButtonForm(run, "ADMIN", 4); }

}  // namespace

void ShowSystemPage(Run& run) {
    Output& o = run.out;
    const SystemSettings& s = run.settings;
    AdminPageStart(run);
    if (!AdminIsOperator(run)) {
        AdminRefusal(run);
        return;
    }
    AdminTitle(run, 108);
    AdminWriteNote(run);
    WriteBackForm(run);

    AdminFormLine(run);
    AdminHidden(run, "SKEY", run.login.SKEY);
    AdminHidden(run, "JOB", "SYSTEMUPDATE");
    o << "<TABLE BORDER>\n";
    TextRow(run, 115, "LANGUAGE", s.LANGUAGE);
    TextRow(run, 116, "CG_FILE_PATH", s.CG_FILE_PATH);
    TextRow(run, 117, "CG_FILE_WEB_PATH", s.CG_FILE_WEB_PATH);
    TextRow(run, 118, "DATA_FILE_PATH", s.DATA_FILE_PATH);
    TextRow(run, 119, "ADD_FILE_PATH", s.ADD_FILE_PATH);
    TextRow(run, 120, "ADD_FILE_WEB_PATH", s.ADD_FILE_WEB_PATH);
    PictureRow(run, 121, "LOGIN_GIF", s.LOGIN_GIF, "FILE1");
    PictureRow(run, 122, "BACK_GIF", s.BACK_GIF, "FILE2");

    o << "<TR>\n";
    LabelCell(run, 123);
    ValueCellStart(run);
    o.Printf("<INPUT TYPE=\"text\" NAME=\"LOG_DATE\" VALUE=\"%s\" SIZE=\"8\" MAXLENGTH=\"8\">%s</TD>\n",
             HtmlEscape(s.LOG_DATE).c_str(), run.msg(8).c_str());
    o << "</TR>\n";

    o << "<TR>\n";
    LabelCell(run, 124);
    ValueCellStart(run);
    PairSelect(run, "DATETIME", s.DATETIME, 1, 9, 2, 10, 0);
    o << "</TR>\n";

    o << "<TR>\n";
    WidthLabelCell(run, 126);
    ValueCellStart(run);
    o.Printf("<INPUT TYPE=\"text\" NAME=\"IECOLS\" VALUE=\"%d\" SIZE=\"8\" MAXLENGTH=\"3\">%s</TD>\n",
             s.IECOLS, run.msg(11).c_str());
    o << "</TR>\n";

    o << "<TR>\n";
    WidthLabelCell(run, 127);
    ValueCellStart(run);
    o.Printf("<INPUT TYPE=\"text\" NAME=\"NSCOLS\" VALUE=\"%d\" SIZE=\"8\" MAXLENGTH=\"3\">%s</TD>\n",
             s.NSCOLS, run.msg(11).c_str());
    o << "</TR>\n";

    o << "<TR>\n";
    LabelCell(run, 128);
    ValueCellStart(run);
    o.Printf("<INPUT TYPE=\"text\" NAME=\"ROWS\" VALUE=\"%d\" SIZE=\"8\" MAXLENGTH=\"3\">%s</TD>\n",
             s.ROWS, run.msg(12).c_str());
    o << "</TR>\n";

    o << "<TR>\n";
    LabelCell(run, 105);
    ValueCellStart(run);
    // MYDATA has no value that shows like another.
    PairSelect(run, "MYDATA", s.MYDATA, 0, 368, 1, 369, 0);
    o << "</TR>\n";

    o << "<TR>\n";
    LabelCell(run, 376);
    ValueCellStart(run);
    o.Printf("<INPUT TYPE=\"text\" NAME=\"MAX_CONTENTS\" VALUE=\"%d\" SIZE=\"8\" MAXLENGTH=\"5\">byte</TD>\n",
             s.MAX_CONTENTS);
    o << "</TR>\n";

    o << "<TR>\n";
    LabelCell(run, 378);
    ValueCellStart(run);
    o.Printf("<INPUT TYPE=\"text\" NAME=\"LOGOFF_URL\" VALUE=\"%s\" SIZE=\"40\" MAXLENGTH=\"1000\"></TD>\n",
             HtmlEscape(s.LOGOFF_URL).c_str());
    o << "</TR>\n";

    o << "<TR>\n";
    LabelCell(run, 379);
    ValueCellStart(run);
    o.Printf("<INPUT TYPE=\"text\" NAME=\"FRAME_DIVIDE\" VALUE=\"%d\" SIZE=\"5\" MAXLENGTH=\"2\">%%</TD>\n",
             s.FRAME_DIVIDE);
    o << "</TR>\n";

    o << "</TABLE>\n"
      << "<P>\n"
      << "<TABLE>\n"
      << "<TR>\n"
      << "<TD>\n";
    o.Printf("<INPUT TYPE=\"submit\" VALUE=\"%s\">\n", run.msg(129).c_str());
    o << "</FORM>\n"
      << "</TD>\n"
      << "<TD>\n";
    WriteBackForm(run);
    o << "</TD>\n"
      << "</TR>\n"
      << "</TABLE>\n";
    AdminPageEnd(run);
}

int SaveSystemSettings(Run& run) {
    if (!AdminIsOperator(run)) return 0;

    SystemSettings s = run.settings;
    // A value the settings file cannot hold refuses the whole save.
    for (const TextSettingKey& t : TextSettingKeys()) {
        s.*t.field = GetField(run.fields, t.key, 0, t.slot);
        if (AdminHasLineBreaker(s.*t.field)) return kSettingsRefused;
    }
    for (const NumberSettingKey& n : FormNumberSettingKeys()) {
        const std::string text = GetField(run.fields, n.key, 0, kNumberCapacity);
        if (AdminHasLineBreaker(text)) return kSettingsRefused;
        s.*n.field = ParseInt(text);
    }

    // Uploaded pictures go into the (new) web files directory under their own names; a
    // refused or unplaceable one keeps the stored picture.
    const std::string dir = s.CG_FILE_PATH + "/";
    struct Picture {
        const char* field;
        std::string SystemSettings::*name;
    };
    for (const Picture& p : {Picture{"FILE1", &SystemSettings::LOGIN_GIF},
                             Picture{"FILE2", &SystemSettings::BACK_GIF}}) {
        std::string name = run.settings.*p.name;
        switch (TakePicture(run, p.field, dir, name)) {
            case PictureUpload::None: break;
            case PictureUpload::Stored: s.*p.name = name; break;
            case PictureUpload::Refused: AdminNotePictureRefused(run); break;
            case PictureUpload::Failed: break;
        }
    }
    if (SaveSettings(s, run.settings.settingsFile) != 0) return kSettingsNotWritten;
    return 0;
}
