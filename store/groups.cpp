#include "store/groups.h"

#include "store/recordfile.h"

#include <unistd.h>
#include <utility>

namespace {

constexpr std::string_view kGroupFile = kGroupFileName;
constexpr std::string_view kGroupSaveTemp = "F_GROUP_MST.TMP";
constexpr std::string_view kGroupDeleteTemp = "TEMP";
constexpr std::string_view kMemberFile = kMemberFileName;
constexpr std::string_view kMemberTemp = "g_user.mst.TMP";

// Replaces a data-directory file by content unless content is what the file already holds.
int Commit(const std::string& dataDir, std::string_view name, std::string_view tempName,
           bool existed, const std::string& old, const std::string& content) {
    return RewriteIfChanged(dataDir, DataFilePath(dataDir, name), DataFilePath(dataDir, tempName),
                            existed, old, content);
}

// Rewrites group.mst (through tempName) with what edit makes of its raw lines.
int EditGroupFile(const std::string& dataDir, std::string_view tempName, const LineEdit& edit) {
    return EditTextFile(dataDir, DataFilePath(dataDir, kGroupFile),
                        DataFilePath(dataDir, tempName), edit);
}

// The first two tokens of a group line, empty fields skipped (the tokenizer on "," and the line
// end). Returns how many were found (0, 1 or 2).
int GroupTokens(std::string_view line, std::string_view& id, std::string_view& name) {
    int found = 0;
    size_t pos = 0;
    while (found < 2 && pos < line.size()) {
        size_t comma = line.find(',', pos);
        if (comma == std::string_view::npos) comma = line.size();
        if (comma > pos) {
            (found == 0 ? id : name) = line.substr(pos, comma - pos);
            ++found;
        }
        pos = comma + 1;
    }
    return found;
}

std::string FormatGroupLine(const GroupRecord& group) {
    std::string line = std::to_string(group.groupId);
    line += ',';
    line += FieldValue(group.groupName, kGroupNameSize);
    line += ',';
    line.append(kLineEnd);
    return line;
}

void AppendMemberLine(std::string& out, int32_t groupId, std::string_view userId) {
    out += std::to_string(groupId);
    out += ',';
    out.append(userId);
    out += ',';
    out.append(kLineEnd);
}

std::vector<GroupMember> ParseMembers(std::string_view bytes) {
    std::vector<GroupMember> members;
    for (std::string_view line : SplitTextLines(bytes, 1000)) {
        GroupMember m;
        if (ParseGroupMemberLine(line, m)) members.push_back(std::move(m));
    }
    return members;
}

// The membership id as compared: the stored slot holds at most 23 bytes.
std::string MemberKey(std::string_view userId) { return CutToSlot(userId, kGroupMemberIdSize); }

// The well-formed lines of g_user.mst for which keep() holds, re-formatted.
template <typename Keep>
std::string FilteredMembers(std::string_view bytes, Keep keep) {
    std::string out;
    out.reserve(bytes.size());
    for (const GroupMember& m : ParseMembers(bytes))
        if (keep(m)) AppendMemberLine(out, m.groupId, m.USER_ID);
    return out;
}

// Rewrites g_user.mst keeping the well-formed lines for which keep() holds, re-formatted.
template <typename Keep>
int FilterMembers(const std::string& dataDir, bool createWhenMissing, Keep keep) {
    DataLock lock(dataDir);
    std::string bytes;
    bool existed;
    if (!ReadFileForChange(DataFilePath(dataDir, kMemberFile), bytes, existed)) return -1;
    if (!existed && !createWhenMissing) return 0;
    return Commit(dataDir, kMemberFile, kMemberTemp, existed, bytes, FilteredMembers(bytes, keep));
}

// What DeleteGroup makes of group.mst's raw lines: without the lines of groupId and those
// without an id.
std::string GroupLinesWithout(const std::vector<std::string_view>& lines, int groupId) {
    std::string out;
    long lastCopied = -1;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string_view id, name;
        if (GroupTokens(LineWithoutEnd(lines[i]), id, name) == 0) continue;
        if (ParseInt(id) == groupId) continue;
        CopyRawLine(out, lines[i], static_cast<long>(i), lastCopied);
    }
    return out;
}

}  // namespace

// ---- Groups ----------------------------------------------------------------------------------

bool ParseGroupLine(std::string_view line, GroupRecord& out) {
    std::string_view id, name;
    if (GroupTokens(line, id, name) < 2) return false;
    out = GroupRecord{ParseInt(id), CutToSlot(name, kGroupNameSize)};
    return true;
}

bool ParseGroupMemberLine(std::string_view line, GroupMember& out) {
    const std::vector<std::string_view> fields = CutFields(line);
    if (fields.size() < 2) return false;
    out.groupId = ParseInt(fields[0]);
    out.USER_ID = CutToSlot(fields[1], kGroupMemberIdSize);
    return true;
}

std::vector<GroupRecord> ReadAllGroups(const std::string& dataDir) {
    std::vector<GroupRecord> groups;
    const std::string path = DataFilePath(dataDir, kGroupFile);
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) {
        const int fd = OpenRecordFile(path);  // created empty when missing
        if (fd >= 0) close(fd);
        return groups;
    }
    for (std::string_view line : SplitTextLines(bytes, 1000)) {
        GroupRecord group;
        if (ParseGroupLine(line, group)) groups.push_back(std::move(group));
    }
    return groups;
}

int FindGroup(const std::string& dataDir, int groupId, GroupRecord& out) {
    for (GroupRecord& group : ReadAllGroups(dataDir)) {
        if (group.groupId == groupId) {
            out = std::move(group);
            return 0;
        }
    }
    return -1;
}

int SaveGroup(const std::string& dataDir, const GroupRecord& group) {
    const std::string newLine = FormatGroupLine(group);
    const auto edit = [&](const std::vector<std::string_view>& lines, std::string& out) {
        long lastCopied = -1;
        bool written = false;
        for (size_t i = 0; i < lines.size(); ++i) {
            std::string_view id, name;
            if (GroupTokens(LineWithoutEnd(lines[i]), id, name) == 0) continue;  // no id: dropped
            const int32_t lineId = ParseInt(id);
            if (!written && lineId >= group.groupId) {
                EndOpenLine(out);
                out += newLine;
                written = true;
                if (lineId == group.groupId) continue;  // the old line of this group
            }
            CopyRawLine(out, lines[i], static_cast<long>(i), lastCopied);
        }
        if (!written) {
            EndOpenLine(out);
            out += newLine;
        }
        return 0;
    };
    return EditGroupFile(dataDir, kGroupSaveTemp, edit);
}

int DeleteGroup(const std::string& dataDir, int groupId) {
    const auto edit = [&](const std::vector<std::string_view>& lines, std::string& out) {
        out = GroupLinesWithout(lines, groupId);
        return 0;
    };
    return EditGroupFile(dataDir, kGroupDeleteTemp, edit);
}

void DropGroupIn(std::string& bytes, int groupId) {
    bytes = GroupLinesWithout(SplitRawLines(bytes, 1000), groupId);
}

// ---- Memberships -----------------------------------------------------------------------------

std::vector<GroupMember> ReadGroupMembers(const std::string& dataDir) {
    std::string bytes;
    if (!ReadWholeFile(DataFilePath(dataDir, kMemberFile), bytes)) return {};
    return ParseMembers(bytes);
}

int ListGroupsOfUser(const std::string& dataDir, const std::string& userId,
                     std::vector<int32_t>& groups) {
    std::string bytes;
    if (!ReadWholeFile(DataFilePath(dataDir, kMemberFile), bytes)) return -1;
    const std::string key = MemberKey(userId);
    groups.clear();
    for (const GroupMember& m : ParseMembers(bytes)) {
        if (groups.size() >= kMaxGroupsOfUser) break;
        if (m.USER_ID == key) groups.push_back(m.groupId);
    }
    const int count = static_cast<int>(groups.size());
    groups.push_back(0);
    return count - 1;
}

int AddGroupMember(const std::string& dataDir, const GroupMember& member) {
    DataLock lock(dataDir);
    const std::string path = DataFilePath(dataDir, kMemberFile);
    std::string bytes;
    bool existed;
    if (!ReadFileForChange(path, bytes, existed)) return -1;
    const std::string userId = FieldValue(member.USER_ID, kGroupMemberIdSize);
    for (const GroupMember& m : ParseMembers(bytes))
        if (m.groupId == member.groupId && m.USER_ID == userId) return 0;
    std::string line;
    AppendMemberLine(line, member.groupId, userId);
    return AppendTextLine(dataDir, path, line, true);
}

int RemoveGroupMembers(const std::string& dataDir, const GroupMember& member, int how) {
    const std::string key = MemberKey(member.USER_ID);
    return FilterMembers(dataDir, true, [&](const GroupMember& m) {
        if (m.groupId != member.groupId) return true;
        if (how == kRemoveWholeGroup) return false;
        if (how == kRemoveMember) return m.USER_ID != key;
        return true;
    });
}

int RemoveUserFromGroups(const std::string& dataDir, const std::string& userId) {
    const std::string key = MemberKey(userId);
    return FilterMembers(dataDir, false,
                         [&](const GroupMember& m) { return m.USER_ID != key; });
}

void RemoveUserFromGroupsIn(std::string& bytes, const std::string& userId) {
    if (bytes.empty()) return;
    const std::string key = MemberKey(userId);
    bytes = FilteredMembers(bytes, [&](const GroupMember& m) { return m.USER_ID != key; });
}

void RemoveWholeGroupIn(std::string& bytes, int groupId) {
    if (bytes.empty()) return;
    bytes = FilteredMembers(bytes, [&](const GroupMember& m) { return m.groupId != groupId; });
}

namespace {

// What SortGroupMembers writes of g_user.mst's bytes; false when it leaves them alone.
bool SortedMembers(std::string_view bytes, std::string& out) {
    const std::vector<GroupMember> members = ParseMembers(bytes);
    const size_t n = members.size();
    if (n < 2) return false;  // the file is left as it is, malformed lines included

    // The exchange passes of the file sort, on (group id, line) pairs: pass k carries the
    // current pair along the first n - k pairs and lets every next pair whose id is not
    // greater go before it; equal ids therefore change places. A pass without any exchange
    // leaves every shorter pass nothing to do.
    std::vector<std::pair<int32_t, uint32_t>> order(n);
    for (size_t i = 0; i < n; ++i) order[i] = {members[i].groupId, static_cast<uint32_t>(i)};
    for (size_t bound = n; bound > 1; --bound) {
        bool exchanged = false;
        for (size_t i = 0; i + 1 < bound; ++i) {
            if (order[i].first >= order[i + 1].first) {
                std::swap(order[i], order[i + 1]);
                exchanged = true;
            }
        }
        if (!exchanged) break;
    }

    out.clear();
    out.reserve(bytes.size() + n);
    for (const auto& [id, index] : order) AppendMemberLine(out, id, members[index].USER_ID);
    return true;
}

}  // namespace

int SortGroupMembers(const std::string& dataDir) {
    DataLock lock(dataDir);
    std::string bytes;
    bool existed;
    if (!ReadFileForChange(DataFilePath(dataDir, kMemberFile), bytes, existed)) return -1;
    if (!existed) return 0;
    std::string out;
    if (!SortedMembers(bytes, out)) return 0;
    return Commit(dataDir, kMemberFile, kMemberTemp, existed, bytes, out);
}

void AddGroupMemberIn(std::string& bytes, const GroupMember& member) {
    const std::string userId = FieldValue(member.USER_ID, kGroupMemberIdSize);
    for (const GroupMember& m : ParseMembers(bytes))
        if (m.groupId == member.groupId && m.USER_ID == userId) return;
    EndOpenLine(bytes);
    AppendMemberLine(bytes, member.groupId, userId);
}

void SortGroupMembersIn(std::string& bytes) {
    std::string out;
    if (SortedMembers(bytes, out)) bytes = std::move(out);
}

void RemoveMemberIn(std::string& bytes, const GroupMember& member) {
    const std::string key = MemberKey(member.USER_ID);
    bytes = FilteredMembers(bytes, [&](const GroupMember& m) {
        return m.groupId != member.groupId || m.USER_ID != key;
    });
}
