#include "board/search.h"

#include <algorithm>

#include "app/session.h"
#include "board/block.h"
#include "board/common.h"
#include "cgi/dbcs.h"
#include "cgi/html.h"
#include "cgi/request.h"
#include "store/bodies.h"
#include "store/messages.h"
#include "store/recordfile.h"

namespace {

constexpr size_t kConditionCapacity = 252;
constexpr size_t kWriterCapacity = 82;
constexpr size_t kNumberCapacity = 20;
constexpr size_t kWordSlots = 10;

// Fields of an index record that the search looks at (store/messages.h gives the layout).
constexpr size_t kNumberOffset = 4;
constexpr size_t kWriterOffset = 44, kWriterSize = 22;
constexpr size_t kTitleOffset = 66, kTitleSize = 82;
constexpr size_t kDeletedOffset = 152;

constexpr int kAnyWord = 1;
constexpr int kAllWords = 2;

// Tests the words against a text. Any word: true when one is contained. All words: every
// contained word is cleared from its slot; true when no slot holds a word any more.
bool MatchWords(std::vector<std::string>& words, std::string_view text, int stat) {
    if (stat == kAnyWord) {
        return std::any_of(words.begin(), words.end(), [&](const std::string& w) {
            return !w.empty() && FindText(text, w) >= 0;
        });
    }
    for (std::string& w : words)
        if (!w.empty() && FindText(text, w) >= 0) w.clear();
    return std::all_of(words.begin(), words.end(), [](const std::string& w) { return w.empty(); });
}

}  // namespace

std::vector<std::string> SearchWords(const std::string& condition) {
    std::vector<std::string> words;
    size_t start = 0;
    while (words.size() < kWordSlots) {
        const size_t space = condition.find(' ', start);
        words.push_back(condition.substr(start, space - start));
        if (space == std::string::npos) break;
        start = space + 1;
    }
    words.resize(kWordSlots);
    return words;
}

void ShowSearchForm(Run& run) {
    Output& o = run.out;
    WritePageHead(run);
    WriteBackgroundBody(run);
    o << "<FONT SIZE=\"5\"><B>" << run.msg(334) << "</B></FONT><P>\n";
    o << run.msg(335) << "<P>\n<HR>\n<P>\n" << run.msg(336) << "<P>\n";
    o.Printf("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n",
             ScriptAttr(run).c_str());
    WriteHidden(run, "SKEY", CutToSlot(run.login.SKEY, kKeyFieldCapacity));
    WriteHidden(run, "JOB", "SEARCHDISP");
    o << "<INPUT TYPE=\"text\" NAME=\"CONDITION\" SIZE=\"40\" MAXLENGTH=\"250\">\n";
    o.Printf("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\">\n<P>\n", run.msg(334).c_str());
    o << run.msg(342)
      << "<INPUT TYPE=\"text\" NAME=\"WRITER\" SIZE=\"30\" MAXLENGTH=\"80\">\n<P>\n";
    o << "<DT>" << run.msg(337) << "\n";
    o << "<DD><INPUT TYPE=\"radio\" NAME=\"STAT\" VALUE=\"1\" checked>" << run.msg(338) << "\n";
    o << "<DD><INPUT TYPE=\"radio\" NAME=\"STAT\" VALUE=\"2\">" << run.msg(339) << "\n<P>\n";
    o << "<DT>" << run.msg(340) << "\n";
    o << "<DD><SELECT NAME=\"FOLDER_NO\" >\n";
    o << "<OPTION VALUE=\"0\">" << run.msg(341) << "\n";
    for (const FolderRecord& f : ReadableFolders(run))
        o.Printf("<OPTION VALUE=\"%d\">%s\n", f.folderNo, HtmlEscape(f.name).c_str());
    o << "</SELECT>\n<P>\n<HR>\n</FORM>\n</BODY>\n</HTML>\n";
}

void ShowSearchResults(Run& run) {
    Output& o = run.out;
    const std::string condition = GetField(run.fields, "CONDITION", 0, kConditionCapacity);
    const std::string writer = GetField(run.fields, "WRITER", 0, kWriterCapacity);
    const int stat = IntField(run, "STAT", kNumberCapacity) == kAllWords ? kAllWords : kAnyWord;
    const int chosen = IntField(run, "FOLDER_NO", kNumberCapacity);
    const std::vector<std::string> words = SearchWords(condition);

    WritePageHead(run);
    WriteBackgroundBody(run);
    o << "<FONT SIZE=\"5\"><B>" << run.msg(343) << "</B></FONT><P>\n";
    o.Printf("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n",
             ScriptAttr(run).c_str());
    WriteHidden(run, "SKEY", CutToSlot(run.login.SKEY, kKeyFieldCapacity));
    WriteHidden(run, "JOB", "NRDETAILSWR");

    const std::string& dataDir = run.dataDir();
    for (const FolderRecord& f : ReadableFolders(run)) {
        if (chosen >= 1 && f.folderNo != chosen) continue;
        WriteFolderLine(run, f, false);
        if (f.kind != kFolderBoard) continue;
        // Every record's deleted flag, title and writer are looked at as the index is read;
        // the records found are unpacked at their offsets when their blocks are written.
        std::vector<size_t> found;
        RawMessageIndex index = ReadRawMessageIndex(
            dataDir, f.folderNo, [&](size_t position, std::string_view r) {
                if (GetInt32(r, kDeletedOffset) != 0) return;
                int state = 0;
                if (!condition.empty()) {
                    std::vector<std::string> left = words;
                    if (MatchWords(left, GetSlotText(r, kTitleOffset, kTitleSize), stat))
                        state = stat;
                    if (state == 0) {
                        std::string body;
                        ReadMessageBody(dataDir, f.folderNo, GetInt32(r, kNumberOffset), body);
                        if (MatchWords(left, body, stat)) state = stat;
                    }
                }
                if (!writer.empty() && state != 1) {
                    const UserRecord* u =
                        FindListedUser(run, GetSlotText(r, kWriterOffset, kWriterSize));
                    if (u != nullptr && FindText(u->USER_NAME, writer) >= 0) {
                        if (stat == kAnyWord || state == 2 || condition.empty()) state = 1;
                    }
                }
                if (writer.empty() && state == 2) state = 1;
                if (state == 1) found.push_back(position);
            });
        if (found.empty()) continue;
        ShownBoard board(run, f.folderNo, std::move(index));
        for (size_t i : found) WriteMessageBlock(run, board, board.index().entry(i), false);
    }
    o << "</FORM>\n</BODY>\n</HTML>\n";
}
