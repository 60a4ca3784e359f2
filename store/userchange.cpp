#include "store/userchange.h"

#include "store/acl.h"
#include "store/applications.h"
#include "store/groups.h"
#include "store/journal.h"
#include "store/recordfile.h"
#include "store/sessions.h"

namespace {

// The user lists that exist, rebuilt from the user file as the change leaves it.
bool RefreshUserLists(const std::string& dataDir, FileChangeSet& change,
                      const std::string& userFile) {
    const UserLists lists = UserListsOf(userFile);
    for (const auto& [name, content] : {std::pair{"user2.mst", &lists.byId},
                                        std::pair{"user3.mst", &lists.byLevel},
                                        std::pair{"user4.mst", &lists.byGroup}}) {
        if (!FileExists(DataFilePath(dataDir, name))) continue;
        std::string* bytes = change.Edit(name);
        if (bytes == nullptr) return false;
        *bytes = *content;
    }
    return true;
}

}  // namespace

int DeleteUsersEverywhere(const std::string& dataDir, const std::vector<std::string>& ids) {
    DataLock lock(dataDir);
    if (!lock.held()) return -1;
    FileChangeSet change(dataDir);
    std::string* users = change.Edit(kUserFileName);
    std::string* sessions = change.Edit(kSessionFileName);
    std::string* members = change.Edit(kMemberFileName);
    std::string* acls = change.Edit(kUserAclFileName);
    if (!users || !sessions || !members || !acls) return -1;
    for (const std::string& id : ids) {
        DropUserIn(*users, id);
        DropSessionsOfUserIn(*sessions, id);
        RemoveUserFromGroupsIn(*members, id);
        DropUserAclsOfUserIn(*acls, id);
    }
    if (!RefreshUserLists(dataDir, change, *users)) return -1;
    return change.Commit();
}

int DeleteGroupEverywhere(const std::string& dataDir, int32_t groupId) {
    DataLock lock(dataDir);
    if (!lock.held()) return -1;
    FileChangeSet change(dataDir);
    std::string* groups = change.Edit(kGroupFileName);
    std::string* acls = change.Edit(kGroupAclFileName);
    std::string* members = change.Edit(kMemberFileName);
    std::string* users = change.Edit(kUserFileName);
    if (!groups || !acls || !members || !users) return -1;
    DropGroupIn(*groups, groupId);
    DropGroupAclsOfGroupIn(*acls, groupId);
    RemoveWholeGroupIn(*members, groupId);
    if (ClearPrimaryGroupIn(*users, groupId) && !RefreshUserLists(dataDir, change, *users))
        return -1;
    return change.Commit();
}

int DecideIdApplications(const std::string& dataDir, const std::vector<std::string>& ids,
                         int32_t decision, const std::string& message, const UserRecord& newUser) {
    DataLock lock(dataDir);
    if (!lock.held()) return -1;
    FileChangeSet change(dataDir);
    std::string* applications = change.Edit(kApplicationFileName);
    std::string* users = change.Edit(kUserFileName);
    if (!applications || !users) return -1;
    for (const std::string& id : ids) {
        IdApplication app;
        const long k = FindWaitingApplicationIn(*applications, id, app);
        if (k < 0) continue;
        std::string key = id;
        UserRecord existing;
        if (FindUserIn(*users, key, existing) == 0 || !IsUsableUserId(id)) {
            app.status = kAppRefused;
        } else {
            if (decision == kAppApproved) {
                UserRecord user = newUser;
                user.USER_ID = app.USER_ID;
                user.USER_NAME = app.USER_NAME;
                user.E_MAIL_ADDR = app.E_MAIL_ADDR;
                user.USER_PASS = app.USER_PASS;
                AppendUserIn(*users, user);
            }
            app.status = decision;
            app.message = message;
        }
        PutApplicationAt(*applications, static_cast<size_t>(k), app);
    }
    return change.Commit();
}
