#include "store/chat.h"

#include <sys/stat.h>
#include <unistd.h>

#include "store/recordfile.h"

std::string PackChatEntry(const ChatEntry& e) {
    std::string r(kChatEntrySize, '\0');
    PutInt32(r, 0, e.MODE);
    PutText(r, 4, 82, e.name);
    PutText(r, 86, 22, e.color);
    PutText(r, 108, 252, e.text);
    PutText(r, 360, 20, e.date);
    PutText(r, 380, 252, e.REMOTE_ADDR);
    PutText(r, 632, 252, e.HTTP_USER_AGENT);
    return r;
}

ChatEntry UnpackChatEntry(std::string_view r) {
    ChatEntry e;
    e.MODE = GetInt32(r, 0);
    e.name = GetSlotText(r, 4, 82);
    e.color = GetSlotText(r, 86, 22);
    e.text = GetSlotText(r, 108, 252);
    e.date = GetSlotText(r, 360, 20);
    e.REMOTE_ADDR = GetSlotText(r, 380, 252);
    e.HTTP_USER_AGENT = GetSlotText(r, 632, 252);
    return e;
}

std::string PackChatMember(const ChatMember& m) {
    std::string r(kChatMemberSize, '\0');
    PutText(r, 0, 22, m.userId);
    PutText(r, 22, 22, m.color);
    PutInt32(r, 44, m.LOG_LINE);
    PutInt32(r, 48, m.RELOAD_TIME);
    PutText(r, 52, 20, m.date);
    return r;
}

ChatMember UnpackChatMember(std::string_view r) {
    ChatMember m;
    m.userId = GetSlotText(r, 0, 22);
    m.color = GetSlotText(r, 22, 22);
    m.LOG_LINE = GetInt32(r, 44);
    m.RELOAD_TIME = GetInt32(r, 48);
    m.date = GetSlotText(r, 52, 20);
    return m;
}

std::string ChatLogPath(const std::string& dataDir, int folder) {
    return FolderFilePath(dataDir, folder, "chat.dat");
}

std::string ChatMemberListPath(const std::string& dataDir, int folder) {
    return FolderFilePath(dataDir, folder, "chat.idx");
}

int FindChatMember(const std::string& dataDir, int folder, const std::string& userId,
                   ChatMember& out) {
    out = ChatMember();
    EnsureFolderDir(dataDir, folder);
    const std::string bytes = ReadRecordFile(ChatMemberListPath(dataDir, folder), kChatMemberSize);
    for (std::string_view rec : SplitRecords(bytes, kChatMemberSize)) {
        if (GetSlotText(rec, 0, 22) == userId) {
            out = UnpackChatMember(rec);
            return 0;
        }
    }
    return -1;
}

int SaveChatMember(const std::string& dataDir, int folder, const ChatMember& member) {
    EnsureFolderDir(dataDir, folder);
    const std::string packed = PackChatMember(member);
    const std::string id = GetSlotText(packed, 0, 22);
    return ReplaceOrAppendRecord(dataDir, ChatMemberListPath(dataDir, folder), kChatMemberSize,
                                 packed,
                                 [&](std::string_view r) { return GetSlotText(r, 0, 22) == id; });
}

// Find and save as one step under the lock; edit changes the found record and tells whether to
// save it.
template <typename Edit>
static int UpdateChatMember(const std::string& dataDir, int folder, const std::string& userId,
                            Edit edit) {
    DataLock lock(dataDir);
    ChatMember m;
    if (FindChatMember(dataDir, folder, userId, m) != 0 || !edit(m)) return -1;
    return SaveChatMember(dataDir, folder, m);
}

int TouchChatMember(const std::string& dataDir, int folder, const std::string& userId,
                    const std::string& date) {
    return UpdateChatMember(dataDir, folder, userId, [&](ChatMember& m) {
        if (!(m.date > kChatLeftStamp)) return false;
        m.date = date;
        return true;
    });
}

int LeaveChatMember(const std::string& dataDir, int folder, const std::string& userId) {
    return UpdateChatMember(dataDir, folder, userId, [](ChatMember& m) {
        m.date = kChatLeftStamp;
        return true;
    });
}

int ReadChatEntryAt(const std::string& dataDir, int folder, int index, ChatEntry& out) {
    out = ChatEntry();
    EnsureFolderDir(dataDir, folder);
    if (index < 0) return -1;
    int fd = OpenRecordFile(ChatLogPath(dataDir, folder));
    if (fd < 0) return -1;
    std::string bytes;
    size_t got = ReadBytesAt(fd, static_cast<size_t>(index) * kChatEntrySize, kChatEntrySize, bytes);
    close(fd);
    if (got < kChatEntrySize) return -1;
    out = UnpackChatEntry(bytes);
    return 0;
}

std::vector<ChatEntry> ReadChatEntries(const std::string& dataDir, int folder, int maxCount) {
    std::vector<ChatEntry> entries;
    if (maxCount <= 0) return entries;
    int fd = OpenRecordFile(ChatLogPath(dataDir, folder));
    if (fd < 0) return entries;
    struct stat st {};
    size_t length = static_cast<size_t>(maxCount) * kChatEntrySize;
    if (fstat(fd, &st) == 0 && static_cast<size_t>(st.st_size) < length)
        length = static_cast<size_t>(st.st_size);
    std::string bytes;
    ReadBytesAt(fd, 0, length, bytes);
    close(fd);
    for (std::string_view r : SplitRecords(bytes, kChatEntrySize))
        entries.push_back(UnpackChatEntry(r));
    return entries;
}

int PrependChatEntry(const std::string& dataDir, int folder, const ChatEntry& entry) {
    DataLock lock(dataDir);
    EnsureFolderDir(dataDir, folder);
    const std::string path = ChatLogPath(dataDir, folder);
    std::string old;
    if (!ReadRecordFile(path, kChatEntrySize, old)) return -1;  // the log must not be lost
    std::string log = PackChatEntry(entry);
    log += old;  // a trailing partial entry is dropped
    return RewriteViaTemp(dataDir, path, path + ".TMP", log) == 0 ? 0 : -1;
}
