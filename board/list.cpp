#include "board/list.h"

#include <algorithm>
#include <optional>
#include <string>

#include "app/rights.h"
#include "app/session.h"
#include "board/common.h"
#include "board/sanitize.h"
#include "cgi/html.h"
#include "cgi/request.h"
#include "cgi/text.h"
#include "store/readmarks.h"
#include "store/recordfile.h"

// Field capacities of the list page.
static constexpr size_t kNumberCapacity = 1000;
static constexpr size_t kMoveCapacity = 10;
static constexpr size_t kJobCapacity = 20;

// The word "unread" in the installation's code page, the ALT text of the unread mark.
static constexpr const char* kUnreadAlt = "\x96\xA2\x93\xC7";

int ListPageCount(int records) { return (records - 1) / kRowsPerPage + 1; }

// Existing message numbers from 1 upward, each with its first record.
static std::vector<const MessageIndexEntry*> ByNumber(const std::vector<MessageIndexEntry>& index) {
    std::vector<const MessageIndexEntry*> out;
    for (const MessageIndexEntry& e : index)
        if (e.messageNo >= 1) out.push_back(&e);
    std::stable_sort(out.begin(), out.end(), [](const MessageIndexEntry* a, const MessageIndexEntry* b) {
        return a->messageNo < b->messageNo;
    });
    out.erase(std::unique(out.begin(), out.end(),
                          [](const MessageIndexEntry* a, const MessageIndexEntry* b) {
                              return a->messageNo == b->messageNo;
                          }),
              out.end());
    return out;
}

std::vector<const MessageIndexEntry*> ListPageEntries(const std::vector<MessageIndexEntry>& index,
                                                      int mode, int page) {
    std::vector<const MessageIndexEntry*> rows;
    if (page < 1) return rows;
    const size_t first = static_cast<size_t>(page - 1) * kRowsPerPage;
    if (mode == 2 || mode == 3) {
        std::vector<const MessageIndexEntry*> all = ByNumber(index);
        for (size_t k = first; k < all.size() && rows.size() < kRowsPerPage; ++k)
            rows.push_back(all[k]);
        if (mode == 3) std::reverse(rows.begin(), rows.end());
    } else {
        for (size_t k = first; k < index.size() && rows.size() < kRowsPerPage; ++k)
            rows.push_back(&index[k]);
    }
    return rows;
}

// Pages by number this near to the first or the last are found keeping only the numbers
// between them and that end.
static constexpr int kNearPages = 50;

// The rows of one page, unpacking only them: in thread order they are read at their offset;
// by number the numbers alone are taken from one read of the index (the first record of each
// number from 1 upward, as ByNumber orders them).
static std::vector<MessageIndexEntry> PageRows(const std::string& dataDir, int folder, int mode,
                                               int page, int pages) {
    std::vector<MessageIndexEntry> rows;
    if (page < 1) return rows;
    const size_t first = static_cast<size_t>(page - 1) * kRowsPerPage;
    if (mode != 2 && mode != 3)
        return ReadMessagesAt(dataDir, folder, static_cast<long>(first), kRowsPerPage);
    if (page <= kNearPages || page > pages - kNearPages) {
        rows = ReadMessagesByNumber(dataDir, folder, first, kRowsPerPage);
        if (mode == 3) std::reverse(rows.begin(), rows.end());
        return rows;
    }
    const RawMessageIndex index = ReadRawMessageIndex(dataDir, folder);
    const size_t count = index.size();
    auto numberAt = [&](size_t i) { return index.number(i); };
    std::vector<size_t> picked;  // record positions of the page, ascending by number
    int32_t top = 0;
    for (size_t i = 0; i < count; ++i) top = std::max(top, numberAt(i));
    if (static_cast<size_t>(top) <= 8 * count + 1024) {
        // Numbers are dense: the first record of each number, found by number.
        std::vector<int32_t> firstOf(static_cast<size_t>(top) + 1, -1);
        for (size_t i = count; i-- > 0;)
            if (numberAt(i) >= 1) firstOf[static_cast<size_t>(numberAt(i))] = static_cast<int32_t>(i);
        size_t rank = 0;
        for (size_t no = 1; no < firstOf.size() && picked.size() < kRowsPerPage; ++no) {
            if (firstOf[no] < 0) continue;
            if (rank++ >= first) picked.push_back(static_cast<size_t>(firstOf[no]));
        }
    } else {
        std::vector<std::pair<int32_t, size_t>> all;
        for (size_t i = 0; i < count; ++i)
            if (numberAt(i) >= 1) all.emplace_back(numberAt(i), i);
        std::sort(all.begin(), all.end());
        all.erase(std::unique(all.begin(), all.end(),
                              [](const auto& a, const auto& b) { return a.first == b.first; }),
                  all.end());
        for (size_t k = first; k < all.size() && picked.size() < kRowsPerPage; ++k)
            picked.push_back(all[k].second);
    }
    for (size_t i : picked) rows.push_back(index.entry(i));
    if (mode == 3) std::reverse(rows.begin(), rows.end());
    return rows;
}

namespace {

// Thread depths up to this many levels are indented as stored without counting the thread.
constexpr size_t kPlainDepth = 64;

struct ListState {
    int folderNo = 0;
    int page = 1;
    int pages = 1;
    int mode = 1;
    int rights = 0;
    std::string script;  // escaped
    std::string key;     // escaped
};

void OpenMultipartForm(Run& run, const ListState& st, const char* extra = "") {
    run.out.Printf("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST%s>\n",
                   st.script.c_str(), extra);
}

void WriteKeyAndJob(Run& run, const ListState& st, const char* job) {
    run.out.Printf("<INPUT TYPE=\"hidden\" NAME=\"SKEY\" VALUE=\"%s\">\n", st.key.c_str());
    WriteHidden(run, "JOB", job);
}

void WriteScript(Run& run, const ListState& st) {
    Output& o = run.out;
    o << "<SCRIPT Language=\"JavaScript\">\n"
      << "<!--\n"
      << "function f_Pjamp(){\n"
      << "\tvar idx = document.Pjamp.PPage.selectedIndex;\n"
      << "\tvar url = document.Pjamp.PPage.options[idx].value;\n"
      << "\tlocation.href = url;\n"
      << "}\n";
    if (run.login.user.WRITE_MODE == 2 &&
        GetField(run.fields, "JOB", 0, kJobCapacity) == "BORDWRITEWR")
        o.Printf("window.open(\"%s?JOB=BORDWRITEFIN\",\"WBORDWRITE\")\n", st.script.c_str());
    o << "// -->\n"
      << "</SCRIPT>\n";
}

void WriteToolRow(Run& run, const ListState& st) {
    Output& o = run.out;
    o << "<TABLE>\n<TR>\n";
    if (st.rights >= kRightsManage) {
        const struct {
            const char* job;
            std::string label;
        } buttons[] = {{"BORDCONFIG", run.msg(190)}, {"BORDACCESS", run.msg(191)}};
        for (const auto& b : buttons) {
            o << "<TD>\n";
            OpenMultipartForm(run, st);
            WriteKeyAndJob(run, st, b.job);
            WriteHidden(run, "FROM", "ROOM");
            WriteHidden(run, "FOLDER_NO", st.folderNo);
            o.Printf("<INPUT TYPE=\"submit\" VALUE=\"%s\">\n", b.label.c_str());
            o << "</FORM>\n</TD>\n";
        }
    }
    if (run.login.user.MODE == kMemberAccount) {
        o << "<TD>\n";
        OpenMultipartForm(run, st);
        WriteKeyAndJob(run, st, "BORDALLFLG");
        WriteHidden(run, "FOLDER_NO", st.folderNo);
        WriteHidden(run, "DISP_PAGE", st.page);
        WriteHidden(run, "USER_DISP_DEF", st.mode);
        o.Printf("<INPUT TYPE=\"submit\" VALUE=\"%s\" onClick=\"return confirm('%s')\">\n",
                 run.msg(256).c_str(), run.msg(257).c_str());
        o << "</FORM>\n</TD>\n";
    }
    o << "</TR>\n</TABLE>\n";
}

void WriteInfo(Run& run, const ListState& st, const FolderSettings& fs) {
    Output& o = run.out;
    if (!fs.TITLEPIC.empty())
        o.Printf("<IMG SRC=\"%s%d/%s\"><BR>\n", HtmlEscape(run.settings.CG_FILE_WEB_PATH).c_str(),
                 st.folderNo, HtmlEscape(fs.TITLEPIC).c_str());
    if (!fs.INFO.empty()) {
        std::string info = fs.INFO;
        LineBreaksToHtml(info);
        // The information text is written by the folder's managers as HTML, like a body.
        info = CleanBodyHtml(info);
        if (!fs.FONTCOLOR.empty())
            o << "<FONT COLOR=\"#" << HtmlEscape(fs.FONTCOLOR) << "\">" << info << "</FONT>\n";
        else
            o << info << "\n";
    }
    o << "<HR>\n";
}

void WritePostingForm(Run& run, const ListState& st) {
    Output& o = run.out;
    o << "<TD>\n";
    OpenMultipartForm(run, st, run.login.user.WRITE_MODE == 2 ? " TARGET=\"WBORDWRITE\"" : "");
    WriteKeyAndJob(run, st, "BORDWRITE");
    WriteHidden(run, "FOLDER_NO", st.folderNo);
    WriteHidden(run, "DISP_PAGE", st.page);
    WriteHidden(run, "USER_DISP_DEF", st.mode);
    o.Printf("<INPUT TYPE=\"submit\" VALUE=\"%s\">\n", run.msg(258).c_str());
    o << "</FORM>\n</TD>\n";
}

// Hidden fields and the back and forward buttons of a paging form, in cells of their own.
void WritePagingFields(Run& run, const ListState& st) {
    Output& o = run.out;
    WriteKeyAndJob(run, st, "ROOM");
    WriteHidden(run, "FOLDER_NO", st.folderNo);
    WriteHidden(run, "DISP_PAGE", st.page);
    WriteHidden(run, "USER_DISP_DEF", st.mode);
    o << "<TABLE>\n<TR>\n<TD>\n";
    if (st.page > 1)
        o.Printf("<INPUT TYPE=\"submit\" NAME=\"MOVE_REW\" VALUE=\"%s\">\n", run.msg(259).c_str());
    else
        o.Printf("<INPUT TYPE=\"button\" NAME=\"MOVE_REW\" VALUE=\"%s\" onClick=\"alert('%s')\">\n",
                 run.msg(259).c_str(), run.msg(260).c_str());
    o << "</TD>\n<TD>\n";
    if (st.page < st.pages)
        o.Printf("<INPUT TYPE=\"submit\" NAME=\"MOVE_FF\" VALUE=\"%s\">\n", run.msg(261).c_str());
    else
        o.Printf("<INPUT TYPE=\"button\" NAME=\"MOVE_FF\" VALUE=\"%s\" onClick=\"alert('%s')\">\n",
                 run.msg(261).c_str(), run.msg(262).c_str());
    o << "</TD>\n";
}

void WritePageOption(Run& run, const ListState& st, int page) {
    run.out.Printf(
        "<OPTION VALUE=\"%s?SKEY=%s&JOB=ROOM&FOLDER_NO=%d&DISP_PAGE=%d&USER_DISP_DEF=%d\">%d Page\n",
        st.script.c_str(), st.key.c_str(), st.folderNo, page, st.mode, page);
}

void WriteUpperNavigation(Run& run, const ListState& st) {
    Output& o = run.out;
    o << "<TABLE>\n<TR>\n";
    if (st.rights >= kRightsWrite) WritePostingForm(run, st);
    o << "<TD>\n";
    o.Printf("<FORM NAME=\"Pjamp\" ACTION=\"%s\" METHOD=POST >\n", st.script.c_str());
    WritePagingFields(run, st);
    o << "<TD>\n<SELECT NAME=\"PPage\" onChange=\"f_Pjamp()\">\n";
    WritePageOption(run, st, st.page);
    // One option per page, thousands on a large board: put together without formatting each.
    const std::string head = "<OPTION VALUE=\"" + st.script + "?SKEY=" + st.key +
                             "&JOB=ROOM&FOLDER_NO=" + std::to_string(st.folderNo) + "&DISP_PAGE=";
    const std::string middle = "&USER_DISP_DEF=" + std::to_string(st.mode) + "\">";
    std::string options;
    for (int p = st.pages; p >= 1; --p) {
        const std::string number = std::to_string(p);
        options += head;
        options += number;
        options += middle;
        options += number;
        options += " Page\n";
        if (options.size() >= 32768 || p == 1) {  // handed on in pieces of one small buffer
            o << options;
            options.clear();
        }
    }
    o << "</SELECT>\n</TD>\n";
    o << "</TR>\n</TABLE>\n</FORM>\n</TD>\n</TR>\n</TABLE>\n";
}

void WriteLowerNavigation(Run& run, const ListState& st) {
    Output& o = run.out;
    o << "<TABLE>\n<TR>\n";
    if (st.rights >= kRightsWrite) WritePostingForm(run, st);
    o << "<TD>\n";
    OpenMultipartForm(run, st);
    WritePagingFields(run, st);
    o << "</TR>\n</TABLE>\n</FORM>\n</TD>\n</TR>\n</TABLE>\n";
}

void WriteModeForms(Run& run, const ListState& st) {
    Output& o = run.out;
    o << "<TABLE>\n<TR>\n";
    const std::string labels[] = {run.msg(175), run.msg(176), run.msg(177)};
    for (int mode = 1; mode <= 3; ++mode) {
        o << "<TD>\n";
        OpenMultipartForm(run, st);
        WriteKeyAndJob(run, st, "ROOM");
        WriteHidden(run, "FOLDER_NO", st.folderNo);
        WriteHidden(run, "DISP_PAGE", st.page);
        WriteHidden(run, "USER_DISP_DEF", mode);
        o.Printf("<INPUT TYPE=\"submit\" VALUE=\"%s\">\n", labels[mode - 1].c_str());
        o << "</FORM>\n</TD>\n";
    }
    o << "</TR>\n</TABLE>\n";
}

void WriteRow(Run& run, const ListState& st, const MessageIndexEntry& e, size_t threadLength) {
    Output& o = run.out;
    o << "<TR>\n";
    o << "<TD BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\">";
    if (run.login.user.MODE == kMemberAccount) {
        ReadMark mark;
        if (FindReadMark(run.dataDir(), st.folderNo, e.messageNo, run.login.user.USER_ID, mark) != 0)
            o.Printf("<IMG SRC=\"%sNEW.GIF\" ALT=\"%s\">",
                     HtmlEscape(run.settings.CG_FILE_WEB_PATH).c_str(), kUnreadAlt);
    }
    o << "<BR></TD>\n";

    o << "<TD BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\">";
    if (e.WRITE_PRIORITY == 1) o << run.msg(268) << "</TD>\n";
    else if (e.WRITE_PRIORITY == 2) o << run.msg(269) << "</TD>\n";
    else o << "<BR></TD>\n";

    o.Printf("<TD BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\">%d</TD>\n", e.messageNo);

    o << "<TD BGCOLOR=\"#FFFFFF\" ALIGN=\"LEFT\" NOWRAP>";
    if (st.mode == 1)
        WriteThreadIndent(o, e.depth, threadLength);
    o.Printf("<A HREF=\"%s?SKEY=%s&JOB=DETAILS&FOLDER_NO=%d&SEL_NO=%d&USER_DISP_DEF=%d\">",
             st.script.c_str(), st.key.c_str(), st.folderNo, e.messageNo, st.mode);
    if (e.depth > 0) o.Printf("Re:^%d:", e.depth);
    if (e.deleted != 0) o << "--Delete--";
    else o << HtmlEscape(e.WRITE_TITLE);
    o << "</A></TD>\n";

    o << "<TD BGCOLOR=\"#FFFFFF\" ALIGN=\"LEFT\" NOWRAP>" << HtmlEscape(WriterName(run, e.userId))
      << "</TD>\n";
    o << "<TD BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\" NOWRAP>" << HtmlEscape(ShownDate(run, e.date))
      << "</TD>\n";
    o << "</TR>\n";
}

}  // namespace

void ShowFolderList(Run& run) {
    Output& o = run.out;
    ListState st;
    st.folderNo = IntField(run, "FOLDER_NO", kNumberCapacity);
    const int requestedPage = IntField(run, "DISP_PAGE", kNumberCapacity);
    const bool back = !GetField(run.fields, "MOVE_REW", 0, kMoveCapacity).empty();
    const bool forward = !GetField(run.fields, "MOVE_FF", 0, kMoveCapacity).empty();
    const int fast = IntField(run, "FAST_FLG", kNumberCapacity);
    st.mode = RequestedDisplayMode(run, kNumberCapacity);
    if (st.mode != 2 && st.mode != 3) st.mode = 1;
    st.script = ScriptAttr(run);
    st.key = KeyAttr(run);

    st.rights = FolderRights(run, st.folderNo);
    WritePageHead(run);
    if (st.rights < kRightsRead) {
        WriteRefusalBody(run);
        return;
    }

    const int records = CountMessages(run.dataDir(), st.folderNo);
    st.pages = ListPageCount(records);
    st.page = requestedPage < 1 ? st.pages : requestedPage;
    if (back && st.page > 1) --st.page;
    if (forward && st.page < st.pages) ++st.page;

    WriteScript(run, st);

    const FolderSettings fs = FolderSettingsOrEmpty(run, st.folderNo);
    WriteFolderBodyTag(run, st.folderNo, fs);
    WriteFolderTitle(run, st.folderNo, FolderName(run, st.folderNo));
    WriteToolRow(run, st);
    if (fast > 0) WriteInfo(run, st, fs);
    WriteUpperNavigation(run, st);

    const std::string colour = HtmlEscape(fs.FONTCOLOR);
    o << "<P>\n";
    if (!colour.empty()) o << "<FONT COLOR=\"#" << colour << "\">";
    o.Printf(" Page[%d/%d]<BR>", st.page, st.pages);
    if (!colour.empty()) o << "</FONT>";
    o << "\n";

    o << "<TABLE BORDER>\n<TR>\n";
    const std::string headings[] = {run.msg(263), run.msg(264), "SEL",
                                    run.msg(265), run.msg(266), run.msg(267)};
    for (const std::string& h : headings) o << "<TD BGCOLOR=\"#E0FFFF\" NOWRAP>" << h << "</TD>\n";
    o << "</TR>\n";
    // A depth read from the file drives the indentation. A plausible one is written as it
    // stands; a deeper one is held to the number of records of its thread, counted from one
    // read of the index's number and thread fields, so a damaged depth never floods the page.
    std::optional<RawMessageIndex> raw;
    const std::vector<MessageIndexEntry> rows =
        PageRows(run.dataDir(), st.folderNo, st.mode, st.page, st.pages);
    std::vector<std::string> writers;
    for (const MessageIndexEntry& e : rows)
        if (!e.userId.empty()) writers.push_back(e.userId);
    NameUsers(run, writers);  // one scan of user.mst for the page's writers
    for (const MessageIndexEntry& e : rows) {
        size_t levels = kPlainDepth;
        if (st.mode == 1 && e.depth > static_cast<int32_t>(kPlainDepth)) {
            if (!raw) raw.emplace(ReadRawMessageIndex(run.dataDir(), st.folderNo));
            levels = 0;
            for (size_t i = 0; i < raw->size(); ++i) levels += raw->thread(i) == e.threadNo;
        }
        WriteRow(run, st, e, levels);
    }
    o << "</TABLE>\n<P>\n";

    WriteLowerNavigation(run, st);
    WriteModeForms(run, st);
    o << "</BODY>\n"
      << "</HTML>\n";
}
