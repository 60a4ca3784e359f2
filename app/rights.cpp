#include "app/rights.h"

static int EvaluateRights(Run& run, int folderNo) {
    const UserRecord& caller = run.login.user;
    if (caller.USER_LEVEL > kOperatorLevelAbove) return kRightsManage;

    // The folder's own entries for the caller: the last one in file order counts, also when it
    // lowers what an earlier one gave.
    int r = kRightsNone;
    for (const UserAclEntry& e : UserAclsOf(run, folderNo))
        if (e.USER_ID == caller.USER_ID) r = e.level;
    if (r >= kRightsManage) return kRightsManage;
    if (r == kRightsWrite) return kRightsWrite;

    if (const FolderSettings* s = CachedFolderSettings(run, folderNo)) {
        if (caller.USER_LEVEL >= s->readLevel && r < kRightsRead) r = kRightsRead;
        if (caller.USER_LEVEL >= s->writeLevel && r < kRightsWrite) r = kRightsWrite;
    }
    if (r == kRightsWrite) return kRightsWrite;

    // Groups: the primary group and every membership may raise the level; the search ends as
    // soon as it reaches read and write.
    const std::vector<int32_t>& groups = CallerGroups(run);
    for (const GroupAclEntry& e : GroupAclsOf(run, folderNo)) {
        // P_GROUP 0 means "no primary group" and matches no entry.
        if (caller.P_GROUP != 0 && e.groupId == caller.P_GROUP && r < e.level) {
            r = e.level;
            if (r == kRightsWrite) return kRightsWrite;
        }
        for (int32_t g : groups) {
            if (g == e.groupId && r < e.level) {
                r = e.level;
                if (r == kRightsWrite) return kRightsWrite;
            }
        }
    }
    return r;
}

int FolderRights(Run& run, int folderNo) {
    auto it = run.cache.rights.find(folderNo);
    if (it != run.cache.rights.end()) return it->second;
    // Stored levels outside 0..3 (a damaged entry) give no more and no less than the scale.
    int r = EvaluateRights(run, folderNo);
    if (r < kRightsNone) r = kRightsNone;
    if (r > kRightsManage) r = kRightsManage;
    run.cache.rights.emplace(folderNo, r);
    return r;
}
