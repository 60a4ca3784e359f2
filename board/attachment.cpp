#include "board/attachment.h"

#include <cstdio>

#include "app/rights.h"
#include "app/session.h"
#include "board/common.h"
#include "cgi/files.h"
#include "store/attachments.h"
#include "store/messages.h"

static constexpr size_t kNumberCapacity = 1000;

// The stored file of an attachment record, or "" when the record cannot name a file inside
// its slot directory.
static std::string AttachmentPath(const Run& run, int folderNo, int messageNo, int slot,
                                  const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        return "";
    char tail[64];
    snprintf(tail, sizeof tail, "%d/X%d/%d/", folderNo, messageNo, slot);
    return run.settings.ADD_FILE_PATH + tail + name;
}

static bool IsBoardFolder(Run& run, int folderNo) {
    for (const FolderRecord& f : FolderTree(run))
        if (f.folderNo == folderNo) return f.kind == kFolderBoard;
    return false;
}

void SendAttachment(Run& run) {
    const int folderNo = IntField(run, "FOLDER_NO", kNumberCapacity);
    const int messageNo = IntField(run, "SEL_NO", kNumberCapacity);
    const int slot = IntField(run, "ADD_NO", kNumberCapacity);

    std::string path;
    AttachmentEntry att;
    MessageIndexEntry entry;
    if (FolderRights(run, folderNo) >= kRightsRead && IsBoardFolder(run, folderNo) &&
        messageNo >= 1 && slot >= 1 &&
        FindMessage(run.dataDir(), folderNo, messageNo, kMessageByNumber, entry) == 0 &&
        entry.deleted == 0 &&
        FindAttachment(run.dataDir(), folderNo, messageNo, slot, att) == 0)
        path = AttachmentPath(run, folderNo, messageNo, slot, att.fileName);

    StringOutput headers;
    WriteSafetyHeaders(headers);
    // Whatever the file holds, a browser that shows it anyway runs none of it.
    headers << "Content-Security-Policy: sandbox\n";
    if (!path.empty() && SendFileAs(run.out, path, att.fileName, headers.text)) return;
    WritePageHead(run);
    WriteRefusalBody(run);
}
