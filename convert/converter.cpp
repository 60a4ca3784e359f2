#include "convert/converter.h"

#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "cgi/html.h"
#include "convert/database.h"
#include "store/acl.h"
#include "store/attachments.h"
#include "store/folders.h"
#include "store/groups.h"
#include "store/messages.h"
#include "store/readmarks.h"
#include "store/recordfile.h"
#include "store/users.h"

namespace {

// Size of the slot a number written as text is checked against (any decimal 32-bit number
// fits).
constexpr size_t kNumberSlot = 24;
// The user id field of a read mark.
constexpr size_t kReadMarkIdSlot = 24;

// An output file, closed when the object goes.
class OutFile {
public:
    OutFile() = default;
    ~OutFile() { Close(); }
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;

    // Replaces the file by an empty one (the old file is deleted first).
    bool Create(const std::string& path) {
        Close();
        std::remove(path.c_str());
        return Open(path, "wb");
    }
    // Opens the file for appending, creating it when missing.
    bool Append(const std::string& path) {
        Close();
        return Open(path, "ab");
    }
    bool Write(std::string_view bytes) {
        return file_ && std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
    }
    bool Close() {
        bool ok = true;
        if (file_) ok = std::fclose(file_) == 0;
        file_ = nullptr;
        path_.clear();
        return ok;
    }
    bool IsOpen() const { return file_ != nullptr; }
    const std::string& path() const { return path_; }

private:
    bool Open(const std::string& path, const char* mode) {
        file_ = std::fopen(path.c_str(), mode);
        if (file_) path_ = path;
        return file_ != nullptr;
    }
    std::FILE* file_ = nullptr;
    std::string path_;
};

class Converter {
public:
    Converter(const std::string& dbPath, const std::string& outDir, std::ostream& log,
              std::ostream* warnings)
        : dbPath_(dbPath), out_(outDir + "/"), log_(log), warnings_(warnings) {}

    int Run() {
        mkdir(out_.c_str(), 0777);  // an existing directory stays
        log_ << "Content-type: text/html\n\n";
        std::string error;
        db_ = AccessDatabase::Open(dbPath_, error);
        const bool ok = db_ ? (Users() && Folders() && GroupMembers() && Groups() &&
                               GroupAcl() && UserAcl() && Messages() && ReadMarks())
                            : Fail(error);
        log_ << (ok ? "Converted: " : "Stopped: ") << counts.users << " users, " << counts.folders
             << " folders, " << counts.groupMembers << " group members, " << counts.groups
             << " groups, " << counts.groupAcl << " group access entries, " << counts.userAcl
             << " user access entries, " << counts.messages << " messages, "
             << counts.attachments << " attachments, " << counts.readMarks
             << " read marks<BR>\n";
        log_.flush();
        return ok ? 0 : -1;
    }

    ConversionCounts counts;

private:
    bool Fail(const std::string& what) {
        log_ << "ERROR: " << HtmlEscape(what) << "<BR>\n";
        return false;
    }
    bool CannotWrite(const std::string& path) { return Fail("cannot write " + path); }
    // A line of the log for what was written otherwise than read (and why), also given as plain
    // text to the warnings stream.
    void Warn(const std::string& what) {
        log_ << "WARNING: " << HtmlEscape(what) << "<BR>\n";
        if (warnings_) *warnings_ << "WARNING: " << what << "\n";
    }
    std::string Row() const { return table_ + " row " + std::to_string(row_) + ": "; }

    bool Select(const std::string& table, const std::vector<std::string>& orderBy,
                const std::vector<Query::Condition>& where = {}) {
        table_ = table;
        row_ = 0;
        std::string error;
        return query_.Open(*db_, table, where, orderBy, error) || Fail(error);
    }
    bool Next() {
        if (!query_.Next()) return false;
        ++row_;
        return true;
    }
    const std::string& Get(const std::string& column) const { return query_.Get(column); }
    int32_t Number(const std::string& column) const { return ParseInt(query_.Get(column)); }

    // The value of a column as a field of a text line can hold it: cut at a comma or line
    // break (which would split the record) and to the slot the board reads it into. A value
    // that had to be changed is named in the log.
    std::string Field(const std::string& column, size_t slot) {
        const std::string& value = Get(column);
        std::string field = FieldValue(value, slot);
        if (field != value) Warn(Row() + column + " [" + value + "] written as [" + field + "]");
        return field;
    }

    // A user id naming a user: the earlier database compared ids in any letter case, the board
    // compares them exactly, so an id that is a user's in another letter case is written as
    // that user's id. Other ids are written as read (id: the column's value as it would be
    // written).
    std::string UserIdOf(const std::string& column, const std::string& id) {
        std::string upper = id;
        UpperCaseId(upper);
        const auto it = userIds_.find(upper);
        if (it == userIds_.end() || it->second == id || exactUserIds_.count(id)) return id;
        Warn(Row() + column + " [" + id + "] written as [" + it->second + "], the id of that user");
        return it->second;
    }

    bool WriteOrFail(OutFile& file, std::string_view bytes) {
        return file.Write(bytes) || CannotWrite(file.path());
    }
    bool CreateOrFail(OutFile& file, const std::string& path) {
        return file.Create(path) || CannotWrite(path);
    }
    bool CloseOrFail(OutFile& file) {
        const std::string path = file.path();
        return file.Close() || CannotWrite(path);
    }

    std::string FolderDir(int folder) const { return out_ + std::to_string(folder) + "/"; }

    bool Users() {
        OutFile file;
        if (!Select("MST_USER", {}) || !CreateOrFail(file, out_ + "user.mst")) return false;
        while (Next()) {
            const std::string id = Field("T01_USER_ID", kUserIdSize);
            std::string upper = id;
            UpperCaseId(upper);
            exactUserIds_.insert(id);
            if (!userIds_.emplace(upper, id).second)
                Warn(Row() + "T01_USER_ID [" + id + "] is the id [" + userIds_[upper] +
                     "] of an earlier row in another letter case; the board finds the first");
            std::string line = id + ",";
            line += Field("T01_USER_NAME", kUserNameSize) + ",";
            line += Field("T01_USER_LEVEL", kNumberSlot) + ",";
            line += Field("T01_USER_E_MAIL_ADDR", kUserMailSize) + ",";
            line += Field("T01_USER_PASS", kUserPassSize) + ",";
            line += Field("T01_USER_PGROUP", kNumberSlot) + ",";
            // Display modes of the earlier version: 0 number ascending, 1 descending, 2 thread.
            switch (Number("T01_USER_DISP_DEF")) {
                case 0: line += "2"; break;
                case 1: line += "3"; break;
                case 2: line += "1"; break;
                default: line += Field("T01_USER_DISP_DEF", kNumberSlot); break;
            }
            line += ",1,1,,,";
            line += kLineEnd;
            if (!WriteOrFail(file, line)) return false;
            ++counts.users;
        }
        return CloseOrFail(file);
    }

    bool Folders() {
        OutFile tree, settings;
        if (!Select("BORD_TITLE", {"T_F_DISP_NO"}) || !CreateOrFail(tree, out_ + "b_title.mst") ||
            !CreateOrFail(settings, out_ + "b_title2.mst"))
            return false;
        // The folders enclosing the current line: open[i] is the one at indentation i.
        std::vector<FolderRecord> open;
        while (Next()) {
            FolderRecord folder;
            folder.folderNo = Number("T_F_SEL_NO");
            folder.name = Field("T_F_NAME", kFolderNameSize);
            switch (Number("T_F_FLG")) {
                case 0: folder.kind = kFolderBoard; break;
                case 1: folder.kind = kFolderDir; break;
                default:
                    // Only 0 and 1 are expected; anything else would leave the line without
                    // its kind and line end, and the next folder's line would run on.
                    folder.kind = kFolderBoard;
                    Warn(Row() + "folder [" + Get("T_F_SEL_NO") + "] has T_F_FLG [" +
                         Get("T_F_FLG") + "]; written as a board");
                    break;
            }
            folder.indentation = Indentation(folder, open);
            open.resize(static_cast<size_t>(folder.indentation));
            open.push_back(folder);
            FolderSettings s;
            s.folderNo = folder.folderNo;
            s.ADD_MAX = Number("T_F_ADD_MAX");
            s.readLevel = Number("T_READ_LEVEL");
            s.writeLevel = Number("T_WRITE_LEVEL");
            s.READ_CHK = 1;
            s.REWRITE_FLG = 1;
            s.TITLEPIC = Get("T_F_TITLEGIF");
            s.BACKPIC = Get("T_F_BACKGIF");
            s.INFO = Get("T_F_INFO");
            s.DEFO = Get("T_F_DEFO");
            s.FONTCOLOR = "000000";
            s.RESFONTCOLOR = "0000FF";
            if (!WriteOrFail(tree, FormatFolderLine(folder)) ||
                !WriteOrFail(settings, PackFolderSettings(s)))
                return false;
            ++counts.folders;
        }
        return CloseOrFail(tree) && CloseOrFail(settings);
    }

    // Where a folder line can go: at its depth T_F_CLASS when the line above leaves room for it
    // there, inside a directory. Only directories hold folders, and a folder lies at most one
    // level below the line above it; a folder the earlier database placed otherwise is written
    // at the deepest depth that keeps it, in its place of the outline, inside a directory (or
    // at the top level), with a warning.
    int32_t Indentation(const FolderRecord& folder, const std::vector<FolderRecord>& open) {
        const int32_t wanted = std::max(Number("T_F_CLASS") - 1, 0);
        int32_t k = std::min(wanted, static_cast<int32_t>(open.size()));
        while (k > 0 && open[static_cast<size_t>(k - 1)].kind != kFolderDir) --k;
        if (k == wanted) return k;
        const std::string why =
            wanted > static_cast<int32_t>(open.size())
                ? "more than one level below the folder above it"
                : "inside folder [" +
                      std::to_string(open[static_cast<size_t>(wanted - 1)].folderNo) +
                      "], which is not a directory";
        Warn(Row() + "folder [" + Get("T_F_SEL_NO") + "] [" + folder.name + "] has T_F_CLASS [" +
             Get("T_F_CLASS") + "], " + why + "; written at depth " + std::to_string(k + 1) +
             (k == 0 ? " (top level)" : ", inside folder [" +
                                           std::to_string(open[static_cast<size_t>(k - 1)].folderNo) +
                                           "]"));
        return k;
    }

    bool GroupMembers() {
        OutFile file;
        if (!Select("GROUP_USER", {"T03_GROUP_ID", "T03_USER_ID"}) ||
            !CreateOrFail(file, out_ + "g_user.mst"))
            return false;
        while (Next()) {
            std::string line = Field("T03_GROUP_ID", kNumberSlot) + ",";
            line += UserIdOf("T03_USER_ID", Field("T03_USER_ID", kGroupMemberIdSize)) + ",";
            line += kLineEnd;
            if (!WriteOrFail(file, line)) return false;
            ++counts.groupMembers;
        }
        return CloseOrFail(file);
    }

    bool Groups() {
        OutFile file;
        if (!Select("MST_GROUP", {"T02_GROUP_ID"}) || !CreateOrFail(file, out_ + "group.mst"))
            return false;
        while (Next()) {
            std::string line = std::to_string(Number("T02_GROUP_ID")) + ",";
            line += Field("T02_GROUP_NAME", kGroupNameSize) + ",";
            line += kLineEnd;
            if (!WriteOrFail(file, line)) return false;
            ++counts.groups;
        }
        return CloseOrFail(file);
    }

    bool GroupAcl() {
        OutFile file;
        if (!Select("BORD_GROUP_ACL", {"GA_FOLDER_NO", "GA_GROUP_ID"}) ||
            !CreateOrFail(file, out_ + "b_g_acl.mst"))
            return false;
        while (Next()) {
            GroupAclEntry entry;
            entry.folderNo = Number("GA_FOLDER_NO");
            entry.groupId = Number("GA_GROUP_ID");
            entry.level = Number("GA_LEVEL");
            if (!WriteOrFail(file, PackGroupAclEntry(entry))) return false;
            ++counts.groupAcl;
        }
        return CloseOrFail(file);
    }

    bool UserAcl() {
        OutFile file;
        if (!Select("BORD_USER_ACL", {"UA_FOLDER_NO", "UA_USER_ID"}) ||
            !CreateOrFail(file, out_ + "b_u_acl.mst"))
            return false;
        while (Next()) {
            UserAclEntry entry;
            entry.folderNo = Number("UA_FOLDER_NO");
            entry.USER_ID = UserIdOf("UA_USER_ID", CutToSlot(Get("UA_USER_ID"), kAclUserIdSize));
            entry.level = Number("UA_LEVEL");
            if (!WriteOrFail(file, PackUserAclEntry(entry))) return false;
            ++counts.userAcl;
        }
        return CloseOrFail(file);
    }

    // A message index record waiting for its folder's index to be written, with its row.
    struct IndexRow {
        MessageIndexEntry entry;
        long row;
    };

    // Writes a folder's index records in thread order, the order the board relies on: each
    // thread one block, the threads in the order their first records were met, the records of a
    // thread in display order. A reply the display order of the earlier database put after a
    // later thread joins its thread, with a warning.
    bool WriteIndex(OutFile& index, const std::vector<IndexRow>& rows) {
        std::vector<int32_t> threads;  // in the order they were met
        std::unordered_map<int32_t, std::vector<const IndexRow*>> members;
        for (size_t k = 0; k < rows.size(); ++k) {
            const MessageIndexEntry& e = rows[k].entry;
            auto [it, fresh] = members.try_emplace(e.threadNo);
            if (fresh) {
                threads.push_back(e.threadNo);
            } else if (rows[k - 1].entry.threadNo != e.threadNo) {
                Warn("BORD_DATA row " + std::to_string(rows[k].row) + ": message [" +
                     std::to_string(e.messageNo) + "] of folder [" + std::to_string(e.folderNo) +
                     "] belongs to thread [" + std::to_string(e.threadNo) +
                     "] but follows thread [" + std::to_string(rows[k - 1].entry.threadNo) +
                     "] in display order; written with the earlier messages of its thread");
            }
            it->second.push_back(&rows[k]);
        }
        std::string bytes;
        bytes.reserve(rows.size() * kMessageIndexEntrySize);
        for (int32_t t : threads)
            for (const IndexRow* r : members[t]) bytes += PackMessageIndexEntry(r->entry);
        return WriteOrFail(index, bytes) && CloseOrFail(index);
    }

    bool Messages() {
        if (!Select("BORD_DATA", {"D_FOLDER_NO", "D_F_DISP_NO"})) return false;
        Query data = query_;
        // The rows of the table are held by the database; only the selection is copied.
        int folder = 0;  // the highest folder number met so far
        OutFile index, attachments;
        std::vector<IndexRow> pending;  // the current folder's index records
        while (data.Next()) {
            ++row_;
            const std::string& folderText = data.Get("D_FOLDER_NO");
            const std::string& messageText = data.Get("D_F_SEL_NO");
            const int rowFolder = ParseInt(folderText);
            const int message = ParseInt(messageText);
            if (rowFolder > folder) {
                if (index.IsOpen() && !WriteIndex(index, pending)) return false;
                pending.clear();
                folder = rowFolder;
                const std::string dir = FolderDir(folder);
                mkdir(dir.c_str(), 0777);
                if (!CreateOrFail(index, dir + "index.dat") ||
                    !CreateOrFail(attachments, dir + "add_file.dat"))
                    return false;
            }
            if (!index.IsOpen()) return CannotWrite(FolderDir(folder) + "index.dat");
            log_ << "FOLDER=[" << HtmlEscape(folderText) << "] SEL=[" << HtmlEscape(messageText)
                 << "]<BR>\n";

            MessageIndexEntry entry;
            entry.folderNo = rowFolder;
            entry.messageNo = message;
            entry.HTML_MODE = 0;
            entry.threadNo = ParseInt(data.Get("D_F_BBS_G_NO"));
            entry.depth = ParseInt(data.Get("D_F_CLASS"));
            entry.WRITE_PRIORITY = ParseInt(data.Get("D_WRITE_PRIORITY"));
            entry.date = data.Get("D_WRITE_DATE");
            entry.userId = data.Get("D_WRITER_ID");
            entry.WRITE_TITLE = data.Get("D_WRITE_TITLE");
            entry.attachCount = ParseInt(data.Get("D_ADD_FILE"));
            entry.deleted = ParseInt(data.Get("D_DEL_FLG"));
            entry.READ_CHK = ParseInt(data.Get("D_CHK_MODE")) + 1;

            // Named by the number the board looks the body up with.
            OutFile body;
            if (!CreateOrFail(body, FolderDir(folder) + "X" + std::to_string(message) + ".DAT") ||
                !WriteOrFail(body, ConvertBody(data.Get("D_WRITE_DATA"))) || !CloseOrFail(body))
                return false;
            ++counts.messages;

            // The attachment count is the number of entries written: the board shows and
            // sends the entries, and a count without them would promise files that are not
            // there.
            int32_t attached = 0;
            if (entry.attachCount >= 1) {
                const long row = row_;
                if (!Select("BORD_ADD_FILE", {"AF_F_SUB_NO"},
                            {{"AF_FOLDER_NO", folderText}, {"AF_F_SEL_NO", messageText}}))
                    return false;
                while (Next()) {
                    AttachmentEntry a;
                    a.messageNo = message;
                    a.slot = Number("AF_F_SUB_NO");
                    a.fileName = Get("AF_FILE_NAME");
                    if (!WriteOrFail(attachments, PackAttachmentEntry(a))) return false;
                    ++counts.attachments;
                    ++attached;
                }
                table_ = "BORD_DATA";
                row_ = row;
            }
            if (attached != entry.attachCount)
                Warn(Row() + "D_ADD_FILE [" + data.Get("D_ADD_FILE") + "] of message [" +
                     messageText + "] of folder [" + folderText + "] written as [" +
                     std::to_string(attached) + "], the attachments found in BORD_ADD_FILE");
            entry.attachCount = attached;
            pending.push_back(IndexRow{entry, row_});
        }
        return (!index.IsOpen() || WriteIndex(index, pending)) && CloseOrFail(attachments);
    }

    bool ReadMarks() {
        if (!Select("BORD_READ_POINT", {"R_FOLDER_NO", "R_F_SEL_NO", "R_USER_ID"})) return false;
        OutFile file;  // consecutive marks of one message go to one file kept open
        while (Next()) {
            log_ << "FOLDER=[" << HtmlEscape(Get("R_FOLDER_NO")) << "] SEL=["
                 << HtmlEscape(Get("R_F_SEL_NO")) << "] USER=[" << HtmlEscape(Get("R_USER_ID"))
                 << "]<BR>\n";
            ReadMark mark;
            mark.messageNo = Number("R_F_SEL_NO");
            mark.userId = UserIdOf("R_USER_ID", CutToSlot(Get("R_USER_ID"), kReadMarkIdSlot));
            mark.count = 0;
            const std::string path =
                FolderDir(Number("R_FOLDER_NO")) + "R" + std::to_string(mark.messageNo) + ".DAT";
            if (file.path() != path) file.Append(path);
            if (!file.IsOpen() || !file.Write(PackReadMark(mark))) {
                // A mark of a folder without messages has no folder directory to go to.
                Warn(Row() + "read mark not written: cannot write " + path);
                continue;
            }
            ++counts.readMarks;
        }
        return CloseOrFail(file);
    }

    std::string dbPath_;
    std::string out_;  // the output directory, ending with "/"
    std::ostream& log_;
    std::ostream* warnings_;
    std::unique_ptr<AccessDatabase> db_;
    // The users' ids as written, by their upper-cased form (the first row of each).
    std::unordered_map<std::string, std::string> userIds_;
    std::unordered_set<std::string> exactUserIds_;
    Query query_;
    std::string table_;  // the table of the current query, for warnings
    long row_ = 0;       // the current row of it, from 1
};

}  // namespace

std::string ConvertBody(const std::string& body) {
    static constexpr std::string_view kBreak = "<BR>";
    std::string out;
    out.reserve(body.size());
    size_t matched = 0;
    for (char c : body) {
        if (c == kBreak[matched]) {
            if (++matched == kBreak.size()) {
                out += '\r';
                matched = 0;
            }
            continue;
        }
        out.append(kBreak.substr(0, matched));
        out += c;
        matched = 0;
    }
    out.append(kBreak.substr(0, matched));
    return out;
}

int RunConversion(const std::string& dbPath, const std::string& outDir, std::ostream& log,
                  ConversionCounts* counts, std::ostream* warnings) {
    Converter converter(dbPath, outDir, log, warnings);
    const int result = converter.Run();
    if (counts) *counts = converter.counts;
    return result;
}
