#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <sstream>

#include "convert/converter.h"
#include "tests/convert/fixture.h"
#include "tests/testutil.h"

// A large database converts in under a minute: 100 folders, bodies of 60 to 1,000 characters
// (every tenth on LVAL pages), a fifth of the messages with an attachment, one read mark per
// message. The suite runs 2,000 messages; BOARD_CONVERT_MESSAGES=100000 measures the full size
// (two files are created per message, which is what the time goes into).
TEST(Speed, LargeDatabase) {
    long messages = 2000;
    if (const char* n = std::getenv("BOARD_CONVERT_MESSAGES")) messages = std::atol(n);
    std::vector<JetTable> tables = SampleTables();
    for (JetTable& t : tables)
        if (t.name != "MST_USER") t.rows.clear();
    JetTable& folders = *FindTable(tables, "BORD_TITLE");
    JetTable& data = *FindTable(tables, "BORD_DATA");
    JetTable& files = *FindTable(tables, "BORD_ADD_FILE");
    JetTable& marks = *FindTable(tables, "BORD_READ_POINT");
    const int folderCount = 100;
    for (int f = 1; f <= folderCount; ++f)
        folders.rows.push_back({std::to_string(f), std::to_string(f), "1", "Folder " + std::to_string(f),
                                "0", "2", "0", "0", "", "", "", ""});
    const std::string line = Sjis("本文の行です。");  // 14 bytes
    for (long m = 0; m < messages; ++m) {
        const std::string folder = std::to_string(m % folderCount + 1);
        const std::string sel = std::to_string(m / folderCount + 1);
        std::string body;
        const int lines = (m % 10 == 0) ? 140 : 8 + static_cast<int>(m % 7);
        for (int k = 0; k < lines; ++k) body += line + "<BR>";
        const bool attached = m % 5 == 0;
        data.rows.push_back({folder, sel, sel, sel, "0", "0", "36526.5", "taro",
                             Sjis("題名") + sel, body, attached ? "1" : "0", "0", "0"});
        if (attached) files.rows.push_back({folder, sel, "1", "file" + sel + ".txt"});
        marks.rows.push_back({folder, sel, "hanako"});
    }
    TempDir dir("convert_speed");
    const auto t0 = std::chrono::steady_clock::now();
    WriteDatabase(dir.File("big.mdb"), tables, 4);
    const auto t1 = std::chrono::steady_clock::now();
    std::ostringstream log;
    ConversionCounts counts;
    EXPECT_EQ(RunConversion(dir.File("big.mdb"), dir.File("out"), log, &counts), 0);
    const auto t2 = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(t2 - t1).count();
    std::cout << messages << " messages: database written in "
              << std::chrono::duration<double>(t1 - t0).count() << " s, converted in " << seconds
              << " s\n";
    EXPECT_EQ(counts.messages, messages);
    EXPECT_EQ(counts.readMarks, messages);
    EXPECT_EQ(counts.attachments, (messages + 4) / 5);
    EXPECT_LT(seconds, 60.0);
}
