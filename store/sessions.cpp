#include "store/sessions.h"

#include "store/recordfile.h"
#include "store/users.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

namespace {

constexpr std::string_view kSessionFile = "skey.mst";

std::string EnvCut(std::string_view value) { return CutToSlot(value, kSessionEnvLimit + 1); }

bool RandomBytes(void* buf, size_t size) {
    char* p = static_cast<char*>(buf);
    size_t got = 0;
    while (got < size) {
        ssize_t n = getrandom(p + got, size - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    if (got == size) return true;
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    got = 0;
    while (got < size) {
        ssize_t n = read(fd, p + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    return got == size;
}

}  // namespace

std::string PackSessionRecord(const SessionRecord& rec) {
    std::string bytes(kSessionRecordSize, '\0');
    PutInt32(bytes, kSessionKeyOffset, rec.key);
    PutText(bytes, kSessionUserOffset, kSessionUserSize, rec.USER_ID);
    PutText(bytes, kSessionAddrOffset, kSessionAddrSize, EnvCut(rec.REMOTE_ADDR));
    PutText(bytes, kSessionAgentOffset, kSessionAgentSize, EnvCut(rec.HTTP_USER_AGENT));
    return bytes;
}

SessionRecord UnpackSessionRecord(std::string_view bytes) {
    SessionRecord rec;
    rec.key = GetInt32(bytes, kSessionKeyOffset);
    rec.USER_ID = GetSlotText(bytes, kSessionUserOffset, kSessionUserSize);
    rec.REMOTE_ADDR = GetSlotText(bytes, kSessionAddrOffset, kSessionAddrSize);
    rec.HTTP_USER_AGENT = GetSlotText(bytes, kSessionAgentOffset, kSessionAgentSize);
    return rec;
}

std::string SessionEnvValue(const char* name) {
    const char* v = getenv(name);
    return v ? EnvCut(v) : std::string();
}

int32_t DrawSessionKey() {
    for (;;) {
        uint32_t v = 0;
        if (!RandomBytes(&v, sizeof v)) return -1;
        v &= 0x7FFFFFFFu;
        if (v != 0) return static_cast<int32_t>(v);
    }
}

int SaveSession(const std::string& dataDir, const SessionRecord& rec) {
    SessionRecord stored = rec;
    stored.REMOTE_ADDR = SessionEnvValue("REMOTE_ADDR");
    stored.HTTP_USER_AGENT = SessionEnvValue("HTTP_USER_AGENT");
    const std::string packed = PackSessionRecord(stored);
    const std::string id = UnpackSessionRecord(packed).USER_ID;  // as it is stored

    return ReplaceOrAppendRecord(dataDir, DataFilePath(dataDir, kSessionFile), kSessionRecordSize,
                                 packed, [&](std::string_view r) {
                                     return UnpackSessionRecord(r).USER_ID == id;
                                 });
}

int FindSessionUserOfKey(const std::string& dataDir, int32_t key, std::string& userId) {
    userId.clear();
    const std::string all = ReadRecordFile(DataFilePath(dataDir, kSessionFile), kSessionRecordSize);
    for (std::string_view rec : SplitRecords(all, kSessionRecordSize)) {
        if (GetInt32(rec, kSessionKeyOffset) != key) continue;
        userId = UnpackSessionRecord(rec).USER_ID;
        return 0;
    }
    return -1;
}

int CheckSession(const std::string& dataDir, int32_t key, std::string& userId, UserRecord& user) {
    userId.clear();
    const std::string all = ReadRecordFile(DataFilePath(dataDir, kSessionFile), kSessionRecordSize);
    for (std::string_view bytes : SplitRecords(all, kSessionRecordSize)) {
        if (GetInt32(bytes, kSessionKeyOffset) != key) continue;
        const SessionRecord rec = UnpackSessionRecord(bytes);
        std::string id = rec.USER_ID;
        UserRecord found;
        // A key whose user is gone opens nothing.
        if (FindUser(dataDir, id, found) != 0) return -1;
        if (found.MODE == 1 && SessionEnvValue("HTTP_USER_AGENT") != rec.HTTP_USER_AGENT) return -1;
        userId = id;
        user = std::move(found);
        return 0;
    }
    return -1;
}

int32_t FindSessionKeyOfUser(const std::string& dataDir, const std::string& userId) {
    const std::string all = ReadRecordFile(DataFilePath(dataDir, kSessionFile), kSessionRecordSize);
    for (std::string_view bytes : SplitRecords(all, kSessionRecordSize)) {
        const SessionRecord rec = UnpackSessionRecord(bytes);
        if (rec.USER_ID == userId) return rec.key;
    }
    return -1;
}

int DeleteSessionsOfUser(const std::string& dataDir, const std::string& userId) {
    const std::string path = DataFilePath(dataDir, kSessionFile);
    return DropRecords(dataDir, path, path + ".TMP", kSessionRecordSize,
                       [&](std::string_view r) { return UnpackSessionRecord(r).USER_ID == userId; });
}
