#include "board/batch.h"

#include "app/rights.h"
#include "app/session.h"
#include "board/common.h"
#include "board/post.h"
#include "cgi/html.h"
#include "cgi/request.h"
#include "cgi/text.h"
#include "store/accesslog.h"
#include "store/messages.h"
#include "store/recordfile.h"

namespace {

constexpr size_t kLineBuffer = 100000;
constexpr size_t kTitleSlot = 81;  // 80 bytes and the terminator
constexpr size_t kUploadCapacity = 1000;

// The number after the first skip characters of a line (0 when the line is shorter).
int NumberAfter(std::string_view line, size_t skip) {
    return line.size() > skip ? ParseInt(line.substr(skip)) : 0;
}

bool StartsWith(std::string_view line, std::string_view prefix) {
    return line.substr(0, prefix.size()) == prefix;
}

bool IsBoard(Run& run, int folderNo) {
    for (const FolderRecord& f : FolderTree(run))
        if (f.folderNo == folderNo) return f.kind == kFolderBoard;
    return false;
}

// Stores one record as the caller's new message, under the data lock on its own, so that
// posts made meanwhile keep their own numbers. 0 with the stored entry, or the number of the
// message that says why it was not stored.
int StoreBatchRecord(Run& run, const BatchRecord& r, MessageIndexEntry& entry) {
    const std::string& dataDir = run.dataDir();
    DataLock lock(dataDir);
    if (FolderRights(run, r.folderNo) < kRightsWrite || !IsBoard(run, r.folderNo)) return 3;
    if (r.body.size() > kBatchBodyMax) return 377;
    entry.folderNo = r.folderNo;
    entry.messageNo = r.replyTo > 0 ? r.replyTo : 0;
    entry.HTML_MODE = r.htmlMode;
    entry.WRITE_PRIORITY = r.priority;
    entry.date = DateStampAt(run.now);
    entry.userId = run.login.user.USER_ID;
    entry.WRITE_TITLE = r.title;
    entry.attachCount = 0;
    entry.deleted = 0;
    entry.READ_CHK = r.readCheck;
    return StoreNewMessage(dataDir, entry, r.body) == kPostStored ? 0 : 296;
}

}  // namespace

std::vector<BatchRecord> ParseBatchFile(std::string_view bytes) {
    const std::vector<std::string_view> lines = SplitTextLines(bytes, kLineBuffer);
    std::vector<BatchRecord> records;
    size_t i = 0;
    auto next = [&]() -> std::string_view { return i < lines.size() ? lines[i++] : ""; };
    while (i < lines.size()) {
        const std::string_view first = lines[i++];
        if (!StartsWith(first, ";board")) continue;
        BatchRecord r;
        r.folderNo = NumberAfter(first, 6);
        if (r.folderNo == 0) break;
        r.replyTo = NumberAfter(next(), 3);
        r.title = CutToSlot(next(), kTitleSlot);
        r.priority = NumberAfter(next(), 3);
        while (i < lines.size()) {
            const std::string_view line = lines[i++];
            if (StartsWith(line, "..")) break;
            // Whatever the line end was, a stored body line ends with a CR.
            r.body.append(line);
            r.body.push_back('\r');
        }
        r.readCheck = NumberAfter(next(), 4);
        r.htmlMode = NumberAfter(next(), 4);
        records.push_back(std::move(r));
    }
    return records;
}

void ShowBatchUploadForm(Run& run) {
    Output& o = run.out;
    WritePageHead(run);
    o << "<SCRIPT Language=\"JavaScript\">\n<!--\nfunction title_chk(){\n";
    o.Printf("  if(document.INPUT.FILE1.value == \"\"){\n    alert(\"%s\");\n    return false;\n  }\n",
             run.msg(367).c_str());
    o << "  return true;\n}\n// -->\n</SCRIPT>\n";
    WriteBackgroundBody(run);
    o << "<FONT SIZE=\"5\"><B>" << run.msg(365) << "</B></FONT>\n<P>\n<HR>\n<P>\n";
    o.Printf("<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n",
             ScriptAttr(run).c_str());
    WriteHidden(run, "SKEY", CutToSlot(run.login.SKEY, kKeyFieldCapacity));
    WriteHidden(run, "JOB", "BATCH_UPLOAD_WR");
    o << "<TABLE BORDER>\n<TR><TD BGCOLOR=\"#E0FFFF\">" << run.msg(7)
      << "</TD><TD BGCOLOR=\"#FFFFFF\"><INPUT TYPE=\"FILE\" NAME=\"FILE1\"></TD></TR>\n"
      << "</TABLE>\n<P>\n";
    o.Printf("<INPUT TYPE=\"submit\" VALUE=\"%s\" onClick=\"return title_chk()\"> \n",
             run.msg(366).c_str());
    o << "<P>\n</FORM>\n</BODY>\n</HTML>\n";
}

void BatchUpload(Run& run) {
    Output& o = run.out;
    std::string value = GetUploadField(run.fields, "FILE1", 0, kUploadCapacity);
    std::string client, temp;
    if (!value.empty()) SplitUploadValue(value, client, temp);
    const std::string path = temp.empty() ? std::string() : UploadTempPath(run, temp);
    UploadSweep sweep(run);  // the upload goes, whatever happens

    WritePageHead(run);
    WriteBackgroundBody(run);
    std::string bytes;
    if (!path.empty() && ReadWholeFile(path, bytes)) {
        for (const BatchRecord& r : ParseBatchFile(bytes)) {
            MessageIndexEntry entry;
            const int refusal = StoreBatchRecord(run, r, entry);
            if (refusal != 0) {
                o.Printf("board[%d],res[%d] %s<P>\n", r.folderNo, r.replyTo,
                         run.msg(refusal).c_str());
                continue;
            }
            o.Printf("write board[%d],res[%d] <B>%s</B><P>\n", r.folderNo, entry.messageNo,
                     HtmlEscape(r.title).c_str());
            RecordAccess(run, run.login.user.USER_ID, kLogWrite, r.folderNo);
        }
    }
    o << "</BODY>\n</HTML>\n";
}
