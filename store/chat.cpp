#include "store/chat.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "store/recordfile.h"

namespace {

std::string Field(std::string_view record, size_t offset, size_t size) {
    return CutToSlot(GetText(record, offset, size), size);
}

// Reads up to length bytes at offset of an opened file; the count read.
size_t ReadAt(int fd, std::string& bytes, size_t offset, size_t length) {
    bytes.resize(length);
    size_t got = 0;
    while (got < length) {
        ssize_t n = pread(fd, bytes.data() + got, length - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    return got;
}

}  // namespace

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
    e.name = Field(r, 4, 82);
    e.color = Field(r, 86, 22);
    e.text = Field(r, 108, 252);
    e.date = Field(r, 360, 20);
    e.REMOTE_ADDR = Field(r, 380, 252);
    e.HTTP_USER_AGENT = Field(r, 632, 252);
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
    m.userId = Field(r, 0, 22);
    m.color = Field(r, 22, 22);
    m.LOG_LINE = GetInt32(r, 44);
    m.RELOAD_TIME = GetInt32(r, 48);
    m.date = Field(r, 52, 20);
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
    std::string bytes = ReadRecordFile(ChatMemberListPath(dataDir, folder), kChatMemberSize);
    for (size_t at = 0; at + kChatMemberSize <= bytes.size(); at += kChatMemberSize) {
        std::string_view rec = std::string_view(bytes).substr(at, kChatMemberSize);
        if (Field(rec, 0, 22) == userId) {
            out = UnpackChatMember(rec);
            return 0;
        }
    }
    return -1;
}

int SaveChatMember(const std::string& dataDir, int folder, const ChatMember& member) {
    DataLock lock(dataDir);
    const std::string path = ChatMemberListPath(dataDir, folder);
    std::string bytes = ReadRecordFile(path, kChatMemberSize);
    const std::string packed = PackChatMember(member);
    const std::string id = Field(packed, 0, 22);
    size_t at = bytes.size();  // a partial record at the end is overwritten
    for (size_t i = 0; i + kChatMemberSize <= bytes.size(); i += kChatMemberSize) {
        if (Field(std::string_view(bytes).substr(i, kChatMemberSize), 0, 22) == id) {
            at = i;
            break;
        }
    }
    return WriteAt(dataDir, path, static_cast<long>(at), packed);
}

int ReadChatEntryAt(const std::string& dataDir, int folder, int index, ChatEntry& out) {
    out = ChatEntry();
    EnsureFolderDir(dataDir, folder);
    if (index < 0) return -1;
    int fd = OpenRecordFile(ChatLogPath(dataDir, folder));
    if (fd < 0) return -1;
    std::string bytes;
    size_t got = ReadAt(fd, bytes, static_cast<size_t>(index) * kChatEntrySize, kChatEntrySize);
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
    ReadAt(fd, bytes, 0, length);
    close(fd);
    for (size_t at = 0; at + kChatEntrySize <= bytes.size(); at += kChatEntrySize)
        entries.push_back(UnpackChatEntry(std::string_view(bytes).substr(at, kChatEntrySize)));
    return entries;
}

int PrependChatEntry(const std::string& dataDir, int folder, const ChatEntry& entry) {
    DataLock lock(dataDir);
    const std::string path = ChatLogPath(dataDir, folder);
    std::string log = PackChatEntry(entry);
    log += ReadRecordFile(path, kChatEntrySize);  // a trailing partial entry is dropped
    return RewriteViaTemp(dataDir, path, path + ".TMP", log) == 0 ? 0 : -1;
}
