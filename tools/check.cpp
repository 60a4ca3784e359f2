#include "tools/check.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "store/accesslog.h"
#include "store/acl.h"
#include "store/applications.h"
#include "store/attachments.h"
#include "store/bodies.h"
#include "store/chat.h"
#include "store/folders.h"
#include "store/groups.h"
#include "store/journal.h"
#include "store/messages.h"
#include "store/readmarks.h"
#include "store/recordfile.h"
#include "store/sessions.h"
#include "store/unread.h"
#include "store/users.h"
#include "tools/derived.h"
#include "tools/progress.h"

namespace {

// What a 1000-byte line buffer takes as one line (300 bytes for unread.dat).
constexpr size_t kLineLimit = 998;
constexpr size_t kNoReadLineLimit = 298;

struct DirEntry {
    std::string name;
    bool isDir = false;
    bool isFile = false;
    uint64_t size = 0;
};

// The entries of a directory sorted by name (symbolic links are not followed). false when it
// cannot be read.
bool ListDir(const std::string& dir, std::vector<DirEntry>& out) {
    out.clear();
    DIR* d = opendir(dir.c_str());
    if (!d) return false;
    const int fd = dirfd(d);
    while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        struct stat st;
        if (fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        out.push_back(DirEntry{name, S_ISDIR(st.st_mode), S_ISREG(st.st_mode),
                               static_cast<uint64_t>(st.st_size)});
    }
    closedir(d);
    std::sort(out.begin(), out.end(),
              [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
    return true;
}

// The number a name spells as the board writes numbers ("%d", 1 or more), else -1.
int NumberName(std::string_view s) {
    if (s.empty() || s.size() > 9 || s[0] == '0') return -1;
    int n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

// The message number of a per-message file "<prefix><m>.DAT", else -1.
int MessageFileNumber(std::string_view name, char prefix) {
    if (name.size() < 6 || name[0] != prefix || name.substr(name.size() - 4) != ".DAT") return -1;
    return NumberName(name.substr(1, name.size() - 5));
}

// Temporary files of a rewrite ("<name>.TMP", and "TEMP" of the group file) and of a change of
// several files ("<name>.NEW").
bool IsTempName(std::string_view name) {
    const auto endsWith = [&](std::string_view tail) {
        return name.size() > tail.size() && name.substr(name.size() - tail.size()) == tail;
    };
    return name == "TEMP" || endsWith(".TMP") || endsWith(kJournalTempSuffix);
}

// A stored value for the report, in quotes, control bytes written as \xHH.
std::string Quote(std::string_view s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c < 0x20 || c == 0x7F || c == '"' || c == '\\') {
            char buf[8];
            snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string Str(long long n) {
    return std::to_string(n);
}

// The lines of a text file as an editor numbers them (no length limit), line ends removed.
std::vector<std::string_view> WholeLines(std::string_view bytes) {
    return SplitTextLines(bytes, bytes.size() + 2);
}

// A character field too long for its slot: the text that the readers cut.
bool Overflows(std::string_view value, size_t slot) {
    return CutToSlot(value, slot).size() != value.size();
}

std::string AttachmentName(int folder, int message, int slot, const std::string& file) {
    return Str(folder) + "/X" + Str(message) + "/" + Str(slot) + "/" + file;
}

class Checker {
public:
    struct Fix {
        std::string what;
        std::function<bool()> apply;
    };

    Checker(const CheckOptions& options, CheckResult& result, Progress* progress)
        : o_(options), r_(result), progress_(progress) {}

    bool Run();
    const std::vector<Fix>& fixes() const { return fixes_; }

private:
    void Problem(const std::string& file, const std::string& where, const std::string& what,
                 bool repairable = false) {
        std::string line = file;
        if (!where.empty()) line += " " + where;
        line += ": " + what;
        if (repairable) line += " [repairable]";
        r_.problems.push_back(std::move(line));
    }
    void AddFix(std::string what, std::function<bool()> apply) {
        fixes_.push_back(Fix{std::move(what), std::move(apply)});
    }
    // Reads a file of the data directory; false (nothing read) when it does not exist.
    bool Read(const std::string& name, std::string& bytes) {
        if (!ReadWholeFile(o_.dataDir + name, bytes)) {
            if (FileExists(o_.dataDir + name)) Problem(name, "", "cannot be read");
            return false;
        }
        Count(bytes.size());
        return true;
    }
    void Count(uint64_t bytes) {
        ++r_.files;
        r_.bytes += bytes;
        if (progress_) progress_->Add(bytes);
    }
    // A fixed-record file: false when its size leaves a partial record (reported).
    void CheckRecordSize(const std::string& name, size_t size, size_t recordSize) {
        if (size % recordSize != 0)
            Problem(name, "",
                    "size " + Str(static_cast<long long>(size)) +
                        " is not a multiple of the record size " +
                        Str(static_cast<long long>(recordSize)) +
                        "; the partial record at the end is never read");
    }
    bool LineTooLong(const std::string& name, size_t lineNo, std::string_view line,
                     size_t limit = kLineLimit) {
        if (line.size() <= limit) return false;
        Problem(name, "line " + Str(static_cast<long long>(lineNo)),
                "is " + Str(static_cast<long long>(line.size())) +
                    " bytes long; the readers take " + Str(static_cast<long long>(limit)) +
                    " and read the rest as lines of their own");
        return true;
    }

    void CheckDataDirFiles(const std::vector<DirEntry>& entries);
    void CheckUsers();
    void CheckDerived();
    void CheckGroups();
    void CheckFolders();
    void CheckSessions();
    void CheckAcls();
    void CheckAccessLog();
    void ScanAttachments();
    void CheckFolderDir(int folder);
    void CheckIndex(int folder, const std::string& dir,
                    const std::vector<MessageIndexEntry>& index);
    void CheckReadMarks(int folder, const std::string& dir, const std::set<int>& markFiles,
                        const std::map<int, uint64_t>& bodies, const std::set<int32_t>& numbers);
    void CheckAttachments(int folder, const std::string& dir,
                          const std::vector<MessageIndexEntry>& index);
    void CheckNoReadList(int folder, const std::string& dir);
    void CheckChatMembers(int folder, const std::string& dir, const std::string& bytes);

    const CheckOptions& o_;
    CheckResult& r_;
    Progress* progress_;
    std::vector<Fix> fixes_;

    std::unordered_set<std::string> users_;       // ids as stored (exact compare)
    std::unordered_set<std::string> usersUpper_;  // ids upper-cased (as FindUser compares)
    std::set<int32_t> groups_;
    std::map<int32_t, size_t> folders_;  // folder number -> line of b_title.mst
    std::set<int32_t> settings_;
    // Attachment files found: "<f>/X<m>/<s>/<name>" -> matched by an entry.
    std::map<std::string, bool> attachmentFiles_;
    std::set<int> attachmentFolders_;  // folders with files in the attachment directory
};

bool Checker::Run() {
    std::vector<DirEntry> entries;
    if (!ListDir(o_.dataDir, entries)) {
        Problem(o_.dataDir, "", "cannot read the data directory");
        return false;
    }
    CheckUsers();
    CheckDerived();
    CheckGroups();
    CheckFolders();
    CheckSessions();
    CheckAcls();
    CheckAccessLog();
    std::string bytes;
    if (Read("g_user.dat", bytes)) CheckRecordSize("g_user.dat", bytes.size(), kIdApplicationSize);
    CheckDataDirFiles(entries);
    ScanAttachments();
    for (const DirEntry& e : entries) {
        const int folder = NumberName(e.name);
        if (!e.isDir || folder < 1) continue;
        if (folders_.count(folder)) {
            CheckFolderDir(folder);
            continue;
        }
        std::vector<DirEntry> inside;
        if (ListDir(o_.dataDir + e.name, inside) && !inside.empty())
            Problem(e.name + "/", "",
                    "folder directory of folder " + e.name +
                        ", which is not in b_title.mst (left as it is)");
    }
    for (const auto& [name, matched] : attachmentFiles_) {
        if (matched) continue;
        const std::string folder = name.substr(0, name.find('/'));
        Problem("attachments/" + name, "",
                "file without an attachment entry in " + folder + "/add_file.dat");
    }
    return true;
}

void Checker::CheckDataDirFiles(const std::vector<DirEntry>& entries) {
    for (const DirEntry& e : entries) {
        // Taking the data lock finishes such a change (the repair takes it first).
        if (e.isFile && e.name == kJournalName)
            Problem(e.name, "",
                    "a change of several files that a killed run left unfinished; the board "
                    "finishes it when it next takes the data lock",
                    true);
        if (!e.isFile || !IsTempName(e.name)) continue;
        const std::string path = o_.dataDir + e.name;
        Problem(e.name, "", "temporary file left by an interrupted change", true);
        AddFix("removed the temporary file " + e.name,
               [path] { return unlink(path.c_str()) == 0; });
    }
}

void Checker::CheckUsers() {
    const std::string file = "user.mst";
    std::string bytes;
    if (!Read(file, bytes)) {
        Problem(file, "", "missing: there are no users, and nobody can log in");
        return;
    }
    static const struct {
        size_t field;
        const char* name;
        size_t slot;
    } kTextFields[] = {{0, "USER_ID", kUserIdSize},        {1, "USER_NAME", kUserNameSize},
                       {3, "E_MAIL_ADDR", kUserMailSize},  {4, "USER_PASS", kUserPassSize},
                       {9, "LANGUAGE", kUserLanguageSize}, {10, "PICFILE", kUserPicFileSize}};
    std::unordered_map<std::string, size_t> lineOf;  // upper-cased id -> first line
    const std::vector<std::string_view> lines = WholeLines(bytes);
    for (size_t i = 0; i < lines.size(); ++i) {
        const size_t lineNo = i + 1;
        const std::string where = "line " + Str(static_cast<long long>(lineNo));
        if (LineTooLong(file, lineNo, lines[i])) continue;
        UserRecord u;
        if (ParseUserLine(lines[i], u) != 0) {
            Problem(file, where,
                    "does not parse: a user line has 12 fields, each followed by a comma");
            continue;
        }
        const std::vector<std::string_view> f = CutFields(lines[i]);
        for (const auto& t : kTextFields)
            if (Overflows(f[t.field], t.slot))
                Problem(file, where,
                        std::string(t.name) + " is " +
                            Str(static_cast<long long>(f[t.field].size())) +
                            " bytes; the field holds " + Str(static_cast<long long>(t.slot - 1)));
        if (u.USER_ID.empty()) Problem(file, where, "empty user id");
        std::string upper = u.USER_ID;
        UpperCaseId(upper);
        users_.insert(u.USER_ID);
        usersUpper_.insert(upper);
        auto [it, fresh] = lineOf.emplace(upper, lineNo);
        if (!fresh)
            Problem(file, where,
                    "user id " + Quote(u.USER_ID) + " is already on line " +
                        Str(static_cast<long long>(it->second)) +
                        " (ids are the same in any letter case; the first line wins)");
    }
}

void Checker::CheckDerived() {
    std::vector<std::string> stale;
    for (const DerivedFile& d : CompareDerivedFiles(o_.dataDir)) {
        std::string bytes;
        if (!Read(d.name, bytes) || d.disagreement.empty()) continue;
        Problem(d.name, "", d.disagreement + " (derived file)", true);
        stale.push_back(d.name);
    }
    if (stale.empty()) return;
    std::string names;
    for (const std::string& n : stale) names += (names.empty() ? "" : ", ") + n;
    const std::string dataDir = o_.dataDir;
    AddFix("rebuilt " + names, [dataDir, stale] { return RebuildDerivedFiles(dataDir, stale); });
}

void Checker::CheckGroups() {
    std::string bytes;
    if (Read("group.mst", bytes)) {
        std::map<int32_t, size_t> lineOf;
        int32_t previous = INT32_MIN;
        const std::vector<std::string_view> lines = WholeLines(bytes);
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::string where = "line " + Str(static_cast<long long>(i + 1));
            if (LineTooLong("group.mst", i + 1, lines[i])) continue;
            GroupRecord g;
            if (!ParseGroupLine(lines[i], g)) {
                Problem(
                    "group.mst", where,
                    "does not parse: a group line has an id and a name, each followed by a comma");
                continue;
            }
            auto [it, fresh] = lineOf.emplace(g.groupId, i + 1);
            if (!fresh)
                Problem("group.mst", where,
                        "group id " + Str(g.groupId) + " is already on line " +
                            Str(static_cast<long long>(it->second)));
            else if (g.groupId < previous)
                Problem("group.mst", where,
                        "group " + Str(g.groupId) + " follows group " + Str(previous) +
                            "; the file is kept in ascending id order");
            previous = std::max(previous, g.groupId);
            groups_.insert(g.groupId);
        }
    }
    if (!Read("g_user.mst", bytes)) return;
    std::set<std::string> deadUsers;
    std::set<int32_t> deadGroups;
    bool unordered = false;
    int32_t previous = INT32_MIN;
    const std::vector<std::string_view> lines = WholeLines(bytes);
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string where = "line " + Str(static_cast<long long>(i + 1));
        if (LineTooLong("g_user.mst", i + 1, lines[i])) continue;
        GroupMember m;
        if (!ParseGroupMemberLine(lines[i], m)) {
            Problem("g_user.mst", where,
                    "does not parse: a membership line has a group id and a user id, each followed "
                    "by a comma");
            continue;
        }
        if (!groups_.count(m.groupId)) {
            Problem("g_user.mst", where,
                    "membership in group " + Str(m.groupId) + ", which does not exist", true);
            deadGroups.insert(m.groupId);
        } else if (!users_.count(m.USER_ID)) {
            Problem("g_user.mst", where,
                    "membership of user " + Quote(m.USER_ID) + ", who does not exist", true);
            deadUsers.insert(m.USER_ID);
        }
        if (m.groupId < previous && !unordered) {
            Problem("g_user.mst", where,
                    "group " + Str(m.groupId) + " follows group " + Str(previous) +
                        "; the file is kept in group order",
                    true);
            unordered = true;
        }
        previous = std::max(previous, m.groupId);
    }
    const std::string dataDir = o_.dataDir;
    for (int32_t g : deadGroups)
        AddFix("dropped the memberships in group " + Str(g) + " from g_user.mst", [dataDir, g] {
            return RemoveGroupMembers(dataDir, GroupMember{g, ""}, kRemoveWholeGroup) == 0;
        });
    for (const std::string& u : deadUsers)
        AddFix("dropped the memberships of user " + Quote(u) + " from g_user.mst",
               [dataDir, u] { return RemoveUserFromGroups(dataDir, u) == 0; });
    if (unordered)
        AddFix("sorted g_user.mst by group", [dataDir] { return SortGroupMembers(dataDir) == 0; });
}

void Checker::CheckFolders() {
    const std::string tree = "b_title.mst";
    std::string bytes;
    if (Read(tree, bytes)) {
        struct Open {
            int32_t indentation, kind, folderNo;
        };
        std::vector<Open> path;  // the folders that enclose the current line
        bool first = true;
        int32_t previousIndent = 0;
        const std::vector<std::string_view> lines = WholeLines(bytes);
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::string where = "line " + Str(static_cast<long long>(i + 1));
            if (LineTooLong(tree, i + 1, lines[i])) continue;
            FolderRecord f;
            if (!ParseFolderLine(lines[i], f)) {
                Problem(tree, where,
                        "does not parse: a folder line is a name, a number and a kind, each "
                        "followed by a comma");
                continue;
            }
            const std::string_view name =
                CutFields(lines[i])[0].substr(static_cast<size_t>(f.indentation));
            if (Overflows(name, kFolderNameSize))
                Problem(tree, where,
                        "the folder name is " + Str(static_cast<long long>(name.size())) +
                            " bytes; the field holds " + Str(kFolderNameSize - 1));
            if (f.kind == kFolderUnknown)
                Problem(
                    tree, where,
                    "the kind " + Quote(CutFields(lines[i])[2]) + " is none of Dir, Board, Chat");
            if (f.folderNo < 1)
                Problem(tree, where, "folder number " + Str(f.folderNo) + "; numbers start at 1");
            auto [it, fresh] = folders_.emplace(f.folderNo, i + 1);
            if (!fresh)
                Problem(tree, where,
                        "folder " + Str(f.folderNo) + " is already on line " +
                            Str(static_cast<long long>(it->second)) + " (the first line wins)");
            if (first && f.indentation != 0)
                Problem(tree, where,
                        "the first folder is indented by " + Str(f.indentation) +
                            "; the tree starts at 0");
            else if (!first && f.indentation > previousIndent + 1)
                Problem(tree, where,
                        "indented by " + Str(f.indentation) + " below a line indented by " +
                            Str(previousIndent) +
                            "; a folder lies at most one level deeper than the line above");
            while (!path.empty() && path.back().indentation >= f.indentation) path.pop_back();
            if (!path.empty() && path.back().kind != kFolderDir)
                Problem(tree, where,
                        "lies inside folder " + Str(path.back().folderNo) +
                            ", which is not a directory");
            path.push_back(Open{f.indentation, f.kind, f.folderNo});
            previousIndent = f.indentation;
            first = false;
        }
    }
    const std::string file = "b_title2.mst";
    if (Read(file, bytes)) {
        CheckRecordSize(file, bytes.size(), kFolderSettingsSize);
        size_t k = 0;
        for (std::string_view r : SplitRecords(bytes, kFolderSettingsSize)) {
            const std::string where = "record " + Str(static_cast<long long>(++k));
            const int32_t no = UnpackFolderSettings(r).folderNo;
            if (!settings_.insert(no).second)
                Problem(
                    file, where,
                    "a second settings record of folder " + Str(no) + " (the first one is used)");
            else if (!folders_.count(no))
                Problem(file, where,
                        "settings of folder " + Str(no) + ", which is not in b_title.mst");
        }
    }
    for (const auto& [no, line] : folders_)
        if (!settings_.count(no))
            Problem(tree, "line " + Str(static_cast<long long>(line)),
                    "folder " + Str(no) + " has no settings record in b_title2.mst");
}

void Checker::CheckSessions() {
    const std::string file = "skey.mst";
    std::string bytes;
    if (!Read(file, bytes)) return;
    CheckRecordSize(file, bytes.size(), kSessionRecordSize);
    std::set<std::string> dead;
    size_t k = 0;
    for (std::string_view r : SplitRecords(bytes, kSessionRecordSize)) {
        ++k;
        const SessionRecord s = UnpackSessionRecord(r);
        std::string upper = s.USER_ID;
        UpperCaseId(upper);
        if (usersUpper_.count(upper)) continue;
        Problem(file, "record " + Str(static_cast<long long>(k)),
                "session of user " + Quote(s.USER_ID) + ", who does not exist", true);
        dead.insert(s.USER_ID);
    }
    const std::string dataDir = o_.dataDir;
    for (const std::string& u : dead)
        AddFix("dropped the sessions of user " + Quote(u) + " from skey.mst",
               [dataDir, u] { return DeleteSessionsOfUser(dataDir, u) == 0; });
}

void Checker::CheckAcls() {
    std::string bytes;
    const auto badLevel = [](int32_t level) { return level < 1 || level > 3; };
    if (Read("b_g_acl.mst", bytes)) {
        CheckRecordSize("b_g_acl.mst", bytes.size(), kGroupAclEntrySize);
        long dead = 0;
        size_t k = 0;
        for (std::string_view r : SplitRecords(bytes, kGroupAclEntrySize)) {
            const std::string where = "record " + Str(static_cast<long long>(++k));
            const GroupAclEntry e = UnpackGroupAclEntry(r);
            if (!folders_.count(e.folderNo)) {
                Problem("b_g_acl.mst", where,
                        "entry of folder " + Str(e.folderNo) + ", which does not exist", true);
                ++dead;
            } else if (!groups_.count(e.groupId)) {
                Problem("b_g_acl.mst", where,
                        "entry of group " + Str(e.groupId) + ", which does not exist", true);
                ++dead;
            } else if (badLevel(e.level)) {
                Problem("b_g_acl.mst", where,
                        "access level " + Str(e.level) + " is none of 1, 2, 3");
            }
        }
        if (dead > 0)
            AddFix("dropped " + Str(dead) +
                       " entries of b_g_acl.mst naming folders or groups that do not exist",
                   [this] {
                       return DropGroupAcls(o_.dataDir, [this](const GroupAclEntry& e) {
                                  return !folders_.count(e.folderNo) || !groups_.count(e.groupId);
                              }) == 0;
                   });
    }
    if (Read("b_u_acl.mst", bytes)) {
        CheckRecordSize("b_u_acl.mst", bytes.size(), kUserAclEntrySize);
        long dead = 0;
        size_t k = 0;
        for (std::string_view r : SplitRecords(bytes, kUserAclEntrySize)) {
            const std::string where = "record " + Str(static_cast<long long>(++k));
            const UserAclEntry e = UnpackUserAclEntry(r);
            if (!folders_.count(e.folderNo)) {
                Problem("b_u_acl.mst", where,
                        "entry of folder " + Str(e.folderNo) + ", which does not exist", true);
                ++dead;
            } else if (!users_.count(e.USER_ID)) {
                Problem("b_u_acl.mst", where,
                        "entry of user " + Quote(e.USER_ID) + ", who does not exist", true);
                ++dead;
            } else if (badLevel(e.level)) {
                Problem("b_u_acl.mst", where,
                        "access level " + Str(e.level) + " is none of 1, 2, 3");
            }
        }
        if (dead > 0)
            AddFix("dropped " + Str(dead) +
                       " entries of b_u_acl.mst naming folders or users that do not exist",
                   [this] {
                       return DropUserAcls(o_.dataDir, [this](const UserAclEntry& e) {
                                  return !folders_.count(e.folderNo) || !users_.count(e.USER_ID);
                              }) == 0;
                   });
    }
}

void Checker::CheckAccessLog() {
    const std::string file = "system.log";
    std::string bytes;
    if (!Read(file, bytes)) return;
    const std::vector<std::string_view> lines = WholeLines(bytes);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (LineTooLong(file, i + 1, lines[i])) continue;
        AccessLogEntry e;
        if (!ParseAccessLogLine(lines[i], e))
            Problem(file, "line " + Str(static_cast<long long>(i + 1)),
                    "does not parse: a log line is date, user id, login or write, number, address "
                    "and browser, separated by commas");
    }
}

void Checker::ScanAttachments() {
    if (o_.attachDir.empty()) {
        r_.notes.push_back("attachment files not checked: no attachment directory given");
        return;
    }
    std::vector<DirEntry> folders, messages, slots, files;
    if (!ListDir(o_.attachDir, folders)) {
        Problem(o_.attachDir, "", "cannot read the attachment directory");
        return;
    }
    // Only the tree the board writes is looked at: <folder>/X<message>/<slot>/<file>.
    for (const DirEntry& f : folders) {
        const int folder = NumberName(f.name);
        if (!f.isDir || folder < 1) continue;
        const std::string fdir = o_.attachDir + f.name + "/";
        if (!ListDir(fdir, messages)) continue;
        for (const DirEntry& m : messages) {
            const int message =
                m.name.size() > 1 && m.name[0] == 'X' ? NumberName(m.name.substr(1)) : -1;
            if (!m.isDir || message < 1) continue;
            if (!ListDir(fdir + m.name + "/", slots)) continue;
            for (const DirEntry& s : slots) {
                const int slot = NumberName(s.name);
                if (!s.isDir || slot < 1) continue;
                if (!ListDir(fdir + m.name + "/" + s.name + "/", files)) continue;
                for (const DirEntry& file : files) {
                    if (!file.isFile) continue;
                    Count(file.size);
                    attachmentFiles_[AttachmentName(folder, message, slot, file.name)] = false;
                    attachmentFolders_.insert(folder);
                }
            }
        }
    }
}

void Checker::CheckFolderDir(int folder) {
    const std::string dir = Str(folder) + "/";
    std::vector<DirEntry> entries;
    if (!ListDir(o_.dataDir + dir, entries)) {
        Problem(dir, "", "cannot read the folder directory");
        return;
    }
    std::map<int, uint64_t> bodies;
    std::set<int> markFiles;
    bool hasIndex = false;
    std::set<std::string> names;
    for (const DirEntry& e : entries) {
        if (!e.isFile) continue;
        names.insert(e.name);
        if (IsTempName(e.name)) {
            const std::string path = o_.dataDir + dir + e.name;
            Problem(dir + e.name, "", "temporary file left by an interrupted change", true);
            AddFix("removed the temporary file " + dir + e.name,
                   [path] { return unlink(path.c_str()) == 0; });
        } else if (int m = MessageFileNumber(e.name, 'X'); m > 0) {
            bodies[m] = e.size;
            Count(e.size);
        } else if (int m2 = MessageFileNumber(e.name, 'R'); m2 > 0) {
            markFiles.insert(m2);
        } else if (e.name == "index.dat") {
            hasIndex = true;
        }
    }

    std::vector<MessageIndexEntry> index;
    std::string bytes;
    if (hasIndex && Read(dir + "index.dat", bytes)) {
        CheckRecordSize(dir + "index.dat", bytes.size(), kMessageIndexEntrySize);
        for (std::string_view r : SplitRecords(bytes, kMessageIndexEntrySize))
            index.push_back(UnpackMessageIndexEntry(r));
    }
    CheckIndex(folder, dir, index);

    std::set<int32_t> numbers;
    for (const MessageIndexEntry& e : index) numbers.insert(e.messageNo);
    for (int m : numbers) {
        const auto body = bodies.find(m);
        const std::string name = "X" + Str(m) + ".DAT";
        if (body == bodies.end())
            Problem(dir + name, "", "body file of message " + Str(m) + " is missing");
        else if (body->second > kMaxBodyRead)
            Problem(dir + name, "",
                    "body is " + Str(static_cast<long long>(body->second)) +
                        " bytes; the reader takes " + Str(kMaxBodyRead));
    }
    CheckReadMarks(folder, dir, markFiles, bodies, numbers);
    CheckAttachments(folder, dir, index);
    if (names.count("unread.dat")) CheckNoReadList(folder, dir);
    if (names.count("chat.idx") && Read(dir + "chat.idx", bytes))
        CheckChatMembers(folder, dir, bytes);
    if (names.count("chat.dat") && Read(dir + "chat.dat", bytes))
        CheckRecordSize(dir + "chat.dat", bytes.size(), kChatEntrySize);
}

// The placement rule of the message index: every thread is one block that starts with its
// first message (depth 0, thread number = its own number) and holds its replies depth-first,
// each reply at most one level deeper than the record before it, all with the thread's number.
void Checker::CheckIndex(int folder, const std::string& dir,
                         const std::vector<MessageIndexEntry>& index) {
    const std::string file = dir + "index.dat";
    std::set<int32_t> numbers;
    for (const MessageIndexEntry& e : index) numbers.insert(e.messageNo);
    std::set<int32_t> seen, threads;
    int32_t thread = 0;
    int32_t previousDepth = -1;  // -1: no thread has started
    for (size_t k = 0; k < index.size(); ++k) {
        const MessageIndexEntry& e = index[k];
        const std::string where =
            "record " + Str(static_cast<long long>(k + 1)) + " (message " + Str(e.messageNo) + ")";
        if (e.folderNo != folder) Problem(file, where, "names folder " + Str(e.folderNo));
        if (e.messageNo < 1) Problem(file, where, "message numbers start at 1");
        if (!seen.insert(e.messageNo).second)
            Problem(file, where, "message number " + Str(e.messageNo) + " is used twice");
        if (e.depth < 0) {
            Problem(file, where, "negative depth " + Str(e.depth));
        } else if (e.depth == 0) {
            if (!threads.insert(e.threadNo).second)
                Problem(file, where, "starts thread " + Str(e.threadNo) + " a second time");
            else if (e.threadNo != e.messageNo && numbers.count(e.threadNo))
                Problem(
                    file, where,
                    "starts a thread, but its thread number is that of message " + Str(e.threadNo));
            thread = e.threadNo;
        } else if (previousDepth < 0) {
            Problem(file, where, "depth " + Str(e.depth) + " before any thread has started");
        } else {
            if (e.depth > previousDepth + 1)
                Problem(file, where,
                        "depth " + Str(e.depth) + " below a record of depth " + Str(previousDepth) +
                            "; a reply lies at most one level deeper than the record before it");
            if (e.threadNo != thread)
                Problem(
                    file, where,
                    "thread number " + Str(e.threadNo) + ", but it lies in thread " + Str(thread));
        }
        if (e.depth >= 0) previousDepth = e.depth;
    }
}

void Checker::CheckReadMarks(int folder, const std::string& dir, const std::set<int>& markFiles,
                             const std::map<int, uint64_t>& bodies,
                             const std::set<int32_t>& numbers) {
    const std::string dataDir = o_.dataDir;
    for (int m : markFiles) {
        const std::string file = dir + "R" + Str(m) + ".DAT";
        std::string bytes;
        if (!Read(file, bytes)) continue;
        CheckRecordSize(file, bytes.size(), kReadMarkSize);
        const std::vector<std::string_view> records = SplitRecords(bytes, kReadMarkSize);
        if (!numbers.count(m)) {
            if (records.empty()) continue;  // emptied when the message was deleted
            if (bodies.count(m)) {
                // Body and marks without a record: the index lost the message. Left for the
                // operator, with both files as they are.
                Problem(file, "",
                        "message " + Str(m) + " is not in index.dat, but its body X" + Str(m) +
                            ".DAT and read marks are (an index record lost?)");
            } else {
                Problem(file, "", "read marks of message " + Str(m) + ", which is not in index.dat",
                        true);
                AddFix("cleared the read marks of " + file + " (no such message)",
                       [dataDir, folder, m] { return ClearReadMarks(dataDir, folder, m) == 0; });
            }
            continue;
        }
        std::set<std::string> readers;
        long dead = 0;
        size_t k = 0;
        for (std::string_view r : records) {
            const ReadMark mark = UnpackReadMark(r);
            const std::string where = "record " + Str(static_cast<long long>(++k));
            if (!users_.count(mark.userId)) {
                Problem(file, where,
                        "read mark of user " + Quote(mark.userId) + ", who does not exist", true);
                ++dead;
            } else if (!readers.insert(mark.userId).second) {
                Problem(file, where, "a second read mark of user " + Quote(mark.userId), true);
                ++dead;
            }
        }
        if (dead == 0) continue;
        AddFix("dropped " + Str(dead) + " read marks of unknown users or repeated from " + file,
               [this, folder, m] {
                   std::set<std::string> kept;
                   return DropReadMarks(o_.dataDir, folder, m, [&](const ReadMark& mark) {
                              return !users_.count(mark.userId) || !kept.insert(mark.userId).second;
                          }) == 0;
               });
    }
}

void Checker::CheckAttachments(int folder, const std::string& dir,
                               const std::vector<MessageIndexEntry>& index) {
    const std::string file = dir + "add_file.dat";
    std::string bytes;
    std::map<int32_t, std::set<int32_t>> slotsOf;  // message -> slots with an entry
    if (Read(file, bytes)) {
        CheckRecordSize(file, bytes.size(), kAttachmentEntrySize);
        std::set<int32_t> numbers;
        for (const MessageIndexEntry& e : index) numbers.insert(e.messageNo);
        size_t k = 0;
        for (std::string_view r : SplitRecords(bytes, kAttachmentEntrySize)) {
            const AttachmentEntry a = UnpackAttachmentEntry(r);
            const std::string where = "record " + Str(static_cast<long long>(++k));
            if (!slotsOf[a.messageNo].insert(a.slot).second)
                Problem(file, where,
                        "a second entry for slot " + Str(a.slot) + " of message " +
                            Str(a.messageNo) + " (the first one is used)");
            if (!numbers.count(a.messageNo))
                Problem(
                    file, where,
                    "attachment of message " + Str(a.messageNo) + ", which is not in index.dat");
            if (o_.attachDir.empty()) continue;
            auto it =
                attachmentFiles_.find(AttachmentName(folder, a.messageNo, a.slot, a.fileName));
            if (it == attachmentFiles_.end())
                Problem(file, where,
                        "the file attachments/" +
                            AttachmentName(folder, a.messageNo, a.slot, a.fileName) +
                            " is missing");
            else
                it->second = true;
        }
    }
    for (const MessageIndexEntry& e : index) {
        const auto it = slotsOf.find(e.messageNo);
        const int32_t present = it == slotsOf.end() ? 0 : static_cast<int32_t>(it->second.size());
        if (e.attachCount == present) continue;
        const bool fixable = e.folderNo == folder;
        Problem(dir + "index.dat", "message " + Str(e.messageNo),
                "attachment count " + Str(e.attachCount) + ", but add_file.dat holds " +
                    Str(present) + " entries for it",
                fixable);
        if (!fixable) continue;
        MessageIndexEntry fixed = e;
        fixed.attachCount = present;
        const std::string dataDir = o_.dataDir;
        AddFix("set the attachment count of message " + Str(e.messageNo) + " in " + dir +
                   "index.dat to " + Str(present),
               [dataDir, fixed] { return RewriteMessage(dataDir, fixed) == 0; });
    }
}

void Checker::CheckNoReadList(int folder, const std::string& dir) {
    const std::string file = dir + "unread.dat";
    std::string bytes;
    if (!Read(file, bytes)) return;
    const std::vector<std::string_view> lines = WholeLines(bytes);
    for (size_t i = 0; i < lines.size(); ++i) LineTooLong(file, i + 1, lines[i], kNoReadLineLimit);
    const std::vector<std::string> ids = ParseNoReadList(bytes);
    std::set<std::string> dead;
    for (size_t i = 0; i < ids.size(); ++i) {
        if (users_.count(ids[i])) continue;
        Problem(file, "line " + Str(static_cast<long long>(i + 1)),
                "user " + Quote(ids[i]) + " does not exist", true);
        dead.insert(ids[i]);
    }
    const std::string dataDir = o_.dataDir;
    for (const std::string& u : dead)
        AddFix("dropped user " + Quote(u) + " from " + file,
               [dataDir, folder, u] { return RemoveNoReadEntry(dataDir, folder, u) == 0; });
}

// A chat room's member records are found by the caller's id as stored (exact compare) and
// hold only the member's choices and presence: the record of a user who does not exist is
// never read again, nor is a second record of a user (the first one is used and updated), so
// dropping them loses nothing.
void Checker::CheckChatMembers(int folder, const std::string& dir, const std::string& bytes) {
    const std::string file = dir + "chat.idx";
    CheckRecordSize(file, bytes.size(), kChatMemberSize);
    std::set<std::string> members;
    long dead = 0;
    size_t k = 0;
    for (std::string_view r : SplitRecords(bytes, kChatMemberSize)) {
        const ChatMember m = UnpackChatMember(r);
        const std::string where = "record " + Str(static_cast<long long>(++k));
        if (!users_.count(m.userId)) {
            Problem(file, where, "member record of user " + Quote(m.userId) + ", who does not exist",
                    true);
            ++dead;
        } else if (!members.insert(m.userId).second) {
            Problem(file, where,
                    "a second member record of user " + Quote(m.userId) + " (the first one is used)",
                    true);
            ++dead;
        }
    }
    if (dead == 0) return;
    const std::string path = ChatMemberListPath(o_.dataDir, folder);
    AddFix("dropped " + Str(dead) + " member records of unknown users or repeated from " + file,
           [this, path] {
               std::set<std::string> kept;
               return DropRecords(o_.dataDir, path, path + ".TMP", kChatMemberSize,
                                  [&](std::string_view r) {
                                      const std::string id = UnpackChatMember(r).userId;
                                      return !users_.count(id) || !kept.insert(id).second;
                                  }) == 0;
           });
}

}  // namespace

int CheckInstallation(const CheckOptions& options, CheckResult& result, Progress* progress) {
    result = CheckResult();
    if (!options.repair) {
        Checker checker(options, result, progress);
        return checker.Run() ? 0 : -1;
    }
    // The repair holds the lock from the first read to the last write: no request changes
    // anything in between, so the problems found are the ones mended.
    const bool pending = FileExists(options.dataDir + std::string(kJournalName));
    DataLock lock(options.dataDir);
    if (pending && !FileExists(options.dataDir + std::string(kJournalName)))
        result.repairs.push_back("finished the change of several files that board.journal named");
    CheckResult before;
    Checker first(options, before, progress);
    if (!first.Run()) {
        result = before;
        return -1;
    }
    for (const Checker::Fix& fix : first.fixes())
        result.repairs.push_back(fix.apply() ? fix.what : "could not be done: " + fix.what);
    CheckOptions again = options;
    again.repair = false;
    CheckResult after;
    Checker second(again, after, progress);
    const bool ran = second.Run();
    after.repairs = std::move(result.repairs);
    result = std::move(after);
    return ran ? 0 : -1;
}
