#include "app/run.h"

#include <algorithm>

#include <fcntl.h>
#include <unistd.h>

#include "store/groups.h"
#include "store/readmarks.h"
#include "store/recordfile.h"

const std::vector<FolderRecord>& FolderTree(Run& run) {
    RunCache& c = run.cache;
    if (!c.treeLoaded) {
        c.tree = ReadFolderTree(run.dataDir());
        c.treeLoaded = true;
    }
    return c.tree;
}

const FolderSettings* CachedFolderSettings(Run& run, int folderNo) {
    RunCache& c = run.cache;
    if (!c.folderSettingsLoaded) {
        const std::string path = DataFilePath(run.dataDir(), "b_title2.mst");
        c.folderSettingsFd = OpenRecordFile(path);
        if (c.folderSettingsFd < 0) c.folderSettingsFd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        c.folderSettingsLoaded = true;
    }
    auto known = c.folderSettings.find(folderNo);
    if (known != c.folderSettings.end()) return known->second.get();
    // The file is scanned once, in pieces, as far as the folders asked for need, noting where
    // each folder's first record lies (every record of a piece read, so that no piece is read
    // twice); only the records asked for are unpacked (the first of the folder, as
    // FindSettingsIn takes).
    constexpr size_t kPieceRecords = 8;
    std::string piece;
    while (c.folderSettingsFd >= 0 && !c.folderSettingsDone &&
           c.folderSettingsAt.find(folderNo) == c.folderSettingsAt.end()) {
        const size_t first = c.folderSettingsScanned;
        const size_t got = ReadBytesAt(c.folderSettingsFd, first * kFolderSettingsSize,
                                       kPieceRecords * kFolderSettingsSize, piece);
        const size_t whole = got / kFolderSettingsSize;
        for (size_t k = 0; k < whole; ++k) {
            const std::string_view r = std::string_view(piece).substr(k * kFolderSettingsSize);
            c.folderSettingsAt.emplace(GetInt32(r, 0), first + k);
        }
        c.folderSettingsScanned += whole;
        if (whole < kPieceRecords) c.folderSettingsDone = true;
    }
    std::unique_ptr<FolderSettings> found;
    auto at = c.folderSettingsAt.find(folderNo);
    std::string record;
    if (at != c.folderSettingsAt.end() &&
        ReadBytesAt(c.folderSettingsFd, at->second * kFolderSettingsSize, kFolderSettingsSize,
                    record) == kFolderSettingsSize)
        found = std::make_unique<FolderSettings>(UnpackFolderSettings(record));
    return c.folderSettings.emplace(folderNo, std::move(found)).first->second.get();
}

static void LoadAcls(Run& run) {
    RunCache& c = run.cache;
    if (c.aclsLoaded) return;
    c.userAcls = ReadUserAcls(run.dataDir());
    c.groupAcls = ReadGroupAcls(run.dataDir());
    c.aclsLoaded = true;
}

std::vector<UserAclEntry> UserAclsOf(Run& run, int folderNo) {
    LoadAcls(run);
    std::vector<UserAclEntry> out;
    for (const UserAclEntry& e : run.cache.userAcls)
        if (e.folderNo == folderNo) out.push_back(e);
    return out;
}

std::vector<GroupAclEntry> GroupAclsOf(Run& run, int folderNo) {
    LoadAcls(run);
    std::vector<GroupAclEntry> out;
    for (const GroupAclEntry& e : run.cache.groupAcls)
        if (e.folderNo == folderNo) out.push_back(e);
    return out;
}

const std::vector<UserRecord>& ListedUsers(Run& run) {
    RunCache& c = run.cache;
    if (!c.usersLoaded) {
        c.users = ReadAllUsers(run.dataDir());
        c.usersLoaded = true;
    }
    return c.users;
}

const UserRecord* NamedUser(Run& run, const std::string& id) {
    RunCache& c = run.cache;
    if (c.usersLoaded) {  // already unpacked whole: look there
        for (const UserRecord& u : c.users)
            if (u.USER_ID == id) return &u;
    }
    auto known = c.named.find(id);
    if (known != c.named.end()) return known->second;
    if (!c.userBytesLoaded) {
        ReadWholeFile(DataFilePath(run.dataDir(), "user.mst"), c.userBytes);
        c.userLines = SplitTextLines(c.userBytes);
        c.userBytesLoaded = true;
    }
    std::string key = id;
    UpperCaseId(key);
    // The id field of a line as the readers cut it, and as FindUser compares it.
    const auto idOf = [](std::string_view line, bool upper) {
        std::string first = CutToSlot(line.substr(0, line.find(',')), kUserIdSize);
        if (upper) UpperCaseId(first);
        return first;
    };
    if (!c.userLinesIndexed && !c.named.empty()) {
        for (size_t k = 0; k < c.userLines.size(); ++k) {
            if (c.userLines[k].find(',') == std::string_view::npos) continue;
            c.userLinesById[idOf(c.userLines[k], false)].push_back(k);
            c.userLinesByKey[idOf(c.userLines[k], true)].push_back(k);
        }
        c.userLinesIndexed = true;
    }
    // Exact first (the common case), then as FindUser compares; only well-formed lines count.
    const UserRecord* found = nullptr;
    const auto take = [&](std::string_view line) {
        auto user = std::make_unique<UserRecord>();
        if (ParseUserLine(line, *user) != 0) return false;
        found = user.get();
        c.namedUsers.push_back(std::move(user));
        return true;
    };
    for (int pass = 0; pass < 2 && found == nullptr; ++pass) {
        if (c.userLinesIndexed) {
            const auto& lines = pass == 0 ? c.userLinesById : c.userLinesByKey;
            const auto it = lines.find(pass == 0 ? id : key);
            if (it == lines.end()) continue;
            for (size_t k : it->second)
                if (take(c.userLines[k])) break;
            continue;
        }
        for (std::string_view line : c.userLines) {
            if (line.find(',') == std::string_view::npos) continue;
            if (idOf(line, pass == 1) != (pass == 0 ? id : key)) continue;
            if (take(line)) break;
        }
    }
    c.named.emplace(id, found);
    return found;
}

void NameUsers(Run& run, const std::vector<std::string>& ids) {
    RunCache& c = run.cache;
    if (c.usersLoaded || c.userBytesLoaded) return;  // NamedUser looks there
    std::vector<std::string> wanted, keys;
    for (const std::string& id : ids) {
        if (c.named.count(id) || std::find(wanted.begin(), wanted.end(), id) != wanted.end())
            continue;
        wanted.push_back(id);
        keys.push_back(id);
        UpperCaseId(keys.back());
    }
    if (wanted.empty()) return;
    // For each id the first well-formed line with exactly that id and the first with it as
    // FindUser compares ids; the scan ends when every id has its exact line.
    const size_t n = wanted.size();
    std::vector<std::unique_ptr<UserRecord>> exact(n), alike(n);
    size_t open = n;
    const bool read = ScanUserLines(run.dataDir(), [&](std::string_view line) {
        const size_t comma = line.find(',');
        if (comma == std::string_view::npos) return false;
        const std::string first = CutToSlot(line.substr(0, comma), kUserIdSize);
        std::string upper = first;
        UpperCaseId(upper);
        std::unique_ptr<UserRecord> user;
        for (size_t k = 0; k < n; ++k) {
            const bool isExact = !exact[k] && first == wanted[k];
            const bool isAlike = !alike[k] && upper == keys[k];
            if (!isExact && !isAlike) continue;
            if (!user) {
                user = std::make_unique<UserRecord>();
                if (ParseUserLine(line, *user) != 0) return false;
            }
            if (isExact) {
                exact[k] = std::make_unique<UserRecord>(*user);
                --open;
            }
            if (isAlike) alike[k] = std::make_unique<UserRecord>(*user);
        }
        return open == 0;
    });
    if (!read) return;  // left to NamedUser
    for (size_t k = 0; k < n; ++k) {
        std::unique_ptr<UserRecord>& found = exact[k] ? exact[k] : alike[k];
        c.named.emplace(wanted[k], found.get());
        if (found) c.namedUsers.push_back(std::move(found));
    }
}

const std::vector<int32_t>& CallerGroups(Run& run) {
    RunCache& c = run.cache;
    if (!c.groupsLoaded) {
        std::vector<int32_t> listed;
        c.callerGroups.clear();
        if (ListGroupsOfUser(run.dataDir(), run.login.user.USER_ID, listed) >= 0) {
            for (int32_t g : listed) {
                if (g == 0 || c.callerGroups.size() >= kMaxGroupsOfUser) break;
                c.callerGroups.push_back(g);
            }
        }
        c.groupsLoaded = true;
    }
    return c.callerGroups;
}

int CachedCountUnread(Run& run, int folderNo) {
    auto it = run.cache.unread.find(folderNo);
    if (it != run.cache.unread.end()) return it->second;
    int n = CountUnread(run.dataDir(), folderNo, run.login.user.USER_ID);
    run.cache.unread.emplace(folderNo, n);
    return n;
}

void ForgetCaches(Run& run) {
    if (run.cache.folderSettingsFd >= 0) close(run.cache.folderSettingsFd);
    run.cache = RunCache();
}

Run::~Run() {
    if (cache.folderSettingsFd >= 0) close(cache.folderSettingsFd);
}
