#include "store/sessions.h"

#include "store/recordfile.h"
#include "store/users.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace {

constexpr std::string_view kSessionFile = kSessionFileName;

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

std::string StoredUser(std::string_view record) {
    return GetSlotText(record, kSessionUserOffset, kSessionUserSize);
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
                                 packed, [&](std::string_view r) { return StoredUser(r) == id; });
}

int32_t IssueSession(const std::string& dataDir, const std::string& userId, bool reuse,
                     int maxDraws, bool& reused) {
    reused = false;
    DataLock lock(dataDir);
    const std::string path = DataFilePath(dataDir, kSessionFile);
    SessionRecord rec;
    rec.USER_ID = userId;
    rec.REMOTE_ADDR = SessionEnvValue("REMOTE_ADDR");
    rec.HTTP_USER_AGENT = SessionEnvValue("HTTP_USER_AGENT");
    const std::string id = StoredUser(PackSessionRecord(rec));  // as it is stored
    // One scan in pieces: the keys every record holds and the user's first record.
    int fd = OpenRecordFile(path);
    if (fd < 0) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);  // a read-only file is still read
    if (fd < 0) return -1;
    std::vector<int32_t> keys;
    long own = -1;
    int32_t ownKey = 0;
    const size_t count = ScanRecords(fd, kSessionRecordSize, 0, [&](std::string_view r, size_t i) {
        keys.push_back(GetInt32(r, kSessionKeyOffset));
        if (own < 0 && StoredUser(r) == id) {
            own = static_cast<long>(i);
            ownKey = keys.back();
        }
        return false;
    });
    // A read that stopped short of the file's records must not place the record over another.
    struct stat st {};
    const bool whole = fstat(fd, &st) == 0 &&
                       count == static_cast<size_t>(st.st_size) / kSessionRecordSize;
    close(fd);
    if (!whole) return -1;
    if (reuse && own >= 0 && ownKey >= 1) {
        reused = true;
        return ownKey;
    }
    std::sort(keys.begin(), keys.end());
    int32_t key = -1;
    for (int draws = 0;; ++draws) {
        if (draws >= maxDraws) return -1;
        key = DrawSessionKey();
        if (key < 0) return -1;
        if (!std::binary_search(keys.begin(), keys.end(), key)) break;
    }
    rec.key = key;
    const size_t at = own >= 0 ? static_cast<size_t>(own) : count;
    if (WriteAt(dataDir, path, static_cast<long>(at * kSessionRecordSize), PackSessionRecord(rec)) != 0)
        return -1;
    return key;
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
    // The file is scanned in pieces up to the first record of the key.
    const std::string path = DataFilePath(dataDir, kSessionFile);
    int fd = OpenRecordFile(path);
    if (fd < 0) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    std::string record;
    ScanRecords(fd, kSessionRecordSize, 0, [&](std::string_view r, size_t) {
        if (GetInt32(r, kSessionKeyOffset) != key) return false;
        record = std::string(r);
        return true;
    });
    close(fd);
    if (!record.empty()) {
        const SessionRecord rec = UnpackSessionRecord(record);
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
    for (std::string_view bytes : SplitRecords(all, kSessionRecordSize))
        if (StoredUser(bytes) == userId) return GetInt32(bytes, kSessionKeyOffset);
    return -1;
}

int DeleteSessionsOfUser(const std::string& dataDir, const std::string& userId) {
    const std::string path = DataFilePath(dataDir, kSessionFile);
    return DropRecords(dataDir, path, path + ".TMP", kSessionRecordSize,
                       [&](std::string_view r) { return StoredUser(r) == userId; });
}

long DropSessionsOfUserIn(std::string& bytes, const std::string& userId) {
    return DropRecordsIn(bytes, kSessionRecordSize,
                         [&](std::string_view r) { return StoredUser(r) == userId; });
}
