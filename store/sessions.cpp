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

// skey.mst whole for a change (created empty when missing), without a trailing partial record.
// false when it cannot be read: the change must then not go ahead on a wrong picture.
bool ReadForChange(const std::string& path, std::string& all) {
    int fd = OpenRecordFile(path);
    if (fd < 0) return false;
    close(fd);
    if (!ReadWholeFile(path, all)) return false;
    all.resize(all.size() - all.size() % kSessionRecordSize);
    return true;
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
    rec.USER_ID = CutToSlot(GetText(bytes, kSessionUserOffset, kSessionUserSize), kSessionUserSize);
    rec.REMOTE_ADDR = CutToSlot(GetText(bytes, kSessionAddrOffset, kSessionAddrSize), kSessionAddrSize);
    rec.HTTP_USER_AGENT =
        CutToSlot(GetText(bytes, kSessionAgentOffset, kSessionAgentSize), kSessionAgentSize);
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

    DataLock lock(dataDir);
    const std::string path = DataFilePath(dataDir, kSessionFile);
    std::string all;
    if (!ReadForChange(path, all)) return -1;
    size_t at = all.size();  // after the last whole record: a partial one is overwritten
    for (size_t off = 0; off < all.size(); off += kSessionRecordSize) {
        if (UnpackSessionRecord(std::string_view(all).substr(off, kSessionRecordSize)).USER_ID == id) {
            at = off;
            break;
        }
    }
    return WriteAt(dataDir, path, static_cast<long>(at), packed);
}

int FindSessionUserOfKey(const std::string& dataDir, int32_t key, std::string& userId) {
    userId.clear();
    const std::string all = ReadRecordFile(DataFilePath(dataDir, kSessionFile), kSessionRecordSize);
    for (size_t off = 0; off < all.size(); off += kSessionRecordSize) {
        std::string_view rec = std::string_view(all).substr(off, kSessionRecordSize);
        if (GetInt32(rec, kSessionKeyOffset) != key) continue;
        userId = UnpackSessionRecord(rec).USER_ID;
        return 0;
    }
    return -1;
}

int CheckSession(const std::string& dataDir, int32_t key, std::string& userId, UserRecord& user) {
    userId.clear();
    const std::string all = ReadRecordFile(DataFilePath(dataDir, kSessionFile), kSessionRecordSize);
    for (size_t off = 0; off < all.size(); off += kSessionRecordSize) {
        std::string_view bytes = std::string_view(all).substr(off, kSessionRecordSize);
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
    for (size_t off = 0; off < all.size(); off += kSessionRecordSize) {
        const SessionRecord rec = UnpackSessionRecord(std::string_view(all).substr(off, kSessionRecordSize));
        if (rec.USER_ID == userId) return rec.key;
    }
    return -1;
}

int DeleteSessionsOfUser(const std::string& dataDir, const std::string& userId) {
    DataLock lock(dataDir);
    const std::string path = DataFilePath(dataDir, kSessionFile);
    std::string all;
    if (!ReadForChange(path, all)) return -1;
    std::string kept;
    kept.reserve(all.size());
    for (size_t off = 0; off < all.size(); off += kSessionRecordSize) {
        std::string_view rec = std::string_view(all).substr(off, kSessionRecordSize);
        if (UnpackSessionRecord(rec).USER_ID != userId) kept.append(rec);
    }
    if (kept.size() == all.size() && FileSize(path) == static_cast<long>(all.size())) return 0;
    return RewriteViaTemp(dataDir, path, path + ".TMP", kept);
}
