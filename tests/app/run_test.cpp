// The users a page names, looked up one by one from one read of user.mst or all at once from
// one scan in pieces: either way the same user for every id.
#include "app/run.h"

#include <gtest/gtest.h>

#include "tests/testutil.h"

namespace {

TEST(NamedUsers, OneScanFindsWhatSingleLookupsFind) {
    TempDir dir("run_test");
    // Exact ids come first, then ids equal as FindUser compares them; malformed lines count
    // for neither; the first of equals wins.
    const std::string line = ",1,m@x,pw,0,1,1,1,,,0,\r\n";
    WriteFileBytes(dir.path + "user.mst",
                   "ALICE,Upper Alice" + line + "alice,Lower Alice" + line + "bob,Bad Bob,\r\n" +
                       "BOB,Upper Bob" + line + "bob,Lower Bob" + line + "Carol,Carol" + line +
                       "carol,Second Carol" + line + std::string(1200, 'x') + "\r\n");
    const std::vector<std::string> ids = {"alice", "ALICE", "Alice", "bob", "bOB",  "carol",
                                          "CAROL", "dave",  "",      "bob", "Carol"};
    StringOutput one, all;
    ::Run single(one), batch(all);
    single.settings.DATA_FILE_PATH = batch.settings.DATA_FILE_PATH = dir.path;
    NameUsers(batch, ids);
    EXPECT_FALSE(batch.cache.userBytesLoaded);  // no whole read after the scan
    for (const std::string& id : ids) {
        const UserRecord* a = NamedUser(single, id);
        const UserRecord* b = NamedUser(batch, id);
        ASSERT_EQ(a == nullptr, b == nullptr) << id;
        if (a) {
            EXPECT_EQ(a->USER_NAME, b->USER_NAME) << id;
        }
    }
    EXPECT_FALSE(batch.cache.userBytesLoaded);
    EXPECT_EQ(NamedUser(batch, "Alice")->USER_NAME, "Upper Alice");
    EXPECT_EQ(NamedUser(batch, "bob")->USER_NAME, "Lower Bob");
}

}  // namespace
