#include "store/applications.h"
#include "store/recordfile.h"
#include "tests/testutil.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

struct AppDir : TempDir {
    AppDir() : TempDir("applications_test") {}
    std::string File() const { return TempDir::File("g_user.dat"); }
    std::string Read() const { return ReadFileBytes(File()); }
};

IdApplication App(const std::string& id, int32_t status = kAppWaiting) {
    IdApplication a;
    a.USER_ID = id;
    a.USER_NAME = "Name of " + id;
    a.status = status;
    return a;
}

}  // namespace

TEST(Applications, RecordLayout) {
    std::string expected(1160, '\0');
    expected.replace(0, 4, "taro");
    expected.replace(22, 4, "Taro");
    expected.replace(104, 3, "t@x");
    expected.replace(356, 2, "pw");
    expected.replace(378, 16, "2024/05/01 09:30");
    expected.replace(398, 8, "10.0.0.1");
    expected.replace(650, 2, "UA");
    expected.replace(902, 2, "ok");
    expected[1156] = 2;
    IdApplication a{"taro", "Taro", "t@x", "pw", "2024/05/01 09:30", "10.0.0.1", "UA", "ok", kAppRefused};
    EXPECT_EQ(PackIdApplication(a), expected);
    const IdApplication b = UnpackIdApplication(expected);
    EXPECT_EQ(PackIdApplication(b), expected);
    EXPECT_EQ(b.status, kAppRefused);
    EXPECT_EQ(b.date, "2024/05/01 09:30");

    // A browser identification of 300 bytes keeps 251 and leaves the message field alone.
    a.HTTP_USER_AGENT = std::string(300, 'B');
    const std::string packed = PackIdApplication(a);
    EXPECT_EQ(packed.substr(650, 252), std::string(251, 'B') + '\0');
    EXPECT_EQ(packed.substr(902, 3), std::string("ok\0", 3));
}

TEST(Applications, LookupsByIdAndPosition) {
    AppDir d;
    IdApplication out;
    EXPECT_EQ(ReadApplicationAt(d.path, 0, out), -1);  // creates the file empty
    EXPECT_EQ(FileSize(d.File()), 0);

    ASSERT_EQ(AddApplication(d.path, App("taro", kAppRefused)), 0);
    ASSERT_EQ(AddApplication(d.path, App("hana")), 0);
    // An id that has any record, even a refused one, is not added again.
    EXPECT_EQ(AddApplication(d.path, App("taro")), -1);
    EXPECT_EQ(FileSize(d.File()), 2 * 1160);

    // Records of one id told apart by their order (written by hand: Add refuses them).
    std::ofstream(d.File(), std::ios::binary | std::ios::app) << PackIdApplication(App("taro"));
    ASSERT_EQ(FindApplication(d.path, "taro", 1, out), 0);
    EXPECT_EQ(out.status, kAppWaiting);
    ASSERT_EQ(FindApplication(d.path, "taro", 0, out), 0);
    EXPECT_EQ(out.status, kAppRefused);
    EXPECT_EQ(FindApplication(d.path, "taro", 2, out), -1);
    EXPECT_EQ(FindApplication(d.path, "TARO", 0, out), -1);

    IdApplication decided = App("taro", kAppApproved);
    decided.message = "Welcome";
    ASSERT_EQ(RewriteApplication(d.path, "taro", 1, decided), 0);
    ASSERT_EQ(ReadApplicationAt(d.path, 2, out), 0);
    EXPECT_EQ(out.status, kAppApproved);
    EXPECT_EQ(out.message, "Welcome");
    EXPECT_EQ(RewriteApplication(d.path, "taro", 2, decided), -1);
    EXPECT_EQ(ReadAllApplications(d.path).size(), 3u);
}

TEST(Applications, DeleteAtPosition) {
    AppDir d;
    ASSERT_EQ(AddApplication(d.path, App("taro")), 0);
    ASSERT_EQ(AddApplication(d.path, App("hana")), 0);
    const std::string before = d.Read();
    EXPECT_EQ(DeleteApplicationAt(d.path, 2), -1);
    EXPECT_EQ(d.Read(), before);
    ASSERT_EQ(DeleteApplicationAt(d.path, 0), 0);
    EXPECT_EQ(d.Read(), PackIdApplication(App("hana")));

    // A trailing partial record is not a record; the next one is written over it.
    std::ofstream(d.File(), std::ios::binary | std::ios::app) << std::string(10, 'x');
    IdApplication out;
    EXPECT_EQ(ReadApplicationAt(d.path, 1, out), -1);
    ASSERT_EQ(AddApplication(d.path, App("jiro")), 0);
    EXPECT_EQ(FileSize(d.File()), 2 * 1160);
    ASSERT_EQ(ReadApplicationAt(d.path, 1, out), 0);
    EXPECT_EQ(out.USER_ID, "jiro");
}
