#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "convert/converter.h"
#include "tests/app/installation.h"
#include "tests/convert/fixture.h"
#include "tests/testutil.h"
#include "tools/check.h"

namespace fs = std::filesystem;

// The whole way: the program converts "Vorbix.MDB" of its working directory into "V2data/",
// which then serves as the data directory of an installation; a converted user logs in with
// the converted password and finds the converted folders, messages, attachments and read marks.
TEST(Program, ConvertedDataServesTheBoard) {
    TempDir dir("convert_board");
    WriteDatabase(dir.File("Vorbix.MDB"), SampleTables(), 4);
    int status = -1;
    const std::string log =
        RunCommand("cd " + dir.path + " && " BOARD_BINARY_DIR "/bin/v2convert", &status);
    ASSERT_EQ(status, 0) << log;
    ASSERT_EQ(log.rfind("Content-type: text/html\n\n", 0), 0u);

    Installation inst;
    fs::copy(dir.File("V2data"), inst.dataDir, fs::copy_options::recursive);
    const std::string key = inst.Login("TARO", "pw1");
    ASSERT_FALSE(key.empty());
    const auto has = [](const std::string& page, const std::string& text) {
        return page.find(text) != std::string::npos;
    };

    // The outline with unread counts from the converted read marks: taro read two of the
    // three messages of folder 2 (under Top) and none of folder 4.
    const std::string menu = inst.Get("SKEY=" + key + "&JOB=FRM21&DISP_NO=1");
    EXPECT_TRUE(has(menu, ">(1)Top</A>")) << menu;
    EXPECT_TRUE(has(menu, ">(1)" + Sjis("掲示板") + "</A>"));
    EXPECT_TRUE(has(menu, ">(1)Odd</A>"));

    const std::string list = inst.Get("SKEY=" + key + "&JOB=ROOM&FOLDER_NO=2");
    EXPECT_TRUE(has(list, "<B>[2]" + Sjis("掲示板") + "</B>"));
    EXPECT_TRUE(has(list, "&SEL_NO=1&USER_DISP_DEF=2\">" + Sjis("最初の投稿") + "</A>")) << list;
    EXPECT_TRUE(has(list, Sjis("返信です") + "</A>"));
    EXPECT_TRUE(has(list, "NOWRAP>" + Sjis("山田太郎") + "</TD>"));
    EXPECT_EQ(list.find("NEW.GIF"), list.rfind("NEW.GIF"));  // only message 3 is unread
    EXPECT_LT(list.find("NEW.GIF"), list.find("&SEL_NO=3&"));
    EXPECT_GT(list.find("NEW.GIF"), list.find("&SEL_NO=2&"));

    const std::string detail = inst.Get("SKEY=" + key + "&JOB=DETAILS&FOLDER_NO=2&SEL_NO=1");
    EXPECT_TRUE(has(detail, Sjis("本文") + "<BR>\n" + Sjis("二行目"))) << detail;
    EXPECT_TRUE(has(detail, "&JOB=ATTACHMENT&FOLDER_NO=2&SEL_NO=1&ADD_NO=1\">" + Sjis("資料.doc") + " ("));
    EXPECT_TRUE(has(detail, "&JOB=ATTACHMENT&FOLDER_NO=2&SEL_NO=1&ADD_NO=2\">b.txt ("));
    EXPECT_TRUE(has(detail, "<OPTION VALUE=\"0\">" + Sjis("花子") + "\n"));

    // In thread order the reply 2, filed after thread 3 by the earlier display numbers, shows
    // under its thread's first message; its thread table holds thread 1 alone.
    const std::string threads = inst.Get("SKEY=" + key + "&JOB=ROOM&FOLDER_NO=2&USER_DISP_DEF=1");
    const size_t first = threads.find("&SEL_NO=1&"), reply = threads.find("&SEL_NO=2&"),
                 third = threads.find("&SEL_NO=3&");
    EXPECT_LT(first, reply) << threads;
    EXPECT_LT(reply, third);
    EXPECT_TRUE(has(threads.substr(reply, third - reply), "Re:^1:" + Sjis("返信です")));
    const std::string thread =
        inst.Get("SKEY=" + key + "&JOB=DETAILS&FOLDER_NO=2&SEL_NO=2&USER_DISP_DEF=1");
    EXPECT_TRUE(has(thread, "&SEL_NO=1&")) << thread;
    EXPECT_FALSE(has(thread, "&SEL_NO=3&"));
}

// The converted sample is a sound installation by the operator's check: the converter
// normalises what the earlier database let pass (a membership naming a user in another
// letter case, an attachment count without its entries, a reply filed after a later thread,
// a folder too deep below a board) instead of leaving it for the board to stumble over.
TEST(Program, ConvertedDataChecksSound) {
    TempDir dir("convert_check");
    const std::string db = WriteDatabase(dir.File("old.mdb"), SampleTables(), 4);
    std::ostringstream log;
    ASSERT_EQ(0, RunConversion(db, dir.File("out"), log));
    CheckOptions o;
    o.dataDir = dir.File("out/");
    CheckResult r;
    ASSERT_EQ(0, CheckInstallation(o, r, nullptr));
    std::string all;
    for (const std::string& p : r.problems) all += p + "\n";
    EXPECT_TRUE(r.problems.empty()) << all;
}
