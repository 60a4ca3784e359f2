#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

#include "convert/converter.h"
#include "convert/database.h"
#include "tests/convert/fixture.h"
#include "tests/testutil.h"

namespace {

namespace fs = std::filesystem;

const std::string kExportEnv = "MDB_JET3_CHARSET=CP932 MDBICONV=CP932 ";

// A fixed record built field by field at its offsets.
struct Rec {
    explicit Rec(size_t size) : bytes(size, '\0') {}
    Rec& I(size_t at, int32_t v) {
        for (int k = 0; k < 4; ++k) bytes[at + k] = static_cast<char>((v >> (8 * k)) & 0xFF);
        return *this;
    }
    Rec& S(size_t at, const std::string& s) {
        bytes.replace(at, s.size(), s);
        return *this;
    }
    std::string bytes;
};

std::string Index(int folder, int message, int thread, int depth, int priority,
                  const std::string& writer, const std::string& title, int attachments,
                  int deleted, int check) {
    return Rec(160)
        .I(0, folder).I(4, message).I(12, thread).I(16, depth).I(20, priority)
        .S(44, writer).S(66, title).I(148, attachments).I(152, deleted).I(156, check)
        .bytes;
}
std::string Settings(int folder, int addMax, int read, int write, const std::string& titlePic,
                     const std::string& backPic, const std::string& info,
                     const std::string& defo) {
    return Rec(8800)
        .I(0, folder).I(4, addMax).I(8, read).I(12, write).I(16, 1).I(20, 1)
        .S(24, titlePic).S(276, backPic).S(780, info).S(4782, defo)
        .S(8784, "000000").S(8792, "0000FF")
        .bytes;
}
std::string Mark(int message, const std::string& user) {
    return Rec(32).I(0, message).S(4, user).bytes;
}

// Every file under dir, by path relative to it.
std::map<std::string, std::string> Tree(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file())
            files[fs::relative(e.path(), dir).string()] = ReadFileBytes(e.path().string());
    return files;
}

int Convert(const std::string& db, const std::string& out, std::string& log) {
    std::ostringstream stream;
    const int rc = RunConversion(db, out, stream);
    log = stream.str();
    return rc;
}

std::string LastLine(const std::string& log) {
    const size_t end = log.find_last_of('\n', log.size() - 2);
    return log.substr(end == std::string::npos ? 0 : end + 1);
}

// The Access-made test files: shared/testdata/access/ in a directory above the sources.
std::string AccessTestData() {
    for (fs::path dir = fs::absolute(BOARD_SOURCE_DIR); ; dir = dir.parent_path()) {
        if (fs::is_directory(dir / "shared/testdata/access")) return (dir / "shared/testdata/access/").string();
        if (dir == dir.root_path()) return "";
    }
}

}  // namespace

// The writer's files must read back through mdbtools as the values it was given, so that the
// converter's tests stand on files that look like Access files.
TEST(Writer, SampleReadsBackThroughMdbExport) {
    if (std::string(MDB_EXPORT).empty()) GTEST_SKIP() << "mdb-export is not installed";
    TempDir dir("convert_writer");
    const std::vector<JetTable> tables = SampleTables();
    for (int version : {3, 4}) {
        SCOPED_TRACE("Jet " + std::to_string(version));
        const std::string db = WriteDatabase(dir.File("w.mdb"), tables, version);
        for (const JetTable& t : tables) {
            SCOPED_TRACE(t.name);
            const auto rows = ParseCsv(
                RunCommand(kExportEnv + MDB_EXPORT + " -T '%Y' " + db + " " + t.name));
            ASSERT_EQ(rows.size(), t.rows.size() + 1);
            for (size_t c = 0; c < t.columns.size(); ++c) EXPECT_EQ(rows[0][c], t.columns[c].name);
            for (size_t r = 0; r < t.rows.size(); ++r) {
                for (size_t c = 0; c < t.columns.size(); ++c) {
                    const JetValue& want = t.rows[r][c];
                    const std::string& got = rows[r + 1][c];
                    switch (t.columns[c].type) {
                        case JetType::Single:
                        case JetType::Double:
                            EXPECT_NEAR(std::strtod(got.c_str(), nullptr),
                                        std::strtod(want.value_or("0").c_str(), nullptr), 1e-6);
                            break;
                        case JetType::DateTime:
                            EXPECT_EQ(got, want ? "2000" : "");
                            break;
                        default:
                            EXPECT_EQ(got, want.value_or(t.columns[c].type == JetType::Bool
                                                              ? "0"
                                                              : ""));
                    }
                }
            }
        }
    }
}

// Access-made files: --tables and --dump list and print what mdb-export does, each value read
// as the conversion reads it.
TEST(RealFiles, TablesAndDumpAgreeWithMdbExport) {
    if (std::string(MDB_EXPORT).empty()) GTEST_SKIP() << "mdb-export is not installed";
    const std::string program = BOARD_BINARY_DIR "/bin/v2convert";
    const std::string tools = fs::path(MDB_EXPORT).parent_path().string() + "/";
    for (const char* name : {"jet3-access97.mdb", "jet4-access2000.mdb"}) {
        SCOPED_TRACE(name);
        const std::string db = AccessTestData() + name;
        if (!fs::exists(db)) GTEST_SKIP() << "no Access-made test files beside the repository";
        int status = -1;
        const auto listed = ParseCsv(RunCommand(program + " --tables --db " + db, &status));
        EXPECT_EQ(status, 0);
        std::istringstream names(RunCommand(tools + "mdb-tables -1 " + db));
        size_t t = 0;
        for (std::string table; std::getline(names, table); ++t) {
            SCOPED_TRACE(table);
            ASSERT_LT(t, listed.size());
            const auto expected = ParseCsv(RunCommand(kExportEnv + MDB_EXPORT + " " + db + " " + table));
            const auto dumped = ParseCsv(RunCommand(program + " --dump " + table + " --db " + db));
            EXPECT_EQ(listed[t], (std::vector<std::string>{table, std::to_string(expected.size() - 1)}));
            ASSERT_EQ(dumped.size(), expected.size());
            EXPECT_EQ(dumped[0], expected[0]);
            for (size_t r = 1; r < expected.size(); ++r) {
                for (size_t c = 0; c < expected[r].size(); ++c) {
                    // Table1: F is a double (truncated), G a date and H currency (no text).
                    const std::string& column = expected[0][c];
                    std::string want = expected[r][c];
                    if (table == "Table1" && column == "F")
                        want = std::to_string(static_cast<long>(std::strtod(want.c_str(), nullptr)));
                    if (table == "Table1" && (column == "G" || column == "H")) want.clear();
                    EXPECT_EQ(dumped[r][c], want) << "row " << r << " column " << column;
                }
            }
        }
        EXPECT_EQ(t, listed.size());
    }
}

TEST(Conversion, WritesEveryTableByteForByte) {
    TempDir dir("convert_sample");
    const std::string db = WriteDatabase(dir.File("old.mdb"), SampleTables(), 4);
    std::string log;
    ConversionCounts counts;
    std::ostringstream warnings;
    {
        std::ostringstream stream;
        ASSERT_EQ(RunConversion(db, dir.File("out"), stream, &counts, &warnings), 0);
        log = stream.str();
    }
    const std::string out = dir.File("out/");
    const std::string crlf = "\r\n";

    EXPECT_EQ(ReadFileBytes(out + "user.mst"),
              "taro," + Sjis("山田太郎") + ",100,taro@example.jp,pw1,2,2,1,1,,,\r\n" +
                  "hanako," + Sjis("花子") + ",10,,pw2,0,3,1,1,,,\r\n" +
                  "jiro,Jiro Suzuki,5,j@example.jp,pw3,1,1,1,1,,,\r\n"
                  "saburo,Saburo,1,s@example.jp,pw4,0,5,1,1,,,\r\n");
    // Display order, ties (Odd and Deep) in table order; depth 2 gives one blank; the kind
    // flag 7 is written as a board; Deep (depth 3 below a board at depth 1) goes to the top.
    EXPECT_EQ(ReadFileBytes(out + "b_title.mst"),
              "Top,1,Dir,\r\n " + Sjis("掲示板") + ",2,Board,\r\nOdd,4,Board,\r\nDeep,3,Board,\r\n");
    EXPECT_EQ(ReadFileBytes(out + "b_title2.mst"),
              Settings(1, 0, 0, 0, "", "", "", "") +
                  Settings(2, 3, 0, 1, "title.gif", "back.gif", Sjis("お知らせ<BR>です"),
                           "default text") +
                  Settings(4, 1, 0, 0, std::string(251, 'p'), "b.gif", std::string(4001, 'i'),
                           Sjis("既定")) +
                  Settings(3, 1, 5, 5, "", "", "", ""));
    // Members ordered by group, then by user id ignoring letter case; "Taro" is taro.
    EXPECT_EQ(ReadFileBytes(out + "g_user.mst"), "1,jiro,\r\n2,hanako,\r\n2,taro,\r\n");
    EXPECT_EQ(ReadFileBytes(out + "group.mst"), "1,Staff,\r\n2," + Sjis("営業") + ",\r\n");
    EXPECT_EQ(ReadFileBytes(out + "b_g_acl.mst"),
              Rec(12).I(0, 1).I(4, 2).I(8, 3).bytes + Rec(12).I(0, 2).I(4, 1).I(8, 1).bytes +
                  Rec(12).I(0, 2).I(4, 2).I(8, 2).bytes);
    EXPECT_EQ(ReadFileBytes(out + "b_u_acl.mst"),
              Rec(32).I(0, 2).S(4, "hanako").I(28, 1).bytes +
                  Rec(32).I(0, 2).S(4, "taro").I(28, 3).bytes);

    // Folder 2 in display order 1, 1.5, 2, but in thread order: the reply 2 (display number
    // 2) joins its thread 1 before thread 3; message 3 counts the attachments found (none);
    // dates of a date column stay empty; the single 1.9 is truncated; a true check flag is
    // mode 2.
    EXPECT_EQ(ReadFileBytes(out + "2/index.dat"),
              Index(2, 1, 1, 0, 1, "taro", Sjis("最初の投稿"), 2, 0, 2) +
                  Index(2, 2, 1, 1, 0, "hanako", Sjis("返信です"), 0, 0, 1) +
                  Index(2, 3, 3, 0, 2, "jiro", "Third", 0, 0, 1));
    EXPECT_EQ(ReadFileBytes(out + "2/X1.DAT"), Sjis("本文") + "\r" + Sjis("二行目<<BR>"));
    EXPECT_EQ(ReadFileBytes(out + "2/X2.DAT"), "a\rb");
    EXPECT_TRUE(fs::exists(out + "2/X3.DAT"));
    EXPECT_EQ(ReadFileBytes(out + "2/X3.DAT"), "");
    EXPECT_EQ(ReadFileBytes(out + "2/add_file.dat"),
              Rec(260).I(0, 1).I(4, 1).S(8, Sjis("資料.doc")).bytes +
                  Rec(260).I(0, 1).I(4, 2).S(8, "b.txt").bytes);
    // Fields cut to their size less one; no attachment query for a message without any.
    EXPECT_EQ(ReadFileBytes(out + "4/index.dat"),
              Index(4, 1, 1, 0, 0, "averyveryverylongwrit", std::string(81, 't'), 0, 1, 1));
    EXPECT_EQ(ReadFileBytes(out + "4/X1.DAT"), std::string(3000, 'x') + "\r");
    EXPECT_TRUE(fs::exists(out + "4/add_file.dat"));
    EXPECT_EQ(ReadFileBytes(out + "4/add_file.dat"), "");
    EXPECT_EQ(ReadFileBytes(out + "2/R1.DAT"), Mark(1, "hanako") + Mark(1, "taro"));
    EXPECT_EQ(ReadFileBytes(out + "2/R2.DAT"), Mark(2, "taro"));
    EXPECT_EQ(ReadFileBytes(out + "4/R1.DAT"), Mark(1, "jiro"));
    // Folders without messages get no directory.
    EXPECT_FALSE(fs::exists(out + "1"));
    EXPECT_FALSE(fs::exists(out + "3"));
    EXPECT_EQ(Tree(out).size(), 18u);

    EXPECT_EQ(log,
              "Content-type: text/html\n\n"
              "WARNING: MST_USER row 4: T01_USER_NAME [Saburo,S] written as [Saburo]<BR>\n"
              "WARNING: BORD_TITLE row 3: folder [4] has T_F_FLG [7]; written as a board<BR>\n"
              "WARNING: BORD_TITLE row 4: folder [3] [Deep] has T_F_CLASS [3], more than one "
              "level below the folder above it; written at depth 1 (top level)<BR>\n"
              "WARNING: GROUP_USER row 3: T03_USER_ID [Taro] written as [taro], the id of that "
              "user<BR>\n"
              "FOLDER=[2] SEL=[1]<BR>\n"
              "FOLDER=[2] SEL=[3]<BR>\n"
              "WARNING: BORD_DATA row 2: D_ADD_FILE [1] of message [3] of folder [2] written as "
              "[0], the attachments found in BORD_ADD_FILE<BR>\n"
              "FOLDER=[2] SEL=[2]<BR>\n"
              "WARNING: BORD_DATA row 3: message [2] of folder [2] belongs to thread [1] but "
              "follows thread [3] in display order; written with the earlier messages of its "
              "thread<BR>\n"
              "FOLDER=[4] SEL=[1]<BR>\n"
              "FOLDER=[2] SEL=[1] USER=[hanako]<BR>\n"
              "FOLDER=[2] SEL=[1] USER=[taro]<BR>\n"
              "FOLDER=[2] SEL=[2] USER=[taro]<BR>\n"
              "FOLDER=[3] SEL=[1] USER=[taro]<BR>\n"
              "WARNING: BORD_READ_POINT row 4: read mark not written: cannot write " + out +
                  "3/R1.DAT<BR>\n"
              "FOLDER=[4] SEL=[1] USER=[jiro]<BR>\n"
              "Converted: 4 users, 4 folders, 3 group members, 2 groups, 3 group access "
              "entries, 2 user access entries, 4 messages, 2 attachments, 4 read marks<BR>\n");
    EXPECT_EQ(counts.readMarks, 4);
    // The warnings once more as plain lines, for standard error.
    std::string plain;
    for (size_t at = log.find("WARNING: "); at != std::string::npos; at = log.find("WARNING: ", at))
        plain += log.substr(at, log.find("<BR>\n", at) - at) + "\n", ++at;
    EXPECT_EQ(warnings.str(), plain);

    // The same tables in a Jet 3 file give the same files.
    const std::string db3 = WriteDatabase(dir.File("old3.mdb"), SampleTables(), 3);
    ASSERT_EQ(Convert(db3, dir.File("out3"), log), 0);
    EXPECT_EQ(Tree(dir.File("out3")), Tree(out));

    // A second run rewrites every file and appends the read marks again.
    std::map<std::string, std::string> first = Tree(out);
    ASSERT_EQ(Convert(db, dir.File("out"), log), 0);
    for (const char* name : {"2/R1.DAT", "2/R2.DAT", "4/R1.DAT"}) first[name] += first[name];
    EXPECT_EQ(Tree(out), first);
    EXPECT_EQ(LastLine(log),
              "Converted: 4 users, 4 folders, 3 group members, 2 groups, 3 group access "
              "entries, 2 user access entries, 4 messages, 2 attachments, 4 read marks<BR>\n");
}

// Readings of column types the sample does not use: a text display mode, a text date, a
// byte above 127, doubles as message numbers and a text message number.
TEST(Conversion, ColumnReadingsByType) {
    TempDir dir("convert_types");
    std::vector<JetTable> tables = SampleTables();
    JetTable& users = *FindTable(tables, "MST_USER");
    users.columns[6].type = JetType::Text;  // T01_USER_DISP_DEF
    users.rows[0][6] = "x";
    users.rows[1][6] = " 1";
    users.columns[2].type = JetType::Byte;  // T01_USER_LEVEL
    users.rows[2][2] = "200";
    JetTable& data = *FindTable(tables, "BORD_DATA");
    data.columns[6].type = JetType::Text;  // D_WRITE_DATE
    data.columns[6].textChars = 20;
    data.rows[2][6] = "2001/02/03 04:05";
    data.columns[1].type = JetType::Double;  // D_F_SEL_NO
    data.rows[2][1] = "0.9999999999999999";
    data.rows[3][1] = "-2.5";
    JetTable& marks = *FindTable(tables, "BORD_READ_POINT");
    marks.columns[1].type = JetType::Text;  // R_F_SEL_NO
    marks.rows[2][1] = "02";
    // Ids of users in another letter case are written as the users' ids.
    marks.rows[0][2] = "TARO";
    FindTable(tables, "BORD_USER_ACL")->rows[1][1] = "HaNaKo";
    // Deep one level below the board Odd: moved up beside it.
    FindTable(tables, "BORD_TITLE")->rows[3][2] = "2";
    const std::string db = WriteDatabase(dir.File("old.mdb"), tables, 4);
    std::string log;
    ASSERT_EQ(Convert(db, dir.File("out"), log), 0) << log;

    // Per-message files are named by the number the board looks them up with.
    EXPECT_NE(log.find("FOLDER=[2] SEL=[02] USER=[taro]<BR>\n"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(dir.File("out/2/R2.DAT")), Mark(2, "taro"));
    EXPECT_EQ(ReadFileBytes(dir.File("out/2/R1.DAT")), Mark(1, "hanako") + Mark(1, "taro"));
    EXPECT_EQ(ReadFileBytes(dir.File("out/b_u_acl.mst")),
              Rec(32).I(0, 2).S(4, "hanako").I(28, 1).bytes +
                  Rec(32).I(0, 2).S(4, "taro").I(28, 3).bytes);
    EXPECT_NE(log.find("WARNING: BORD_READ_POINT row 3: R_USER_ID [TARO] written as [taro]"),
              std::string::npos) << log;
    EXPECT_NE(log.find("WARNING: BORD_TITLE row 4: folder [3] [Deep] has T_F_CLASS [2], inside "
                       "folder [4], which is not a directory; written at depth 1 (top level)"),
              std::string::npos);
    EXPECT_NE(ReadFileBytes(dir.File("out/b_title.mst")).find("\nDeep,3,Board,\r\n"),
              std::string::npos);
    const std::string user = ReadFileBytes(dir.File("out/user.mst"));
    EXPECT_NE(user.find("taro," + Sjis("山田太郎") + ",100,taro@example.jp,pw1,2,2,"), std::string::npos);
    EXPECT_NE(user.find("hanako," + Sjis("花子") + ",10,,pw2,0,3,"), std::string::npos);
    EXPECT_NE(user.find("jiro,Jiro Suzuki,200,"), std::string::npos);
    const std::string index = ReadFileBytes(dir.File("out/2/index.dat"));
    ASSERT_EQ(index.size(), 3 * 160u);
    // Truncation toward zero: 0.9999999999999999 is message 0 (whose attachments, filed
    // under 1, are not found), -2.5 is message -2 (a thread of its own, after thread 1).
    EXPECT_EQ(index.substr(0, 160),
              Index(2, 0, 1, 0, 1, "taro", Sjis("最初の投稿"), 0, 0, 2).replace(24, 16, "2001/02/03 04:05"));
    EXPECT_EQ(index.substr(324, 4), Rec(4).I(0, -2).bytes);
    EXPECT_TRUE(fs::exists(dir.File("out/2/X0.DAT")));
    EXPECT_TRUE(fs::exists(dir.File("out/2/X-2.DAT")));
    EXPECT_NE(log.find("FOLDER=[2] SEL=[-2]<BR>\n"), std::string::npos);
}

TEST(Conversion, BodyBreaks) {
    const std::pair<std::string, std::string> cases[] = {
        {"a<BR>b", "a\rb"},     {"<<BR>", "<<BR>"},   {"<BR><BR>", "\r\r"},
        {"<B<BR>", "<B<BR>"},   {"<br>x", "<br>x"},   {"x<BR", "x<BR"},
        {"<BR>", "\r"},         {"", ""},             {"a<BRR>b<BR>", "a<BRR>b\r"},
    };
    for (const auto& [body, converted] : cases) EXPECT_EQ(ConvertBody(body), converted) << body;
}

// Failures end the run with a line in the log and the failure status; what was written stays.
TEST(Conversion, FailuresAreReportedNotCrashed) {
    TempDir dir("convert_fail");
    std::vector<JetTable> withoutMarks = SampleTables();
    withoutMarks.pop_back();
    WriteDatabase(dir.File("nomarks.mdb"), withoutMarks, 4);
    WriteFileBytes(dir.File("text.mdb"), std::string(5000, 'x'));
    WriteDatabase(dir.File("ok.mdb"), SampleTables(), 3);
    WriteFileBytes(dir.File("blocked"), "a file where the output directory should be");
    struct Case {
        std::string db, out, error;
        bool usersWritten;
    } cases[] = {
        {dir.File("missing.mdb"), dir.File("o1"),
         "ERROR: cannot open the database " + dir.File("missing.mdb") + "<BR>\n", false},
        {dir.File("text.mdb"), dir.File("o2"),
         "ERROR: the file " + dir.File("text.mdb") + " is not an Access database<BR>\n", false},
        {dir.File("nomarks.mdb"), dir.File("o3"),
         "ERROR: the table BORD_READ_POINT is missing<BR>\n", true},
        {dir.File("ok.mdb"), dir.File("blocked"),
         "ERROR: cannot write " + dir.File("blocked/user.mst") + "<BR>\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.db);
        std::string log;
        EXPECT_EQ(Convert(c.db, c.out, log), -1);
        EXPECT_EQ(log.rfind("Content-type: text/html\n\n", 0), 0u);
        EXPECT_NE(log.find(c.error), std::string::npos) << log;
        EXPECT_EQ(LastLine(log).rfind("Stopped: ", 0), 0u) << log;
        EXPECT_EQ(fs::exists(c.out + "/user.mst"), c.usersWritten);
    }
    EXPECT_EQ(ReadFileBytes(dir.File("o3/2/X2.DAT")), "a\rb");
}
