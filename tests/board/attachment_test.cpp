// The ATTACHMENT job: stored attachment files leave the board only through the program, to
// callers who may read the folder, for records that name a file of a message still shown.
#include "board/attachment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "store/attachments.h"
#include "view_fixture.h"

namespace viewtest {
namespace {

class AttachmentTest : public ViewTest {};

TEST_F(AttachmentTest, SendsTheStoredBytesOnlyToReadersOfAShownMessage) {
    FolderSettings fs;
    fs.ADD_MAX = 3;
    fs.readLevel = 5;
    AddBoard(1, "Board", fs);
    ASSERT_EQ(InsertFolderLine(data, {2, kFolderChat, "Chat", 0}, 1000), 0);
    UserRecord member = MakeUser("member", 10);
    AddUser(member);
    Post(1, 0, "files");
    Post(1, 1, "deleted, kept for its reply");
    Post(1, 2, "reply");
    MessageIndexEntry gone = Entry(1, 2);
    gone.deleted = 1;
    ASSERT_EQ(RewriteMessage(data, gone), 0);

    const std::string bytes = std::string("\x00\r\n<script>\xff", 12) + std::string(70000, 'b');
    for (const char* dir : {"1/X1/1", "1/X2/1", "1/X1/3"}) std::filesystem::create_directories(add + dir);
    std::ofstream(add + "1/X1/1/a\"b.bin", std::ios::binary) << bytes;
    std::ofstream(add + "1/X2/1/old.txt", std::ios::binary) << "moderated";
    std::ofstream(add + "secret.txt", std::ios::binary) << "not an attachment";
    ASSERT_EQ(SaveAttachment(data, 1, {1, 1, "a\"b.bin"}), 0);
    ASSERT_EQ(SaveAttachment(data, 1, {1, 2, "../../secret.txt"}), 0);  // a damaged record
    ASSERT_EQ(SaveAttachment(data, 1, {1, 3, "missing.txt"}), 0);
    ASSERT_EQ(SaveAttachment(data, 1, {2, 1, "old.txt"}), 0);

    auto fetch = [&](const UserRecord& who, int folder, int message, int slot) {
        return Page(SendAttachment, who,
                    {{"FOLDER_NO", std::to_string(folder)}, {"SEL_NO", std::to_string(message)},
                     {"ADD_NO", std::to_string(slot)}});
    };
    EXPECT_EQ(fetch(member, 1, 1, 1),
              "Content-Type: application/octet-stream\nReferrer-Policy: same-origin\n"
              "X-Content-Type-Options: nosniff\nCache-Control: no-store\n"
              "Content-Security-Policy: frame-ancestors 'self'\n"
              "Content-Security-Policy: sandbox\n"
              "Content-Disposition: attachment; filename=\"a\\\"b.bin\"\n\n" + bytes);

    struct Refused {
        const char* why;
        const UserRecord& who;
        int folder, message, slot;
    } refused[] = {
        {"no read rights", reader, 1, 1, 1},
        {"record naming a file outside its slot", sysop, 1, 1, 2},
        {"file missing", sysop, 1, 1, 3},
        {"message flagged deleted", sysop, 1, 2, 1},
        {"no record for the slot", sysop, 1, 3, 1},
        {"no such message", sysop, 1, 9, 1},
        {"not a board", sysop, 2, 1, 1},
    };
    for (const Refused& r : refused) {
        const std::string page = fetch(r.who, r.folder, r.message, r.slot);
        EXPECT_EQ(page.rfind("Content-type: text/html\n", 0), 0u) << r.why;
        EXPECT_NE(page.find("You are not permitted to use this function.\n<FORM>"),
                  std::string::npos)
            << r.why;
        EXPECT_EQ(page.find("not an attachment"), std::string::npos) << r.why;
        EXPECT_EQ(page.find("moderated"), std::string::npos) << r.why;
    }
}

}  // namespace
}  // namespace viewtest
