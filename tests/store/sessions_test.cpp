#include "store/recordfile.h"
#include "store/sessions.h"
#include "store/users.h"
#include "tests/testutil.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <set>

namespace {

struct SessionDir : TempDir {
    SessionDir() : TempDir("sessions_test") {
        // Taro is a member account, Guest a shared one.
        WriteFileBytes(File("user.mst"),
                       "Taro,Taro,1,t@x,pw,0,1,1,1,,,0,\r\nGuest,Guest,1,g@x,pw,0,1,2,1,,,0,\r\n");
        setenv("REMOTE_ADDR", "10.0.0.1", 1);
        setenv("HTTP_USER_AGENT", "Browser/1.0", 1);
    }
    std::string Sessions() const { return ReadFileBytes(File("skey.mst")); }
    int Check(int32_t key, std::string& id) const {
        UserRecord u;
        return CheckSession(path, key, id, u);
    }
};

SessionRecord Rec(int32_t key, const std::string& id) {
    return SessionRecord{key, id, "10.0.0.1", "Browser/1.0"};
}

}  // namespace

TEST(Sessions, RecordLayout) {
    std::string expected(532, '\0');
    expected[0] = '\x78';
    expected[1] = '\x56';
    expected[2] = '\x34';
    expected[3] = '\x12';
    expected.replace(4, 4, "Taro");
    expected.replace(26, 8, "10.0.0.1");
    expected.replace(278, 3, "UA!");
    SessionRecord r{0x12345678, "Taro", "10.0.0.1", "UA!"};
    EXPECT_EQ(PackSessionRecord(r), expected);
    SessionRecord back = UnpackSessionRecord(expected);
    EXPECT_EQ(back.key, 0x12345678);
    EXPECT_EQ(back.USER_ID, "Taro");
    EXPECT_EQ(back.REMOTE_ADDR, "10.0.0.1");
    EXPECT_EQ(back.HTTP_USER_AGENT, "UA!");

    // Values never reach past their fields: an over-long id stops at 21 bytes, an address at
    // 250; a stored id that fills its field is read as 21 bytes.
    r.USER_ID = std::string(40, 'i');
    r.REMOTE_ADDR = std::string(300, 'a');
    const std::string packed = PackSessionRecord(r);
    ASSERT_EQ(packed.size(), 532u);
    EXPECT_EQ(packed.substr(4, 22), std::string(21, 'i') + '\0');
    EXPECT_EQ(packed.substr(26, 252), std::string(250, 'a') + std::string(2, '\0'));
    std::string full = expected;
    full.replace(4, 22, std::string(22, 'z'));
    EXPECT_EQ(UnpackSessionRecord(full).USER_ID, std::string(21, 'z'));
}

TEST(Sessions, SaveReplacesAndChecksBrowser) {
    SessionDir d;
    ASSERT_EQ(SaveSession(d.path, Rec(11, "Taro")), 0);
    ASSERT_EQ(SaveSession(d.path, Rec(22, "Guest")), 0);
    ASSERT_EQ(SaveSession(d.path, Rec(33, "Taro")), 0);  // a second login replaces the first
    const std::string file = d.Sessions();
    ASSERT_EQ(file.size(), 2 * 532u);
    EXPECT_EQ(UnpackSessionRecord(file.substr(0, 532)).key, 33);
    EXPECT_EQ(UnpackSessionRecord(file.substr(0, 532)).REMOTE_ADDR, "10.0.0.1");
    EXPECT_EQ(FindSessionKeyOfUser(d.path, "Taro"), 33);
    EXPECT_EQ(FindSessionKeyOfUser(d.path, "taro"), -1);

    std::string id = "junk";
    EXPECT_EQ(d.Check(11, id), -1);
    EXPECT_EQ(id, "");
    EXPECT_EQ(d.Check(33, id), 0);
    EXPECT_EQ(id, "Taro");

    // The address is not compared; a member account's browser is, a shared account's is not.
    setenv("REMOTE_ADDR", "192.168.1.9", 1);
    EXPECT_EQ(d.Check(33, id), 0);
    setenv("HTTP_USER_AGENT", "Other/2.0", 1);
    EXPECT_EQ(d.Check(33, id), -1);
    EXPECT_EQ(d.Check(22, id), 0);
    EXPECT_EQ(id, "Guest");

    // A browser identification of 300 characters is kept as its first 250 and still matches.
    const std::string longAgent(300, 'B');
    setenv("HTTP_USER_AGENT", longAgent.c_str(), 1);
    ASSERT_EQ(SaveSession(d.path, Rec(44, "Taro")), 0);
    EXPECT_EQ(UnpackSessionRecord(d.Sessions().substr(0, 532)).HTTP_USER_AGENT, std::string(250, 'B'));
    EXPECT_EQ(d.Check(44, id), 0);

    // A key whose user no longer exists opens nothing.
    ASSERT_EQ(DeleteUser(d.path, "Taro"), 0);
    EXPECT_EQ(d.Check(44, id), -1);
}

TEST(Sessions, DeleteAndPartialRecords) {
    SessionDir d;
    // Two records of one user (two logins at the same moment) and a trailing partial record.
    std::string file = PackSessionRecord(Rec(1, "Taro")) + PackSessionRecord(Rec(2, "Guest")) +
                       PackSessionRecord(Rec(3, "Taro")) + std::string(100, 'x');
    WriteFileBytes(d.File("skey.mst"), file);
    std::string id;
    EXPECT_EQ(FindSessionUserOfKey(d.path, 3, id), 0);
    EXPECT_EQ(id, "Taro");
    EXPECT_EQ(d.Check(1, id), 0);

    ASSERT_EQ(DeleteSessionsOfUser(d.path, "Taro"), 0);
    EXPECT_EQ(d.Sessions(), PackSessionRecord(Rec(2, "Guest")));
    EXPECT_EQ(FindSessionKeyOfUser(d.path, "Taro"), -1);

    // A new record goes after the whole records, over a partial one.
    std::ofstream(d.path + "skey.mst", std::ios::binary | std::ios::app) << std::string(50, 'y');
    ASSERT_EQ(SaveSession(d.path, Rec(5, "Taro")), 0);
    ASSERT_EQ(d.Sessions().size(), 2 * 532u);
    EXPECT_EQ(FindSessionKeyOfUser(d.path, "Taro"), 5);
}

TEST(Sessions, KeysFromRandomSource) {
    std::set<int32_t> keys;
    for (int k = 0; k < 2000; ++k) {
        const int32_t key = DrawSessionKey();
        ASSERT_GE(key, 1);
        ASSERT_LE(key, INT32_MAX);
        keys.insert(key);
    }
    EXPECT_GT(keys.size(), 1990u);
}
