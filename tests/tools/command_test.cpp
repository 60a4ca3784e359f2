#include <sys/wait.h>

#include <cstdlib>
#include <regex>

#include "tests/app/installation.h"
#include "tests/tools/fixture.h"

namespace {

struct Outcome {
    int status;
    std::string out, err;
};

// Runs a command line through the shell with standard output and error in files (so neither
// is a terminal).
Outcome Shell(const TempDir& dir, const std::string& command) {
    const std::string out = dir.File("stdout"), err = dir.File("stderr");
    const int raw = std::system((command + " >'" + out + "' 2>'" + err + "'").c_str());
    return Outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFileBytes(out), ReadFileBytes(err)};
}

const std::string kAdmin = BOARD_BINARY_DIR "/bin/boardadmin";

}  // namespace

TEST(Command, ExitStatusAndReportOfEachCommand) {
    Board b;
    b.MakeSound();
    SaveSession(b.data, SessionRecord{77, "ghost", "", ""});
    const std::string dirs = " '" + b.data + "' '" + b.files + "'";
    const std::string archive = b.root.File("b.tar.gz");
    const std::string restored = b.root.path + "restored/";
    const struct {
        std::string args;
        int status;
        std::vector<std::string> lines;  // the output holds these lines, in this order
    } steps[] = {
        {"check" + dirs,
         1,
         {"skey.mst record 2: session of user \"ghost\", who does not exist [repairable]",
          "1 problem (30 files, N kB checked), 1 of them repairable with --repair"}},
        {"check '" + b.data + "'",
         1,
         {"note: attachment files not checked: no attachment directory given"}},
        {"check --repair" + dirs,
         0,
         {"repaired: dropped the sessions of user \"ghost\" from skey.mst",
          "sound: no problems (30 files, N kB checked, after 1 repair)"}},
        {"check" + dirs, 0, {"sound: no problems (30 files, N kB checked)"}},
        {"backup" + dirs + " '" + archive + "'", 0, {}},
        {"restore '" + archive + "' '" + restored + "data' '" + restored + "files'", 0, {}},
        {"check '" + restored + "data' '" + restored + "files'",
         0,
         {"sound: no problems (30 files, N kB checked)"}},
        {"restore '" + archive + "' '" + restored + "data' '" + restored + "files'", 2, {}},
        {"check '" + b.root.path + "missing'", 2, {}},
        {"check", 2, {}},
        {"check a b c", 2, {}},
        {"backup" + dirs, 2, {}},
        {"frobnicate", 2, {}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.args);
        const Outcome o = Shell(b.root, kAdmin + " " + step.args);
        EXPECT_EQ(step.status, o.status) << o.out << o.err;
        // The byte count varies with the stamps of the unread summary.
        const std::string out = std::regex_replace(o.out, std::regex("[0-9.]+ kB"), "N kB");
        size_t at = 0;
        for (const std::string& line : step.lines) {
            at = out.find(line + "\n", at);
            EXPECT_NE(std::string::npos, at) << line << "\n--- output:\n" << o.out;
        }
        // No progress drawn when the output is not a terminal.
        EXPECT_EQ(std::string::npos, (o.out + o.err).find('\r'));
    }
}

TEST(Command, DemoInstallationChecksSound) {
    TempDir dir("tools_demo");
    const std::string demo = dir.path + "demo/";
    ASSERT_EQ(
        0,
        Shell(dir, BOARD_BINARY_DIR "/bin/boardinstall '" + demo + "' admin admin --demo").status);
    const Outcome o = Shell(dir, kAdmin + " check '" + demo + "data' '" + demo + "files'");
    EXPECT_EQ(0, o.status) << o.out;
    EXPECT_EQ(0u, o.out.find("sound: no problems")) << o.out;
}

// Messages written, answered with an attachment and deleted through the program itself check
// sound: the check reads the files as the board writes them.
TEST(Command, WhatTheProgramWritesChecksSound) {
    Installation inst;
    inst.AddUser("alice", "alice", 10, 1);
    inst.WriteFolders({"Board,1,Board,"});
    FolderSettings s;
    s.folderNo = 1;
    s.ADD_MAX = 2;
    s.READ_CHK = 1;
    s.REWRITE_FLG = 2;
    ASSERT_EQ(0, SaveFolderSettings(inst.dataDir, s));
    const std::string key = inst.Login("alice", "alice");
    ASSERT_FALSE(key.empty());
    const auto post = [&](const std::string& parent, const std::string& title, bool file) {
        const std::string b = "BoUnDaRy";
        std::string body;
        const auto part = [&](const std::string& name, const std::string& value) {
            body += "--" + b + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" +
                    value + "\r\n";
        };
        for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
                 {"SKEY", key}, {"JOB", "BORDWRITEWR"}, {"FJOB", "BORDWRITE"},
                 {"FOLDER_NO", "1"}, {"SEL_NO", parent}, {"WRITE_TITLE", title},
                 {"WRITE_DATA", "text of " + title}})
            part(name, value);
        if (file)
            body += "--" + b +
                    "\r\nContent-Disposition: form-data; name=\"FILE1\"; filename=\"notes.txt\"\r\n"
                    "Content-Type: text/plain\r\n\r\nsome notes\r\n";
        body += "--" + b + "--\r\n";
        CgiRequest r;
        r.method = "POST";
        r.body = body;
        r.contentType = "multipart/form-data; boundary=" + b;
        inst.Run(r);
    };
    post("0", "First", false);
    post("1", "Reply", true);
    post("2", "Reply to the reply", false);
    post("0", "Second", true);
    ASSERT_EQ(4, CountMessages(inst.dataDir, 1));
    inst.Get("SKEY=" + key + "&JOB=DELMSG&FOLDER_NO=1&SEL_NO=4");  // leaves its body behind
    ASSERT_EQ(3, CountMessages(inst.dataDir, 1));

    CheckOptions o;
    o.dataDir = inst.dataDir;
    o.attachDir = inst.webDir;
    CheckResult r;
    ASSERT_EQ(0, CheckInstallation(o, r, nullptr));
    EXPECT_TRUE(r.problems.empty()) << r.problems.front();
    EXPECT_TRUE(FileExists(inst.webDir + "1/X2/1/notes.txt"));
}
