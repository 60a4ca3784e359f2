#include "store/acl.h"

#include <algorithm>
#include <utility>

#include "store/recordfile.h"

namespace {

constexpr std::string_view kGroupAclFile = kGroupAclFileName;
constexpr std::string_view kGroupAclTemp = "b_g_acl.mst.TMP";
constexpr std::string_view kUserAclFile = kUserAclFileName;
constexpr std::string_view kUserAclTemp = "b_u_acl.mst.TMP";


// Writes record over the first record that matches, else after the last complete record (a
// partial record at the end is overwritten). 0 replaced, -1 appended, kAclWriteFailed.
int SaveRecord(const std::string& dataDir, std::string_view name, size_t size,
               const std::string& record, const RecordTest& match) {
    bool replaced = false;
    if (ReplaceOrAppendRecord(dataDir, DataFilePath(dataDir, name), size, record, match,
                              &replaced) != 0)
        return kAclWriteFailed;
    return replaced ? 0 : -1;
}

// Rewrites the file without the records for which drop() holds (and without a partial record
// at the end). 0 when one was dropped, else -1.
int DeleteRecords(const std::string& dataDir, std::string_view name, std::string_view tempName,
                  size_t size, const RecordTest& drop) {
    long dropped = 0;
    if (DropRecords(dataDir, DataFilePath(dataDir, name), DataFilePath(dataDir, tempName), size,
                    drop, &dropped) != 0)
        return -1;
    return dropped > 0 ? 0 : -1;
}

// Every complete record of a file, unpacked.
template <typename Entry>
std::vector<Entry> ReadAll(const std::string& dataDir, std::string_view name, size_t size,
                           Entry (*unpack)(std::string_view)) {
    const std::string bytes = ReadRecordFile(DataFilePath(dataDir, name), size);
    std::vector<Entry> all;
    for (std::string_view r : SplitRecords(bytes, size)) all.push_back(unpack(r));
    return all;
}

// The n-th record (from 0) of a file whose folder number is folderNo, unpacked. 0 or -1.
template <typename Entry>
int FindNthOfFolder(const std::string& dataDir, std::string_view name, size_t size, int folderNo,
                    int n, Entry (*unpack)(std::string_view), Entry& out) {
    if (n < 0) return -1;
    const std::string bytes = ReadRecordFile(DataFilePath(dataDir, name), size);
    int seen = 0;
    for (std::string_view r : SplitRecords(bytes, size)) {
        if (GetInt32(r, 0) == folderNo && seen++ == n) {
            out = unpack(r);
            return 0;
        }
    }
    return -1;
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
    return UserAclEntry{GetInt32(r, 0), GetSlotText(r, 4, kAclUserIdSize), GetInt32(r, 28)};
}

std::vector<GroupAclEntry> ReadGroupAcls(const std::string& dataDir) {
    return ReadAll(dataDir, kGroupAclFile, kGroupAclEntrySize, &UnpackGroupAclEntry);
}

std::vector<UserAclEntry> ReadUserAcls(const std::string& dataDir) {
    return ReadAll(dataDir, kUserAclFile, kUserAclEntrySize, &UnpackUserAclEntry);
}

int FindGroupAcl(const std::string& dataDir, int folderNo, int n, GroupAclEntry& out) {
    return FindNthOfFolder(dataDir, kGroupAclFile, kGroupAclEntrySize, folderNo, n,
                           &UnpackGroupAclEntry, out);
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

long DropGroupAclsOfGroupIn(std::string& bytes, int groupId) {
    return DropRecordsIn(bytes, kGroupAclEntrySize,
                         [&](std::string_view r) { return GetInt32(r, 4) == groupId; });
}

int FindUserAcl(const std::string& dataDir, int folderNo, int n, UserAclEntry& out) {
    return FindNthOfFolder(dataDir, kUserAclFile, kUserAclEntrySize, folderNo, n,
                           &UnpackUserAclEntry, out);
}

int SaveUserAcl(const std::string& dataDir, const UserAclEntry& entry) {
    const std::string key = UserKey(entry.USER_ID);
    return SaveRecord(dataDir, kUserAclFile, kUserAclEntrySize, PackUserAclEntry(entry),
                      [&](std::string_view r) {
                          return GetInt32(r, 0) == entry.folderNo &&
                                 GetSlotText(r, 4, kAclUserIdSize) == key;
                      });
}

int DeleteUserAcl(const std::string& dataDir, int folderNo, const std::string& userId) {
    const std::string key = UserKey(userId);
    return DeleteRecords(dataDir, kUserAclFile, kUserAclTemp, kUserAclEntrySize,
                         [&](std::string_view r) {
                             return GetInt32(r, 0) == folderNo &&
                                    GetSlotText(r, 4, kAclUserIdSize) == key;
                         });
}

int AclsWithoutFolders(const std::string& dataDir, const std::vector<int32_t>& folders,
                       std::vector<FileReplacement>& files) {
    if (folders.empty()) return 0;
    const auto listed = [&](std::string_view r) {
        const int32_t f = GetInt32(r, 0);
        return std::find(folders.begin(), folders.end(), f) != folders.end();
    };
    for (const auto& [name, size] : {std::pair{kGroupAclFile, kGroupAclEntrySize},
                                     std::pair{kUserAclFile, kUserAclEntrySize}}) {
        std::string bytes;
        if (!ReadRecordFile(DataFilePath(dataDir, name), size, bytes)) return -1;
        std::string kept;
        bool dropped = false;
        for (std::string_view r : SplitRecords(bytes, size)) {
            if (listed(r)) dropped = true;
            else kept.append(r);
        }
        if (dropped) files.push_back({std::string(name), std::move(kept)});
    }
    return 0;
}

int DeleteUserAclsOfUser(const std::string& dataDir, const std::string& userId) {
    const std::string key = UserKey(userId);
    return DeleteRecords(dataDir, kUserAclFile, kUserAclTemp, kUserAclEntrySize,
                         [&](std::string_view r) { return GetSlotText(r, 4, kAclUserIdSize) == key; });
}

long DropUserAclsOfUserIn(std::string& bytes, const std::string& userId) {
    const std::string key = UserKey(userId);
    return DropRecordsIn(bytes, kUserAclEntrySize,
                         [&](std::string_view r) { return GetSlotText(r, 4, kAclUserIdSize) == key; });
}

int DropGroupAcls(const std::string& dataDir,
                  const std::function<bool(const GroupAclEntry&)>& drop, long* dropped) {
    return DropRecords(dataDir, DataFilePath(dataDir, kGroupAclFile),
                       DataFilePath(dataDir, kGroupAclTemp), kGroupAclEntrySize,
                       [&](std::string_view r) { return drop(UnpackGroupAclEntry(r)); }, dropped);
}

int DropUserAcls(const std::string& dataDir, const std::function<bool(const UserAclEntry&)>& drop,
                 long* dropped) {
    return DropRecords(dataDir, DataFilePath(dataDir, kUserAclFile),
                       DataFilePath(dataDir, kUserAclTemp), kUserAclEntrySize,
                       [&](std::string_view r) { return drop(UnpackUserAclEntry(r)); }, dropped);
}

void PutGroupAclIn(std::string& bytes, const GroupAclEntry& entry) {
    PutRecordIn(bytes, kGroupAclEntrySize, PackGroupAclEntry(entry), [&](std::string_view r) {
        return GetInt32(r, 0) == entry.folderNo && GetInt32(r, 4) == entry.groupId;
    });
}

void DropGroupAclIn(std::string& bytes, int folderNo, int groupId) {
    DropRecordsIn(bytes, kGroupAclEntrySize, [&](std::string_view r) {
        return GetInt32(r, 0) == folderNo && GetInt32(r, 4) == groupId;
    });
}

void PutUserAclIn(std::string& bytes, const UserAclEntry& entry) {
    const std::string key = UserKey(entry.USER_ID);
    PutRecordIn(bytes, kUserAclEntrySize, PackUserAclEntry(entry), [&](std::string_view r) {
        return GetInt32(r, 0) == entry.folderNo && GetSlotText(r, 4, kAclUserIdSize) == key;
    });
}

void DropUserAclIn(std::string& bytes, int folderNo, const std::string& userId) {
    const std::string key = UserKey(userId);
    DropRecordsIn(bytes, kUserAclEntrySize, [&](std::string_view r) {
        return GetInt32(r, 0) == folderNo && GetSlotText(r, 4, kAclUserIdSize) == key;
    });
}
