#include "board/detail.h"

#include <algorithm>
#include <cstdio>

#include "app/rights.h"
#include "app/session.h"
#include "board/common.h"
#include "board/sanitize.h"
#include "cgi/html.h"
#include "cgi/request.h"
#include "cgi/text.h"
#include "store/attachments.h"
#include "store/bodies.h"
#include "store/readmarks.h"
#include "store/recordfile.h"

// Field capacities of the detail page.
static constexpr size_t kNumberCapacity = 104000;

static constexpr const char* kValueCell = "<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"LEFT\">";

std::string QuoteColour(const FolderSettings& settings) {
    return settings.RESFONTCOLOR.empty() ? std::string("0000FF") : settings.RESFONTCOLOR;
}

void WriteDeletedNotice(Run& run, MessageView view) {
    Output& o = run.out;
    if (view == MessageView::kDetail) {
        o << run.msg(285) << "<BR>\n"
          << run.msg(286) << "<BR>\n"
          << run.msg(287) << "<BR>\n"
          << run.msg(288) << "<P>\n";
    } else {
        o << "<BR>" << run.msg(285) << "<BR>"
          << run.msg(286) << "<BR>"
          << run.msg(287) << "<BR>"
          << run.msg(288) << "<P>\n";
    }
}

// "Re:^depth:title" for a reply, the title alone otherwise (unescaped).
static std::string ShownTitle(const MessageIndexEntry& e) {
    if (e.depth > 0) return "Re:^" + std::to_string(e.depth) + ":" + e.WRITE_TITLE;
    return e.WRITE_TITLE;
}

void WriteReaderList(Run& run, int folderNo, const MessageIndexEntry& entry, MessageView view) {
    Output& o = run.out;
    const std::vector<ReadMark> marks = ReadReadMarks(run.dataDir(), folderNo, entry.messageNo);
    o.Printf("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\" ROWSPAN=3 >%s\n", "#E0FFFF",
             run.msg(282).c_str());
    if (view == MessageView::kDetail) o << "<FORM>\n";
    o << "<SELECT>\n";
    if (marks.empty()) {
        o << "<OPTION VALUE=\"0\">" << run.msg(284) << "\n";
    } else {
        o.Printf("<OPTION>%d %s\n", static_cast<int>(marks.size()), run.msg(283).c_str());
        for (const ReadMark& m : marks)
            o << "<OPTION VALUE=\"0\">" << HtmlEscape(WriterName(run, m.userId)) << "\n";
    }
    o << "</SELECT>\n";
    if (view == MessageView::kDetail) o << "</FORM>\n";
    o << "\t</TD>\n";
}

void WriteWriterPicture(Run& run, int /*folderNo*/, const MessageIndexEntry& entry) {
    const UserRecord* u = FindListedUser(run, entry.userId);
    if (u == nullptr || u->PICFILE.empty()) return;
    run.out << "\t<TD NOWRAP ALIGN=\"CENTER\" ROWSPAN=3 >";
    run.out.Printf("<IMG SRC=\"%suserpic/%s/%s\">",
                   HtmlEscape(run.settings.CG_FILE_WEB_PATH).c_str(),
                   HtmlEscape(UrlEncodeValue(u->USER_ID)).c_str(),
                   HtmlEscape(UrlEncodeValue(u->PICFILE)).c_str());
    run.out << "</TD>\n";
}

void WriteWriterCell(Run& run, int /*folderNo*/, const MessageIndexEntry& entry) {
    Output& o = run.out;
    const UserRecord* u = FindListedUser(run, entry.userId);
    const bool mail = u != nullptr && !u->E_MAIL_ADDR.empty();
    if (mail)
        o.Printf("<A HREF=\"mailto:%s?subject=Re:%s\">",
                 HtmlEscape(UrlEncodeValue(u->E_MAIL_ADDR)).c_str(),
                 HtmlEscape(UrlEncodeValue(entry.WRITE_TITLE)).c_str());
    const std::string name = u != nullptr ? u->USER_NAME : entry.userId;
    o.Printf("%s  [%s]", HtmlEscape(name).c_str(), HtmlEscape(entry.userId).c_str());
    if (mail) o << "</A>";
}

void WriteMessageHeader(Run& run, int folderNo, const MessageIndexEntry& entry, MessageView view,
                        int linkMode) {
    Output& o = run.out;
    o << "<TABLE BORDER=0>\n";
    if (view == MessageView::kDetail) {
        o << "<TR>\n" << kValueCell << "SEL:</TD>\n";
        o << kValueCell << entry.messageNo << "</TD>\n</TR>\n";
    }

    o << "<TR>\n" << kValueCell << run.msg(279) << "</TD>\n";
    if (view == MessageView::kDetail) {
        // The title is escaped first, so the only markup in it is the links LinkUrls makes;
        // their addresses end before any quote or angle bracket.
        std::string title = HtmlEscape(ShownTitle(entry));
        LinkUrls(title);
        o << kValueCell << title << "</TD>\n";
    } else {
        o << kValueCell;
        o.Printf("<A HREF=\"%s?SKEY=%s&JOB=DETAILS&FOLDER_NO=%d&SEL_NO=%d&USER_DISP_DEF=%d\">",
                 ScriptAttr(run).c_str(), KeyAttr(run).c_str(), folderNo, entry.messageNo,
                 linkMode);
        o << HtmlEscape(ShownTitle(entry)) << "</A></TD>\n";
    }
    if (entry.READ_CHK == 2) WriteReaderList(run, folderNo, entry, view);
    WriteWriterPicture(run, folderNo, entry);
    o << "</TR>\n";

    o << "<TR>\n" << kValueCell << run.msg(280) << "</TD>\n" << kValueCell;
    WriteWriterCell(run, folderNo, entry);
    o << "</TD>\n</TR>\n";

    o << "<TR>\n" << kValueCell << run.msg(281) << "</TD>\n"
      << kValueCell << HtmlEscape(ShownDate(run, entry.date)) << "</TD>\n</TR>\n";
    o << "</TABLE>\n";
}

std::string PrepareMessageBody(Run& run, int folderNo, const MessageIndexEntry& entry,
                               const FolderSettings& settings) {
    std::string body;
    ReadMessageBody(run.dataDir(), folderNo, entry.messageNo, body);  // missing: empty
    ColorQuotes(body, QuoteColour(settings));
    if (entry.HTML_MODE == 0) {
        LinkUrls(body);
        LineBreaksToHtml(body);
    } else if (entry.HTML_MODE == 1) {
        body = "<PRE>" + body + "</PRE>";
    }
    return CleanBodyHtml(body);
}

void WriteAttachmentList(Run& run, int folderNo, const MessageIndexEntry& entry,
                         const FolderSettings& settings) {
    if (entry.attachCount < 1) return;
    WriteAttachmentList(run, folderNo, entry, settings, ReadAttachments(run.dataDir(), folderNo));
}

void WriteAttachmentList(Run& run, int folderNo, const MessageIndexEntry& entry,
                         const FolderSettings& settings, const std::vector<AttachmentEntry>& all) {
    if (entry.attachCount < 1) return;
    Output& o = run.out;
    for (int slot = 1; slot <= settings.ADD_MAX; ++slot) {
        auto it = std::find_if(all.begin(), all.end(), [&](const AttachmentEntry& a) {
            return a.messageNo == entry.messageNo && a.slot == slot;
        });
        if (it == all.end()) continue;
        char tail[64];
        snprintf(tail, sizeof tail, "%d/X%d/%d/", folderNo, entry.messageNo, slot);
        std::string size = std::to_string(FileSize(run.settings.ADD_FILE_PATH + tail + it->fileName));
        GroupThousands(size);
        o.Printf("%s %d:", run.msg(273).c_str(), slot);
        o.Printf("<A HREF=\"%s\">%s (%s byte)</A><P>\n",
                 AttachmentLink(run, folderNo, entry.messageNo, slot).c_str(),
                 HtmlEscape(it->fileName).c_str(), size.c_str());
    }
}

// The thread table of the thread's records in index order.
static void WriteThreadRows(Run& run, int folderNo, const MessageIndexEntry& entry, int linkMode,
                            const std::vector<const MessageIndexEntry*>& thread) {
    if (thread.size() < 2) return;

    Output& o = run.out;
    const std::string script = ScriptAttr(run);
    const std::string key = KeyAttr(run);
    o << "<TABLE BORDER>\n<TR>\n";
    o << "<TD BGCOLOR=\"#E0FFFF\" NOWRAP><B>" << run.msg(297) << "</B></TD>\n";
    o << "<TD BGCOLOR=\"#E0FFFF\" NOWRAP>" << run.msg(298) << "</TD>\n";
    o << "<TD BGCOLOR=\"#E0FFFF\" NOWRAP>" << run.msg(299) << "</TD>\n";
    o << "<TD BGCOLOR=\"#E0FFFF\" NOWRAP>" << run.msg(300) << "</TD>\n";
    o << "</TR>\n";
    for (const MessageIndexEntry* e : thread) {
        o << "<TR>\n";
        if (e->messageNo == entry.messageNo)
            o << "<TD BGCOLOR=\"#FFB6C1\" NOWRAP>NowDisp</TD>\n";
        else
            o << "<TD BGCOLOR=\"#FFFFFF\"><BR></TD>\n";
        o << "<TD BGCOLOR=\"#FFFFFF\" NOWRAP>";
        WriteThreadIndent(o, e->depth, thread.size());
        o.Printf("<A HREF=\"%s?SKEY=%s&JOB=DETAILS&FOLDER_NO=%d&SEL_NO=%d&USER_DISP_DEF=%d\">",
                 script.c_str(), key.c_str(), folderNo, e->messageNo, linkMode);
        if (e->depth > 0) o.Printf("Re:^%d:", e->depth);
        if (e->deleted != 0) o << "--Delete--";
        else o << HtmlEscape(e->WRITE_TITLE);
        o << "</A></TD>\n";
        if (e->deleted != 0)
            o << "<TD BGCOLOR=\"#FFFFFF\"><BR></TD>\n";
        else
            o << "<TD BGCOLOR=\"#FFFFFF\" NOWRAP>" << HtmlEscape(WriterName(run, e->userId))
              << "</TD>\n";
        o << "<TD BGCOLOR=\"#FFFFFF\" NOWRAP>" << HtmlEscape(ShownDate(run, e->date)) << "</TD>\n";
        o << "</TR>\n";
    }
    o << "</TABLE>\n";
}

// The thread table of the records at those positions of the index (ascending), read there.
static void WriteThreadRowsAt(Run& run, int folderNo, const MessageIndexEntry& entry,
                              int linkMode, const RawMessageIndex& index,
                              const std::vector<size_t>& positions) {
    if (positions.size() < 2) return;
    std::vector<MessageIndexEntry> records;
    for (size_t i : positions) records.push_back(index.entry(i));
    std::vector<const MessageIndexEntry*> thread;
    for (const MessageIndexEntry& e : records) thread.push_back(&e);
    WriteThreadRows(run, folderNo, entry, linkMode, thread);
}

void WriteThreadTable(Run& run, int folderNo, const MessageIndexEntry& entry, int linkMode,
                      const RawMessageIndex& index) {
    std::vector<size_t> positions;
    for (size_t i = 0; i < index.size(); ++i)
        if (index.thread(i) == entry.threadNo) positions.push_back(i);
    WriteThreadRowsAt(run, folderNo, entry, linkMode, index, positions);
}

// The shown message with the attachment list and the thread table written by the caller's
// means (from the records as read for one message or for a board of blocks).
template <class Attachments, class ThreadTable>
static void WriteShownMessageWith(Run& run, int folderNo, const MessageIndexEntry& entry,
                                  const FolderSettings& settings, MessageView view, int linkMode,
                                  const Attachments& attachments, const ThreadTable& threadTable) {
    Output& o = run.out;
    const std::string colour = HtmlEscape(settings.FONTCOLOR);
    if (entry.deleted != 0) {
        WriteDeletedNotice(run, view);
    } else {
        WriteMessageHeader(run, folderNo, entry, view, linkMode);
        const std::string body = PrepareMessageBody(run, folderNo, entry, settings);
        // The detail page sets the body between rules; a block runs on to its next message.
        if (view == MessageView::kDetail) o << "<HR>\n";
        if (!colour.empty()) o << "<FONT COLOR=\"#" << colour << "\">";
        o << body << (view == MessageView::kDetail ? "\n<HR>\n<P>\n" : "\n<P>\n");
        attachments();
    }
    // Also after the notice of a deleted message, where no colour was opened (a browser ignores
    // the unmatched end tag).
    if (!colour.empty()) o << "</FONT>\n";
    threadTable();
}

void WriteShownMessage(Run& run, int folderNo, const MessageIndexEntry& entry,
                       const FolderSettings& settings, MessageView view, int linkMode,
                       const RawMessageIndex& index) {
    WriteShownMessageWith(
        run, folderNo, entry, settings, view, linkMode,
        [&] { WriteAttachmentList(run, folderNo, entry, settings); },
        [&] { WriteThreadTable(run, folderNo, entry, linkMode, index); });
}

ShownBoard::ShownBoard(Run& run, int folderNo)
    : ShownBoard(run, folderNo, ReadRawMessageIndex(run.dataDir(), folderNo)) {}

ShownBoard::ShownBoard(Run& run, int folderNo, RawMessageIndex index)
    : run_(run),
      folderNo_(folderNo),
      index_(std::move(index)),
      settings_(FolderSettingsOrEmpty(run, folderNo)) {}

std::vector<size_t> ShownBoard::Thread(int32_t threadNo) {
    // One ordering of every record by thread, made on first use, serves every block after it.
    auto key = [](int32_t thread, size_t position) {
        return (static_cast<uint64_t>(static_cast<uint32_t>(thread) ^ 0x80000000u) << 32) |
               static_cast<uint64_t>(position);
    };
    if (byThread_.size() != index_.size()) {
        byThread_.clear();
        byThread_.reserve(index_.size());
        for (size_t i = 0; i < index_.size(); ++i) byThread_.push_back(key(index_.thread(i), i));
        std::sort(byThread_.begin(), byThread_.end());
    }
    std::vector<size_t> positions;
    for (auto it = std::lower_bound(byThread_.begin(), byThread_.end(), key(threadNo, 0));
         it != byThread_.end() && (*it >> 32) == (key(threadNo, 0) >> 32); ++it)
        positions.push_back(static_cast<size_t>(*it & 0xFFFFFFFFu));
    return positions;
}

const std::vector<AttachmentEntry>& ShownBoard::Attachments() {
    if (!attachments_) attachments_ = ReadAttachments(run_.dataDir(), folderNo_);
    return *attachments_;
}

void WriteShownMessage(Run& run, ShownBoard& board, const MessageIndexEntry& entry,
                       MessageView view, int linkMode) {
    const int folderNo = board.folderNo();
    WriteShownMessageWith(
        run, folderNo, entry, board.settings(), view, linkMode,
        [&] {
            if (entry.attachCount >= 1)
                WriteAttachmentList(run, folderNo, entry, board.settings(), board.Attachments());
        },
        [&] {
            WriteThreadRowsAt(run, folderNo, entry, linkMode, board.index(),
                              board.Thread(entry.threadNo));
        });
}

MessageNeighbours FindNeighbours(const RawMessageIndex& index, int mode, int selNo) {
    MessageNeighbours r;
    const size_t count = index.size();
    if (mode != 2 && mode != 3) {
        // File order, every record.
        const long at = index.find(selNo);
        if (at < 0) {
            if (count > 0) r.previous = index.number(count - 1);
            return r;
        }
        const size_t i = static_cast<size_t>(at);
        if (i > 0) r.previous = index.number(i - 1);
        if (i + 1 < count) r.next = index.number(i + 1);
        r.page = static_cast<int>(i / kRowsPerPage) + 1;
        return r;
    }
    // The distinct numbers from 1 up to the last record's number, ascending: only the nearest
    // below and above and the rank are needed.
    const int32_t last = count == 0 ? 0 : index.number(count - 1);
    if (last < 1) return r;
    bool found = false;
    int32_t below = 0, above = 0;
    std::vector<int32_t> lower;  // distinct numbers below selNo, when they are sparse
    const bool dense = static_cast<size_t>(last) <= 8 * count + 1024;
    std::vector<bool> seen(dense ? static_cast<size_t>(last) + 1 : 0, false);
    long rank = 0;  // distinct numbers below selNo
    int32_t greatest = 0;
    for (size_t i = 0; i < count; ++i) {
        const int32_t n = index.number(i);
        if (n < 1 || n > last) continue;
        greatest = std::max(greatest, n);
        if (n == selNo) found = true;
        else if (n < selNo) below = std::max(below, n);
        else if (above == 0 || n < above) above = n;
        if (n < selNo) {
            if (dense) {
                if (!seen[static_cast<size_t>(n)]) {
                    seen[static_cast<size_t>(n)] = true;
                    ++rank;
                }
            } else {
                lower.push_back(n);
            }
        }
    }
    if (!dense) {
        std::sort(lower.begin(), lower.end());
        rank = std::unique(lower.begin(), lower.end()) - lower.begin();
    }
    if (!found) {
        // Not reached: every number walked lies before it; the previous is the greatest.
        r.previous = std::max(below, greatest);
        return r;
    }
    r.previous = below;
    r.next = above;
    r.page = static_cast<int>(rank / kRowsPerPage) + 1;
    return r;
}

MessageNeighbours FindNeighbours(const std::vector<MessageIndexEntry>& index, int mode, int selNo) {
    MessageNeighbours r;
    // The entries in the order of the walk.
    std::vector<int> walk;
    if (mode == 2 || mode == 3) {
        const int last = index.empty() ? 0 : index.back().messageNo;
        for (const MessageIndexEntry& e : index)
            if (e.messageNo >= 1 && e.messageNo <= last) walk.push_back(e.messageNo);
        std::sort(walk.begin(), walk.end());
        walk.erase(std::unique(walk.begin(), walk.end()), walk.end());
    } else {
        for (const MessageIndexEntry& e : index) walk.push_back(e.messageNo);
    }
    auto it = std::find(walk.begin(), walk.end(), selNo);
    if (it == walk.end()) {
        // Not reached: every number walked lies before it.
        if (!walk.empty()) r.previous = walk.back();
        return r;
    }
    const int count = static_cast<int>(it - walk.begin()) + 1;
    if (it != walk.begin()) r.previous = *(it - 1);
    if (it + 1 != walk.end()) r.next = *(it + 1);
    r.page = (count - 1) / kRowsPerPage + 1;
    return r;
}

namespace {

void OpenForm(Run& run, bool posting) {
    run.out.Printf("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST%s>\n",
                   ScriptAttr(run).c_str(),
                   posting && run.login.user.WRITE_MODE == 2 ? " TARGET=\"WBORDWRITE\"" : "");
    run.out.Printf("<INPUT TYPE=\"hidden\" NAME=\"SKEY\" VALUE=\"%s\">\n", KeyAttr(run).c_str());
}

void WriteNeighbourForm(Run& run, int folderNo, int mode, int selNo, const std::string& label,
                        const std::string& alert) {
    Output& o = run.out;
    o << "<TD>\n";
    OpenForm(run, false);
    WriteHidden(run, "JOB", "DETAILS");
    WriteHidden(run, "FOLDER_NO", folderNo);
    WriteHidden(run, "USER_DISP_DEF", mode);
    WriteHidden(run, "SEL_NO", selNo);
    if (selNo != 0)
        o.Printf("<INPUT TYPE=\"submit\" VALUE=\"%s\">\n", label.c_str());
    else
        o.Printf("<INPUT TYPE=\"button\" VALUE=\"%s\" onClick=\"alert('%s')\">\n", label.c_str(),
                 alert.c_str());
    o << "</FORM>\n</TD>\n";
}

void WriteNavigation(Run& run, int folderNo, int mode, const MessageNeighbours& nb) {
    Output& o = run.out;
    o << "<TABLE>\n<TR>\n<TD>\n";
    OpenForm(run, false);
    WriteHidden(run, "JOB", "ROOM");
    WriteHidden(run, "FOLDER_NO", folderNo);
    WriteHidden(run, "DISP_PAGE", nb.page);
    WriteHidden(run, "USER_DISP_DEF", mode);
    o.Printf("<INPUT TYPE=\"submit\" VALUE=\"%s\">\n", run.msg(4).c_str());
    o << "</FORM>\n</TD>\n";
    WriteNeighbourForm(run, folderNo, mode, nb.previous, run.msg(301), run.msg(302));
    WriteNeighbourForm(run, folderNo, mode, nb.next, run.msg(303), run.msg(304));
    o << "</TR>\n</TABLE>\n";
}

// One button of the posting row in a form of its own: JOB, SEL_NO (when selNo > 0), FOLDER_NO
// and USER_DISP_DEF; with a question, the button asks it before submitting.
void WriteMessageButton(Run& run, bool posting, const char* job, int selNo, int folderNo, int mode,
                        const std::string& label, const std::string& question = "") {
    Output& o = run.out;
    o << "<TD>\n";
    OpenForm(run, posting);
    WriteHidden(run, "JOB", job);
    if (selNo > 0) WriteHidden(run, "SEL_NO", selNo);
    WriteHidden(run, "FOLDER_NO", folderNo);
    WriteHidden(run, "USER_DISP_DEF", mode);
    if (question.empty())
        o.Printf("<INPUT TYPE=\"submit\" VALUE=\"%s\">\n", label.c_str());
    else
        o.Printf("<INPUT TYPE=\"submit\" VALUE=\"%s\" onClick=\"return confirm('%s')\">\n",
                 label.c_str(), question.c_str());
    o << "</FORM>\n</TD>\n";
}

void WritePostingRow(Run& run, int folderNo, int mode, const MessageIndexEntry& entry,
                     const FolderSettings& fs, int rights) {
    const UserRecord& viewer = run.login.user;
    const bool member = viewer.MODE == kMemberAccount;
    const bool writer = !viewer.USER_ID.empty() && viewer.USER_ID == entry.userId;
    const int selNo = entry.messageNo;
    run.out << "<TABLE>\n<TR>\n";
    WriteMessageButton(run, true, "BORDWRITE", 0, folderNo, mode, run.msg(270));
    WriteMessageButton(run, true, "BORDWRITE", selNo, folderNo, mode, run.msg(271));
    if (fs.REWRITE_FLG == 2 && writer && member)
        WriteMessageButton(run, true, "EDITMSG", selNo, folderNo, mode, run.msg(330));
    if (member && (rights >= kRightsManage || writer))
        WriteMessageButton(run, false, "DELMSG", selNo, folderNo, mode, run.msg(289), run.msg(290));
    run.out << "</TR>\n</TABLE>\n";
}

}  // namespace

void ShowMessageDetail(Run& run) {
    Output& o = run.out;
    const int folderNo = IntField(run, "FOLDER_NO", kNumberCapacity);
    const int selNo = IntField(run, "SEL_NO", kNumberCapacity);
    int mode = RequestedDisplayMode(run, kNumberCapacity);
    if (mode != 2 && mode != 3) mode = 1;

    const int rights = FolderRights(run, folderNo);
    WritePageHead(run);
    if (rights < kRightsRead) {
        WriteRefusalBody(run);
        return;
    }

    const RawMessageIndex index = ReadRawMessageIndex(run.dataDir(), folderNo);
    const long found = selNo < 1 ? -1 : index.find(selNo);
    if (found < 0) {
        WriteRefusalBody(run);
        return;
    }
    const MessageIndexEntry entry = index.entry(static_cast<size_t>(found));

    const FolderSettings fs = FolderSettingsOrEmpty(run, folderNo);
    WriteFolderBodyTag(run, folderNo, fs);
    WriteFolderTitle(run, folderNo, FolderName(run, folderNo));
    o << "<HR>\n";

    ReadMark mark;
    const std::string& viewer = run.login.user.USER_ID;
    if (FindReadMark(run.dataDir(), folderNo, selNo, viewer, mark) != 0) {
        mark.messageNo = selNo;
        mark.userId = viewer;
        mark.count = 0;
        long copies = 0;
        for (size_t i = static_cast<size_t>(found); i < index.size(); ++i)
            if (index.number(i) == selNo) ++copies;
        SaveReadMarkCounted(run.dataDir(), folderNo, mark, copies);
    }

    const MessageNeighbours nb = FindNeighbours(index, mode, selNo);
    WriteShownMessage(run, folderNo, entry, fs, MessageView::kDetail, mode, index);
    WriteNavigation(run, folderNo, mode, nb);
    if (rights >= kRightsWrite) WritePostingRow(run, folderNo, mode, entry, fs, rights);
    o << "</BODY>\n"
      << "</HTML>\n";
}
