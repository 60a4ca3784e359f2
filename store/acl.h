// Folder access lists: b_g_acl.mst (12-byte group entries) and b_u_acl.mst (32-byte user
// entries). Levels: 1 read, 2 read and write, 3 folder administration. Entries of one folder may
// lie anywhere in the file; new ones are appended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "store/journal.h"

inline constexpr std::string_view kGroupAclFileName = "b_g_acl.mst";
inline constexpr std::string_view kUserAclFileName = "b_u_acl.mst";
inline constexpr size_t kGroupAclEntrySize = 12;
inline constexpr size_t kUserAclEntrySize = 32;
inline constexpr size_t kAclUserIdSize = 24;

// Result of the saves when the file could not be written (0 replaced, -1 appended).
inline constexpr int kAclWriteFailed = -2;

struct GroupAclEntry {
    int32_t folderNo = 0;  // 0
    int32_t groupId = 0;   // 4
    int32_t level = 0;     // 8
};

struct UserAclEntry {
    int32_t folderNo = 0;  // 0
    std::string USER_ID;   // 4, 24 bytes
    int32_t level = 0;     // 28
};

std::string PackGroupAclEntry(const GroupAclEntry& entry);
GroupAclEntry UnpackGroupAclEntry(std::string_view record);
std::string PackUserAclEntry(const UserAclEntry& entry);
UserAclEntry UnpackUserAclEntry(std::string_view record);

// Every complete entry in file order, from one read (the file is created empty when missing);
// for pages that judge many folders at once.
std::vector<GroupAclEntry> ReadGroupAcls(const std::string& dataDir);
std::vector<UserAclEntry> ReadUserAcls(const std::string& dataDir);

// The n-th entry (from 0) of the folder in file order. 0, or -1 when there is none.
int FindGroupAcl(const std::string& dataDir, int folderNo, int n, GroupAclEntry& out);
// Overwrites in place the first entry of the same folder and group, else appends. 0 when
// replaced, -1 when appended, kAclWriteFailed when the file could not be written.
int SaveGroupAcl(const std::string& dataDir, const GroupAclEntry& entry);
// Drops every entry of the group in the folder; folder 0 stands for every folder. 0 when one was
// dropped, else -1.
int DeleteGroupAcl(const std::string& dataDir, int folderNo, int groupId);

// The n-th entry (from 0) of the folder in file order. 0, or -1 when there is none.
int FindUserAcl(const std::string& dataDir, int folderNo, int n, UserAclEntry& out);
// Overwrites in place the first entry of the same folder and user id (exact compare), else
// appends. 0 when replaced, -1 when appended, kAclWriteFailed when the file could not be written.
int SaveUserAcl(const std::string& dataDir, const UserAclEntry& entry);
// Drops every entry of that folder and user id (exact compare; folder 0 is just folder 0).
// 0 when one was dropped, else -1.
int DeleteUserAcl(const std::string& dataDir, int folderNo, const std::string& userId);

// The edits of SaveGroupAcl, DeleteGroupAcl (one folder), SaveUserAcl and DeleteUserAcl on the
// bytes of the file in memory, for several entries changed in one write (FileChangeSet,
// store/journal.h). A partial record at the end is dropped.
void PutGroupAclIn(std::string& bytes, const GroupAclEntry& entry);
void DropGroupAclIn(std::string& bytes, int folderNo, int groupId);
void PutUserAclIn(std::string& bytes, const UserAclEntry& entry);
void DropUserAclIn(std::string& bytes, int folderNo, const std::string& userId);

// The access list files without every entry of the given folders, added to files as
// replacements for ReplaceFilesTogether (store/journal.h), one for each file that holds such an
// entry; for changes that remove folders together with other files. The caller holds the data
// lock. 0, or -1 when a file could not be read.
int AclsWithoutFolders(const std::string& dataDir, const std::vector<int32_t>& folders,
                       std::vector<FileReplacement>& files);

// Drops every entry of the user id (exact compare) in every folder, in one rewrite (a deleted
// user leaves no rights behind). 0 when one was dropped, else -1.
int DeleteUserAclsOfUser(const std::string& dataDir, const std::string& userId);
// The same on the bytes of the files in memory, for changes of several files made as one
// (FileChangeSet, store/journal.h): the entries of the group in every folder (b_g_acl.mst), of
// the user (b_u_acl.mst). The count dropped; a partial record at the end goes too.
long DropGroupAclsOfGroupIn(std::string& bytes, int groupId);
long DropUserAclsOfUserIn(std::string& bytes, const std::string& userId);

// Rewrite b_g_acl.mst / b_u_acl.mst without the entries for which drop holds (and without a
// partial record at the end); a file that would stay the same is left alone. dropped, when
// given, counts the entries left out. 0, or -1 when the file could not be read or rewritten.
int DropGroupAcls(const std::string& dataDir,
                  const std::function<bool(const GroupAclEntry&)>& drop, long* dropped = nullptr);
int DropUserAcls(const std::string& dataDir, const std::function<bool(const UserAclEntry&)>& drop,
                 long* dropped = nullptr);
