#include "board/post.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>
#include <string>
#include <vector>

#include "app/rights.h"
#include "app/session.h"
#include "board/common.h"
#include "cgi/fileops.h"
#include "cgi/files.h"
#include "cgi/html.h"
#include "cgi/request.h"
#include "cgi/text.h"
#include "store/accesslog.h"
#include "store/attachments.h"
#include "store/bodies.h"
#include "store/messagechange.h"
#include "store/readmarks.h"
#include "store/recordfile.h"

namespace {

constexpr size_t kNumberCapacity = 1000;
constexpr size_t kJobCapacity = 20;
constexpr size_t kTitleCapacity = 82;
constexpr size_t kUploadCapacity = 1000;
constexpr size_t kKeepBoxCapacity = 20;
constexpr size_t kAttachmentNameSlot = 252;
// The name a stored attachment is kept under while a file of the same name replaces it.
constexpr char kAsideSuffix[] = ".OLD";

// dir + name, as the request decoder places upload temporary files.
std::string WorkPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    if (dir.back() == '/') return dir + name;
    return dir + "/" + name;
}

bool IsRegularFile(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// "FILE" followed by decimal digits only.
bool IsFileFieldName(const std::string& name) {
    if (name.size() < 5 || name.compare(0, 4, "FILE") != 0) return false;
    for (size_t i = 4; i < name.size(); ++i)
        if (name[i] < '0' || name[i] > '9') return false;
    return true;
}

int MakeDirectory(const std::string& path) {
    if (FsMkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return 0;
    return -1;
}

// What one attachment slot of the form asks for.
struct SlotRequest {
    bool keep = false;       // ADD_FILE%d set
    bool upload = false;     // FILE%d non-empty
    std::string fileName;    // AttachmentFileName of the upload ("" when refused)
    std::string tempPath;    // the upload temporary file ("" when the value names none)
    bool existing = false;   // the edited message has an attachment in this slot
    std::string existingName;  // its file name

    // A new file that replaces (or fills) the slot.
    bool Replaces() const { return !keep && upload && !fileName.empty() && !tempPath.empty(); }
};

// Whether the slot holds an attachment after the store step.
bool SlotFilledAfter(const SlotRequest& s, bool editing) {
    if (s.Replaces()) return true;
    if (!editing) return false;
    if (s.keep) return s.existing;
    // No usable upload and no keep box: an empty file field drops the slot, a refused upload
    // leaves it as it was.
    return s.upload && s.existing;
}

// The folder is a board of the folder tree (messages are stored nowhere else).
bool IsBoard(Run& run, int folderNo) {
    for (const FolderRecord& f : FolderTree(run))
        if (f.folderNo == folderNo) return f.kind == kFolderBoard;
    return false;
}

void WriteLabelRow(Output& o, const std::string& label) {
    o.Printf("<TR><TD BGCOLOR=\"#E0FFFF\">%s</TD><TD BGCOLOR=\"#FFFFFF\">", label.c_str());
}

void WriteFormScript(Run& run) {
    Output& o = run.out;
    o << "<SCRIPT Language=\"JavaScript\">\n"
      << "<!--\n"
      << "function title_chk(){\n"
      << "\tif(document.INPUT.WRITE_TITLE.value == \"\"){\n";
    o.Printf("\t\talert(\"%s\");\n", run.msg(295).c_str());
    o << "\t\treturn false;\n"
      << "\t}\n"
      << "\treturn true;\n"
      << "}\n";
    if (run.login.user.WRITE_MODE == 2) o << "window.focus();\n";
    o << "// -->\n"
      << "</SCRIPT>\n";
}

void WriteOption(Output& o, int value, const std::string& text) {
    o.Printf("<OPTION VALUE=\"%d\">%s\n", value, text.c_str());
}

}  // namespace

std::string AttachmentFileName(const std::string& clientName) {
    std::string name = CutToSlot(clientName, kAttachmentNameSlot);
    if (name.empty() || name == "." || name == ".." ||
        name.find('/') != std::string::npos)
        return "";
    return name;
}

bool MayEditMessage(const Run& run, const MessageIndexEntry& entry,
                    const FolderSettings& settings) {
    const UserRecord& caller = run.login.user;
    // A message deleted by a moderator but kept for its replies stays deleted: editing it
    // would clear the flag and bring the text back.
    return !caller.USER_ID.empty() && entry.userId == caller.USER_ID &&
           caller.MODE == kMemberAccount && settings.REWRITE_FLG == 2 && entry.deleted == 0;
}

void ShowPostingForm(Run& run) {
    Output& o = run.out;
    const std::string job = CutToSlot(run.login.JOB, kJobCapacity);
    const bool editing = job == "EDITMSG";
    const int folderNo = IntField(run, "FOLDER_NO", kNumberCapacity);
    const int selNo = IntField(run, "SEL_NO", kNumberCapacity);
    const int dispMode = IntField(run, "USER_DISP_DEF", kNumberCapacity);
    const int rights = FolderRights(run, folderNo);
    WritePageHead(run);
    WriteFormScript(run);

    const FolderSettings settings = FolderSettingsOrEmpty(run, folderNo);
    MessageIndexEntry entry;  // the prefill: all zero, or the parent, or the edited message
    const bool found =
        selNo >= 1 && FindMessage(run.dataDir(), folderNo, selNo, kMessageByNumber, entry) == 0;
    if (!found) entry = MessageIndexEntry{};
    if (rights < kRightsWrite || !IsBoard(run, folderNo) || (editing && (!found || !MayEditMessage(run, entry, settings)))) {
        WriteRefusalBody(run);
        return;
    }

    WriteFolderBodyTag(run, folderNo, settings);
    const std::string& heading = editing ? run.msg(330) : (selNo != 0 ? run.msg(271) : run.msg(270));
    o.Printf("<FONT SIZE=\"5\"><B>%s %s</B></FONT>\n",
             HtmlEscape(FolderName(run, folderNo)).c_str(), heading.c_str());
    o << "<HR>\n";

    o.Printf("<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST "
             "TARGET=\"FRM22\" >\n",
             ScriptAttr(run).c_str());
    WriteHidden(run, "SKEY", CutToSlot(run.login.SKEY, kKeyFieldCapacity));
    WriteHidden(run, "JOB", std::string("BORDWRITEWR"));
    WriteHidden(run, "FJOB", job);
    WriteHidden(run, "FOLDER_NO", folderNo);
    WriteHidden(run, "SEL_NO", selNo);
    WriteHidden(run, "USER_DISP_DEF", dispMode);

    const int width =
        run.userAgent.find("MSIE") != std::string::npos ? run.settings.IECOLS : run.settings.NSCOLS;

    std::string title, body;
    if (selNo < 1) {
        body = settings.DEFO;
        entry.HTML_MODE = 0;
    } else if (found && (editing || entry.deleted == 0)) {
        title = entry.WRITE_TITLE;
        ReadMessageBody(run.dataDir(), folderNo, selNo, body);
        if (!editing) QuoteLines(body);
    }
    const bool reply = !editing && selNo > 0;

    o << "<TABLE BORDER>\n";
    WriteLabelRow(o, run.msg(266));
    o.Printf("%s [%s]</TD></TR>\n", HtmlEscape(run.login.user.USER_NAME).c_str(),
             HtmlEscape(run.login.user.USER_ID).c_str());
    WriteLabelRow(o, run.msg(267));
    o << DateStampAt(run.now) << "</TD></TR>\n";
    WriteLabelRow(o, run.msg(265));
    if (reply) o.Printf("Re:^%d ", entry.depth + 1);
    o.Printf("<INPUT TYPE=\"text\" NAME=\"WRITE_TITLE\" SIZE=\"%d\" MAXLENGTH=\"80\" "
             "VALUE=\"%s\"></TD></TR>\n",
             width, HtmlEscape(title).c_str());
    WriteLabelRow(o, run.msg(264));
    o << "<SELECT NAME=\"WRITE_PRIORITY\" >\n";
    WriteOption(o, 0, " ");
    WriteOption(o, 2, run.msg(269));
    WriteOption(o, 1, run.msg(268));
    o << "</SELECT></TD></TR>\n";
    WriteLabelRow(o, run.msg(272));
    o.Printf("<TEXTAREA NAME=\"WRITE_DATA\" COLS=\"%d\" ROWS=\"%d\">%s</TEXTAREA></TD></TR>\n",
             width, run.settings.ROWS, HtmlEscape(body).c_str());

    if (settings.ADD_MAX > 0) {
        WriteLabelRow(o, run.msg(273));
        for (int slot = 1; slot <= settings.ADD_MAX; ++slot) {
            AttachmentEntry att;
            if (editing &&
                FindAttachment(run.dataDir(), folderNo, selNo, slot, att) == 0) {
                o.Printf(" No.%d %s", slot, HtmlEscape(att.fileName).c_str());
                o.Printf("<INPUT TYPE=\"checkbox\" NAME=\"ADD_FILE%d\" VALUE=\"ON\" checked >%s<BR>\n",
                         slot, run.msg(331).c_str());
            }
            o.Printf(" No.%d <INPUT TYPE=\"FILE\" NAME=\"FILE%d\"><BR>\n", slot, slot);
        }
        o << "</TD></TR>\n";
    }

    WriteLabelRow(o, run.msg(274));
    o << "<SELECT NAME=\"READ_CHK\">\n";
    if (settings.READ_CHK == 2) {
        WriteOption(o, 2, run.msg(276));
        WriteOption(o, 1, run.msg(275));
    } else {
        WriteOption(o, 1, run.msg(275));
        WriteOption(o, 2, run.msg(276));
    }
    o << "</SELECT></TD></TR>\n";

    WriteLabelRow(o, run.msg(357));
    o << "<SELECT NAME=\"HTML_MODE\">\n";
    const std::string* modeText[3] = {&run.msg(358), &run.msg(359), &run.msg(360)};
    const int first = entry.HTML_MODE >= 0 && entry.HTML_MODE <= 2 ? entry.HTML_MODE : 0;
    WriteOption(o, first, *modeText[first]);
    for (int m = 0; m <= 2; ++m)
        if (m != first) WriteOption(o, m, *modeText[m]);
    o << "</SELECT></TD></TR>\n";

    o << "</TABLE>\n"
      << "<P>\n";
    o.Printf("<INPUT TYPE=\"submit\" name=\"SUB\" VALUE=\"%s\" onClick=\"return title_chk()\"> \n",
             run.msg(277).c_str());
    if (run.login.user.WRITE_MODE == 1)
        o.Printf("<INPUT TYPE=\"button\" VALUE=\"%s\" onClick=\"history.back()\">\n",
                 run.msg(4).c_str());
    o << "</FORM>\n"
      << "</BODY>\n"
      << "</HTML>\n";
}

UploadSweep::UploadSweep(const Run& run) {
    for (const FormField& f : run.fields) {
        if (!f.isUpload || !IsFileFieldName(f.name) || f.value.empty()) continue;
        std::string value = f.value, client, temp;
        SplitUploadValue(value, client, temp);
        if (!temp.empty()) paths_.push_back(WorkPath(run.workDir, temp));
    }
}

UploadSweep::~UploadSweep() {
    for (const std::string& p : paths_)
        if (IsRegularFile(p)) unlink(p.c_str());
}

void UploadSweep::Consumed(const std::string& path) { std::erase(paths_, path); }

std::string UploadTempPath(const Run& run, const std::string& tempName) {
    return WorkPath(run.workDir, tempName);
}

int StoreNewMessage(const std::string& dataDir, MessageIndexEntry& entry,
                    const std::string& body) {
    return CommitNewMessage(dataDir, entry, body, {}) == 0 ? kPostStored : kPostNotStored;
}

int SaveMessage(Run& run) {
    UploadSweep sweep(run);
    const std::string& dataDir = run.dataDir();
    const std::string fjob = GetField(run.fields, "FJOB", 0, kJobCapacity);
    const int folderNo = IntField(run, "FOLDER_NO", kNumberCapacity);
    const int selNo = IntField(run, "SEL_NO", kNumberCapacity);
    const std::string title = GetField(run.fields, "WRITE_TITLE", 0, kTitleCapacity);
    const int priority = IntField(run, "WRITE_PRIORITY", kNumberCapacity);
    const int readCheck = IntField(run, "READ_CHK", kNumberCapacity);
    const int htmlMode = IntField(run, "HTML_MODE", kNumberCapacity);

    // One lock for the whole step: the rights, the checks below and every write see the same
    // data (the run's caches are filled from here on).
    DataLock lock(dataDir);
    if (!lock.held()) return kPostNotStored;
    if (FolderRights(run, folderNo) < kRightsWrite || !IsBoard(run, folderNo))
        return kPostRefused;
    const bool editing = fjob == "EDITMSG";
    if (!editing && fjob != "BORDWRITE") return kPostRefused;

    const FolderSettings settings = FolderSettingsOrEmpty(run, folderNo);
    MessageIndexEntry old;
    if (editing && (selNo < 1 ||
                    FindMessage(dataDir, folderNo, selNo, kMessageByNumber, old) != 0 ||
                    !MayEditMessage(run, old, settings)))
        return kPostRefused;
    if (title.empty()) return kPostNoTitle;

    // The whole body as sent is measured: a body the decoder or the work buffer had to cut is
    // refused, never stored short.
    const FormField* data = FindFormField(run.fields, "WRITE_DATA", 0);
    if (data != nullptr && (data->isCut || data->value.size() >= kWorkSize ||
                            static_cast<long>(data->value.size()) > run.settings.MAX_CONTENTS))
        return kPostTooLong;
    std::string body = GetField(run.fields, "WRITE_DATA", 0, kWorkSize);

    std::vector<SlotRequest> slots(settings.ADD_MAX > 0 ? settings.ADD_MAX : 0);
    int attachCount = 0;
    std::set<std::string> usedTemps;
    for (int i = 1; i <= static_cast<int>(slots.size()); ++i) {
        SlotRequest& s = slots[i - 1];
        const std::string n = std::to_string(i);
        s.keep = !GetField(run.fields, "ADD_FILE" + n, 0, kKeepBoxCapacity).empty();
        std::string value = GetUploadField(run.fields, "FILE" + n, 0, kUploadCapacity);
        s.upload = !value.empty();
        if (s.upload) {
            std::string client, temp;
            SplitUploadValue(value, client, temp);
            s.fileName = AttachmentFileName(client);
            const std::string path = WorkPath(run.workDir, temp);
            // Each upload fills one slot at most.
            if (!temp.empty() && IsRegularFile(path) && usedTemps.insert(path).second)
                s.tempPath = path;
        }
        AttachmentEntry att;
        s.existing = editing && FindAttachment(dataDir, folderNo, selNo, i, att) == 0;
        if (s.existing) s.existingName = att.fileName;
        // A file the decoder could not keep whole (no temporary file, a write that failed) is
        // never stored short or left out silently.
        const FormField* file = FindFormField(run.fields, "FILE" + n, 0);
        if (s.upload && !s.keep && file != nullptr && file->isCut) return kPostNotStored;
        if (SlotFilledAfter(s, editing)) ++attachCount;
    }

    MessageIndexEntry entry;
    entry.folderNo = folderNo;
    entry.messageNo = selNo;
    entry.HTML_MODE = htmlMode;
    entry.WRITE_PRIORITY = priority;
    entry.date = DateStampAt(run.now);
    entry.userId = run.login.user.USER_ID;
    entry.WRITE_TITLE = title;
    entry.deleted = 0;
    entry.READ_CHK = readCheck;
    entry.attachCount = attachCount;
    DropLineFeeds(body);

    // The attachment files go in place first: no record names them until the change of the
    // record files below is made, and they are taken away again when it is not. Only then is
    // the new message's number needed ahead (the change checks it); without files the index
    // is read once, by the change.
    const bool placing = std::any_of(slots.begin(), slots.end(),
                                     [](const SlotRequest& s) { return s.Replaces(); });
    const int number = editing ? selNo : placing ? NextMessageNumberOf(dataDir, folderNo) : 0;
    if (placing && number < 1) return kPostNotStored;
    const std::string folderDir = run.settings.ADD_FILE_PATH + std::to_string(folderNo);
    const std::string messageDir = folderDir + "/X" + std::to_string(number);
    std::vector<AttachmentEntry> put;
    std::vector<int> dropSlots;
    std::vector<std::string> placed;  // new files, taken away when the change is not made
    // Stored files the edit replaces under another name or drops: no entry names them once the
    // change is made, so they go then. A file replaced under its own name keeps a second name
    // until then, and comes back under its own when the change is not made. A stored name that could
    // reach outside its slot directory is never removed.
    std::vector<std::string> released;
    std::vector<std::pair<std::string, std::string>> aside;  // (kept as, stored name)
    const auto release = [&](const SlotRequest& s, const std::string& slotDir) {
        if (AttachmentFileName(s.existingName) == s.existingName)
            released.push_back(slotDir + "/" + s.existingName);
    };
    const auto takeBack = [&] {
        for (const std::string& p : placed) FsUnlink(p.c_str());
        for (const auto& [kept, stored] : aside) {
            // When the stored name still holds the file, the rename does nothing (both names
            // are one file) and the second name goes; otherwise it brings the file back.
            FsRename(kept.c_str(), stored.c_str());
            FsUnlink(kept.c_str());
        }
    };
    for (int i = 1; i <= static_cast<int>(slots.size()); ++i) {
        const SlotRequest& s = slots[i - 1];
        const std::string slotDir = messageDir + "/" + std::to_string(i);
        if (s.Replaces()) {
            const std::string target = slotDir + "/" + s.fileName;
            if (s.existing && s.existingName == s.fileName && FileExists(target)) {
                // A second name for the stored file, so that the stored name always has one.
                const std::string kept = target + kAsideSuffix;
                FsUnlink(kept.c_str());  // left by a killed run
                if (FsLink(target.c_str(), kept.c_str()) != 0) {
                    takeBack();
                    return kPostNotStored;
                }
                aside.emplace_back(kept, target);
                released.push_back(kept);
            }
            if (MakeDirectory(folderDir) != 0 || MakeDirectory(messageDir) != 0 ||
                MakeDirectory(slotDir) != 0 || MoveFile(s.tempPath, target) != 0) {
                takeBack();
                return kPostNotStored;
            }
            sweep.Consumed(s.tempPath);
            if (!s.existing || s.existingName != s.fileName) placed.push_back(target);
            if (s.existing && s.existingName != s.fileName) release(s, slotDir);
            AttachmentEntry att;
            att.slot = i;
            att.fileName = s.fileName;
            put.push_back(att);
        } else if (editing && !s.upload && !s.keep && s.existing) {
            dropSlots.push_back(i);
            release(s, slotDir);
        }
    }

    int stored;
    if (!editing) {
        stored = CommitNewMessage(dataDir, entry, body, put, number);
    } else {
        entry.threadNo = old.threadNo;
        entry.depth = old.depth;
        stored = CommitEditedMessage(dataDir, entry, body, put, dropSlots);
    }
    if (stored != 0) {
        takeBack();
        return kPostNotStored;
    }
    for (const std::string& p : released) {
        FsUnlink(p.c_str());
        rmdir(p.substr(0, p.rfind('/')).c_str());  // the slot directory, when now empty
    }

    // The message is stored: a log line that cannot follow it is reported to the operator
    // (RecordAccess), and the page still tells the writer the truth, that it was stored.
    RecordAccess(run, run.login.user.USER_ID, kLogWrite, folderNo);
    return kPostStored;
}
