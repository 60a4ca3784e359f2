#include "store/users.h"

#include "cgi/dbcs.h"
#include "store/recordfile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <cstdio>
#include <unistd.h>
#include <unordered_map>

namespace {

constexpr std::string_view kUserFile = kUserFileName;

// Reads user.mst whole; a missing file is created empty. false when it can be neither read
// nor created.
bool LoadUserFile(const std::string& dataDir, std::string_view name, std::string& bytes) {
    const std::string path = DataFilePath(dataDir, name);
    if (ReadWholeFile(path, bytes)) return true;
    if (FileExists(path)) return false;
    int fd = OpenRecordFile(path);
    if (fd < 0) return false;
    close(fd);
    return true;
}

}  // namespace

bool ScanUserLines(const std::string& dataDir,
                   const std::function<bool(std::string_view line)>& visit) {
    const std::string path = DataFilePath(dataDir, kUserFile);
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::string none;
        return LoadUserFile(dataDir, kUserFile, none);  // created empty when missing
    }
    // Complete lines are handed on from each piece; the rest waits for the next one. Lines are
    // split exactly as in the whole file: every line starts after a line end either way.
    constexpr size_t kPiece = 65536;
    std::string buffer;
    buffer.reserve(2 * kPiece);
    size_t kept = 0;
    bool ok = true, stopped = false;
    while (!stopped) {
        buffer.resize(kept + kPiece);
        const ssize_t n = read(fd, buffer.data() + kept, kPiece);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        const size_t size = kept + static_cast<size_t>(n);
        const size_t lf = std::string_view(buffer.data(), size).rfind('\n');
        if (lf == std::string_view::npos) {
            kept = size;
            continue;
        }
        for (std::string_view line : SplitTextLines(std::string_view(buffer.data(), lf + 1)))
            if ((stopped = visit(line))) break;
        kept = size - (lf + 1);
        std::memmove(buffer.data(), buffer.data() + lf + 1, kept);
    }
    close(fd);
    if (!ok) return false;
    if (!stopped)
        for (std::string_view line : SplitTextLines(std::string_view(buffer.data(), kept)))
            if (visit(line)) break;
    return true;
}

namespace {

// A line of user.mst with its 12 fields, or (forList) a line of the list files, which leave
// out WRITE_MODE and PICFILE.
std::string FormatLine(const UserRecord& u, bool forList) {
    std::string line;
    line += FieldValue(u.USER_ID, kUserIdSize) + ',';
    line += FieldValue(u.USER_NAME, kUserNameSize) + ',';
    line += std::to_string(u.USER_LEVEL) + ',';
    line += FieldValue(u.E_MAIL_ADDR, kUserMailSize) + ',';
    line += FieldValue(u.USER_PASS, kUserPassSize) + ',';
    line += std::to_string(u.P_GROUP) + ',';
    line += std::to_string(u.USER_DISP_DEF) + ',';
    line += std::to_string(u.MODE) + ',';
    if (!forList) line += std::to_string(u.WRITE_MODE) + ',';
    line += FieldValue(u.LANGUAGE, kUserLanguageSize) + ',';
    if (!forList) line += FieldValue(u.PICFILE, kUserPicFileSize) + ',';
    line += std::to_string(u.NO_READ_MODE) + ',';
    line += kLineEnd;
    return line;
}

// The users of one read of user.mst, looked up as FindUser looks them up: the first
// well-formed line whose upper-cased id equals the upper-cased query.
class UserIndex {
public:
    explicit UserIndex(std::string_view bytes) {
        for (std::string_view line : SplitTextLines(bytes)) {
            UserRecord u;
            if (ParseUserLine(line, u) != 0) continue;
            std::string key = u.USER_ID;
            UpperCaseId(key);
            first_.emplace(std::move(key), users_.size());  // keeps the first of equal keys
            users_.push_back(std::move(u));
        }
    }
    const UserRecord* Find(std::string id) const {
        UpperCaseId(id);
        auto it = first_.find(id);
        return it == first_.end() ? nullptr : &users_[it->second];
    }

private:
    std::vector<UserRecord> users_;
    std::unordered_map<std::string, size_t> first_;
};

// The order of the exchange sort the list files have always been written in: for each
// position i and each later j, swap when the entry at i belongs after the one at j. Equal
// keys thus end up in the order this sort leaves them, not in a stable order. Keys are
// compared through their ranks among the distinct keys (bytewise ascending).
std::vector<size_t> ExchangeSortOrder(const std::vector<std::string>& keys, bool descending) {
    std::vector<std::string> distinct = keys;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    const size_t n = keys.size();
    std::vector<uint32_t> rank(n);
    for (size_t k = 0; k < n; ++k)
        rank[k] = static_cast<uint32_t>(
            std::lower_bound(distinct.begin(), distinct.end(), keys[k]) - distinct.begin());
    if (descending)
        for (auto& r : rank) r = static_cast<uint32_t>(distinct.size()) - r;

    std::vector<size_t> order(n);
    for (size_t k = 0; k < n; ++k) order[k] = k;
    for (size_t i = 0; i + 1 < n; ++i) {
        uint32_t held = rank[order[i]];
        for (size_t j = i + 1; j < n; ++j) {
            if (held > rank[order[j]]) {
                std::swap(order[i], order[j]);
                held = rank[order[i]];
            }
        }
    }
    return order;
}

// The content of one list file: for each id in the given order, the line of the user FindUser
// gives for it; ids without such a user are left out.
std::string UserListText(const UserIndex& users, const std::vector<std::string>& ids,
                         const std::vector<size_t>& order) {
    std::string content;
    for (size_t k : order) {
        if (const UserRecord* u = users.Find(ids[k])) content += FormatLine(*u, true);
    }
    return content;
}

void WriteUserList(const std::string& dataDir, std::string_view name, const std::string& content) {
    const std::string path = DataFilePath(dataDir, name);
    RewriteViaTemp(dataDir, path, path + ".TMP", content);
}

// Sort key of a number field of a list line: the first width characters of the number in
// "%0<width>d"; an empty field gives width zero bytes.
std::string NumberKey(std::string_view field, int width) {
    if (field.empty()) return std::string(static_cast<size_t>(width), '\0');
    char buf[32];
    snprintf(buf, sizeof buf, "%0*d", width, ParseInt(field));
    return std::string(buf).substr(0, static_cast<size_t>(width));
}

// The list builders by level and by group: entries of the source list that have at least
// minFields fields, keyed by field keyField.
std::string ListFromList(std::string_view src, const UserIndex& users, size_t minFields,
                         size_t keyField, int width, bool descending) {
    std::vector<std::string> ids, keys;
    for (std::string_view line : SplitTextLines(src)) {
        std::vector<std::string_view> f = CutFields(line);
        if (f.size() < minFields) continue;
        ids.push_back(CutToSlot(f[0], kUserIdSize));
        keys.push_back(NumberKey(f[keyField], width));
    }
    return UserListText(users, ids, ExchangeSortOrder(keys, descending));
}

std::string ListById(const UserIndex& users, std::string_view master) {
    std::vector<std::string> ids, keys;
    for (std::string_view line : SplitTextLines(master)) {
        std::vector<std::string_view> f = CutFields(line);
        if (f.empty() || f[0].empty()) continue;
        std::string id = CutToSlot(f[0], kUserIdSize);
        std::string key = id;
        for (char& c : key)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        ids.push_back(std::move(id));
        keys.push_back(std::move(key));
    }
    return UserListText(users, ids, ExchangeSortOrder(keys, false));
}

std::string ListByLevel(const UserIndex& users, std::string_view byId) {
    return ListFromList(byId, users, 3, 2, 4, true);
}

std::string ListByGroup(const UserIndex& users, std::string_view byLevel) {
    return ListFromList(byLevel, users, 6, 5, 8, false);
}

// Rebuilds target from the list file source with make.
void BuildListFromList(const std::string& dataDir, std::string_view source,
                       std::string_view target,
                       std::string (*make)(const UserIndex&, std::string_view)) {
    DataLock lock(dataDir);
    std::string src, master;
    if (!LoadUserFile(dataDir, source, src)) return;
    if (!LoadUserFile(dataDir, kUserFile, master)) return;
    WriteUserList(dataDir, target, make(UserIndex(master), src));
}

// What RewriteUser and DeleteUser make of user.mst: lines without a comma are dropped, lines
// whose first field equals id are replaced by replacement (or dropped when it is null), all
// others are copied byte for byte (a kept piece of a long line is ended when what followed it
// was dropped or replaced). Whether a line matched.
bool EditUserLines(std::string_view src, const std::string& id, const UserRecord* replacement,
                   std::string& out) {
    const std::vector<std::string_view> texts = SplitTextLines(src);
    const std::vector<std::string_view> raws = SplitRawLines(src);
    out.clear();
    out.reserve(src.size() + 512);
    bool matched = false;
    long lastCopied = -1;
    for (size_t k = 0; k < texts.size(); ++k) {
        std::vector<std::string_view> f = CutFields(texts[k]);
        if (f.empty()) continue;
        if (CutToSlot(f[0], kUserIdSize) == id) {
            matched = true;
            if (replacement) {
                EndOpenLine(out);
                out += FormatUserLine(*replacement);
            }
        } else {
            // A piece of a long line whose rest was dropped is ended before the next line.
            CopyRawLine(out, raws[k], static_cast<long>(k), lastCopied);
        }
    }
    return matched;
}

// 0 when a line matched, -1 when none did or the file could not be rewritten.
int RewriteUserLines(const std::string& dataDir, const std::string& id,
                     const UserRecord* replacement) {
    DataLock lock(dataDir);
    const std::string path = DataFilePath(dataDir, kUserFile);
    std::string src;
    bool existed;
    if (!ReadFileForChange(path, src, existed)) return -1;
    std::string out;
    const bool matched = EditUserLines(src, id, replacement, out);
    if (RewriteIfChanged(dataDir, path, path + ".TMP", existed, src, out) != 0) return -1;
    return matched ? 0 : -1;
}

}  // namespace

void UpperCaseId(std::string& id) {
    for (size_t i = 0; i < id.size(); ++i) {
        if (IsLeadByte(id[i])) {
            ++i;
        } else if (id[i] >= 'a' && id[i] <= 'z') {
            id[i] = static_cast<char>(id[i] - 'a' + 'A');
        }
    }
}

int ParseUserLine(std::string_view line, UserRecord& out) {
    std::vector<std::string_view> f = CutFields(line);
    if (f.size() < 11) return -1;
    out.USER_ID = CutToSlot(f[0], kUserIdSize);
    out.USER_NAME = CutToSlot(f[1], kUserNameSize);
    out.USER_LEVEL = ParseInt(f[2]);
    out.E_MAIL_ADDR = CutToSlot(f[3], kUserMailSize);
    out.USER_PASS = CutToSlot(f[4], kUserPassSize);
    out.P_GROUP = ParseInt(f[5]);
    out.USER_DISP_DEF = ParseInt(f[6]);
    out.MODE = ParseInt(f[7]);
    out.WRITE_MODE = ParseInt(f[8]);
    out.LANGUAGE = CutToSlot(f[9], kUserLanguageSize);
    out.PICFILE = CutToSlot(f[10], kUserPicFileSize);
    out.NO_READ_MODE = f.size() >= 12 ? ParseInt(f[11]) : 0;
    return 0;
}

std::string FormatUserLine(const UserRecord& u) { return FormatLine(u, false); }

namespace {

// FindUser's test of one line against the upper-cased id: the line is unpacked only when its id
// matches, and counts only when well-formed; then out holds the user and id the id as stored.
bool MatchUserLine(std::string_view line, std::string& id, UserRecord& out) {
    const size_t comma = line.find(',');
    if (comma == std::string_view::npos) return false;
    std::string upper = CutToSlot(line.substr(0, comma), kUserIdSize);
    UpperCaseId(upper);
    if (upper != id) return false;
    UserRecord u;
    if (ParseUserLine(line, u) != 0) return false;
    id = u.USER_ID;
    out = std::move(u);
    return true;
}

}  // namespace

int FindUser(const std::string& dataDir, std::string& id, UserRecord& out) {
    UpperCaseId(id);
    bool found = false;
    if (!ScanUserLines(dataDir, [&](std::string_view line) {
            return found = MatchUserLine(line, id, out);
        }))
        return -1;
    return found ? 0 : -1;
}

int FindUserIn(std::string_view bytes, std::string& id, UserRecord& out) {
    UpperCaseId(id);
    for (std::string_view line : SplitTextLines(bytes))
        if (MatchUserLine(line, id, out)) return 0;
    return -1;
}

int ReadUserAt(const std::string& dataDir, int index, UserRecord& out) {
    if (index < 0) return -1;
    std::string bytes;
    if (!LoadUserFile(dataDir, kUserFile, bytes)) return -1;
    int seen = 0;
    for (std::string_view line : SplitTextLines(bytes)) {
        UserRecord u;
        if (ParseUserLine(line, u) != 0) continue;
        if (seen++ == index) {
            out = std::move(u);
            return 0;
        }
    }
    return -1;
}

std::vector<UserRecord> ReadAllUsers(const std::string& dataDir) {
    std::vector<UserRecord> users;
    std::string bytes;
    if (!LoadUserFile(dataDir, kUserFile, bytes)) return users;
    for (std::string_view line : SplitTextLines(bytes)) {
        UserRecord u;
        if (ParseUserLine(line, u) == 0) users.push_back(std::move(u));
    }
    return users;
}

int RewriteUser(const std::string& dataDir, const UserRecord& user) {
    return RewriteUserLines(dataDir, FieldValue(user.USER_ID, kUserIdSize), &user);
}

int DeleteUser(const std::string& dataDir, const std::string& id) {
    return RewriteUserLines(dataDir, id, nullptr);
}

int AppendUser(const std::string& dataDir, const UserRecord& user) {
    return AppendTextLine(dataDir, DataFilePath(dataDir, kUserFile), FormatUserLine(user), true);
}

bool DropUserIn(std::string& bytes, const std::string& id) {
    std::string out;
    const bool matched = EditUserLines(bytes, id, nullptr, out);
    bytes = std::move(out);
    return matched;
}

bool ClearPrimaryGroupIn(std::string& bytes, int32_t group) {
    const std::vector<std::string_view> texts = SplitTextLines(bytes);
    const std::vector<std::string_view> raws = SplitRawLines(bytes);
    std::string out;
    out.reserve(bytes.size());
    bool changed = false;
    long lastCopied = -1;
    for (size_t k = 0; k < texts.size(); ++k) {
        UserRecord u;
        if (ParseUserLine(texts[k], u) == 0 && u.P_GROUP == group) {
            u.P_GROUP = 0;
            EndOpenLine(out);
            out += FormatUserLine(u);
            changed = true;
        } else {
            CopyRawLine(out, raws[k], static_cast<long>(k), lastCopied);
        }
    }
    if (changed) bytes = std::move(out);
    return changed;
}

void AppendUserIn(std::string& bytes, const UserRecord& user) {
    EndOpenLine(bytes);
    bytes += FormatUserLine(user);
}

void BuildUserListById(const std::string& dataDir) {
    DataLock lock(dataDir);
    std::string master;
    if (!LoadUserFile(dataDir, kUserFile, master)) return;
    WriteUserList(dataDir, "user2.mst", ListById(UserIndex(master), master));
}

void BuildUserListByLevel(const std::string& dataDir) {
    BuildListFromList(dataDir, "user2.mst", "user3.mst", ListByLevel);
}

void BuildUserListByGroup(const std::string& dataDir) {
    BuildListFromList(dataDir, "user3.mst", "user4.mst", ListByGroup);
}

UserLists UserListsOf(std::string_view userFile) {
    const UserIndex users(userFile);
    UserLists lists;
    lists.byId = ListById(users, userFile);
    lists.byLevel = ListByLevel(users, lists.byId);
    lists.byGroup = ListByGroup(users, lists.byLevel);
    return lists;
}

bool IsUsableUserId(const std::string& id) {
    if (id == "." || id == "..") return false;
    for (unsigned char c : id)
        if (c < 0x20 || c == 0x7F || c == '/') return false;
    // A backslash is refused where it stands as a character; as the second byte of a two-byte
    // character it is part of that character.
    for (const char* bad : {",", " ", "\\"})
        if (FindText(id, bad) >= 0) return false;
    return true;
}
