// make-large: writes a large sound installation straight in the record formats, for timing
// the operator commands (bench/check-large.sh).
//
//   make-large DIR [MESSAGES]
//
// DIR (new or empty) gets data/ and files/: 200 users in 4 groups, a directory holding 10
// boards, MESSAGES messages (default 100,000) spread over the boards in threads of five (a
// first message, two replies to it and a reply to each reply), a body of about 600 bytes and
// one to three read marks per message, an attachment on every 50th message, access list
// entries, sessions and no-read lists.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "store/acl.h"
#include "store/attachments.h"
#include "store/bodies.h"
#include "store/folders.h"
#include "store/messages.h"
#include "store/readmarks.h"
#include "store/recordfile.h"
#include "store/sessions.h"
#include "store/users.h"

namespace {

constexpr int kBoards = 10;
constexpr int kUsers = 200;

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        fprintf(stderr, "make-large: cannot write %s\n", path.c_str());
        exit(1);
    }
}

std::string UserId(int i) {
    return "user" + std::to_string(i);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: make-large DIR [MESSAGES]\n");
        return 2;
    }
    const std::string root = std::string(argv[1]) + "/";
    const long messages = argc == 3 ? atol(argv[2]) : 100000;
    const std::string data = root + "data/", files = root + "files/";
    mkdir(root.c_str(), 0755);
    if (mkdir(data.c_str(), 0700) != 0 || mkdir(files.c_str(), 0755) != 0) {
        fprintf(stderr, "make-large: %s must be new or empty\n", root.c_str());
        return 1;
    }

    std::string users, groups = "1,Members,\r\n2,Staff,\r\n3,Guests,\r\n4,Friends,\r\n", members;
    for (int i = 0; i < kUsers; ++i) {
        UserRecord u;
        u.USER_ID = UserId(i);
        u.USER_NAME = "User number " + std::to_string(i);
        u.USER_LEVEL = i == 0 ? 100 : 10 + i % 50;
        u.E_MAIL_ADDR = u.USER_ID + "@example.org";
        u.USER_PASS = u.USER_ID;
        u.P_GROUP = 1 + i % 4;
        u.USER_DISP_DEF = 1;
        u.MODE = 1;
        u.WRITE_MODE = 1;
        users += FormatUserLine(u);
    }
    for (int g = 1; g <= 4; ++g)
        for (int i = g - 1; i < kUsers; i += 4)
            members += std::to_string(g) + "," + UserId(i) + ",\r\n";
    Write(data + "user.mst", users);
    Write(data + "group.mst", groups);
    Write(data + "g_user.mst", members);

    std::string tree = FormatFolderLine(FolderRecord{1, kFolderDir, "Boards", 0}), settings,
                groupAcl, userAcl, sessions;
    for (int f = 1; f <= kBoards + 1; ++f) {
        if (f > 1)
            tree +=
                FormatFolderLine(FolderRecord{f, kFolderBoard, "Board " + std::to_string(f), 1});
        FolderSettings s;
        s.folderNo = f;
        s.ADD_MAX = 3;
        s.READ_CHK = 1;
        s.REWRITE_FLG = 1;
        s.INFO = "Board number " + std::to_string(f);
        settings += PackFolderSettings(s);
        groupAcl += PackGroupAclEntry(GroupAclEntry{f, 1 + f % 4, 2});
        userAcl += PackUserAclEntry(UserAclEntry{f, UserId(f), 3});
    }
    for (int i = 0; i < kUsers; i += 3)
        sessions += PackSessionRecord(SessionRecord{1000 + i, UserId(i), "127.0.0.1", "Bench/1.0"});
    Write(data + "b_title.mst", tree);
    Write(data + "b_title2.mst", settings);
    Write(data + "b_g_acl.mst", groupAcl);
    Write(data + "b_u_acl.mst", userAcl);
    Write(data + "skey.mst", sessions);

    std::string text;
    for (int i = 0; i < 12; ++i) text += "A line of the message body, as people write them.\r";
    for (int b = 0; b < kBoards; ++b) {
        const int folder = b + 2;
        EnsureFolderDir(data, folder);
        const long count = messages / kBoards + (b < messages % kBoards ? 1 : 0);
        std::string index, attachments;
        // Threads of five in placement order: 1, its reply 2, 2's reply 3, 1's reply 4, 4's
        // reply 5.
        static const int kDepth[5] = {0, 1, 2, 1, 2};
        int32_t thread = 0;
        for (long k = 0; k < count; ++k) {
            const int32_t no = static_cast<int32_t>(k + 1);
            if (k % 5 == 0) thread = no;
            MessageIndexEntry e;
            e.folderNo = folder;
            e.messageNo = no;
            e.threadNo = thread;
            e.depth = kDepth[k % 5];
            e.date = "2026/12/07 10:00";
            e.userId = UserId(static_cast<int>(k % kUsers));
            e.WRITE_TITLE = "Message " + std::to_string(no);
            e.READ_CHK = 1;
            if (no % 50 == 0) {
                e.attachCount = 1;
                attachments += PackAttachmentEntry(AttachmentEntry{no, 1, "report.txt"});
                const std::string dir =
                    files + std::to_string(folder) + "/X" + std::to_string(no) + "/1/";
                mkdir((files + std::to_string(folder)).c_str(), 0755);
                mkdir((files + std::to_string(folder) + "/X" + std::to_string(no)).c_str(), 0755);
                mkdir(dir.c_str(), 0755);
                Write(dir + "report.txt",
                      "An attached report, number " + std::to_string(no) + ".\n");
            }
            index += PackMessageIndexEntry(e);
            Write(MessageBodyPath(data, folder, no), e.WRITE_TITLE + "\r" + text);
            std::string marks = PackReadMark(ReadMark{no, e.userId, 0});
            for (int r = 1; r <= k % 3; ++r)
                marks +=
                    PackReadMark(ReadMark{no, UserId(static_cast<int>((k + 7 * r) % kUsers)), 0});
            Write(ReadMarkPath(data, folder, no), marks);
        }
        Write(MessageIndexPath(data, folder), index);
        Write(AttachmentListPath(data, folder), attachments);
        Write(FolderFilePath(data, folder, "unread.dat"),
              UserId(b) + "\r\n" + UserId(b + 20) + "\r\n");
    }
    printf("%s: %d users, %d boards, %ld messages\n", root.c_str(), kUsers, kBoards, messages);
    return 0;
}
