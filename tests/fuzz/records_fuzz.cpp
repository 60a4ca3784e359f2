// The record readers on arbitrary file bytes: text lines cut as the 1000-byte reader cuts them,
// folder lines, user lines and every fixed-size record. A folder line that its writer makes and
// that passes TreeLineFits reads back as the same folder (its name as a field can hold it).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "store/acl.h"
#include "store/applications.h"
#include "store/attachments.h"
#include "store/chat.h"
#include "store/folders.h"
#include "store/messages.h"
#include "store/readmarks.h"
#include "store/recordfile.h"
#include "store/sessions.h"
#include "store/users.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (std::string_view line : SplitTextLines(bytes, 1000)) {
        FolderRecord folder;
        if (ParseFolderLine(line, folder)) {
            const std::string written = FormatFolderLine(folder);
            if (TreeLineFits(written)) {
                const auto lines = SplitTextLines(written, 1000);
                FolderRecord again;
                if (lines.size() != 1 || !ParseFolderLine(lines[0], again) ||
                    again.folderNo != folder.folderNo || again.kind != folder.kind ||
                    again.name != FieldValue(folder.name, kFolderNameSize) ||
                    again.indentation != folder.indentation)
                    abort();
            }
        }
        UserRecord user;
        ParseUserLine(line, user);
        CutFields(line);
        ParseInt(line);
    }
    for (std::string_view r : SplitRecords(bytes, kMessageIndexEntrySize)) {
        const MessageIndexEntry e = UnpackMessageIndexEntry(r);
        if (UnpackMessageIndexEntry(PackMessageIndexEntry(e)).WRITE_TITLE != e.WRITE_TITLE) abort();
    }
    for (std::string_view r : SplitRecords(bytes, kFolderSettingsSize)) UnpackFolderSettings(r);
    for (std::string_view r : SplitRecords(bytes, kAttachmentEntrySize)) UnpackAttachmentEntry(r);
    for (std::string_view r : SplitRecords(bytes, kReadMarkSize)) UnpackReadMark(r);
    UnpackGroupAclEntry(bytes);
    UnpackUserAclEntry(bytes);
    UnpackIdApplication(bytes);
    UnpackChatEntry(bytes);
    UnpackChatMember(bytes);
    UnpackSessionRecord(bytes);
    std::string index(bytes.substr(0, bytes.size() - bytes.size() % kMessageIndexEntrySize));
    MessageIndexEntry reply;
    reply.messageNo = size > 0 ? data[0] : 0;
    InsertMessageIn(index, reply);
    return 0;
}
