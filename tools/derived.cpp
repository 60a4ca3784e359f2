#include "tools/derived.h"

#include <dirent.h>

#include <algorithm>
#include <map>

#include "store/recordfile.h"
#include "store/unreadsum.h"
#include "store/users.h"

namespace {

struct DerivedKind {
    // Adds the kind's files that exist, each compared with its sources.
    void (*compare)(const std::string& dataDir, std::vector<DerivedFile>& out);
    // Whether a name is one of the kind's files.
    bool (*owns)(const std::string& name);
    // Rebuilds the named files of the kind.
    bool (*rebuild)(const std::string& dataDir, const std::vector<std::string>& names);
};

// ---- The user lists: user2.mst from user.mst, user3.mst from user2.mst, user4.mst from
// user3.mst. The board builds them in this chain, so each is compared with the chain built
// afresh.

std::vector<DerivedFile> UserListsAgainst(const std::string& dataDir, bool* readable) {
    std::vector<DerivedFile> out;
    std::string master;
    *readable = ReadWholeFile(DataFilePath(dataDir, "user.mst"), master);
    if (!*readable) return out;
    const UserLists lists = UserListsOf(master);
    const struct {
        const char* name;
        const std::string* content;
    } files[] = {
        {"user2.mst", &lists.byId}, {"user3.mst", &lists.byLevel}, {"user4.mst", &lists.byGroup}};
    for (const auto& f : files) {
        std::string bytes;
        if (!ReadWholeFile(DataFilePath(dataDir, f.name), bytes)) continue;
        out.push_back(DerivedFile{f.name, bytes == *f.content ? "" : "differs from what user.mst gives"});
    }
    return out;
}

void CompareUserLists(const std::string& dataDir, std::vector<DerivedFile>& out) {
    bool readable;
    for (DerivedFile& f : UserListsAgainst(dataDir, &readable)) out.push_back(std::move(f));
}

bool IsUserList(const std::string& name) {
    return name == "user2.mst" || name == "user3.mst" || name == "user4.mst";
}

bool RebuildUserLists(const std::string& dataDir, const std::vector<std::string>&) {
    BuildUserListById(dataDir);
    BuildUserListByLevel(dataDir);
    BuildUserListByGroup(dataDir);
    bool readable;
    const std::vector<DerivedFile> now = UserListsAgainst(dataDir, &readable);
    for (const DerivedFile& f : now)
        if (!f.disagreement.empty()) return false;
    return readable && now.size() == 3;
}

// ---- The unread summaries: <folder>/unread.sum from the folder's index and read marks. Only
// a summary the board trusts (it reads back whole and its stamp is current) can mislead it; one
// it does not trust it counts anew, so that one is no problem. A trusted one is compared with
// the store's own literal count, taken from the same state of the files (same stamp).

// The folder of "<folder>/unread.sum", else -1.
int SummaryFolder(const std::string& name) {
    const size_t slash = name.find('/');
    if (slash == std::string::npos || slash == 0 || slash > 9 || name.substr(slash) != "/unread.sum")
        return -1;
    int folder = 0;
    for (size_t i = 0; i < slash; ++i) {
        if (name[i] < '0' || name[i] > '9') return -1;
        folder = folder * 10 + (name[i] - '0');
    }
    return name[0] == '0' ? -1 : folder;
}

bool IsUnreadSummary(const std::string& name) {
    return SummaryFolder(name) > 0;
}

std::string Quoted(const std::string& id) {
    return "\"" + id + "\"";
}

// How the stored summary differs from the count, in words; empty when it agrees.
std::string SummaryDifference(const UnreadSummary& stored, const UnreadSummary& counted) {
    if (stored.records != counted.records)
        return "counts " + std::to_string(stored.records) + " index records, index.dat holds " +
               std::to_string(counted.records);
    std::map<std::string, std::pair<long, long>> marks;  // reader -> stored, counted
    for (const auto& [id, n] : stored.marks) marks[id].first = n;
    for (const auto& [id, n] : counted.marks) marks[id].second = n;
    for (const auto& [id, n] : marks)
        if (n.first != n.second)
            return "counts " + std::to_string(n.first) + " read marks of " + Quoted(id) +
                   ", the read-mark files hold " + std::to_string(n.second);
    return "";
}

void CompareUnreadSummaries(const std::string& dataDir, std::vector<DerivedFile>& out) {
    DIR* d = opendir(dataDir.c_str());
    if (!d) return;
    std::vector<int> folders;
    while (const dirent* e = readdir(d)) {
        const int folder = SummaryFolder(std::string(e->d_name) + "/unread.sum");
        if (folder > 0 && FileExists(UnreadSummaryPath(dataDir, folder))) folders.push_back(folder);
    }
    closedir(d);
    std::sort(folders.begin(), folders.end());
    for (int folder : folders) {
        DerivedFile f{std::to_string(folder) + "/unread.sum", ""};
        UnreadSummary stored, counted;
        if (LoadUnreadSummary(dataDir, folder, stored) == 0 &&
            CountUnreadSummary(dataDir, folder, counted, false) == 0 &&
            stored.stamp == counted.stamp) {
            const std::string difference = SummaryDifference(stored, counted);
            if (!difference.empty())
                f.disagreement = "differs from what " + std::to_string(folder) +
                                 "/index.dat and its read marks give: it " + difference;
        }
        out.push_back(std::move(f));
    }
}

bool RebuildUnreadSummaries(const std::string& dataDir, const std::vector<std::string>& names) {
    bool ok = true;
    for (const std::string& name : names)
        if (IsUnreadSummary(name) && RebuildUnreadSummary(dataDir, SummaryFolder(name)) != 0)
            ok = false;
    return ok;
}

const std::vector<DerivedKind>& Kinds() {
    static const std::vector<DerivedKind> kinds = {
        {CompareUserLists, IsUserList, RebuildUserLists},
        {CompareUnreadSummaries, IsUnreadSummary, RebuildUnreadSummaries},
    };
    return kinds;
}

}  // namespace

std::vector<DerivedFile> CompareDerivedFiles(const std::string& dataDir) {
    std::vector<DerivedFile> out;
    for (const DerivedKind& kind : Kinds()) kind.compare(dataDir, out);
    return out;
}

bool RebuildDerivedFiles(const std::string& dataDir, const std::vector<std::string>& names) {
    bool ok = true;
    for (const DerivedKind& kind : Kinds()) {
        std::vector<std::string> own;
        for (const std::string& n : names)
            if (kind.owns(n)) own.push_back(n);
        if (!own.empty() && !kind.rebuild(dataDir, own)) ok = false;
    }
    return ok;
}
