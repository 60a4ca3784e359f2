#include "store/acl.h"

#include "store/recordfile.h"

namespace {

constexpr std::string_view kGroupAclFile = "b_g_acl.mst";
constexpr std::string_view kGroupAclTemp = "b_g_acl.mst.TMP";
constexpr std::string_view kUserAclFile = "b_u_acl.mst";
constexpr std::string_view kUserAclTemp = "b_u_acl.mst.TMP";

// Calls visit(index, record) for every complete record of bytes until it returns true; the
// index of that record, or -1.
template <typename Visit>
long ScanRecords(std::string_view bytes, size_t size, Visit visit) {
    long index = 0;
    for (size_t off = 0; off + size <= bytes.size(); off += size, ++index)
        if (visit(bytes.substr(off, size))) return index;
    return -1;
}

// The n-th record (from 0) whose folder number is folderNo, or an empty view.
std::string_view NthOfFolder(std::string_view bytes, size_t size, int folderNo, int n) {
    if (n < 0) return {};
    std::string_view found;
    int seen = 0;
    ScanRecords(bytes, size, [&](std::string_view r) {
        if (GetInt32(r, 0) != folderNo) return false;
        if (seen++ < n) return false;
        found = r;
        return true;
    });
    return found;
}

// Writes record over the first record that matches, else after the last complete record (a
// partial record at the end is overwritten). 0 replaced, -1 appended, kAclWriteFailed.
template <typename Match>
int SaveRecord(const std::string& dataDir, std::string_view name, size_t size,
               const std::string& record, Match match) {
    DataLock lock(dataDir);
    const std::string path = DataFilePath(dataDir, name);
    const std::string bytes = ReadRecordFile(path, size);
    const long at = ScanRecords(bytes, size, match);
    const long index = at >= 0 ? at : static_cast<long>(bytes.size() / size);
    if (WriteAt(dataDir, path, index * static_cast<long>(size), record) != 0)
        return kAclWriteFailed;
    return at >= 0 ? 0 : -1;
}

// Rewrites the file without the records for which drop() holds (and without a partial record
// at the end). 0 when one was dropped, else -1.
template <typename Drop>
int DeleteRecords(const std::string& dataDir, std::string_view name, std::string_view tempName,
                  size_t size, Drop drop) {
    DataLock lock(dataDir);
    const std::string path = DataFilePath(dataDir, name);
    std::string bytes;
    const bool existed = FileExists(path);
    if (existed && !ReadWholeFile(path, bytes)) return -1;
    std::string out;
    out.reserve(bytes.size());
    bool dropped = false;
    ScanRecords(bytes, size, [&](std::string_view r) {
        if (drop(r)) {
            dropped = true;
        } else {
            out.append(r);
        }
        return false;
    });
    if (!existed || out != bytes) {
        if (RewriteViaTemp(dataDir, path, DataFilePath(dataDir, tempName), out) != 0) return -1;
    }
    return dropped ? 0 : -1;
}

std::string UserKey(std::string_view userId) { return CutToSlot(userId, kAclUserIdSize); }

}  // namespace

std::string PackGroupAclEntry(const GroupAclEntry& e) {
    std::string r(kGroupAclEntrySize, '\0');
    PutInt32(r, 0, e.folderNo);
    PutInt32(r, 4, e.groupId);
    PutInt32(r, 8, e.level);
    return r;
}

GroupAclEntry UnpackGroupAclEntry(std::string_view r) {
    return GroupAclEntry{GetInt32(r, 0), GetInt32(r, 4), GetInt32(r, 8)};
}

std::string PackUserAclEntry(const UserAclEntry& e) {
    std::string r(kUserAclEntrySize, '\0');
    PutInt32(r, 0, e.folderNo);
    PutText(r, 4, kAclUserIdSize, e.USER_ID);
    PutInt32(r, 28, e.level);
    return r;
}

UserAclEntry UnpackUserAclEntry(std::string_view r) {
    return UserAclEntry{GetInt32(r, 0), UserKey(GetText(r, 4, kAclUserIdSize)), GetInt32(r, 28)};
}

std::vector<GroupAclEntry> ReadGroupAcls(const std::string& dataDir) {
    const std::string bytes =
        ReadRecordFile(DataFilePath(dataDir, kGroupAclFile), kGroupAclEntrySize);
    std::vector<GroupAclEntry> all;
    all.reserve(bytes.size() / kGroupAclEntrySize);
    ScanRecords(bytes, kGroupAclEntrySize, [&](std::string_view r) {
        all.push_back(UnpackGroupAclEntry(r));
        return false;
    });
    return all;
}

std::vector<UserAclEntry> ReadUserAcls(const std::string& dataDir) {
    const std::string bytes =
        ReadRecordFile(DataFilePath(dataDir, kUserAclFile), kUserAclEntrySize);
    std::vector<UserAclEntry> all;
    all.reserve(bytes.size() / kUserAclEntrySize);
    ScanRecords(bytes, kUserAclEntrySize, [&](std::string_view r) {
        all.push_back(UnpackUserAclEntry(r));
        return false;
    });
    return all;
}

int FindGroupAcl(const std::string& dataDir, int folderNo, int n, GroupAclEntry& out) {
    const std::string bytes =
        ReadRecordFile(DataFilePath(dataDir, kGroupAclFile), kGroupAclEntrySize);
    const std::string_view r = NthOfFolder(bytes, kGroupAclEntrySize, folderNo, n);
    if (r.empty()) return -1;
    out = UnpackGroupAclEntry(r);
    return 0;
}

int SaveGroupAcl(const std::string& dataDir, const GroupAclEntry& entry) {
    return SaveRecord(dataDir, kGroupAclFile, kGroupAclEntrySize, PackGroupAclEntry(entry),
                      [&](std::string_view r) {
                          return GetInt32(r, 0) == entry.folderNo && GetInt32(r, 4) == entry.groupId;
                      });
}

int DeleteGroupAcl(const std::string& dataDir, int folderNo, int groupId) {
    return DeleteRecords(dataDir, kGroupAclFile, kGroupAclTemp, kGroupAclEntrySize,
                         [&](std::string_view r) {
                             return GetInt32(r, 4) == groupId &&
                                    (folderNo == 0 || GetInt32(r, 0) == folderNo);
                         });
}

int FindUserAcl(const std::string& dataDir, int folderNo, int n, UserAclEntry& out) {
    const std::string bytes =
        ReadRecordFile(DataFilePath(dataDir, kUserAclFile), kUserAclEntrySize);
    const std::string_view r = NthOfFolder(bytes, kUserAclEntrySize, folderNo, n);
    if (r.empty()) return -1;
    out = UnpackUserAclEntry(r);
    return 0;
}

int SaveUserAcl(const std::string& dataDir, const UserAclEntry& entry) {
    const std::string key = UserKey(entry.USER_ID);
    return SaveRecord(dataDir, kUserAclFile, kUserAclEntrySize, PackUserAclEntry(entry),
                      [&](std::string_view r) {
                          return GetInt32(r, 0) == entry.folderNo &&
                                 UserKey(GetText(r, 4, kAclUserIdSize)) == key;
                      });
}

int DeleteUserAcl(const std::string& dataDir, int folderNo, const std::string& userId) {
    const std::string key = UserKey(userId);
    return DeleteRecords(dataDir, kUserAclFile, kUserAclTemp, kUserAclEntrySize,
                         [&](std::string_view r) {
                             return GetInt32(r, 0) == folderNo &&
                                    UserKey(GetText(r, 4, kAclUserIdSize)) == key;
                         });
}
