// Every job of the dispatch table, asked for by every kind of caller, on a folder the caller has
// its rights on and on another folder where it has none. What each request changes in the data,
// attachment and settings files, and whether its page shows the job or turns the caller away,
// are compared with authorisation_table.txt beside this file. Pages are also searched for the
// texts of both folders, which only their readers may see, whatever the job.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "app/jobs.h"
#include "installation.h"
#include "store/acl.h"

namespace {

namespace fs = std::filesystem;

// The callers, by their letter in the table.
struct Caller {
    char letter;
    const char* what;
    std::string key;  // SKEY; empty: none sent
};

// One row of the table: who may see the job's page and who changes something with it, on the
// caller's own folder. On the other folder the members count as members without rights there,
// when the row says the job is bound to the folder of the request.
struct Expectation {
    bool folderBound = false;
    std::string shows;  // letters, "-" for nobody, "*" unchecked
    std::string changes;
};

std::map<std::string, Expectation> ReadTable() {
    std::map<std::string, Expectation> table;
    std::ifstream in(BOARD_SOURCE_DIR "/tests/app/authorisation_table.txt");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        std::string job, bound;
        Expectation e;
        words >> job >> bound >> e.shows >> e.changes;
        e.folderBound = bound == "folder";
        table[job] = e;
    }
    return table;
}

// What a caller is expected to get from a row, on its own folder or on the other one.
bool Expected(const std::string& letters, char caller, bool otherFolder, bool folderBound) {
    const auto has = [&](char c) { return letters.find(c) != std::string::npos; };
    if (has(static_cast<char>(caller - 'A' + 'a'))) return true;  // whatever the folder
    if (!has(caller)) return false;
    if (!otherFolder || !folderBound) return true;
    // Members hold their rights on the caller's folder only: elsewhere they are without.
    return std::string("SRWM").find(caller) == std::string::npos || has('Z');
}

// The request of each job: fields with {F} for the board and {C} for the chat folder of the
// target; a field "@NAME" is a file part "client name|content". Each writing job asks for a
// change that happens when it is allowed.
const std::map<std::string, std::string> kRequests = {
    {"FRM21", "DISP_NO=1"},
    {"SETNOREAD_WR", "BOARD_IN=x&BOARDLIST={F}"},
    {"SYSTEMUPDATE", "LOG_DATE=30"},  // the rest of the form is added from the settings
    {"USERMENT", "USER_ID=nobody"},
    {"USERWR", "USER_ID=nobody&USER_NAME=x&USER_LEVEL=100&SUB1=1"},
    {"NEWUSERWR", "USER_ID=newbie&USER_NAME=x&USER_PASS=pw&SUB1=1"},
    {"MYDATAWR", "USER_NAME=Renamed&SUB1=1"},
    {"NEWGROUPWR", "T02_GROUP_ID=5&T02_GROUP_NAME=Five"},
    {"EDITGROUP", "T02_GROUP_ID=1"},
    {"DELGROUP", "T02_GROUP_ID=1"},
    {"DELGROUPWR", "T02_GROUP_ID=1"},
    {"NEWFOLDERWR", "DISPNO=0&CLASS=1&MODE=2&NAME=X"},
    {"DELFOLDER", "DISPNO={F}"},
    {"DELFOLDERWR", "DISPNO={F}"},
    {"BORDCONFIG", "FOLDER_NO={F}"},
    {"BORDCONFIGWR", "FOLDER_NO={F}&NAME=Renamed&READ_LEVEL=0&WRITE_LEVEL=0&ADD_MAX=1"},
    {"BORDACCESS", "FOLDER_NO={F}"},
    {"BORDACCESSWR", "FOLDER_NO={F}&SUB1=x&READ_LEVEL=0&WRITE_LEVEL=1"},
    {"BORDMOVE", "SRC_DISPNO={F}"},
    {"BORDMOVEWR", "SRC_DISPNO={F}&DISPNO=4&CLASS=1"},
    {"FOLDER_UPLOAD", "@FILE1=C:\\b_title.mst|Moved,1,Board,\r\n"},
    {"AccessLogDeleteUser", "USER_ID=reader"},
    {"ROOM", "FOLDER_NO={F}"},
    {"BORDWRITE", "FOLDER_NO={F}&SEL_NO=1"},
    {"EDITMSG", "FOLDER_NO={F}&SEL_NO=1"},
    {"BORDWRITEWR",
     "FJOB=BORDWRITE&FOLDER_NO={F}&SEL_NO=0&WRITE_TITLE=New&WRITE_DATA=Text&HTML_MODE=0"},
    {"DETAILS", "FOLDER_NO={F}&SEL_NO=1"},
    {"ATTACHMENT", "FOLDER_NO={F}&SEL_NO=1&ADD_NO=1"},
    {"DELMSG", "FOLDER_NO={F}&SEL_NO=1"},
    {"BORDALLFLG", "FOLDER_NO={F}"},
    {"IDSINSEIWR", "USER_ID=fresh&USER_NAME=Fresh&USER_PASS=pw"},
    {"IDSINSEIsysopWR", "OK_NG=1&MES=1&USER_ID=pending"},
    {"NRDETAILSWR", "FOLSEL={F},1"},
    {"SEARCHDISP", "FOLDER_NO={F}&CONDITION=Title&STAT=1"},
    {"BATCH_UPLOAD", "FOLDER_NO={F}"},
    {"BATCH_UPLOAD_WR",
     "@FILE1=C:\\b.txt|;board{F}\r\nres0\r\nBatch\r\npri0\r\nx\r\n..\r\nchk:1\r\nhtm:0\r\n"},
    {"CHAT", "FOLDER_NO={C}"},
    {"CHAT_UP", "FOLDER_NO={C}&FAST=1&USER_NAME=Me&COLOR=red"},
    {"CHAT_DOWN", "FOLDER_NO={C}&MTALK=Hello"},
};

using Snapshot = std::map<std::string, std::string>;  // path -> bytes ("/" for a directory)

class AuthorisationTest : public ::testing::Test {
protected:
    Installation inst;
    std::vector<Caller> callers;
    Snapshot start;

    std::string Send(const std::string& key, const std::string& job,
                     const std::string& fields) const {
        const std::string b = "----authBoundary3q";
        std::string body;
        const auto part = [&](const std::string& name, const std::string& value) {
            if (name[0] == '@') {
                const size_t bar = value.find('|');
                body += "--" + b + "\r\nContent-Disposition: form-data; name=\"" +
                        name.substr(1) + "\"; filename=\"" + value.substr(0, bar) +
                        "\"\r\nContent-Type: application/octet-stream\r\n\r\n" +
                        value.substr(bar + 1) + "\r\n";
            } else {
                body += "--" + b + "\r\nContent-Disposition: form-data; name=\"" + name +
                        "\"\r\n\r\n" + value + "\r\n";
            }
        };
        if (!key.empty()) part("SKEY", key);
        part("JOB", job);
        // File parts hold "&" nowhere in this table, so the split is safe.
        size_t at = 0;
        while (at < fields.size()) {
            size_t end = fields.find('&', at);
            if (fields[at] == '@') end = std::string::npos;  // a file part runs to the end
            const std::string pair = fields.substr(at, end - at);
            const size_t eq = pair.find('=');
            if (eq != std::string::npos) part(pair.substr(0, eq), pair.substr(eq + 1));
            at = end == std::string::npos ? fields.size() : end + 1;
        }
        body += "--" + b + "--\r\n";
        CgiRequest r;
        r.method = "POST";
        r.body = body;
        r.contentType = "multipart/form-data; boundary=" + b;
        return inst.Run(r);
    }

    Snapshot Take() const {
        Snapshot s;
        for (const std::string& dir : {inst.dataDir, inst.webDir})
            for (const auto& e : fs::recursive_directory_iterator(dir)) {
                std::string bytes = "/";
                if (!e.is_directory()) ReadWholeFile(e.path().string(), bytes);
                s[e.path().string()] = bytes;
            }
        std::string ini;
        ReadWholeFile(inst.cgiDir + "boardcgi.ini", ini);
        s[inst.cgiDir + "boardcgi.ini"] = ini;
        return s;
    }
    void Restore(const Snapshot& now) const {
        for (const auto& [path, bytes] : now)
            if (start.count(path) == 0) fs::remove_all(path);
        for (const auto& [path, bytes] : start) {
            if (bytes == "/") {
                fs::create_directories(path);
            } else {
                auto it = now.find(path);
                if (it == now.end() || it->second != bytes)
                    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
            }
        }
    }

    void SetUp() override {
        inst.Set("LOG_DATE", "365");
        inst.AddUser("op", "pw", 100, 1);
        inst.AddUser("guest", "pw", 10, 2);
        for (const char* id : {"nobody", "reader", "writer", "manager", "gone"})
            inst.AddUser(id, "pw", 10, 1);
        // Two boards and two chat rooms; the callers hold rights on the first of each kind.
        inst.WriteFolders({"AlphaRoom,1,Board,", "BetaRoom,2,Board,", "AlphaTalk,3,Chat,",
                           "BetaTalk,4,Chat,"});
        for (int f = 1; f <= 4; ++f) {
            FolderSettings s;
            s.folderNo = f;
            s.readLevel = 50;
            s.writeLevel = 60;
            s.ADD_MAX = 1;
            s.READ_CHK = 1;
            s.REWRITE_FLG = 2;
            ASSERT_EQ(0, SaveFolderSettings(inst.dataDir, s));
        }
        for (int f : {1, 2, 3, 4})
            for (const auto& [id, level] : {std::pair{"guest", 2}, {"reader", 1}, {"writer", 2},
                                            {"manager", 3}})
                ASSERT_NE(kAclWriteFailed, SaveUserAcl(inst.dataDir, {f, id, level}));
        std::ofstream(inst.dataDir + "group.mst", std::ios::binary) << "1,One,\r\n";

        // The writer's message with an attachment in each board, a line in each chat room.
        const std::string writer = inst.Login("writer", "pw");
        for (const char* f : {"1", "2"}) {
            const std::string secret = f[0] == '1' ? "Alpha" : "Beta";
            Send(writer, "BORDWRITEWR",
                 std::string("FJOB=BORDWRITE&FOLDER_NO=") + f + "&SEL_NO=0&WRITE_TITLE=" +
                     secret + "Title&WRITE_DATA=" + secret + "Body&@FILE1=C:\\" + secret +
                     "Name.txt|" + secret + "File");
            Send(writer, "CHAT_DOWN",
                 std::string("FOLDER_NO=") + (f[0] == '1' ? "3" : "4") + "&MTALK=" + secret +
                     "Chat");
        }
        // From now on the writer and everybody but the operator are strangers to folders 2, 4.
        for (int f : {2, 4})
            for (const char* id : {"guest", "reader", "writer", "manager"})
                ASSERT_EQ(0, DeleteUserAcl(inst.dataDir, f, id));
        Send(inst.Login("nobody", "pw"), "IDSINSEIWR", "USER_ID=pending&USER_NAME=P&USER_PASS=p");

        const std::string expired = inst.Login("gone", "pw");
        ASSERT_NE(expired, inst.Login("gone", "pw"));
        callers = {{'N', "no key", ""},
                   {'X', "an expired key", expired},
                   {'S', "the shared account", inst.Login("guest", "pw")},
                   {'Z', "a member without rights", inst.Login("nobody", "pw")},
                   {'R', "a reader", inst.Login("reader", "pw")},
                   {'W', "a writer", inst.Login("writer", "pw")},
                   {'M', "the folder's manager", inst.Login("manager", "pw")},
                   {'O', "the operator", inst.Login("op", "pw")}};
        for (const Caller& c : callers) ASSERT_TRUE(c.letter == 'N' || !c.key.empty()) << c.what;
        for (const char* index : {"1/index.dat", "2/index.dat"}) ASSERT_FALSE(inst.ReadData(index).empty()) << index;
        start = Take();
    }

    // Whether the page turns the caller away: nothing, the login page, the expired page, or
    // the refusal text.
    bool TurnedAway(const std::string& page) const {
        return page.empty() || page.rfind("Status: 204", 0) == 0 ||
               page.find("NAME=\"upw\"") != std::string::npos ||
               page.find(inst.msg(6)) != std::string::npos ||
               page.find(inst.msg(3)) != std::string::npos;
    }
};

TEST_F(AuthorisationTest, EveryJobGrantsOnlyWhatTheTableSays) {
    const std::map<std::string, Expectation> table = ReadTable();
    std::string settingsForm;
    for (const auto& [k, v] : inst.settings)
        if (k != "LOG_DATE") settingsForm += "&" + k + "=" + v;

    std::ostringstream observed;  // the table as the program behaves, shown on a failure
    int runs = 0;
    for (const JobRoute& route : JobTable()) {
        const std::string job = route.job;
        auto row = table.find(job);
        EXPECT_NE(row, table.end()) << job << " is missing from authorisation_table.txt";
        if (row == table.end()) continue;
        std::string request = kRequests.count(job) ? kRequests.at(job) : "";
        if (job == "SYSTEMUPDATE") request += settingsForm;
        std::string shown[2], changed[2];
        for (int other = 0; other < 2; ++other) {
            std::string fields = request;
            for (const auto& [mark, value] :
                 {std::pair{"{F}", other ? "2" : "1"}, {"{C}", other ? "4" : "3"}})
                for (size_t at; (at = fields.find(mark)) != std::string::npos;)
                    fields.replace(at, 3, value);
            for (const Caller& c : callers) {
                const std::string page = Send(c.key, job, fields);
                ++runs;
                const Snapshot now = Take();
                const bool changes = now != start;
                if (changes) Restore(now);
                const bool shows = !TurnedAway(page);
                if (shows) shown[other] += c.letter;
                if (changes) changed[other] += c.letter;
                const Expectation& e = row->second;
                const std::string where = job + " by " + c.what + (other ? " on another folder" : "");
                if (e.shows != "*") {
                    EXPECT_EQ(shows, Expected(e.shows, c.letter, other, e.folderBound))
                        << where << (shows ? " shows its page" : " is turned away") << "\n"
                        << page.substr(0, 3000);
                }
                EXPECT_EQ(changes, Expected(e.changes, c.letter, other, e.folderBound))
                    << where << (changes ? " changes the data" : " changes nothing");
                // The texts of a folder reach only its readers, on every page.
                const bool readsAlpha = std::string("SRWMO").find(c.letter) != std::string::npos;
                for (const char* text : {"AlphaTitle", "AlphaBody", "AlphaFile", "AlphaChat"})
                    EXPECT_TRUE(readsAlpha || page.find(text) == std::string::npos)
                        << where << " shows " << text;
                for (const char* text : {"BetaTitle", "BetaBody", "BetaFile", "BetaChat"})
                    EXPECT_TRUE(c.letter == 'O' || page.find(text) == std::string::npos)
                        << where << " shows " << text;
            }
        }
        observed << job << " shows " << shown[0] << " / " << shown[1] << ", changes "
                 << changed[0] << " / " << changed[1] << "\n";
    }
    for (const auto& [job, e] : table)
        EXPECT_NE(FindJobRoute(job), nullptr) << job << " is in the table but not a job";
    if (HasFailure()) std::cout << "Observed (own folder / other folder):\n" << observed.str();
    std::cout << runs << " requests\n";
}

}  // namespace
