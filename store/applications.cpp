#include "store/applications.h"

#include "store/recordfile.h"

namespace {

constexpr std::string_view kApplicationFile = kApplicationFileName;

std::string FilePath(const std::string& dataDir) {
    return DataFilePath(dataDir, kApplicationFile);
}

std::string_view RecordAt(const std::string& all, size_t index) {
    return std::string_view(all).substr(index * kIdApplicationSize, kIdApplicationSize);
}

std::string IdOf(std::string_view record) {
    return GetSlotText(record, kAppIdOffset, kAppIdSize);
}

// Index of the n-th record whose id equals userId, or -1.
long NthWithId(const std::string& all, const std::string& userId, int n) {
    if (n < 0) return -1;
    const size_t count = all.size() / kIdApplicationSize;
    for (size_t k = 0; k < count; ++k) {
        if (IdOf(RecordAt(all, k)) == userId && n-- == 0) return static_cast<long>(k);
    }
    return -1;
}

}  // namespace

std::string PackIdApplication(const IdApplication& a) {
    std::string bytes(kIdApplicationSize, '\0');
    PutText(bytes, kAppIdOffset, kAppIdSize, a.USER_ID);
    PutText(bytes, kAppNameOffset, kAppNameSize, a.USER_NAME);
    PutText(bytes, kAppMailOffset, kAppMailSize, a.E_MAIL_ADDR);
    PutText(bytes, kAppPassOffset, kAppPassSize, a.USER_PASS);
    PutText(bytes, kAppDateOffset, kAppDateSize, a.date);
    PutText(bytes, kAppAddrOffset, kAppAddrSize, a.REMOTE_ADDR);
    PutText(bytes, kAppAgentOffset, kAppAgentSize, a.HTTP_USER_AGENT);
    PutText(bytes, kAppMessageOffset, kAppMessageSize, a.message);
    PutInt32(bytes, kAppStatusOffset, a.status);
    return bytes;
}

IdApplication UnpackIdApplication(std::string_view b) {
    const auto text = [&](size_t offset, size_t size) { return GetSlotText(b, offset, size); };
    IdApplication a;
    a.USER_ID = text(kAppIdOffset, kAppIdSize);
    a.USER_NAME = text(kAppNameOffset, kAppNameSize);
    a.E_MAIL_ADDR = text(kAppMailOffset, kAppMailSize);
    a.USER_PASS = text(kAppPassOffset, kAppPassSize);
    a.date = text(kAppDateOffset, kAppDateSize);
    a.REMOTE_ADDR = text(kAppAddrOffset, kAppAddrSize);
    a.HTTP_USER_AGENT = text(kAppAgentOffset, kAppAgentSize);
    a.message = text(kAppMessageOffset, kAppMessageSize);
    a.status = GetInt32(b, kAppStatusOffset);
    return a;
}

int ReadApplicationAt(const std::string& dataDir, int index, IdApplication& out) {
    if (index < 0) return -1;
    const std::string all = ReadRecordFile(FilePath(dataDir), kIdApplicationSize);
    if (static_cast<size_t>(index) >= all.size() / kIdApplicationSize) return -1;
    out = UnpackIdApplication(RecordAt(all, static_cast<size_t>(index)));
    return 0;
}

std::vector<IdApplication> ReadAllApplications(const std::string& dataDir) {
    const std::string all = ReadRecordFile(FilePath(dataDir), kIdApplicationSize);
    std::vector<IdApplication> apps;
    for (std::string_view r : SplitRecords(all, kIdApplicationSize))
        apps.push_back(UnpackIdApplication(r));
    return apps;
}

int FindApplication(const std::string& dataDir, const std::string& userId, int n,
                    IdApplication& out) {
    const std::string all = ReadRecordFile(FilePath(dataDir), kIdApplicationSize);
    const long k = NthWithId(all, userId, n);
    if (k < 0) return -1;
    out = UnpackIdApplication(RecordAt(all, static_cast<size_t>(k)));
    return 0;
}

int AddApplication(const std::string& dataDir, const IdApplication& app) {
    const std::string packed = PackIdApplication(app);
    DataLock lock(dataDir);
    const std::string path = FilePath(dataDir);
    std::string all;
    if (!lock.held() || !ReadRecordFile(path, kIdApplicationSize, all))
        return kApplicationNotWritten;
    if (NthWithId(all, IdOf(packed), 0) >= 0) return -1;
    // At the end of the whole records: a trailing partial record is overwritten.
    return WriteAt(dataDir, path, static_cast<long>(all.size()), packed) == 0
               ? 0
               : kApplicationNotWritten;
}

int RewriteApplication(const std::string& dataDir, const std::string& userId, int n,
                       const IdApplication& app) {
    DataLock lock(dataDir);
    const std::string path = FilePath(dataDir);
    std::string all;
    if (!ReadRecordFile(path, kIdApplicationSize, all)) return -1;
    const long k = NthWithId(all, userId, n);
    if (k < 0) return -1;
    return WriteAt(dataDir, path, k * static_cast<long>(kIdApplicationSize),
                   PackIdApplication(app));
}

int DeleteApplicationAt(const std::string& dataDir, int index) {
    if (index < 0) return -1;
    DataLock lock(dataDir);
    const std::string path = FilePath(dataDir);
    std::string all;
    if (!ReadRecordFile(path, kIdApplicationSize, all)) return -1;
    if (static_cast<size_t>(index) >= all.size() / kIdApplicationSize) return -1;
    all.erase(static_cast<size_t>(index) * kIdApplicationSize, kIdApplicationSize);
    return RewriteViaTemp(dataDir, path, path + ".TMP", all);
}

int PurgeDecidedApplications(const std::string& dataDir, std::string_view cutoff) {
    const std::string day(cutoff.substr(0, 10));
    bool later = false;  // a record dated after the cut-off day was met: keep the rest
    const std::string path = FilePath(dataDir);
    long dropped = 0;
    const int r = DropRecords(
        dataDir, path, path + ".TMP", kIdApplicationSize,
        [&](std::string_view record) {
            if (later) return false;
            if (GetSlotText(record, kAppDateOffset, kAppDateSize).substr(0, 10) > day) {
                later = true;
                return false;
            }
            return GetInt32(record, kAppStatusOffset) != kAppWaiting;
        },
        &dropped);
    return r != 0 ? -1 : static_cast<int>(dropped);
}

long FindWaitingApplicationIn(std::string_view bytes, const std::string& userId,
                              IdApplication& out) {
    const size_t count = bytes.size() / kIdApplicationSize;
    for (size_t k = 0; k < count; ++k) {
        const std::string_view r = bytes.substr(k * kIdApplicationSize, kIdApplicationSize);
        if (IdOf(r) != userId || GetInt32(r, kAppStatusOffset) != kAppWaiting) continue;
        out = UnpackIdApplication(r);
        return static_cast<long>(k);
    }
    return -1;
}

void PutApplicationAt(std::string& bytes, size_t index, const IdApplication& app) {
    bytes.replace(index * kIdApplicationSize, kIdApplicationSize, PackIdApplication(app));
}
