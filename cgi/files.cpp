#include "cgi/files.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "cgi/dbcs.h"
#include "cgi/fileops.h"

// Opens read-write; a missing file is created empty (owner read and write), as record files are.
static int OpenOrCreate(const std::string& path) {
    const int fd = FsOpen(path.c_str(), O_RDWR);
    if (fd >= 0) return fd;
    return FsOpen(path.c_str(), O_RDWR | O_CREAT, 0600);
}

static bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t w = FsWrite(fd, data, size);
        if (w <= 0) return false;
        data += w;
        size -= static_cast<size_t>(w);
    }
    return true;
}

// Writes what is left of the open file to out, then closes it.
static void CopyToOutput(int fd, Output& out) {
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.Write(std::string_view(buf, static_cast<size_t>(n)));
    }
    ::close(fd);
}

void SendDownload(Output& out, const std::string& dir, const std::string& name) {
    std::string shown;
    for (char c : name)
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) shown.push_back(c);
    out << "Content-Type: application/octet-stream\n";
    out.Printf("Content-Disposition: attachment; filename=%s\n\n", shown.c_str());

    int fd;
    do fd = ::open((dir + name).c_str(), O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return;
    CopyToOutput(fd, out);
}

bool SendFileAs(Output& out, const std::string& path, const std::string& shownName,
                std::string_view headerLines) {
    int fd;
    do fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    std::string quoted;
    for (char c : shownName) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) continue;
        if (c == '"' || c == '\\') quoted.push_back('\\');
        quoted.push_back(c);
    }
    out << "Content-Type: application/octet-stream\n" << headerLines;
    out << "Content-Disposition: attachment; filename=\"" << quoted << "\"\n\n";
    CopyToOutput(fd, out);
    return true;
}

// A plain regular file that this process owns, with no other name: renaming it gives exactly
// what copying and deleting it would.
static bool CanRenameInstead(const std::string& source, const std::string& destination) {
    struct stat s;
    if (::lstat(source.c_str(), &s) != 0) return false;
    if (!S_ISREG(s.st_mode) || s.st_nlink != 1 || s.st_uid != ::geteuid()) return false;
    struct stat d;
    if (::lstat(destination.c_str(), &d) == 0 && S_ISDIR(d.st_mode)) return false;
    return true;
}

int MoveFile(const std::string& source, const std::string& destination) {
    // Onto itself: nothing to move (the copy below would delete the only copy).
    struct stat s, d;
    if (source == destination ||
        (::stat(source.c_str(), &s) == 0 && ::stat(destination.c_str(), &d) == 0 &&
         s.st_dev == d.st_dev && s.st_ino == d.st_ino)) {
        int fd = OpenOrCreate(source);
        if (fd < 0) return -1;
        ::close(fd);
        return 0;
    }

    if (CanRenameInstead(source, destination) &&
        FsRename(source.c_str(), destination.c_str()) == 0) {
        // A copied destination is created with owner read and write only.
        struct stat r;
        if (::stat(destination.c_str(), &r) == 0 && (r.st_mode & 07777) != 0600)
            ::chmod(destination.c_str(), 0600);
        return 0;
    }

    int in = OpenOrCreate(source);
    if (in < 0) return -1;
    FsUnlink(destination.c_str());
    int out = OpenOrCreate(destination);
    if (out < 0) {
        ::close(in);
        return -1;
    }
    bool ok = true;
    std::vector<char> buf(65536);
    for (;;) {
        ssize_t n = ::read(in, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        if (!WriteAll(out, buf.data(), static_cast<size_t>(n))) {
            ok = false;
            break;
        }
    }
    ::close(in);
    if (ok && FsFsync(out) != 0) ok = false;  // the file must be whole before a record names it
    if (::close(out) != 0) ok = false;
    if (!ok) {
        // Keep the source; a partial destination must not pass for the file.
        FsUnlink(destination.c_str());
        return -1;
    }
    return FsUnlink(source.c_str()) == 0 ? 0 : -1;
}

void ListFiles(std::string& buffer, size_t capacity) {
    const std::string pattern = buffer;
    buffer.clear();
    std::string dir = ".";
    std::string namePattern = pattern;
    size_t slash = pattern.rfind('/');
    if (slash != std::string::npos) {
        dir = slash == 0 ? "/" : pattern.substr(0, slash);
        namePattern = pattern.substr(slash + 1);
    }
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    std::vector<std::string> names;
    while (struct dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        if (name.find(',') != std::string::npos) continue;  // would split in the list
        if (::fnmatch(namePattern.c_str(), name.c_str(), FNM_NOESCAPE | FNM_CASEFOLD) != 0)
            continue;
        struct stat st;
        if (::fstatat(::dirfd(d), name.c_str(), &st, 0) != 0 || S_ISDIR(st.st_mode)) continue;
        names.push_back(std::move(name));
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());

    const size_t limit = capacity == 0 ? 0 : capacity - 1;
    for (const std::string& name : names) {
        size_t need = name.size() + (buffer.empty() ? 0 : 1);
        if (buffer.size() + need > limit) continue;
        if (!buffer.empty()) buffer.push_back(',');
        buffer.append(name);
    }
}

void CutToLastSeparator(std::string& text, char separator) {
    std::string collected;
    for (size_t i = 0; i < text.size();) {
        if (IsLeadByte(text[i]) && i + 1 < text.size()) {
            collected.append(text, i, 2);
            i += 2;
        } else if (text[i] == separator) {
            collected.clear();
            ++i;
        } else {
            collected.push_back(text[i]);
            ++i;
        }
    }
    text = std::move(collected);
}

int RemoveDirectoryTree(const std::string& path) {
    struct stat st;
    if (path.empty() || ::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return -1;
    DIR* d = ::opendir(path.c_str());
    if (!d) return -1;
    // Read the whole listing first, so that no directory stays open during the descent.
    std::vector<std::string> entries;
    while (struct dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") entries.push_back(std::move(name));
    }
    ::closedir(d);
    for (const std::string& name : entries) {
        const std::string full = path + "/" + name;
        struct stat es;
        if (::lstat(full.c_str(), &es) == 0 && S_ISDIR(es.st_mode)) {
            RemoveDirectoryTree(full);
            ::rmdir(full.c_str());
        } else {
            ::unlink(full.c_str());
        }
    }
    return ::rmdir(path.c_str()) == 0 ? 0 : -1;
}
