#include "tools/derived.h"

#include "store/recordfile.h"
#include "store/users.h"

namespace {

struct DerivedKind {
    // Adds the expected contents of the kind's files that exist.
    void (*expect)(const std::string& dataDir, std::vector<DerivedFile>& out);
    // The names the kind owns, and the rebuild of all of them.
    std::vector<std::string> names;
    bool (*rebuild)(const std::string& dataDir);
};

// The user lists: user2.mst from user.mst, user3.mst from user2.mst, user4.mst from user3.mst.
// The board builds them in this chain, so each is compared with the chain built afresh.
void ExpectUserLists(const std::string& dataDir, std::vector<DerivedFile>& out) {
    std::string master;
    if (!ReadWholeFile(DataFilePath(dataDir, "user.mst"), master)) return;
    const UserLists lists = UserListsOf(master);
    const struct {
        const char* name;
        const std::string* content;
    } files[] = {
        {"user2.mst", &lists.byId}, {"user3.mst", &lists.byLevel}, {"user4.mst", &lists.byGroup}};
    for (const auto& f : files)
        if (FileExists(DataFilePath(dataDir, f.name)))
            out.push_back(DerivedFile{f.name, "user.mst", *f.content});
}

bool RebuildUserLists(const std::string& dataDir) {
    BuildUserListById(dataDir);
    BuildUserListByLevel(dataDir);
    BuildUserListByGroup(dataDir);
    std::vector<DerivedFile> now;
    ExpectUserLists(dataDir, now);
    for (const DerivedFile& f : now) {
        std::string bytes;
        if (!ReadWholeFile(DataFilePath(dataDir, f.name), bytes) || bytes != f.expected)
            return false;
    }
    return now.size() == 3;
}

const std::vector<DerivedKind>& Kinds() {
    static const std::vector<DerivedKind> kinds = {
        {ExpectUserLists, {"user2.mst", "user3.mst", "user4.mst"}, RebuildUserLists},
    };
    return kinds;
}

}  // namespace

std::vector<DerivedFile> ExpectedDerivedFiles(const std::string& dataDir) {
    std::vector<DerivedFile> out;
    for (const DerivedKind& kind : Kinds()) kind.expect(dataDir, out);
    return out;
}

bool RebuildDerivedFiles(const std::string& dataDir, const std::vector<std::string>& names) {
    bool ok = true;
    for (const DerivedKind& kind : Kinds()) {
        bool wanted = false;
        for (const std::string& n : names)
            for (const std::string& own : kind.names) wanted = wanted || n == own;
        if (wanted && !kind.rebuild(dataDir)) ok = false;
    }
    return ok;
}
