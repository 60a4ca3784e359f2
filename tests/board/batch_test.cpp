// Batch upload: records stored in file order with replies, refusals for folders without write
// rights and for other folder kinds, the end of a body, over-long titles and bodies, files
// without records, the access log and the removal of the upload.
#include "board/batch.h"

#include <filesystem>
#include <fstream>

#include "store/accesslog.h"
#include "store/bodies.h"
#include "view_fixture.h"

namespace {

class BatchTest : public viewtest::ViewTest {
protected:
    void SetUp() override {
        ViewTest::SetUp();
        writer = viewtest::MakeUser("writer", 60);
        AddUser(writer);
        AddFolder(1, kFolderBoard, "Board", 0, 0, 50);
        AddFolder(2, kFolderBoard, "Staff", 0, 0, 80);
        AddFolder(3, kFolderChat, "Chat", 0, 0, 0);
    }
    // Uploads the bytes as FILE1 through the dispatcher.
    std::string Upload(const std::string& bytes) {
        temp = root + "/CGI7";
        std::ofstream(temp, std::ios::binary) << bytes;
        StringOutput out;
        ::Run r(out);
        Configure(r, writer, {});
        r.fields.push_back({"FILE1", "C:\\batch.txt,CGI7", true, true});
        r.login.JOB = "BATCH_UPLOAD_WR";
        r.settings.LOG_DATE = "30";
        r.now = time(nullptr);
        r.workDir = root;
        DispatchJob(r);
        return out.text;
    }
    std::string Body(int folder, int number) {
        std::string body;
        ReadMessageBody(data, folder, number, body);
        return body;
    }
    UserRecord writer;
    std::string temp;
};

TEST_F(BatchTest, RecordsAreStoredInFileOrderAndRefusedOnesSkipped) {
    const std::string title(100, 't');
    const std::string page = Upload(
        "notes before the first record\r\n"
        ";board1\r\nres0\r\nFirst title\r\npri1\r\nline one\r\nline two\r\n..\r\nchk:2\r\nhtm:1\r\n"
        "between records\r\n"
        ";board2\r\nres0\r\nStaff only\r\npri0\r\nx\r\n..\r\nchk:1\r\nhtm:0\r\n"
        ";board3\r\nres0\r\nChat\r\npri0\r\nx\r\n..\r\nchk:1\r\nhtm:0\r\n"
        ";board1\r\nres1\r\nSecond <title>\r\npri0\r\n..not body\r\nchk:1\r\nhtm:0\r\n"
        ";board1\nres0\n" + title + "\npri2\nlf only\n..\nchk:1\nhtm:2\n"
        ";board1\r\nres0\r\nToo long\r\npri0\r\n" + std::string(104000, 'b') + "\r\n..\r\n"
        "chk:1\r\nhtm:0\r\n"
        ";board0\r\n"
        ";board1\r\nres0\r\nAfter the end\r\npri0\r\n..\r\nchk:1\r\nhtm:0\r\n");
    const std::string denied = " You are not permitted to use this function.<P>\n";
    EXPECT_NE(page.find("write board[1],res[1] <B>First title</B><P>\n"
                        "board[2],res[0]" + denied + "board[3],res[0]" + denied +
                        "write board[1],res[2] <B>Second &lt;title&gt;</B><P>\n"
                        "write board[1],res[3] <B>" + title.substr(0, 80) + "</B><P>\n"
                        "board[1],res[0] The message text is too long.<P>\n</BODY>\n</HTML>\n"),
              std::string::npos)
        << page;

    const std::vector<MessageIndexEntry> index = ReadMessageIndex(data, 1);
    ASSERT_EQ(index.size(), 3u);
    EXPECT_EQ(index[0].WRITE_TITLE, "First title");
    EXPECT_EQ(index[0].WRITE_PRIORITY, 1);
    EXPECT_EQ(index[0].READ_CHK, 2);
    EXPECT_EQ(index[0].HTML_MODE, 1);
    EXPECT_EQ(index[0].userId, "writer");
    EXPECT_EQ(index[1].messageNo, 2);  // the reply follows its parent
    EXPECT_EQ(index[1].depth, 1);
    EXPECT_EQ(index[1].threadNo, 1);
    EXPECT_EQ(index[2].HTML_MODE, 2);
    EXPECT_EQ(Body(1, 1), "line one\rline two\r");
    EXPECT_EQ(Body(1, 2), "");
    EXPECT_EQ(Body(1, 3), "lf only\r");
    EXPECT_EQ(ReadMessageIndex(data, 2).size(), 0u);
    EXPECT_FALSE(std::filesystem::exists(data + "3/index.dat"));
    UserLogSummary log;
    ASSERT_EQ(SummarizeUserLog(data, "writer", log), 0);
    EXPECT_EQ(log.writes, 3);
    EXPECT_FALSE(std::filesystem::exists(temp));
}

TEST_F(BatchTest, AFileWithoutRecordsStoresNothing) {
    const std::string page = Upload("just some text\r\n;boar d1\r\n");
    EXPECT_EQ(page.substr(page.find("<BODY")),
              "<BODY BACKGROUND=\"/cg/back.gif\" BGPROPERTIES=FIXED >\n</BODY>\n</HTML>\n");
    EXPECT_EQ(ReadMessageIndex(data, 1).size(), 0u);
    EXPECT_FALSE(std::filesystem::exists(temp));
}

}  // namespace
