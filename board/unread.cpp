#include "board/unread.h"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "app/rights.h"
#include "app/session.h"
#include "board/block.h"
#include "board/common.h"
#include "cgi/html.h"
#include "cgi/request.h"
#include "store/messages.h"
#include "store/readmarks.h"
#include "store/recordfile.h"
#include "store/unread.h"

namespace {

constexpr size_t kFieldCapacity = 20;

// Repeated request fields: the i-th occurrence for i = 0, 1, ... until one is missing or its
// number is 0 or less.
std::vector<int> RepeatedNumbers(const Run& run, const char* name) {
    std::vector<int> numbers;
    for (int i = 0;; ++i) {
        const int n = ParseInt(GetField(run.fields, name, i, kFieldCapacity));
        if (n <= 0) break;
        numbers.push_back(n);
    }
    return numbers;
}

// The board of the tree with that number that the caller may read.
bool IsReadableBoard(Run& run, int folderNo) {
    for (const FolderRecord& f : FolderTree(run))
        if (f.folderNo == folderNo)
            return f.kind == kFolderBoard && FolderRights(run, folderNo) >= kRightsRead;
    return false;
}

// Positions of a board's records in the order of a display mode: 1 the file order; 2 the
// numbers ascending (the first record of each number from 1 upward); 3 the numbers descending.
std::vector<size_t> InDisplayOrder(const RawMessageIndex& index, int mode) {
    std::vector<size_t> order;
    if (mode != 2 && mode != 3) {
        order.resize(index.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        return order;
    }
    std::vector<std::pair<int32_t, size_t>> byNumber;
    for (size_t i = 0; i < index.size(); ++i)
        if (index.number(i) >= 1) byNumber.emplace_back(index.number(i), i);
    std::sort(byNumber.begin(), byNumber.end());
    for (size_t k = 0; k < byNumber.size(); ++k)
        if (k == 0 || byNumber[k].first != byNumber[k - 1].first) order.push_back(byNumber[k].second);
    if (mode == 3) std::reverse(order.begin(), order.end());
    return order;
}

void OpenForm(Run& run, const char* job, bool named = false) {
    run.out.Printf("<FORM %sENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n",
                   named ? "NAME=\"INPUT\" " : "", ScriptAttr(run).c_str());
    WriteHidden(run, "SKEY", CutToSlot(run.login.SKEY, kKeyFieldCapacity));
    WriteHidden(run, "JOB", job);
}

}  // namespace

void ShowUnreadMessages(Run& run) {
    Output& o = run.out;
    const UserRecord& caller = run.login.user;
    WritePageHead(run);
    WriteBackgroundBody(run);
    o << "<FONT SIZE=\"5\"><B>" << run.msg(102) << "</B></FONT><P>\n";
    if (caller.MODE == kSharedAccount) {
        o << run.msg(3) << "\n<FORM>\n";
        o.Printf("<INPUT TYPE=\"button\" VALUE=\"%s\" onClick=\"history.back()\">\n",
                 run.msg(4).c_str());
        o << "</FORM>\n</BODY>\n</HTML>\n";
        return;
    }

    OpenForm(run, "NRDETAILSWR");
    const std::string& dataDir = run.dataDir();
    for (const FolderRecord& f : ReadableFolders(run)) {
        if (FindNoReadEntry(dataDir, f.folderNo, caller.USER_ID) >= 1) continue;
        WriteFolderLine(run, f, true);
        if (f.kind != kFolderBoard) continue;
        // The blocks' records are read at their offsets; only the unread ones are unpacked.
        ShownBoard board(run, f.folderNo);
        for (size_t i : InDisplayOrder(board.index(), caller.USER_DISP_DEF)) {
            ReadMark mark;
            if (FindReadMark(dataDir, f.folderNo, board.index().number(i), caller.USER_ID, mark) == 0)
                continue;
            WriteMessageBlock(run, board, board.index().entry(i), true);
        }
    }

    o << "<CENTER>\n<TABLE>\n<TR>\n<TD>\n";
    o.Printf("<INPUT TYPE=\"submit\" VALUE=\"%s\" onClick=\"return confirm('%s')\"> \n",
             run.msg(332).c_str(), run.msg(333).c_str());
    o << "</FORM>\n</TD>\n<TD>\n";
    OpenForm(run, "NRDETAILS");
    o << "<INPUT TYPE=\"hidden\" name=\"CHK_ALL\" value=\"1\">\n";
    o.Printf("<INPUT TYPE=\"submit\" VALUE=\"%s\">\n", run.msg(361).c_str());
    o << "</FORM>\n</TD>\n</TR>\n</TABLE>\n</CENTER>\n</BODY>\n</HTML>\n";
}

int SaveUnreadMarks(Run& run) {
    const UserRecord& caller = run.login.user;
    if (caller.MODE == kSharedAccount) return 0;
    const std::string& dataDir = run.dataDir();
    DataLock lock(dataDir);
    if (!lock.held()) return kUnreadNotStored;
    bool stored = true;
    std::map<int, RawMessageIndex> indexes;  // each index read once
    for (int i = 0;; ++i) {
        const std::string value = GetField(run.fields, "FOLSEL", i, kFieldCapacity);
        if (value.empty()) break;
        const size_t comma = value.find(',');
        if (comma == std::string::npos) continue;
        const int folderNo = ParseInt(std::string_view(value).substr(0, comma));
        const int messageNo = ParseInt(std::string_view(value).substr(comma + 1));
        if (messageNo < 1 || !IsReadableBoard(run, folderNo)) continue;
        auto it = indexes.find(folderNo);
        if (it == indexes.end())
            it = indexes.emplace(folderNo, ReadRawMessageIndex(dataDir, folderNo)).first;
        if (it->second.find(messageNo) < 0) continue;
        ReadMark mark;
        mark.messageNo = messageNo;
        mark.userId = caller.USER_ID;
        mark.count = 0;
        if (SaveReadMark(dataDir, folderNo, mark) != 0) stored = false;
    }
    return stored ? 0 : kUnreadNotStored;
}

void ShowUnreadSettings(Run& run) {
    Output& o = run.out;
    const UserRecord& caller = run.login.user;
    WritePageHead(run);
    WriteBackgroundBody(run);
    o << "<FONT SIZE=\"5\"><B>" << run.msg(373) << "</B></FONT>\n<P>\n<HR>\n<P>\n";
    o.Printf("%s:%s[%s]\n<P>\n", run.msg(137).c_str(), HtmlEscape(caller.USER_NAME).c_str(),
             HtmlEscape(caller.USER_ID).c_str());
    OpenForm(run, "SETNOREAD_WR", true);
    o << "<TABLE BORDER>\n<TR>\n";
    o << "<TD BGCOLOR=\"#E0FFFF\">" << run.msg(374) << "</TD>\n";
    o << "<TD BGCOLOR=\"#E0FFFF\">" << run.msg(375) << "</TD>\n</TR>\n<TR>\n";

    std::vector<const FolderRecord*> boards;
    for (const FolderRecord& f : FolderTree(run))
        if (f.kind == kFolderBoard && FolderRights(run, f.folderNo) >= kRightsRead)
            boards.push_back(&f);
    auto option = [&](const FolderRecord* f) {
        o.Printf("<OPTION VALUE=\"%d\">%s\n", f->folderNo, HtmlEscape(f->name).c_str());
    };

    o << "<TD BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\">\n<SELECT NAME=\"NOWNOREAD\" SIZE=5 MULTIPLE>\n";
    for (const FolderRecord* f : boards)
        if (FindNoReadEntry(run.dataDir(), f->folderNo, caller.USER_ID) >= 1) option(f);
    o << "</SELECT><BR>\n";
    o.Printf("<INPUT TYPE=\"submit\" NAME=\"BOARD_OUT\" VALUE=\"%s\">\n</TD>\n",
             run.msg(172).c_str());

    o << "<TD BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\">\n<SELECT NAME=\"BOARDLIST\" SIZE=5 MULTIPLE>\n";
    for (const FolderRecord* f : boards) option(f);
    o << "</SELECT><BR>\n";
    o.Printf("<INPUT TYPE=\"submit\" NAME=\"BOARD_IN\" VALUE=\"%s\">\n</TD>\n",
             run.msg(171).c_str());
    o << "</TR>\n</TABLE>\n</FORM>\n</BODY>\n</HTML>\n";
}

int SaveUnreadSettings(Run& run) {
    const std::string& dataDir = run.dataDir();
    const std::string& id = run.login.user.USER_ID;
    if (id.empty()) return 0;
    DataLock lock(dataDir);
    if (!lock.held()) return kUnreadNotStored;
    bool stored = true;
    if (!GetField(run.fields, "BOARD_OUT", 0, kFieldCapacity).empty())
        for (int folderNo : RepeatedNumbers(run, "NOWNOREAD"))
            if (IsReadableBoard(run, folderNo) &&
                RemoveNoReadEntry(dataDir, folderNo, id) == kNoReadNotStored)
                stored = false;
    if (!GetField(run.fields, "BOARD_IN", 0, kFieldCapacity).empty())
        for (int folderNo : RepeatedNumbers(run, "BOARDLIST"))
            if (IsReadableBoard(run, folderNo) &&
                AddNoReadEntry(dataDir, folderNo, id) == kNoReadNotStored)
                stored = false;
    return stored ? 0 : kUnreadNotStored;
}
