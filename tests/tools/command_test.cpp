#include <sys/wait.h>

#include <cstdlib>

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
          "1 problem (29 files, 39.2 kB checked), 1 of them repairable with --repair"}},
        {"check '" + b.data + "'",
         1,
         {"note: attachment files not checked: no attachment directory given"}},
        {"check --repair" + dirs,
         0,
         {"repaired: dropped the sessions of user \"ghost\" from skey.mst",
          "sound: no problems (29 files, 38.7 kB checked, after 1 repair)"}},
        {"check" + dirs, 0, {"sound: no problems (29 files, 38.7 kB checked)"}},
        {"backup" + dirs + " '" + archive + "'", 0, {}},
        {"restore '" + archive + "' '" + restored + "data' '" + restored + "files'", 0, {}},
        {"check '" + restored + "data' '" + restored + "files'",
         0,
         {"sound: no problems (29 files, 38.7 kB checked)"}},
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
        size_t at = 0;
        for (const std::string& line : step.lines) {
            at = o.out.find(line + "\n", at);
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
