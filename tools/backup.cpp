#include "tools/backup.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <vector>

#include "store/recordfile.h"
#include "tools/archive.h"
#include "tools/progress.h"
#include "tools/sha256.h"

namespace {

constexpr const char* kManifest = "manifest.txt";
constexpr const char* kDataPrefix = "data/";
constexpr const char* kFilesPrefix = "files/";

std::string WithSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}

std::vector<std::string> SortedNames(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

long ReadSome(int fd, char* buffer, size_t want) {
    for (;;) {
        const ssize_t n = read(fd, buffer, want);
        if (n < 0 && errno == EINTR) continue;
        return static_cast<long>(n);
    }
}

struct FileSum {
    uint64_t size = 0;
    std::string sha;
};

// Writes one directory tree into the archive under prefix.
class TreeWriter {
public:
    TreeWriter(TarGzWriter& tar, Progress* progress, const struct stat& skip)
        : tar_(tar), progress_(progress), skip_(skip) {}

    bool Add(const std::string& dir, const std::string& prefix, bool dataRoot) {
        struct stat st;
        if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            error = dir + " is not a directory";
            return false;
        }
        if (!tar_.AddDirectory(prefix, st.st_mode, st.st_mtime)) return WriteFailed();
        for (const std::string& name : SortedNames(dir)) {
            const std::string path = dir + name;
            if (lstat(path.c_str(), &st) != 0) continue;  // gone meanwhile
            if (S_ISDIR(st.st_mode)) {
                if (!Add(path + "/", prefix + name + "/", false)) return false;
            } else if (S_ISREG(st.st_mode)) {
                if (dataRoot && name == "board.lock") continue;
                if (st.st_dev == skip_.st_dev && st.st_ino == skip_.st_ino) continue;
                if (!AddFile(path, prefix + name)) return false;
            } else {
                skipped.push_back(path);
            }
        }
        return true;
    }

    std::string manifest;
    std::vector<std::string> skipped;  // neither file nor directory: not saved
    std::string error;

private:
    bool WriteFailed() {
        if (error.empty()) error = "cannot write the archive";
        return false;
    }

    bool AddFile(const std::string& path, const std::string& name) {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        struct stat st;
        if (fd < 0 || fstat(fd, &st) != 0) {
            if (fd >= 0) close(fd);
            error = "cannot read " + path + ": " + strerror(errno);
            return false;
        }
        Sha256 sha;
        bool shortRead = false;
        const uint64_t size = static_cast<uint64_t>(st.st_size);
        const bool ok =
            tar_.AddFile(name, size, st.st_mode, st.st_mtime, [&](char* buf, size_t want) {
                const long got = ReadSome(fd, buf, want);
                if (got > 0)
                    sha.Update(buf, static_cast<size_t>(got));
                else
                    shortRead = true;
                return got;
            });
        close(fd);
        if (!ok) {
            error = shortRead ? path + " changed while it was saved" : "cannot write the archive";
            return false;
        }
        manifest +=
            std::to_string(size) + " " + sha.HexDigest() + " " + EscapeManifestName(name) + "\n";
        if (progress_) progress_->Add(size);
        return true;
    }

    TarGzWriter& tar_;
    Progress* progress_;
    struct stat skip_;
};

// A name inside the archive: relative, no empty, "." or ".." parts (a trailing "/" allowed).
bool SafeName(const std::string& rel) {
    if (rel.empty()) return true;
    if (rel[0] == '/') return false;
    size_t at = 0;
    while (at < rel.size()) {
        size_t slash = rel.find('/', at);
        if (slash == std::string::npos) slash = rel.size();
        const std::string part = rel.substr(at, slash - at);
        if (part.empty() || part == "." || part == "..") return false;
        at = slash + 1;
    }
    return true;
}

// Makes the directories of path below root (root exists).
bool MakeParents(const std::string& root, const std::string& rel) {
    size_t at = 0;
    for (;;) {
        const size_t slash = rel.find('/', at);
        if (slash == std::string::npos) return true;
        const std::string dir = root + rel.substr(0, slash);
        if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
        struct stat st;
        if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
        at = slash + 1;
    }
}

// A restore target: empty or new. made tells whether it was created here.
bool PrepareTarget(const std::string& dir, bool& made, std::string& error) {
    made = false;
    struct stat st;
    if (stat(dir.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) {
            error = dir + " is not a directory";
            return false;
        }
        if (!SortedNames(dir).empty()) {
            error = dir + " is not empty; a backup is restored only into empty directories";
            return false;
        }
        return true;
    }
    std::error_code failed;
    std::filesystem::create_directories(dir, failed);
    if (failed) {
        error = "cannot create " + dir + ": " + failed.message();
        return false;
    }
    made = true;
    return true;
}

void EmptyTarget(const std::string& dir, bool made) {
    std::error_code ignored;
    if (made) {
        std::filesystem::remove_all(dir, ignored);
        return;
    }
    for (const std::string& name : SortedNames(dir))
        std::filesystem::remove_all(dir + name, ignored);
}

}  // namespace

std::string EscapeManifestName(const std::string& name) {
    std::string out;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F || c == '\\') {
            char buf[8];
            snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool UnescapeManifestName(const std::string& text, std::string& name) {
    name.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            name += text[i];
            continue;
        }
        if (i + 3 >= text.size() + 0 || text[i + 1] != 'x' ||
            !isxdigit(static_cast<unsigned char>(text[i + 2])) ||
            !isxdigit(static_cast<unsigned char>(text[i + 3])))
            return false;
        name += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
        i += 3;
    }
    return true;
}

int Backup(const std::string& dataDirIn, const std::string& attachDirIn, const std::string& out,
           std::string& error, Progress* progress) {
    const std::string dataDir = WithSlash(dataDirIn), attachDir = WithSlash(attachDirIn);
    for (const std::string& dir : {dataDir, attachDir}) {
        struct stat st;
        if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            error = dir + " is not a directory";
            return kArchiveCannot;
        }
    }
    const std::string part = out + ".part";
    unlink(part.c_str());
    TarGzWriter tar;
    // The fastest compression: the board's writers wait while the backup runs.
    if (!tar.Open(part, 1)) {
        error = "cannot create " + part + ": " + strerror(errno);
        return kArchiveCannot;
    }
    struct stat self {};
    stat(part.c_str(), &self);
    TreeWriter writer(tar, progress, self);
    bool ok;
    {
        DataLock lock(dataDir);
        ok = writer.Add(dataDir, kDataPrefix, true) && writer.Add(attachDir, kFilesPrefix, false);
    }
    if (ok) {
        char when[64];
        const time_t now = time(nullptr);
        strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", gmtime(&now));
        const std::string manifest = std::string("# board backup taken ") + when +
                                     "\n# size sha256 name\n" + writer.manifest;
        ok = tar.AddBytes(kManifest, manifest, 0644, now);
        if (!ok) writer.error = "cannot write the archive";
    }
    if (!tar.Close() && ok) {
        ok = false;
        writer.error = "cannot write " + part;
    }
    // The archive is on disk before it takes the name.
    if (ok) {
        const int fd = open(part.c_str(), O_RDONLY | O_CLOEXEC);
        ok = fd >= 0 && fsync(fd) == 0;
        if (fd >= 0) close(fd);
        if (!ok) writer.error = "cannot write " + part;
    }
    if (ok && rename(part.c_str(), out.c_str()) != 0) {
        ok = false;
        writer.error = "cannot rename " + part + " to " + out + ": " + strerror(errno);
    }
    if (!ok) {
        unlink(part.c_str());
        error = writer.error;
        return kArchiveCannot;
    }
    for (const std::string& path : writer.skipped)
        error += (error.empty() ? "" : "\n") + ("not saved (neither file nor directory): " + path);
    return kArchiveDone;
}

int Restore(const std::string& archive, const std::string& dataDirIn,
            const std::string& attachDirIn, std::string& error, Progress* progress) {
    const std::string dataDir = WithSlash(dataDirIn), attachDir = WithSlash(attachDirIn);
    TarGzReader reader;
    if (!reader.Open(archive)) {
        error = reader.error;
        return kArchiveCannot;
    }
    bool madeData = false, madeFiles = false;
    if (!PrepareTarget(dataDir, madeData, error)) return kArchiveCannot;
    if (!PrepareTarget(attachDir, madeFiles, error)) {
        EmptyTarget(dataDir, madeData);
        return kArchiveCannot;
    }
    const auto fail = [&](const std::string& why) {
        EmptyTarget(dataDir, madeData);
        EmptyTarget(attachDir, madeFiles);
        error = why;
        return kArchiveBad;
    };

    std::map<std::string, FileSum> restored;
    std::vector<std::pair<std::string, mode_t>> dirModes;
    std::string manifest;
    bool haveManifest = false;
    TarGzReader::Entry e;
    int got;
    while ((got = reader.Next(e)) == 1) {
        if (e.name == kManifest && e.type == '0') {
            haveManifest = true;
            if (!reader.ReadData(e.size, [&](const char* p, size_t n) {
                    manifest.append(p, n);
                    return true;
                }))
                return fail(reader.error);
            continue;
        }
        std::string root, rel;
        if (e.name.rfind(kDataPrefix, 0) == 0) {
            root = dataDir;
            rel = e.name.substr(strlen(kDataPrefix));
        } else if (e.name.rfind(kFilesPrefix, 0) == 0) {
            root = attachDir;
            rel = e.name.substr(strlen(kFilesPrefix));
        } else {
            return fail("the archive holds " + e.name + ", which is not part of a board backup");
        }
        std::string bare = rel;
        if (e.type == '5' && !bare.empty() && bare.back() == '/') bare.pop_back();
        if (!SafeName(bare)) return fail("the archive holds the unsafe name " + e.name);
        if (e.type == '5') {
            const std::string dir = root + bare;
            if (!bare.empty() && (!MakeParents(root, bare + "/")))
                return fail("cannot create " + dir);
            dirModes.emplace_back(dir, e.mode | 0700);
            continue;
        }
        if (bare.empty() || !MakeParents(root, bare))
            return fail("cannot create the directory of " + root + bare);
        const std::string path = root + bare;
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                            (e.mode & 0777) | 0600);
        if (fd < 0) return fail("cannot create " + path + ": " + strerror(errno));
        Sha256 sha;
        bool written = true;
        const bool read = reader.ReadData(e.size, [&](const char* p, size_t n) {
            sha.Update(p, n);
            while (n > 0) {
                const ssize_t w = write(fd, p, n);
                if (w < 0 && errno == EINTR) continue;
                if (w <= 0) return written = false;
                p += w;
                n -= static_cast<size_t>(w);
            }
            return true;
        });
        const struct timespec times[2] = {{0, UTIME_OMIT}, {e.mtime, 0}};
        futimens(fd, times);
        if (close(fd) != 0) written = false;
        if (!written) return fail("cannot write " + path);
        if (!read) return fail(reader.error);
        restored[e.name] = FileSum{e.size, sha.HexDigest()};
        if (progress) progress->Add(e.size);
    }
    if (got < 0) return fail(reader.error);
    if (!haveManifest) return fail("the archive has no manifest.txt");

    // Every file of the manifest with its size and checksum, and no other file.
    std::map<std::string, FileSum> listed;
    size_t at = 0;
    while (at < manifest.size()) {
        size_t end = manifest.find('\n', at);
        if (end == std::string::npos) end = manifest.size();
        const std::string line = manifest.substr(at, end - at);
        at = end + 1;
        if (line.empty() || line[0] == '#') continue;
        const size_t b1 = line.find(' '),
                     b2 = b1 == std::string::npos ? b1 : line.find(' ', b1 + 1);
        std::string name;
        if (b2 == std::string::npos || !UnescapeManifestName(line.substr(b2 + 1), name))
            return fail("manifest.txt holds a line that does not parse: " + line);
        listed[name] =
            FileSum{std::strtoull(line.c_str(), nullptr, 10), line.substr(b1 + 1, b2 - b1 - 1)};
    }
    for (const auto& [name, sum] : listed) {
        const auto it = restored.find(name);
        if (it == restored.end()) return fail(name + " is in the manifest but not in the archive");
        if (it->second.size != sum.size)
            return fail(name + " has " + std::to_string(it->second.size) +
                        " bytes; the manifest says " + std::to_string(sum.size));
        if (it->second.sha != sum.sha)
            return fail(name + " does not match its checksum in the manifest");
    }
    for (const auto& [name, sum] : restored)
        if (!listed.count(name)) return fail(name + " is in the archive but not in the manifest");
    // Directory modes last, deepest first, so that none closes itself before it is filled.
    std::sort(dirModes.begin(), dirModes.end(),
              [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
    for (const auto& [dir, mode] : dirModes) chmod(dir.c_str(), mode);
    return kArchiveDone;
}
