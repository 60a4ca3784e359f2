#include "app/menu.h"

#include <algorithm>
#include <vector>

#include "app/rights.h"
#include "app/session.h"
#include "cgi/html.h"
#include "store/recordfile.h"

// Request fields of the menu are read with this capacity.
static constexpr size_t kMenuFieldCapacity = 20;

int ParentPosition(Run& run, int p) {
    const std::vector<FolderRecord>& tree = FolderTree(run);
    if (p < 1 || p > static_cast<int>(tree.size())) return -1;
    const int depth = tree[p - 1].indentation;
    if (depth <= 0) return -1;
    for (int q = p - 1; q >= 1; --q)
        if (tree[q - 1].indentation < depth) return q;
    return -1;
}

int DirectoryUnreadCount(Run& run, int p) {
    const std::vector<FolderRecord>& tree = FolderTree(run);
    if (p < 1 || p > static_cast<int>(tree.size())) return 0;
    const int depth = tree[p - 1].indentation;
    int sum = 0;
    for (size_t q = static_cast<size_t>(p); q < tree.size() && tree[q].indentation > depth; ++q) {
        // Only boards hold messages; a count that could not be read adds nothing.
        if (tree[q].kind != kFolderBoard) continue;
        if (FolderRights(run, tree[q].folderNo) < kRightsRead) continue;
        const int n = CachedCountUnread(run, tree[q].folderNo);
        if (n > 0) sum += n;
    }
    return sum;
}

// The open directories: every DISP_NO field of the request as a decimal number.
static std::vector<int> OpenPositions(const Run& run) {
    std::vector<int> open;
    for (const FormField& f : run.fields)
        if (f.name == "DISP_NO") open.push_back(ParseInt(CutToSlot(f.value, kMenuFieldCapacity)));
    return open;
}

static void WriteLinkHtml(Run& run) {
    std::string bytes;
    if (ReadWholeFile(run.settings.CG_FILE_PATH + "link.html", bytes)) run.out << bytes;
}

static const char* DefaultPicture(int kind) {
    switch (kind) {
    case kFolderDir: return "folderclose.gif";
    case kFolderBoard: return "folderbook.gif";
    case kFolderChat: return "folderchat.gif";
    default: return "";
    }
}

std::string FolderPicture(Run& run, const FolderRecord& folder) {
    if (const FolderSettings* fs = CachedFolderSettings(run, folder.folderNo))
        if (!fs->DIRPIC.empty()) return std::to_string(folder.folderNo) + "/" + fs->DIRPIC;
    return DefaultPicture(folder.kind);
}

static void WriteButton(Run& run, const std::string& script, const std::string& key,
                        const char* job, const std::string& caption, bool named) {
    Output& o = run.out;
    o.Printf("<FORM ACTION=\"%s\" METHOD=GET TARGET=\"FRM22\">\n", script.c_str());
    o.Printf("<INPUT TYPE=\"hidden\" name=\"SKEY\" value=\"%s\">\n", key.c_str());
    o.Printf("<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"%s\">\n", job);
    if (named)
        o.Printf("<INPUT TYPE=\"submit\" name=\"SUB\" VALUE=\"%s\">\n", caption.c_str());
    else
        o.Printf("<INPUT TYPE=\"submit\" VALUE=\"%s\">\n", caption.c_str());
    o << "</FORM>\n";
}

void ShowFolderMenu(Run& run) {
    Output& o = run.out;
    const SystemSettings& s = run.settings;
    const UserRecord& caller = run.login.user;
    const std::string script = HtmlEscape(s.scriptName);
    const std::string key = HtmlEscape(CutToSlot(run.login.SKEY, kMenuFieldCapacity));
    const std::string webPath = HtmlEscape(s.CG_FILE_WEB_PATH);
    const bool counts = caller.MODE == kMemberAccount && caller.NO_READ_MODE == 0;

    WritePageHead(run);
    WriteBackgroundBody(run);
    WriteLinkHtml(run);

    o << "<TABLE>\n";
    const std::vector<int> open = OpenPositions(run);
    auto isOpen = [&open](int p) { return std::find(open.begin(), open.end(), p) != open.end(); };
    const std::vector<FolderRecord>& tree = FolderTree(run);
    for (int p = 1; p <= static_cast<int>(tree.size()); ++p) {
        const FolderRecord& f = tree[p - 1];
        if (f.indentation > 0 && !isOpen(ParentPosition(run, p))) continue;
        if (FolderRights(run, f.folderNo) < kRightsRead) continue;

        o << "<TR><TD NOWRAP>";
        for (int d = 0; d < f.indentation; ++d) o << "&nbsp;&nbsp;";

        const std::string picture = FolderPicture(run, f);
        const std::string name = HtmlEscape(f.name);
        std::string image = "<IMG SRC=\"" + webPath + HtmlEscape(picture) + "\" ALT=\"" + name +
                            "\" BORDER=0>";

        if (f.kind == kFolderDir) {
            o.Printf("<A HREF=\"%s?SKEY=%s&JOB=FRM21", script.c_str(), key.c_str());
            // A click opens or closes this directory, keeps its ancestors open and closes
            // every other branch.
            if (!isOpen(p)) o.Printf("&DISP_NO=%d", p);
            for (int q = ParentPosition(run, p); q != -1; q = ParentPosition(run, q))
                o.Printf("&DISP_NO=%d", q);
            o << "\">" << image;
            if (counts) {
                const int n = DirectoryUnreadCount(run, p);
                if (n > 0) o.Printf("(%d)", n);
            }
            o << name << "</A><BR>\n";
        } else if (f.kind == kFolderBoard) {
            o.Printf("<A HREF=\"%s?SKEY=%s&JOB=ROOM&FOLDER_NO=%d&FAST_FLG=1\" TARGET=\"FRM22\">",
                     script.c_str(), key.c_str(), f.folderNo);
            o << image;
            if (counts) {
                const int n = CachedCountUnread(run, f.folderNo);
                if (n > 0) o.Printf("(%d)", n);
            }
            o << name << "</A><BR>\n";
        } else if (f.kind == kFolderChat) {
            o.Printf("<A HREF=\"%s?SKEY=%s&JOB=CHAT&FOLDER_NO=%d&FAST_FLG=1\" TARGET=\"FRM22\">",
                     script.c_str(), key.c_str(), f.folderNo);
            o << image << name << "</A><BR>\n";
        }
        o << "</TD></TR>\n";
    }
    o << "</TABLE>\n";

    const bool member = caller.MODE == kMemberAccount;
    if (member) WriteButton(run, script, key, "NRDETAILS", run.msg(102), true);
    WriteButton(run, script, key, "BATCH_UPLOAD", run.msg(365), false);
    WriteButton(run, script, key, "SEARCH", run.msg(103), true);
    if (caller.USER_LEVEL > kOperatorLevelAbove) WriteButton(run, script, key, "ADMIN", run.msg(104), true);
    if (member && s.MYDATA == 0) WriteButton(run, script, key, "MYDATA", run.msg(105), true);
    if (member) WriteButton(run, script, key, "SETNOREAD", run.msg(373), true);
    WriteButton(run, script, key, "IDSINSEI", run.msg(106), true);
    WriteButton(run, script, key, "IDSINSEIlist", run.msg(107), true);
    if (member) {
        o.Printf("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST TARGET=\"_parent\">\n",
                 script.c_str());
        o.Printf("<INPUT TYPE=\"hidden\" name=\"SKEY\" value=\"%s\">\n", key.c_str());
        o << "<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"LOGOFF\">\n";
        o.Printf("<INPUT TYPE=\"submit\" VALUE=\"%s\" onClick=\"return confirm('%s')\">\n",
                 run.msg(13).c_str(), run.msg(14).c_str());
        o << "</FORM>\n";
    }
    o << "</BODY>\n"
      << "</HTML>\n";
}
