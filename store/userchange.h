// Changes of users, groups and ID applications that touch several record files, each made as
// one with ReplaceFilesTogether (store/journal.h): a run killed at any moment, or a write that
// fails, leaves every file of the change as before or every one as after. Each takes the data
// lock for its whole read-modify-write and results in 0, or -1 when nothing was changed (the
// lock could not be had, a file could not be read, or the change could not be written).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/users.h"

// Deletes the users (ids as stored, compared exactly) with everything that names them, so that
// a later user of the same id inherits nothing: their lines of user.mst, their sessions
// (skey.mst), their group memberships (g_user.mst) and their entries in the folder user access
// lists (b_u_acl.mst). The user lists user2.mst to user4.mst that exist are rebuilt from the
// new user.mst in the same change, so none of them keeps a deleted user's record.
int DeleteUsersEverywhere(const std::string& dataDir, const std::vector<std::string>& ids);

// Deletes group groupId: its line of group.mst, its entries in the group access lists of every
// folder (b_g_acl.mst), its memberships (g_user.mst), and it as the primary group of users,
// which becomes 0 (user.mst; the user lists that exist are rebuilt with it).
int DeleteGroupEverywhere(const std::string& dataDir, int32_t groupId);

// Decides the first waiting application of each of ids (in order; an id without one is stepped
// over) as one change of g_user.dat and user.mst. An id that a user already has (FindUser, also
// one approved earlier in this change) or that cannot name a user (IsUsableUserId) is refused
// and keeps its message. Otherwise the record takes decision (kAppApproved or kAppRefused) and
// message, and an approval adds a user made of newUser with the application's id, name, e-mail
// address and password to the end of user.mst.
int DecideIdApplications(const std::string& dataDir, const std::vector<std::string>& ids,
                         int32_t decision, const std::string& message, const UserRecord& newUser);
