#include "admin/folder_common.h"

#include "board/common.h"
#include "cgi/html.h"
#include "cgi/request.h"

void WriteFolderAdminTitle(Run& run, const std::string& name, const std::string& text) {
    run.out.Printf("<FONT SIZE=\"5\"><B>(%s) %s</B></FONT>\n", HtmlEscape(name).c_str(),
                   text.c_str());
}

void OpenAdminForm(Run& run, const char* job, const char* formName) {
    if (formName != nullptr)
        run.out.Printf("<FORM NAME=\"%s\" ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n",
                       formName, ScriptAttr(run).c_str());
    else
        AdminFormLine(run);
    AdminHidden(run, "SKEY", run.login.SKEY);
    AdminHidden(run, "JOB", job);
}

void WriteHistoryBack(Run& run) {
    run.out.Printf("<INPUT TYPE=\"button\" VALUE=\"%s\" onClick=\"history.back()\">\n",
                   run.msg(4).c_str());
}

void WriteLabelCell(Run& run, const std::string& text) {
    run.out.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">%s</TD>\n", kAdminLabelColour,
                   text.c_str());
}

void WriteHeadingCell(Run& run, const std::string& text) {
    run.out.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">%s</TD>\n", kAdminLabelColour,
                   text.c_str());
}

void OpenValueCell(Run& run) {
    run.out.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">", kAdminValueColour);
}

std::string RequestedFolderName(Run& run) {
    std::string name = GetField(run.fields, "NAME", 0, 82);
    name.erase(0, name.find_first_not_of(' '));
    return name;
}

std::string FolderPictureDir(const Run& run, int folderNo) {
    return run.settings.CG_FILE_PATH + std::to_string(folderNo) + "/";
}

std::string PictureSrc(const std::string& name) { return HtmlEscape(UrlEncodeValue(name)); }

static const char* KindIcon(int kind) {
    switch (kind) {
        case kFolderDir: return "folderclose.gif";
        case kFolderBoard: return "folderbook.gif";
        case kFolderChat: return "folderchat.gif";
        default: return "folderclose.gif";
    }
}

void WriteFolderTable(Run& run, bool actions, int marked) {
    Output& o = run.out;
    const std::string web = HtmlEscape(run.settings.CG_FILE_WEB_PATH);
    const std::string script = ScriptAttr(run), key = KeyAttr(run);
    o << "<TR>\n";
    for (int m = 187; m <= (actions ? 192 : 189); ++m) WriteHeadingCell(run, run.msg(m));
    o << "</TR>\n";
    const std::vector<FolderRecord>& tree = FolderTree(run);
    for (int p = 1; p <= static_cast<int>(tree.size()); ++p) {
        const FolderRecord& f = tree[p - 1];
        const char* colour = p == marked ? kAdminMarkColour : kAdminValueColour;
        const std::string name = HtmlEscape(f.name);
        o << "<TR>\n";
        o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">%d</TD>\n", colour, p);
        o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">%d</TD>\n", kAdminValueColour, f.folderNo);
        o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">", colour);
        for (int d = 0; d < f.indentation; ++d) o << "&nbsp;&nbsp;";
        const FolderSettings* fs = CachedFolderSettings(run, f.folderNo);
        if (fs != nullptr && !fs->DIRPIC.empty())
            o.Printf("<IMG SRC=\"%s%d/%s\">", web.c_str(), f.folderNo, PictureSrc(fs->DIRPIC).c_str());
        else
            o.Printf("<IMG SRC=\"%s%s\">", web.c_str(), KindIcon(f.kind));
        o << name << "</TD>\n";
        if (actions) {
            const struct {
                const char* job;
                const char* field;
                int value;
                const char* image;
            } links[] = {{"BORDCONFIG", "FOLDER_NO", f.folderNo, "bot0001.gif"},
                         {"BORDACCESS", "FOLDER_NO", f.folderNo, "bot0002.gif"},
                         {"BORDMOVE", "DISPNO", p, "bot0003.gif"}};
            for (const auto& l : links) {
                o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">\n", kAdminValueColour);
                o.Printf("<A HREF=\"%s?SKEY=%s&JOB=%s&%s=%d\">", script.c_str(), key.c_str(), l.job,
                         l.field, l.value);
                o.Printf("<IMG SRC=\"%s%s\" ALT=\"%s\" BORDER=0></A></TD>\n", web.c_str(), l.image,
                         name.c_str());
            }
        }
        o << "</TR>\n";
    }
}

void WritePositionOptions(Run& run) {
    const std::vector<FolderRecord>& tree = FolderTree(run);
    for (int p = 1; p <= static_cast<int>(tree.size()); ++p)
        run.out.Printf("<OPTION VALUE=\"%d\">%d:%s\n", p, p, HtmlEscape(tree[p - 1].name).c_str());
}
