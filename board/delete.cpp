#include "board/delete.h"

#include <string>
#include <vector>

#include "app/rights.h"
#include "app/session.h"
#include "board/common.h"
#include "cgi/files.h"
#include "store/attachments.h"
#include "store/messagechange.h"
#include "store/messages.h"
#include "store/readmarks.h"
#include "store/recordfile.h"

namespace {

constexpr size_t kNumberCapacity = 1000;

// Whether any record after the message in its thread (index order) lies deeper than it.
// A deeper record further on that answers a later sibling counts too.
bool HasDeeperFollower(const std::vector<MessageIndexEntry>& index, const MessageIndexEntry& msg) {
    bool seen = false;
    int32_t depth = 0;
    for (const MessageIndexEntry& e : index) {
        if (e.threadNo != msg.threadNo) continue;
        if (!seen) {
            if (e.messageNo == msg.messageNo) {
                seen = true;
                depth = e.depth;
            }
            continue;
        }
        if (e.depth > depth) return true;
    }
    return false;
}

}  // namespace

int DeleteMessage(Run& run) {
    const std::string& dataDir = run.dataDir();
    const int folderNo = IntField(run, "FOLDER_NO", kNumberCapacity);
    const int selNo = IntField(run, "SEL_NO", kNumberCapacity);
    const UserRecord& caller = run.login.user;
    if (caller.MODE != kMemberAccount) return -1;
    const int rights = FolderRights(run, folderNo);

    DataLock lock(dataDir);
    if (!lock.held()) return kDeleteNotStored;
    MessageIndexEntry entry;
    if (FindMessage(dataDir, folderNo, selNo, kMessageByNumber, entry) != 0) return -1;
    const bool writer = !caller.USER_ID.empty() && entry.userId == caller.USER_ID;
    if (!writer && rights < kRightsManage) return -1;

    if (HasDeeperFollower(ReadMessageIndex(dataDir, folderNo), entry)) {
        entry.deleted = 1;
        return RewriteMessage(dataDir, entry) == 0 ? 0 : kDeleteNotStored;
    }
    // The records go as one change; the files are taken away once no record names them.
    if (CommitMessageRemoval(dataDir, folderNo, selNo) != 0) return kDeleteNotStored;
    RemoveDirectoryTree(run.settings.ADD_FILE_PATH + std::to_string(folderNo) + "/X" +
                        std::to_string(selNo));
    return 0;
}

int MarkFolderRead(Run& run) {
    const std::string& dataDir = run.dataDir();
    const int folderNo = IntField(run, "FOLDER_NO", kNumberCapacity);
    const std::string& userId = run.login.user.USER_ID;
    if (userId.empty() || FolderRights(run, folderNo) < kRightsRead) return -1;

    DataLock lock(dataDir);
    if (!lock.held()) return kMarksNotStored;
    bool stored = true;
    for (const MessageIndexEntry& e : ReadMessageIndex(dataDir, folderNo)) {
        ReadMark mark;
        if (FindReadMark(dataDir, folderNo, e.messageNo, userId, mark) == 0) continue;
        mark.messageNo = e.messageNo;
        mark.userId = userId;
        mark.count = 0;
        if (SaveReadMark(dataDir, folderNo, mark) != 0) stored = false;
    }
    return stored ? 0 : kMarksNotStored;
}
