// benchgen: writes the record files of a benchmark installation straight into a data directory,
// record by record through the store's packing functions (the posting path would take hours for
// 100,000 messages). The data directory must already hold the installation's own files
// (boardinstall); user.mst, b_title.mst, b_title2.mst, g_user.mst and skey.mst are replaced.
//
//   benchgen DATA_DIR typical        20 boards of 1,000 messages, 200 users
//   benchgen DATA_DIR large          200 folders in three levels, one board of 100,000
//                                    messages, 5,000 users
//   benchgen DATA_DIR board N        one board of N messages, 200 users
//
// Every installation has the member account "bench" (password "bench", level 100) that has read
// nine messages in ten, and "bench2" for timing logins. Threads hold one to five messages (a
// first message and replies up to depth 2); every message has a body of a few hundred bytes and
// read marks of a handful of users.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "store/folders.h"
#include "store/messages.h"
#include "store/readmarks.h"
#include "store/recordfile.h"
#include "store/sessions.h"
#include "store/users.h"

namespace {

struct Random {
    uint64_t s = 88172645463325252ull;
    uint32_t Next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return static_cast<uint32_t>(s >> 11);
    }
    int Below(int n) { return static_cast<int>(Next() % static_cast<uint32_t>(n)); }
};

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << bytes;
    return static_cast<bool>(f);
}

std::string UserId(int i) {
    if (i == 0) return "bench";
    if (i == 1) return "bench2";
    char id[16];
    std::snprintf(id, sizeof id, "user%04d", i);
    return id;
}

bool WriteUsers(const std::string& dataDir, int count) {
    std::string users, members, sessions;
    Random rnd;
    for (int i = 0; i < count; ++i) {
        UserRecord u;
        u.USER_ID = UserId(i);
        u.USER_NAME = i < 2 ? "Bench User " + std::to_string(i) : "Member number " + std::to_string(i);
        u.USER_LEVEL = i < 2 ? 100 : 10 + i % 40;
        u.E_MAIL_ADDR = u.USER_ID + "@example.org";
        u.USER_PASS = i < 2 ? u.USER_ID : "pw" + std::to_string(i);
        u.P_GROUP = 1 + i % 5;
        u.USER_DISP_DEF = 1;
        u.MODE = 1;
        u.WRITE_MODE = 1;
        users += FormatUserLine(u);
        members += std::to_string(u.P_GROUP) + "," + u.USER_ID + "," + std::string(kLineEnd);
        // Half of the users are logged in somewhere.
        if (i >= 2 && i % 2 == 0) {
            SessionRecord s;
            s.key = 100000 + i;
            s.USER_ID = u.USER_ID;
            s.REMOTE_ADDR = "10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250);
            s.HTTP_USER_AGENT = "Mozilla/5.0 (X11; Linux x86_64) Gecko/20100101 Firefox/" +
                                std::to_string(100 + rnd.Below(30)) + ".0";
            sessions += PackSessionRecord(s);
        }
    }
    std::string groups;
    for (int g = 1; g <= 5; ++g) groups += std::to_string(g) + ",Group " + std::to_string(g) + "," + std::string(kLineEnd);
    return WriteFile(DataFilePath(dataDir, "user.mst"), users) &&
           WriteFile(DataFilePath(dataDir, "g_user.mst"), members) &&
           WriteFile(DataFilePath(dataDir, "group.mst"), groups) &&
           WriteFile(DataFilePath(dataDir, "skey.mst"), sessions);
}

struct Folder {
    int number;
    int kind;
    int depth;
    int messages;
};

bool WriteTree(const std::string& dataDir, const std::vector<Folder>& folders) {
    std::string tree, settings;
    for (const Folder& f : folders) {
        FolderRecord r;
        r.folderNo = f.number;
        r.kind = f.kind;
        r.indentation = f.depth;
        r.name = (f.kind == kFolderDir ? "Directory " : "Board ") + std::to_string(f.number);
        tree += FormatFolderLine(r);
        FolderSettings s;
        s.folderNo = f.number;
        s.ADD_MAX = f.kind == kFolderBoard ? 3 : 0;
        s.READ_CHK = 1;
        s.REWRITE_FLG = 2;
        s.INFO = "What this folder is for, in a sentence or two.";
        s.FONTCOLOR = "000000";
        s.RESFONTCOLOR = "0000FF";
        settings += PackFolderSettings(s);
    }
    return WriteFile(DataFilePath(dataDir, "b_title.mst"), tree) &&
           WriteFile(DataFilePath(dataDir, "b_title2.mst"), settings);
}

// Writes index.dat, the bodies and the read marks of one board.
bool WriteBoard(const std::string& dataDir, int folder, int messages, int users, Random& rnd) {
    if (EnsureFolderDir(dataDir, folder) != 0) return false;
    std::string index;
    index.reserve(static_cast<size_t>(messages) * kMessageIndexEntrySize);
    const std::string body =
        "Thank you for the notes from yesterday.\rI have read them and have two questions:\r"
        "1. When does the new schedule start?\r2. Who collects the forms this time?\r\r"
        "Please answer here so that everybody sees it.\r";
    int m = 0;
    while (m < messages) {
        const int thread = m + 1;
        const int size = std::min(1 + rnd.Below(5), messages - m);
        for (int k = 0; k < size; ++k) {
            ++m;
            MessageIndexEntry e;
            e.folderNo = folder;
            e.messageNo = m;
            e.threadNo = thread;
            e.depth = k == 0 ? 0 : 1 + (k % 2 == 0 ? 1 : 0);
            e.WRITE_PRIORITY = 0;
            char date[32];
            std::snprintf(date, sizeof date, "2026/%02d/%02d %02d:%02d", 1 + m / 30000 % 12,
                          1 + m / 1000 % 28, m / 60 % 24, m % 60);
            e.date = date;
            e.userId = UserId(2 + rnd.Below(users - 2));
            e.WRITE_TITLE = k == 0 ? "Question about the schedule, part " + std::to_string(thread)
                                   : "Re: question about the schedule";
            e.READ_CHK = 1;
            index += PackMessageIndexEntry(e);
            if (!WriteFile(FolderFilePath(dataDir, folder, "X" + std::to_string(m) + ".DAT"), body))
                return false;
            std::string marks;
            ReadMark mark;
            mark.messageNo = m;
            mark.userId = e.userId;
            marks += PackReadMark(mark);
            if (rnd.Below(10) != 0) {
                mark.userId = "bench";
                marks += PackReadMark(mark);
            }
            for (int r = rnd.Below(6); r > 0; --r) {
                mark.userId = UserId(2 + rnd.Below(users - 2));
                marks += PackReadMark(mark);
            }
            if (!WriteFile(ReadMarkPath(dataDir, folder, m), marks)) return false;
        }
    }
    return WriteFile(MessageIndexPath(dataDir, folder), index) &&
           WriteFile(FolderFilePath(dataDir, folder, "add_file.dat"), "");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: benchgen DATA_DIR typical|large|board N\n");
        return 2;
    }
    std::string dataDir = argv[1];
    if (dataDir.back() != '/') dataDir += '/';
    const std::string kind = argv[2];
    std::vector<Folder> folders;
    int users = 200;
    if (kind == "typical") {
        folders.push_back({1, kFolderDir, 0, 0});
        for (int b = 0; b < 20; ++b) folders.push_back({2 + b, kFolderBoard, 1, 1000});
    } else if (kind == "large") {
        users = 5000;
        // 10 directories, each with 4 subdirectories of 4 boards (folder 4 is the large board),
        // plus a board at the top: 10 + 40 + 160 = 210 lines cut to 200.
        int n = 1;
        for (int d = 0; d < 10 && static_cast<int>(folders.size()) < 200; ++d) {
            folders.push_back({n++, kFolderDir, 0, 0});
            for (int s = 0; s < 4; ++s) {
                folders.push_back({n++, kFolderDir, 1, 0});
                for (int b = 0; b < 4 && static_cast<int>(folders.size()) < 200; ++b) {
                    folders.push_back({n, kFolderBoard, 2, n == 3 ? 100000 : 20});
                    ++n;
                }
            }
        }
    } else if (kind == "board" && argc > 3) {
        folders.push_back({1, kFolderDir, 0, 0});
        folders.push_back({2, kFolderBoard, 1, std::atoi(argv[3])});
    } else {
        std::fprintf(stderr, "unknown installation kind\n");
        return 2;
    }
    Random rnd;
    if (!WriteUsers(dataDir, users) || !WriteTree(dataDir, folders)) {
        std::fprintf(stderr, "cannot write the data directory\n");
        return 1;
    }
    for (const Folder& f : folders) {
        if (f.kind != kFolderBoard) continue;
        if (!WriteBoard(dataDir, f.number, f.messages, users, rnd)) {
            std::fprintf(stderr, "cannot write board %d\n", f.number);
            return 1;
        }
    }
    return 0;
}
