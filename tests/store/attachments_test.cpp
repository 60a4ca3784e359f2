#include "store/attachments.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "store/recordfile.h"
#include "tests/testutil.h"

namespace {

namespace fs = std::filesystem;

class Attachments : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(EnsureFolderDir(dir_, 2), 0); }

    std::string Bytes() const { return ReadFileBytes(AttachmentListPath(dir_, 2)); }
    int Save(int message, int slot, const std::string& name) {
        AttachmentEntry e;
        e.messageNo = message;
        e.slot = slot;
        e.fileName = name;
        return SaveAttachment(dir_, 2, e);
    }

    TempDir tmp_{"attach"};
    const std::string dir_ = tmp_.path;
};

std::string Entry260(int32_t message, int32_t slot, const std::string& name) {
    std::string r(260, '\0');
    std::memcpy(r.data(), &message, 4);
    std::memcpy(r.data() + 4, &slot, 4);
    std::memcpy(r.data() + 8, name.data(), std::min<size_t>(name.size(), 251));
    return r;
}

TEST_F(Attachments, EntriesBySlot) {
    EXPECT_EQ(AttachmentListPath(dir_, 2), dir_ + "2/add_file.dat");
    ASSERT_EQ(Save(7, 1, "a.txt"), 0);
    ASSERT_EQ(Save(7, 2, "b.jpg"), 0);
    ASSERT_EQ(Save(8, 1, "c.doc"), 0);
    ASSERT_EQ(Save(7, 1, "a2.txt"), 0);  // replaces in place
    ASSERT_EQ(Save(9, 1, std::string(300, 'n')), 0);
    EXPECT_EQ(Bytes(), Entry260(7, 1, "a2.txt") + Entry260(7, 2, "b.jpg") + Entry260(8, 1, "c.doc") +
                           Entry260(9, 1, std::string(251, 'n')));

    AttachmentEntry e;
    ASSERT_EQ(FindAttachment(dir_, 2, 7, 2, e), 0);
    EXPECT_EQ(e.fileName, "b.jpg");
    ASSERT_EQ(FindAttachment(dir_, 2, 7, 1, e), 0);
    EXPECT_EQ(e.fileName, "a2.txt");
    EXPECT_EQ(FindAttachment(dir_, 2, 8, 2, e), -1);
    EXPECT_EQ(ReadAttachments(dir_, 2).size(), 4u);

    EXPECT_EQ(DeleteAttachment(dir_, 2, 7, 2), 0);
    EXPECT_EQ(DeleteAttachment(dir_, 2, 7, 2), -1);
    EXPECT_EQ(Bytes(), Entry260(7, 1, "a2.txt") + Entry260(8, 1, "c.doc") +
                           Entry260(9, 1, std::string(251, 'n')));
    ASSERT_EQ(Save(7, 3, "d"), 0);
    EXPECT_EQ(DeleteAttachments(dir_, 2, 7), 0);
    EXPECT_EQ(DeleteAttachments(dir_, 2, 7), -1);
    EXPECT_EQ(Bytes(), Entry260(8, 1, "c.doc") + Entry260(9, 1, std::string(251, 'n')));
    EXPECT_FALSE(fs::exists(dir_ + "2/add_file.dat.TMP"));

    // A partial entry at the end is dropped by a rewrite even when nothing else goes.
    std::ofstream(AttachmentListPath(dir_, 2), std::ios::binary | std::ios::app) << "partial";
    EXPECT_EQ(DeleteAttachments(dir_, 2, 42), -1);
    EXPECT_EQ(Bytes(), Entry260(8, 1, "c.doc") + Entry260(9, 1, std::string(251, 'n')));
}
}  // namespace
