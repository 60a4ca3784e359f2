#include "store/journal.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "cgi/fileops.h"
#include "store/recordfile.h"

namespace {

constexpr std::string_view kHeader = "boardcgi journal 1\n";

int OpenRetry(const std::string& path, int flags, mode_t mode = 0) {
    return FsOpen(path.c_str(), flags, mode);
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = FsWrite(fd, bytes.data(), bytes.size());
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Writes path anew with bytes and flushes it to disk; mode from keepModeOf when that exists.
bool WriteDurably(const std::string& path, std::string_view bytes, const std::string& keepModeOf) {
    FsUnlink(path.c_str());
    const int fd = OpenRetry(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return false;
    struct stat st;
    if (!keepModeOf.empty() && stat(keepModeOf.c_str(), &st) == 0) fchmod(fd, st.st_mode & 07777);
    bool ok = WriteAll(fd, bytes) && FsFsync(fd) == 0;
    if (close(fd) != 0) ok = false;
    return ok;
}

// Flushes a directory's entries (the renames and removals in it) to disk. false when that
// could not be done.
bool SyncDirectory(const std::string& dir) {
    const int fd = OpenRetry(dir.empty() ? "." : dir, O_RDONLY | O_DIRECTORY);
    if (fd < 0) return false;
    const bool ok = FsFsync(fd) == 0;
    close(fd);
    return ok;
}

// The directory part of dataDir + name, with its separator ("" for the current directory).
std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool AllowedName(std::string_view name) {
    if (name.empty() || name.front() == '/') return false;
    for (char c : name)
        if (c == '\n' || c == '\r' || c == '\0') return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string_view::npos) end = name.size();
        const std::string_view part = name.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = end + 1;
    }
    return true;
}

uint64_t Checksum(std::string_view bytes) {
    uint64_t h = 14695981039346656037ull;  // FNV-1a
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

std::string ClosingLine(std::string_view body, size_t count) {
    char line[64];
    snprintf(line, sizeof line, "end %zu %016" PRIx64 "\n", count, Checksum(body));
    return line;
}

struct ParsedJournal {
    bool complete = false;
    std::vector<std::string> names;  // of a complete journal; else what could be read
};

ParsedJournal ParseJournal(std::string_view bytes) {
    ParsedJournal j;
    if (bytes.substr(0, kHeader.size()) != kHeader) return j;
    size_t pos = kHeader.size();
    while (pos < bytes.size()) {
        const size_t nl = bytes.find('\n', pos);
        if (nl == std::string_view::npos) break;  // a cut last line
        const std::string_view line = bytes.substr(pos, nl - pos);
        if (line.substr(0, 4) == "end ") {
            j.complete = nl + 1 == bytes.size() &&
                         bytes.substr(pos) == ClosingLine(bytes.substr(0, pos), j.names.size());
            return j;
        }
        if (AllowedName(line)) j.names.emplace_back(line);
        pos = nl + 1;
    }
    return j;
}

std::string TempPathOf(const std::string& dataDir, const std::string& name) {
    std::string p = DataFilePath(dataDir, name);
    p.append(kJournalTempSuffix);
    return p;
}

// Carries out or discards the journal; the caller holds the lock. 0, or -1 when a rename failed.
int FinishJournal(const std::string& dataDir) {
    const std::string journal = DataFilePath(dataDir, kJournalName);
    std::string bytes;
    if (!ReadWholeFile(journal, bytes)) return 0;
    const ParsedJournal j = ParseJournal(bytes);
    std::set<std::string> dirs;  // of the renamed files
    bool ok = true;
    for (const std::string& name : j.names) {
        const std::string temp = TempPathOf(dataDir, name);
        if (!j.complete) {
            FsUnlink(temp.c_str());
            continue;
        }
        const std::string target = DataFilePath(dataDir, name);
        dirs.insert(DirectoryOf(target));
        // A missing temporary was renamed before the run was cut short.
        if (FsRename(temp.c_str(), target.c_str()) != 0 && errno != ENOENT) ok = false;
    }
    for (const std::string& dir : dirs) SyncDirectory(dir);
    if (!ok) return -1;
    FsUnlink(journal.c_str());
    SyncDirectory(dataDir);
    return 0;
}

// Flushes the folder directories that hold temporaries (the data directory is done apart).
bool SyncTempDirectories(const std::string& dataDir, const std::vector<FileReplacement>& files) {
    std::set<std::string> dirs;
    for (const FileReplacement& f : files) {
        const std::string dir = DirectoryOf(DataFilePath(dataDir, f.name));
        if (dir != dataDir) dirs.insert(dir);
    }
    for (const std::string& dir : dirs)
        if (!SyncDirectory(dir)) return false;
    return true;
}

}  // namespace

int ReplaceFilesTogether(const std::string& dataDir, const std::vector<FileReplacement>& files) {
    std::set<std::string> seen;
    for (const FileReplacement& f : files)
        if (!AllowedName(f.name) || !seen.insert(f.name).second) return -1;
    if (files.empty()) return 0;

    DataLock lock(dataDir);
    if (!lock.held()) return -1;
    const auto removeTemps = [&] {
        for (const FileReplacement& f : files) FsUnlink(TempPathOf(dataDir, f.name).c_str());
    };
    for (const FileReplacement& f : files) {
        if (!WriteDurably(TempPathOf(dataDir, f.name), f.content, DataFilePath(dataDir, f.name))) {
            removeTemps();
            return -1;
        }
    }
    std::string journal(kHeader);
    for (const FileReplacement& f : files) journal += f.name + "\n";
    journal += ClosingLine(journal, files.size());
    const std::string journalPath = DataFilePath(dataDir, kJournalName);
    // The journal counts once it and the temporaries are surely on disk; before that the
    // change is abandoned.
    if (!WriteDurably(journalPath, journal, "") || !SyncDirectory(dataDir) ||
        !SyncTempDirectories(dataDir, files)) {
        FsUnlink(journalPath.c_str());
        removeTemps();
        return -1;
    }
    FinishJournal(dataDir);  // a failed rename is retried by the next run that takes the lock
    return 0;
}

int CompletePendingChange(const std::string& dataDir) {
    if (!FileExists(DataFilePath(dataDir, kJournalName))) return 0;
    DataLock lock(dataDir);
    if (!lock.held()) return -1;
    return FinishJournal(dataDir);
}

std::string* FileChangeSet::Edit(std::string_view name) {
    for (File& f : files_)
        if (f.name == name) return &f.bytes;
    File f;
    f.name = name;
    bool existed;
    if (!ReadFileForChange(DataFilePath(dataDir_, name), f.old, existed)) return nullptr;
    f.bytes = f.old;
    files_.push_back(std::move(f));
    return &files_.back().bytes;
}

int FileChangeSet::Commit() {
    std::vector<FileReplacement> changed;
    for (const File& f : files_)
        if (f.bytes != f.old) changed.push_back({f.name, f.bytes});
    return ReplaceFilesTogether(dataDir_, changed) == 0 ? 0 : -1;
}

bool IsTemporaryName(std::string_view name) {
    const auto endsWith = [&](std::string_view tail) {
        return name.size() > tail.size() && name.substr(name.size() - tail.size()) == tail;
    };
    return name == "TEMP" || endsWith(".TMP") || endsWith(kJournalTempSuffix);
}

namespace {

bool AllDigits(std::string_view name) {
    if (name.empty()) return false;
    for (char c : name)
        if (c < '0' || c > '9') return false;
    return true;
}

// Removes the old temporaries of one directory (with its separator); the folder directories
// it holds are added to folders when given.
int SweepDirectory(const std::string& dir, time_t before, bool keepJournalTemps,
                   std::vector<std::string>* folders) {
    DIR* d = opendir(dir.empty() ? "." : dir.c_str());
    if (d == nullptr) return 0;
    int removed = 0;
    while (const dirent* e = readdir(d)) {
        const std::string_view name = e->d_name;
        const bool temp = IsTemporaryName(name);
        if (!temp && !(folders && AllDigits(name))) continue;
        const std::string path = dir + e->d_name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            if (folders && AllDigits(name)) folders->push_back(path + "/");
            continue;
        }
        if (!temp || !S_ISREG(st.st_mode) || st.st_mtime >= before) continue;
        if (keepJournalTemps && name.ends_with(kJournalTempSuffix)) continue;
        if (FsUnlink(path.c_str()) == 0) ++removed;
    }
    closedir(d);
    return removed;
}

}  // namespace

int SweepLeftovers(const std::string& dataDir, time_t now) {
    const time_t before = now - kLeftoverAgeSeconds;
    const bool journal = FileExists(DataFilePath(dataDir, kJournalName));
    std::vector<std::string> folders;
    int removed = SweepDirectory(dataDir, before, journal, &folders);
    for (const std::string& dir : folders) removed += SweepDirectory(dir, before, journal, nullptr);
    return removed;
}

void SweepLeftoversWhenDue(const std::string& dataDir, int lockFd, time_t now) {
    struct stat st;
    if (fstat(lockFd, &st) != 0) return;
    if (st.st_mtime <= now && st.st_mtime > now - kSweepIntervalSeconds) return;
    // Touched first: a lock file that cannot be touched would otherwise bring a sweep with
    // every lock taken.
    if (futimens(lockFd, nullptr) != 0) return;
    SweepLeftovers(dataDir, now);
}
