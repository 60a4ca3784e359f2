#include "store/bodies.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "store/recordfile.h"
#include "tests/testutil.h"

namespace {

namespace fs = std::filesystem;

class MessageBodies : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(EnsureFolderDir(dir_, 3), 0); }

    TempDir tmp_{"bodies"};
    const std::string dir_ = tmp_.path;
};

TEST_F(MessageBodies, WrittenBytesReadBackUnchanged) {
    const std::string path = MessageBodyPath(dir_, 3, 12);
    EXPECT_EQ(path, dir_ + "3/X12.DAT");
    const std::string body = "first line\rsecond \x82\xa0 line\r\rlast";
    ASSERT_EQ(WriteMessageBody(dir_, 3, 12, body), 0);
    EXPECT_EQ(ReadFileBytes(path), body);  // no terminator, no line end added
    std::string out = "stale";
    ASSERT_EQ(ReadMessageBody(dir_, 3, 12, out), 0);
    EXPECT_EQ(out, body);

    // A shorter body replaces the whole file.
    ASSERT_EQ(WriteMessageBody(dir_, 3, 12, "short"), 0);
    ASSERT_EQ(ReadMessageBody(dir_, 3, 12, out), 0);
    EXPECT_EQ(out, "short");
    EXPECT_FALSE(fs::exists(path + ".TMP"));

    // A missing body reads as the empty text and is left behind empty.
    ASSERT_EQ(ReadMessageBody(dir_, 3, 13, out), 0);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(fs::exists(MessageBodyPath(dir_, 3, 13)));
    EXPECT_EQ(ReadMessageBody(dir_, 4, 1, out), -1);  // no folder directory
    EXPECT_EQ(WriteMessageBody(dir_, 4, 1, "x"), -1);
}

TEST_F(MessageBodies, LongBodyReadsBackCut) {
    std::string body(150000, 'a');
    for (size_t i = 0; i < body.size(); i += 7) body[i] = static_cast<char>('b' + i % 20);
    ASSERT_EQ(WriteMessageBody(dir_, 3, 1, body), 0);
    EXPECT_EQ(fs::file_size(MessageBodyPath(dir_, 3, 1)), 150000u);
    std::string out;
    ASSERT_EQ(ReadMessageBody(dir_, 3, 1, out), 0);
    EXPECT_EQ(out, body.substr(0, 99999));
}
}  // namespace
