#include "store/unread.h"

#include <string_view>
#include <vector>

#include "store/recordfile.h"
#include "store/unreadsum.h"

namespace {

constexpr size_t kNoReadLineBuffer = 300;

// The id of a stored line: its line end removed (LF, or CR LF as one), then one trailing CR.
std::string_view LineId(std::string_view raw) {
    if (!raw.empty() && raw.back() == '\n') {
        raw.remove_suffix(1);
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    }
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    return raw;
}

}  // namespace

std::string NoReadListPath(const std::string& dataDir, int folder) {
    return FolderFilePath(dataDir, folder, "unread.dat");
}

std::vector<std::string> ParseNoReadList(std::string_view bytes) {
    std::vector<std::string> ids;
    for (std::string_view raw : SplitRawLines(bytes, kNoReadLineBuffer))
        ids.emplace_back(LineId(raw));
    return ids;
}

int FindNoReadEntry(const std::string& dataDir, int folder, const std::string& userId) {
    std::string bytes;
    if (!ReadWholeFile(NoReadListPath(dataDir, folder), bytes)) return -1;
    std::vector<std::string_view> lines = SplitRawLines(bytes, kNoReadLineBuffer);
    for (size_t i = 0; i < lines.size(); ++i)
        if (LineId(lines[i]) == userId) return static_cast<int>(i + 1);
    return -1;
}

int AddNoReadEntry(const std::string& dataDir, int folder, const std::string& userId) {
    DataLock lock(dataDir);
    EnsureFolderDir(dataDir, folder);
    UnreadSummaryUpdate update(dataDir, folder);  // the stamp follows unread.dat
    const std::string path = NoReadListPath(dataDir, folder);
    const std::string line = userId + std::string(kLineEnd);
    std::string bytes;
    if (!ReadWholeFile(path, bytes))
        return AppendToFile(dataDir, path, line, true) == 0 ? 0 : kNoReadNotStored;
    for (std::string_view raw : SplitRawLines(bytes, kNoReadLineBuffer))
        if (LineId(raw) == userId) return -2;
    // A last line without its line end is ended first, so the new id gets a line of its own.
    if (AppendTextLine(dataDir, path, line, false) != 0) return kNoReadNotStored;
    return -1;
}

int RemoveNoReadEntry(const std::string& dataDir, int folder, const std::string& userId) {
    DataLock lock(dataDir);
    UnreadSummaryUpdate update(dataDir, folder);  // the stamp follows unread.dat
    const std::string path = NoReadListPath(dataDir, folder);
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) return -1;
    std::string kept;
    kept.reserve(bytes.size());
    bool dropped = false;
    long lastCopied = -1;
    const std::vector<std::string_view> raws = SplitRawLines(bytes, kNoReadLineBuffer);
    for (size_t k = 0; k < raws.size(); ++k) {
        if (LineId(raws[k]) == userId) dropped = true;
        else CopyRawLine(kept, raws[k], static_cast<long>(k), lastCopied);
    }
    if (!dropped) return -1;  // the copy would be the same bytes
    if (RewriteViaTemp(dataDir, path, FolderFilePath(dataDir, folder, "unread.dat.TMP"), kept) != 0)
        return kNoReadNotStored;
    return 0;
}
