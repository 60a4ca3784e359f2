// The context of one run of the program: settings, messages, the request's fields, the caller
// and the response sink. The entry builds it once and passes it to every page handler, which
// reads and writes nothing of the run except through it.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cgi/output.h"
#include "cgi/request.h"
#include "config/language.h"
#include "config/settings.h"
#include "store/acl.h"
#include "store/folders.h"
#include "store/users.h"

// Who is calling: the request's login and job fields as the entry read them (at most 21 bytes
// each) and a copy of the caller's user record, taken after the login or the session check.
// After a successful check or login SKEY holds the session key as a plain decimal number.
struct LoginState {
    std::string uid, upw, JOB, SKEY;
    UserRecord user;
};

// Record-file contents that several steps of one page need, read on first use and kept until
// the run ends or a writing step changes the data (ForgetCaches). Reach them through the
// accessors below, never directly.
struct RunCache {
    bool treeLoaded = false;
    std::vector<FolderRecord> tree;            // b_title.mst in display order
    bool folderSettingsLoaded = false;
    int folderSettingsFd = -1;                 // b_title2.mst, scanned as far as needed
    size_t folderSettingsScanned = 0;          // records scanned so far
    bool folderSettingsDone = false;           // to the end
    std::map<int, size_t> folderSettingsAt;    // folder number -> its first record seen
    std::map<int, std::unique_ptr<FolderSettings>> folderSettings;  // unpacked when asked for
    bool aclsLoaded = false;
    std::vector<UserAclEntry> userAcls;        // b_u_acl.mst
    std::vector<GroupAclEntry> groupAcls;      // b_g_acl.mst
    bool groupsLoaded = false;
    std::vector<int32_t> callerGroups;         // the caller's memberships, without the closing 0
    std::map<int, int> rights;                 // folder number -> FolderRights
    std::map<int, int> unread;                 // folder number -> CountUnread of the caller
    bool usersLoaded = false;
    std::vector<UserRecord> users;             // user.mst in file order (board pages)
    bool userBytesLoaded = false;
    std::string userBytes;                     // user.mst as read, for looking up named users
    std::vector<std::string_view> userLines;   // its lines
    // Line numbers by stored id and by id as FindUser compares it, made once a page names a
    // second user, so that pages naming many writers do not scan user.mst once for each.
    std::unordered_map<std::string, std::vector<size_t>> userLinesById, userLinesByKey;
    bool userLinesIndexed = false;
    std::map<std::string, const UserRecord*> named;  // id asked for -> user (nullptr: none)
    std::vector<std::unique_ptr<UserRecord>> namedUsers;
};

struct Run {
    explicit Run(Output& sink) : out(sink) {}
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    SystemSettings settings;   // also holds the settings file name and the script name
    MessageTable msg;          // run.msg(N)
    FieldList fields;          // the decoded request
    LoginState login;
    std::string remoteAddr;    // REMOTE_ADDR
    std::string userAgent;     // HTTP_USER_AGENT
    std::string workDir;       // where upload temporary files lie ("" = current directory)
    time_t now = 0;            // the time the run started
    Output& out;               // the response
    RunCache cache;
    ~Run();
    int noteMsg = 0;           // a message a writing step leaves for the page that follows

    const std::string& dataDir() const { return settings.DATA_FILE_PATH; }
};

// The folder list in display order (element i is line position i + 1).
const std::vector<FolderRecord>& FolderTree(Run& run);
// The folder's settings record, or nullptr when it has none.
const FolderSettings* CachedFolderSettings(Run& run, int folderNo);
// The folder's access list entries in file order.
std::vector<UserAclEntry> UserAclsOf(Run& run, int folderNo);
std::vector<GroupAclEntry> GroupAclsOf(Run& run, int folderNo);
// Every user of user.mst in file order, read once per run.
const std::vector<UserRecord>& ListedUsers(Run& run);
// The user a page names (a writer, say): the first well-formed line of user.mst whose id equals
// id exactly, else the first whose id equals it as FindUser compares ids; nullptr when there is
// none. user.mst is read once per run and only the lines asked for are unpacked.
const UserRecord* NamedUser(Run& run, const std::string& id);
// Looks up the users a page is about to name in one scan of user.mst in pieces (user.mst is
// then not read whole); NamedUser answers from what was found.
void NameUsers(Run& run, const std::vector<std::string>& ids);
// The caller's group memberships in file order (at most 9,999).
const std::vector<int32_t>& CallerGroups(Run& run);
// The caller's unread count of a board (CountUnread), read once per folder and run.
int CachedCountUnread(Run& run, int folderNo);
// Drops everything cached; the entry calls it after every writing step.
void ForgetCaches(Run& run);
