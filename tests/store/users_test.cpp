#include "store/recordfile.h"
#include "store/users.h"
#include "tests/testutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct UserDir : TempDir {
    UserDir() : TempDir("users_test") {}
    void Write(const std::string& name, const std::string& bytes) const {
        WriteFileBytes(File(name), bytes);
    }
    std::string Read(const std::string& name) const { return ReadFileBytes(File(name)); }
};

std::string Line(const std::string& id, int level = 1, int group = 0,
                 const std::string& tail = "1,1,1,,,0,") {
    return id + ",Name " + id + "," + std::to_string(level) + ",m@x,pw," +
           std::to_string(group) + "," + tail + "\r\n";
}

std::vector<std::string> ListIds(const std::string& bytes) {
    std::vector<std::string> ids;
    for (std::string_view line : SplitTextLines(bytes)) ids.emplace_back(CutFields(line).at(0));
    return ids;
}

}  // namespace

TEST(Users, LineLayoutAndConverterLines) {
    UserDir d;
    // The converter ends its lines with "1,1,,," (mode, write mode, no language, no picture,
    // no unread switch).
    d.Write("user.mst", "Taro,Taro Yamada,5,t@x,secret,3,2,1,1,,,\r\n"
                        "Hana,Hana,100,h@x,pw,0,1,2,2,en.lng,h.gif,1,\n");
    UserRecord u;
    ASSERT_EQ(ReadUserAt(d.path, 0, u), 0);
    EXPECT_EQ(u.USER_NAME + "|" + u.E_MAIL_ADDR + "|" + u.USER_PASS + "|" + u.LANGUAGE + "|" +
                  u.PICFILE, "Taro Yamada|t@x|secret||");
    EXPECT_EQ(std::vector<int32_t>({u.USER_LEVEL, u.P_GROUP, u.USER_DISP_DEF, u.MODE,
                                    u.WRITE_MODE, u.NO_READ_MODE}),
              std::vector<int32_t>({5, 3, 2, 1, 1, 0}));
    ASSERT_EQ(ReadUserAt(d.path, 1, u), 0);
    EXPECT_EQ(FormatUserLine(u), "Hana,Hana,100,h@x,pw,0,1,2,2,en.lng,h.gif,1,\r\n");
    EXPECT_EQ(ReadUserAt(d.path, 2, u), -1);

    // Values are cut to their slots and can never add a field to the line.
    UserRecord bad = u;
    bad.USER_ID = std::string(30, 'i');
    bad.USER_NAME = "x,100,";
    bad.E_MAIL_ADDR = "a\r\nb";
    EXPECT_EQ(FormatUserLine(bad),
              std::string(21, 'i') + ",x,100,a,pw,0,1,2,2,en.lng,h.gif,1,\r\n");
}

TEST(Users, FindUserCaseAndMalformedLines) {
    UserDir d;
    // A first line without its commas does not count; an over-long id is cut to its slot.
    d.Write("user.mst", "garbage line\r\nshort,1,2,\r\nTaro," + Line("x").substr(2) +
                            Line("\x82\x61" "b") + Line(std::string(25, 'L')));
    UserRecord u;
    ASSERT_EQ(ReadUserAt(d.path, 0, u), 0);
    EXPECT_EQ(u.USER_ID, "Taro");
    ASSERT_EQ(ReadUserAt(d.path, 2, u), 0);
    EXPECT_EQ(u.USER_ID, std::string(21, 'L'));

    std::string id = "taro";
    ASSERT_EQ(FindUser(d.path, id, u), 0);
    EXPECT_EQ(id, "Taro");
    EXPECT_EQ(u.USER_ID, "Taro");

    id = "nobody";
    EXPECT_EQ(FindUser(d.path, id, u), -1);
    EXPECT_EQ(id, "NOBODY");

    // The second byte of a two-byte character is not a letter to fold.
    id = "\x82\x61" "B";
    ASSERT_EQ(FindUser(d.path, id, u), 0);
    EXPECT_EQ(id, "\x82\x61" "b");
    id = "\x82\x41" "b";
    EXPECT_EQ(FindUser(d.path, id, u), -1);

    // A missing user.mst is created empty.
    UserDir e;
    id = "taro";
    EXPECT_EQ(FindUser(e.path, id, u), -1);
    EXPECT_TRUE(FileExists(e.path + "user.mst"));
}

TEST(Users, RewriteDeleteAppend) {
    UserDir d;
    const std::string odd = "odd line, kept as it is\n";
    d.Write("user.mst", Line("Taro") + "no comma at all\r\n" + odd + Line("Hana") + Line("Taro", 7));
    UserRecord u;
    std::string id = "taro";
    ASSERT_EQ(FindUser(d.path, id, u), 0);
    u.USER_LEVEL = 50;
    EXPECT_EQ(RewriteUser(d.path, u), 0);
    const std::string taro = FormatUserLine(u);
    EXPECT_EQ(d.Read("user.mst"), taro + odd + Line("Hana") + taro);

    u.USER_ID = "TARO";  // the match is exact
    EXPECT_EQ(RewriteUser(d.path, u), -1);
    EXPECT_EQ(d.Read("user.mst"), taro + odd + Line("Hana") + taro);

    EXPECT_EQ(DeleteUser(d.path, "Taro"), 0);
    EXPECT_EQ(d.Read("user.mst"), odd + Line("Hana"));
    EXPECT_EQ(DeleteUser(d.path, "Taro"), -1);
    EXPECT_FALSE(FileExists(d.path + "user.mst.TMP"));

    // A long line arrives in pieces; when a comma-less tail piece is dropped (or the head
    // piece is replaced), the lines around it stay lines of their own.
    const std::string head = "Long,L,1,m,pw,0,1,1,1,,," + std::string(999 - 24, 'p');
    d.Write("user.mst", head + std::string(30, 't') + "\r\n" + Line("Hana"));
    EXPECT_EQ(DeleteUser(d.path, "Nobody"), -1);
    EXPECT_EQ(d.Read("user.mst"), head + "\r\n" + Line("Hana"));
    u.USER_ID = "Hana";
    d.Write("user.mst", Line("Taro") + head + "Hana,tail piece with commas,\r\n" + Line("Jiro"));
    EXPECT_EQ(RewriteUser(d.path, u), 0);
    EXPECT_EQ(d.Read("user.mst"), Line("Taro") + head + "\r\n" + FormatUserLine(u) + Line("Jiro"));

    // An append after a last line without its line end starts a line of its own.
    d.Write("user.mst", "Hana,Hana,1,m,pw,0,1,1,1,,,0,");
    u.USER_ID = "Jiro";
    ASSERT_EQ(AppendUser(d.path, u), 0);
    ASSERT_EQ(ReadAllUsers(d.path).size(), 2u);
    EXPECT_EQ(ReadAllUsers(d.path)[1].USER_ID, "Jiro");
}

TEST(Users, ListOrders) {
    UserDir d;
    d.Write("user.mst", Line("b", 5, 10) + Line("A", 100, 2) + Line("c", 20, 0));
    BuildUserListById(d.path);
    EXPECT_EQ(ListIds(d.Read("user2.mst")), (std::vector<std::string>{"A", "b", "c"}));
    EXPECT_EQ(SplitTextLines(d.Read("user2.mst"))[0], "A,Name A,100,m@x,pw,2,1,1,,0,");
    BuildUserListByLevel(d.path);
    EXPECT_EQ(ListIds(d.Read("user3.mst")), (std::vector<std::string>{"A", "c", "b"}));
    BuildUserListByGroup(d.path);
    EXPECT_EQ(ListIds(d.Read("user4.mst")), (std::vector<std::string>{"c", "A", "b"}));
}

// ---- The list builders against the step-by-step algorithm ----------------------------------

namespace reference {

// Looks every id up with FindUser (one read of user.mst per id) and writes the lines.
void WriteList(const std::string& dir, const std::string& name, const std::vector<std::string>& ids) {
    std::string out;
    for (std::string id : ids) {
        UserRecord u;
        if (FindUser(dir, id, u) != 0) continue;
        char buf[2000];
        snprintf(buf, sizeof buf, "%s,%s,%ld,%s,%s,%ld,%ld,%ld,%s,%ld,\r\n", u.USER_ID.c_str(),
                 u.USER_NAME.c_str(), (long)u.USER_LEVEL, u.E_MAIL_ADDR.c_str(),
                 u.USER_PASS.c_str(), (long)u.P_GROUP, (long)u.USER_DISP_DEF, (long)u.MODE,
                 u.LANGUAGE.c_str(), (long)u.NO_READ_MODE);
        out += buf;
    }
    WriteFileBytes(dir + name, out);
}

int CompareNoCase(const std::string& a, const std::string& b) {
    for (size_t i = 0;; ++i) {
        int x = i < a.size() ? (unsigned char)a[i] : 0, y = i < b.size() ? (unsigned char)b[i] : 0;
        if (x >= 'A' && x <= 'Z') x += 'a' - 'A';
        if (y >= 'A' && y <= 'Z') y += 'a' - 'A';
        if (x != y) return x - y;
        if (x == 0) return 0;
    }
}

void ById(const std::string& dir) {
    std::string src;
    ReadWholeFile(dir + "user.mst", src);
    std::vector<std::string> ids;
    for (std::string_view line : SplitTextLines(src)) {
        size_t comma = line.find(',');
        if (comma == std::string_view::npos || comma == 0) continue;
        ids.push_back(CutToSlot(line.substr(0, comma), 22));
    }
    for (size_t i = 0; i + 1 < ids.size(); ++i)
        for (size_t j = i + 1; j < ids.size(); ++j)
            if (CompareNoCase(ids[i], ids[j]) > 0) std::swap(ids[i], ids[j]);
    WriteList(dir, "user2.mst", ids);
}

// Entries of a list file with at least minFields fields, keyed by the field keyField.
void ByNumber(const std::string& dir, const char* from, const char* to, size_t minFields,
              size_t keyField, int width, bool descending) {
    std::string src;
    ReadWholeFile(dir + from, src);
    struct Entry { std::string id; char key[8]; };
    std::vector<Entry> list;
    for (std::string_view line : SplitTextLines(src)) {
        std::vector<std::string_view> f = CutFields(line);
        if (f.size() < minFields) continue;
        Entry e{CutToSlot(f[0], 22), {}};
        if (!f[keyField].empty()) {
            char buf[32];
            snprintf(buf, sizeof buf, "%0*d", width, atoi(std::string(f[keyField]).c_str()));
            memcpy(e.key, buf, width);
        }
        list.push_back(e);
    }
    for (size_t i = 0; i + 1 < list.size(); ++i)
        for (size_t j = i + 1; j < list.size(); ++j) {
            int c = memcmp(list[i].key, list[j].key, width);
            if (descending ? c < 0 : c > 0) std::swap(list[i], list[j]);
        }
    std::vector<std::string> ids;
    for (auto& e : list) ids.push_back(e.id);
    WriteList(dir, to, ids);
}

}  // namespace reference

TEST(Users, ListBuildersMatchStepByStepAlgorithm) {
    std::mt19937 rng(20240501);
    auto pick = [&](auto const& v) { return v[rng() % v.size()]; };
    const std::vector<std::string> ids = {"ab", "AB", "Ab", "c", "C", "zed", "taro", "Taro",
                                          "\x82\x61" "b", "\x82\x41" "b", "\x82\x61" "B",
                                          std::string(24, 'q') + "1", std::string(23, 'Q'), ""};
    const std::vector<std::string> levels = {"0", "5", "20", "100", "-3", "10000", "", "7x"};
    const std::vector<std::string> groups = {"0", "2", "10", "", "-1", "2"};
    for (int round = 0; round < 40; ++round) {
        std::string master;
        const int n = rng() % 40;
        for (int k = 0; k < n; ++k) {
            const std::string end = rng() % 4 ? "\r\n" : "\n";
            switch (rng() % 10) {
                case 0: master += "no commas here" + end; break;
                case 1: master += pick(ids) + ",short,5," + end; break;
                default:
                    master += pick(ids) + ",N" + std::to_string(k) + "," + pick(levels) + ",m," +
                              "p," + pick(groups) + ",1,1,1,,," +
                              (rng() % 3 ? std::to_string(k % 2) + "," : std::string()) + end;
            }
        }
        UserDir mine, ref;
        mine.Write("user.mst", master);
        ref.Write("user.mst", master);
        BuildUserListById(mine.path);
        BuildUserListByLevel(mine.path);
        BuildUserListByGroup(mine.path);
        reference::ById(ref.path);
        reference::ByNumber(ref.path, "user2.mst", "user3.mst", 3, 2, 4, true);
        reference::ByNumber(ref.path, "user3.mst", "user4.mst", 6, 5, 8, false);
        for (const char* name : {"user2.mst", "user3.mst", "user4.mst"})
            ASSERT_EQ(mine.Read(name), ref.Read(name)) << name << " of\n" << master;
    }
}

TEST(Users, AppendsSurviveConcurrentRewrites) {
    UserDir d;
    UserRecord base;
    base.USER_ID = "Base";
    base.MODE = 1;
    ASSERT_EQ(AppendUser(d.path, base), 0);
    constexpr int kUsers = 100;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        for (int k = 0; k < kUsers; ++k) {
            UserRecord u = base;
            u.USER_ID = "U" + std::to_string(k);
            if (AppendUser(d.path, u) != 0) _exit(1);
        }
        _exit(0);
    }
    for (int k = 0; k < kUsers; ++k) {
        base.USER_LEVEL = k;
        EXPECT_EQ(RewriteUser(d.path, base), 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::vector<UserRecord> all = ReadAllUsers(d.path);
    ASSERT_EQ(all.size(), kUsers + 1u);
    EXPECT_EQ(all[0].USER_ID, "Base");
    for (int k = 0; k < kUsers; ++k) EXPECT_EQ(all[k + 1].USER_ID, "U" + std::to_string(k));
}

// The lines read in pieces are the lines of the whole file, wherever the pieces end: long
// lines cut in pieces of the line buffer, CR LF and bare LF, a CR ending the file, and the
// scan stopping at the first match.
TEST(Users, ScannedLinesAreTheLinesOfTheWholeFile) {
    std::mt19937 rng(3);
    for (int round = 0; round < 20; ++round) {
        UserDir d;
        std::string bytes;
        while (bytes.size() < 200000) {
            const size_t length = rng() % 4 == 0 ? 900 + rng() % 2200 : rng() % 120;
            bytes += std::string(length, static_cast<char>('a' + rng() % 26));
            bytes += rng() % 2 ? "\r\n" : "\n";
        }
        if (round % 2) bytes += "last\r";
        else bytes += std::string(rng() % 3000, 'z');
        d.Write("user.mst", bytes);
        std::vector<std::string> scanned;
        ASSERT_TRUE(ScanUserLines(d.path, [&](std::string_view line) {
            scanned.emplace_back(line);
            return false;
        }));
        std::vector<std::string> whole;
        for (std::string_view line : SplitTextLines(bytes)) whole.emplace_back(line);
        ASSERT_EQ(scanned, whole) << "round " << round;
    }
    UserDir d;
    d.Write("user.mst", Line("first") + Line("second") + Line("third"));
    int visited = 0;
    ASSERT_TRUE(ScanUserLines(d.path, [&](std::string_view line) {
        ++visited;
        return line.starts_with("second");
    }));
    EXPECT_EQ(visited, 2);
}
