// The demo board: a directory with boards inside (one of them for staff only), a top-level
// board, a chat room, two groups, member and shared accounts, and a few threads with replies.
// Everything is written through the store, as the pages would write it.
#include <ctime>
#include <string>

#include "cgi/text.h"
#include "install/install.h"
#include "store/bodies.h"
#include "store/chat.h"
#include "store/folders.h"
#include "store/groups.h"
#include "store/messages.h"
#include "store/recordfile.h"
#include "store/users.h"

// Shift_JIS texts of the demo (the board stores and shows Shift_JIS bytes as they are).
static const char kSjisHello[] = "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd";  // konnichiwa
static const char kSjisJapaneseMessage[] =
    "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x81\x83\x62\x83\x5a\x81\x5b\x83\x57\x82\xc5\x82\xb7"
    "\x81\x42";  // "this is a message in Japanese."

struct DemoFolder {
    int number;
    int kind;
    int depth;
    const char* name;
    int readLevel;
    int writeLevel;
    const char* info;
};

static const DemoFolder kFolders[] = {
    {1, kFolderDir, 0, "General", 0, 0, ""},
    {2, kFolderBoard, 1, "Announcements", 0, 50, "News from the operators. Members read, staff write."},
    {3, kFolderBoard, 1, "Questions", 0, 0, "Ask anything about the board here."},
    {4, kFolderBoard, 1, "Staff room", 50, 50, "Only for users of level 50 and above."},
    {5, kFolderBoard, 0, "Lounge", 0, 0, "Free talk."},
    {6, kFolderChat, 0, "Chat room", 0, 0, ""},
};

struct DemoUser {
    const char* id;
    const char* password;
    const char* name;
    int level;
    int mode;
    int group;
};

// Passwords equal the ids: this is a demo.
static const DemoUser kUsers[] = {
    {"alice", "alice", "Alice Martin", 10, 1, 1},
    {"bob", "bob", "Bob Tanaka", 50, 1, 1},
    {"guest", "guest", "Guest (shared)", 1, 2, 2},
};

// Body text as the posting page stores it: line breaks are single CR bytes.
static std::string Body(std::string text) {
    for (char& c : text) {
        if (c == '\n') c = '\r';
    }
    return text;
}

// Posts a message; parent 0 starts a thread. The new number, or -1.
static int Post(const std::string& dataDir, int folder, int parent, const std::string& writer,
                const std::string& title, const std::string& body, time_t when) {
    MessageIndexEntry e;
    e.folderNo = folder;
    e.messageNo = parent;
    e.HTML_MODE = 0;
    e.WRITE_PRIORITY = 0;
    e.date = DateStampAt(when);
    e.userId = writer;
    e.WRITE_TITLE = title;
    e.READ_CHK = 1;
    if (AppendMessage(dataDir, e, writer) != 0) return -1;
    if (WriteMessageBody(dataDir, folder, e.messageNo, Body(body)) != 0) return -1;
    return e.messageNo;
}

int AddDemoContent(const std::string& dataDir, const std::string& operatorId, std::string& error) {
    int line = 0;
    for (const DemoFolder& f : kFolders) {
        FolderRecord r;
        r.folderNo = f.number;
        r.kind = f.kind;
        r.name = f.name;
        r.indentation = f.depth;
        FolderSettings s;
        s.folderNo = f.number;
        s.ADD_MAX = f.kind == kFolderBoard ? 3 : 0;
        s.readLevel = f.readLevel;
        s.writeLevel = f.writeLevel;
        s.READ_CHK = 1;
        s.REWRITE_FLG = 2;
        s.INFO = f.info;
        if (f.kind == kFolderChat) s.DEFO = "Be nice to each other.";
        s.FONTCOLOR = "000000";
        s.RESFONTCOLOR = f.kind == kFolderChat ? "808080" : "0000FF";
        if (InsertFolderLine(dataDir, r, line < 1 ? 1 : line) != 0 ||
            AppendFolderSettings(dataDir, s) != 0) {
            error = "cannot write the folder tree";
            return -1;
        }
        ++line;
    }

    if (SaveGroup(dataDir, GroupRecord{1, "Members"}) != 0 ||
        SaveGroup(dataDir, GroupRecord{2, "Guests"}) != 0) {
        error = "cannot write the groups";
        return -1;
    }
    for (const DemoUser& u : kUsers) {
        UserRecord r;
        r.USER_ID = u.id;
        r.USER_NAME = u.name;
        r.USER_LEVEL = u.level;
        r.USER_PASS = u.password;
        r.P_GROUP = u.group;
        r.USER_DISP_DEF = 1;
        r.MODE = u.mode;
        r.WRITE_MODE = 1;
        if (AppendUser(dataDir, r) != 0 ||
            AddGroupMember(dataDir, GroupMember{u.group, u.id}) != 0) {
            error = "cannot write the demo users";
            return -1;
        }
    }

    const time_t now = time(nullptr);
    const time_t hour = 3600;
    int m = Post(dataDir, 2, 0, operatorId, "Welcome to the demo board",
                 "Welcome!\n\nThis board has member accounts (alice, bob) that log in and off on "
                 "their own,\nand a shared account (guest) that several people use at once.\n"
                 "Open the directory \"General\" on the left to see its boards.",
                 now - 48 * hour);
    const int q = Post(dataDir, 3, 0, "alice", "How do I attach a file?",
                       "I would like to send a picture with my message. How does that work?",
                       now - 30 * hour);
    const int a1 = q < 0 ? -1 : Post(dataDir, 3, q, "bob", "How do I attach a file?",
                                     ">I would like to send a picture with my message.\n\n"
                                     "Use the file fields below the text when you write.",
                                     now - 29 * hour);
    const int a2 = a1 < 0 ? -1 : Post(dataDir, 3, a1, "alice", "How do I attach a file?",
                                      "Thank you, that worked.", now - 28 * hour);
    const int s = Post(dataDir, 4, 0, operatorId, "Staff meeting notes",
                       "Next meeting: Monday, 10:00.\nOnly level 50 and above can see this board.",
                       now - 20 * hour);
    const int l1 = Post(dataDir, 5, 0, "bob", "Lunch on Friday?",
                        "Who joins for lunch on Friday?", now - 6 * hour);
    const int l2 = l1 < 0 ? -1 : Post(dataDir, 5, l1, "alice", "Lunch on Friday?",
                                      "Count me in.", now - 5 * hour);
    const int l3 = Post(dataDir, 5, 0, "alice", kSjisHello, kSjisJapaneseMessage, now - 2 * hour);
    if (m < 0 || q < 0 || a1 < 0 || a2 < 0 || s < 0 || l1 < 0 || l2 < 0 || l3 < 0) {
        error = "cannot write the demo messages";
        return -1;
    }

    ChatEntry c;
    c.MODE = 1;
    c.name = "Alice Martin";
    c.color = "4161E1";
    c.text = "Hello, is anybody here?";
    c.date = DateStampSecondsAt(now - hour);
    c.REMOTE_ADDR = "127.0.0.1";
    if (EnsureFolderDir(dataDir, 6) != 0 || PrependChatEntry(dataDir, 6, c) != 0) {
        error = "cannot write the chat log";
        return -1;
    }
    return 0;
}
