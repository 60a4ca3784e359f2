// Groups and memberships: group.mst ("%ld,%s," per group, ascending ids) and g_user.mst
// ("%d,%s," per group id and member's user id, kept in ascending group order).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view kGroupFileName = "group.mst";
inline constexpr std::string_view kMemberFileName = "g_user.mst";
inline constexpr size_t kGroupNameSize = 84;
inline constexpr size_t kGroupMemberIdSize = 24;
// ListGroupsOfUser lists at most this many ids (then the closing 0).
inline constexpr size_t kMaxGroupsOfUser = 9999;

// Ways of RemoveGroupMembers.
inline constexpr int kRemoveMember = 1;      // the lines of that group and that user
inline constexpr int kRemoveWholeGroup = 2;  // every line of that group

struct GroupRecord {
    int32_t groupId = 0;
    std::string groupName;  // char[84]
};

struct GroupMember {
    int32_t groupId = 0;
    std::string USER_ID;  // char[24], compared exactly
};

// One group.mst line (without its line end), read with the tokenizer on "," and the line end
// (empty fields skipped): false unless it has an id and a name.
bool ParseGroupLine(std::string_view line, GroupRecord& out);
// One g_user.mst line: false unless it has two comma-terminated fields.
bool ParseGroupMemberLine(std::string_view line, GroupMember& out);

// Every group line that has an id and a name, in file order (group.mst is created empty when
// missing).
std::vector<GroupRecord> ReadAllGroups(const std::string& dataDir);
// Every g_user.mst line with two commas, in file order (empty when the file is missing).
std::vector<GroupMember> ReadGroupMembers(const std::string& dataDir);

// The first line of that id that also has a name. 0, or -1. group.mst is created when missing.
int FindGroup(const std::string& dataDir, int groupId, GroupRecord& out);

// Inserts the record before the first line whose id is >= its id, dropping that line when the
// id is equal, else appends it; lines without an id are dropped. 0, or -1 when group.mst cannot
// be written.
int SaveGroup(const std::string& dataDir, const GroupRecord& group);

// Drops the lines of that id and the lines without an id. 0, or -1 when group.mst cannot be
// written.
int DeleteGroup(const std::string& dataDir, int groupId);

// groups becomes the group id of every membership line of userId (exact compare), in file order,
// at most kMaxGroupsOfUser of them, followed by a 0. Returns their number minus 1 (-1 for none),
// or -1 with groups untouched when g_user.mst does not exist.
int ListGroupsOfUser(const std::string& dataDir, const std::string& userId,
                     std::vector<int32_t>& groups);

// Appends the pair unless it is there already (g_user.mst is created when missing). 0, or -1
// when the file cannot be written.
int AddGroupMember(const std::string& dataDir, const GroupMember& member);

// how kRemoveMember drops the lines of member's group and user; how kRemoveWholeGroup every line
// of member's group. Lines without two commas are dropped, the rest re-formatted. g_user.mst is
// created when missing. 0, or -1 when the file cannot be written.
int RemoveGroupMembers(const std::string& dataDir, const GroupMember& member, int how);

// Drops every line of userId (re-formatting the rest). Nothing happens when g_user.mst does not
// exist. 0, or -1 when the file cannot be written.
int RemoveUserFromGroups(const std::string& dataDir, const std::string& userId);

// The same changes on the bytes of the files in memory, for changes of several files made as
// one (FileChangeSet, store/journal.h): group.mst as DeleteGroup leaves it; g_user.mst as
// RemoveUserFromGroups and RemoveGroupMembers with kRemoveWholeGroup leave it (empty bytes, a
// missing file, stay empty).
void DropGroupIn(std::string& bytes, int groupId);
void RemoveUserFromGroupsIn(std::string& bytes, const std::string& userId);
void RemoveWholeGroupIn(std::string& bytes, int groupId);
// g_user.mst's bytes as AddGroupMember, SortGroupMembers and RemoveGroupMembers with
// kRemoveMember leave them.
void AddGroupMemberIn(std::string& bytes, const GroupMember& member);
void SortGroupMembersIn(std::string& bytes);
void RemoveMemberIn(std::string& bytes, const GroupMember& member);

// Sorts g_user.mst by group id, leaving it exactly as the pass-by-pass exchange sort of the
// membership file leaves it (equal ids in the order that sort gives them), in one rewrite.
// Fewer than two well-formed lines: the file is left alone. 0, or -1 when it cannot be written.
int SortGroupMembers(const std::string& dataDir);
