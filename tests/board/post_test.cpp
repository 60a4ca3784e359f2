// The posting form and the store step: prefills, limits, attachments in their slots, editing
// rights, read marks after a write, the access log line, escaping, and one whole request.
#include "board/post.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "app/entry.h"
#include "app/jobs.h"
#include "cgi/text.h"
#include "store/accesslog.h"
#include "store/attachments.h"
#include "store/bodies.h"
#include "store/messages.h"
#include "store/readmarks.h"
#include "store/recordfile.h"
#include "store/sessions.h"
#include "store/users.h"
#include "tests/testutil.h"

namespace {

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class PostTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = dir.path;
        data = root + "data/";
        add = root + "add/";
        work = root + "work";
        for (const std::string& d : {data, add, work, data + "1", data + "2"})
            ASSERT_EQ(mkdir(d.c_str(), 0700), 0);
        std::ofstream tree(data + "b_title.mst", std::ios::binary);
        tree << FormatFolderLine({1, kFolderBoard, "Talk & <News>", 0})
             << FormatFolderLine({2, kFolderChat, "Chat", 0});
        tree.close();
        settings.folderNo = 1;
        settings.ADD_MAX = 3;
        settings.readLevel = 1;
        settings.writeLevel = 2;
        settings.REWRITE_FLG = 2;
        settings.DEFO = "Default text";
        SaveFolderSettings(data, settings);

        alice.USER_ID = "alice";
        alice.USER_NAME = "Alice";
        alice.USER_LEVEL = 2;
        alice.MODE = 1;
        alice.WRITE_MODE = 1;
        bob = alice;
        bob.USER_ID = "bob";
        bob.USER_NAME = "Bob";
    }
    // A fresh request of the user with the job.
    void Start(const UserRecord& who, const std::string& job) {
        run.reset();
        out = std::make_unique<StringOutput>();
        run = std::make_unique<::Run>(*out);
        LoadMessages(run->msg, BOARD_SOURCE_DIR "/lang/english.lng");
        run->settings.DATA_FILE_PATH = data;
        run->settings.ADD_FILE_PATH = add;
        run->settings.MAX_CONTENTS = 100;
        run->settings.scriptName = "boardcgi.cgi";
        run->settings.LOG_DATE = logDate;
        run->workDir = work;
        run->now = time(nullptr);
        run->login.user = who;
        run->login.JOB = job;
        run->login.SKEY = "123";
        Field("JOB", job);
        Field("SKEY", "123");
    }
    void Field(const std::string& name, const std::string& value) {
        run->fields.push_back({name, value, true});
    }
    // A file part of a multipart body, as the decoder marks it.
    void FileField(const std::string& name, const std::string& value) {
        run->fields.push_back({name, value, true, true});
    }
    // An upload temporary file with the content, and the field value that names it.
    std::string Upload(const std::string& clientName, const std::string& content) {
        const std::string temp = "CGI" + std::to_string(nextTemp++);
        std::ofstream(work + "/" + temp, std::ios::binary) << content;
        return clientName + "," + temp;
    }
    bool TempsLeft() const {
        for (int i = 0; i < nextTemp; ++i)
            if (Exists(work + "/CGI" + std::to_string(i))) return true;
        return false;
    }
    std::string Form(const UserRecord& who, const std::string& job, int selNo) {
        Start(who, job);
        Field("FOLDER_NO", "1");
        Field("SEL_NO", std::to_string(selNo));
        Field("USER_DISP_DEF", "2");
        ShowPostingForm(*run);
        return out->text;
    }
    // Starts a BORDWRITEWR request with the usual fields; add more with Field, then SaveMessage.
    void StartStore(const UserRecord& who, const std::string& fjob, int selNo,
                    const std::string& title = "Title", const std::string& body = "Body") {
        Start(who, "BORDWRITEWR");
        Field("FJOB", fjob);
        Field("FOLDER_NO", "1");
        Field("SEL_NO", std::to_string(selNo));
        Field("WRITE_TITLE", title);
        Field("WRITE_PRIORITY", "2");
        Field("READ_CHK", "2");
        Field("HTML_MODE", "1");
        Field("WRITE_DATA", body);
    }
    int Store(const UserRecord& who, const std::string& fjob, int selNo,
              const std::string& title = "Title", const std::string& body = "Body") {
        StartStore(who, fjob, selNo, title, body);
        return SaveMessage(*run);
    }
    MessageIndexEntry Entry(int no) {
        MessageIndexEntry e;
        EXPECT_EQ(FindMessage(data, 1, no, kMessageByNumber, e), 0) << no;
        return e;
    }
    std::string Body(int no) {
        std::string b;
        ReadMessageBody(data, 1, no, b);
        return b;
    }
    std::string AttachmentName(int no, int slot) {
        AttachmentEntry a;
        return FindAttachment(data, 1, no, slot, a) == 0 ? a.fileName : "-";
    }
    std::string AttachedFile(int no, int slot, const std::string& name) {
        return add + "1/X" + std::to_string(no) + "/" + std::to_string(slot) + "/" + name;
    }

    TempDir dir{"posttest"};
    std::string root, data, add, work, logDate;
    FolderSettings settings;
    UserRecord alice, bob;
    std::unique_ptr<StringOutput> out;
    std::unique_ptr<::Run> run;
    int nextTemp = 0;
};

TEST_F(PostTest, NewThreadFormLayout) {
    const std::string page = Form(alice, "BORDWRITE", 0);
    EXPECT_NE(page.find("function title_chk(){"), std::string::npos);
    EXPECT_NE(page.find("alert(\"Please enter a title.\");"), std::string::npos);
    EXPECT_EQ(page.find("window.focus();"), std::string::npos);
    EXPECT_NE(page.find("<FONT SIZE=\"5\"><B>Talk &amp; &lt;News&gt; New message</B></FONT>\n<HR>"),
              std::string::npos);
    EXPECT_NE(page.find("<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"boardcgi.cgi\" "
                        "METHOD=POST TARGET=\"FRM22\" >\n"
                        "<INPUT TYPE=\"hidden\" NAME=\"SKEY\" VALUE=\"123\">\n"
                        "<INPUT TYPE=\"hidden\" NAME=\"JOB\" VALUE=\"BORDWRITEWR\">\n"
                        "<INPUT TYPE=\"hidden\" NAME=\"FJOB\" VALUE=\"BORDWRITE\">\n"
                        "<INPUT TYPE=\"hidden\" NAME=\"FOLDER_NO\" VALUE=\"1\">\n"
                        "<INPUT TYPE=\"hidden\" NAME=\"SEL_NO\" VALUE=\"0\">\n"
                        "<INPUT TYPE=\"hidden\" NAME=\"USER_DISP_DEF\" VALUE=\"2\">\n"),
              std::string::npos);
    EXPECT_NE(page.find("Alice [alice]</TD>"), std::string::npos);
    EXPECT_EQ(page.find("Re:^"), std::string::npos);
    EXPECT_NE(page.find("<INPUT TYPE=\"text\" NAME=\"WRITE_TITLE\" SIZE=\"60\" MAXLENGTH=\"80\" "
                        "VALUE=\"\"></TD>"),
              std::string::npos);
    EXPECT_NE(page.find("<SELECT NAME=\"WRITE_PRIORITY\" >\n<OPTION VALUE=\"0\"> \n"
                        "<OPTION VALUE=\"2\">Urgent\n<OPTION VALUE=\"1\">Important\n</SELECT>"),
              std::string::npos);
    EXPECT_NE(page.find("<TEXTAREA NAME=\"WRITE_DATA\" COLS=\"60\" ROWS=\"8\">Default text</TEXTAREA>"),
              std::string::npos);
    EXPECT_NE(page.find(" No.1 <INPUT TYPE=\"FILE\" NAME=\"FILE1\"><BR>\n"
                        " No.2 <INPUT TYPE=\"FILE\" NAME=\"FILE2\"><BR>\n"
                        " No.3 <INPUT TYPE=\"FILE\" NAME=\"FILE3\"><BR>\n"),
              std::string::npos);
    EXPECT_EQ(page.find("checkbox"), std::string::npos);
    EXPECT_EQ(page.find("DISP_PAGE"), std::string::npos);
    EXPECT_NE(page.find("<SELECT NAME=\"READ_CHK\">\n<OPTION VALUE=\"1\">Do not show readers\n"
                        "<OPTION VALUE=\"2\">Show readers\n</SELECT>"),
              std::string::npos);
    EXPECT_NE(page.find("<SELECT NAME=\"HTML_MODE\">\n<OPTION VALUE=\"0\">Plain text\n"
                        "<OPTION VALUE=\"1\">Preformatted text\n<OPTION VALUE=\"2\">HTML\n</SELECT>"),
              std::string::npos);
    EXPECT_NE(page.find("</TABLE>\n<P>\n<INPUT TYPE=\"submit\" name=\"SUB\" VALUE=\"Post\" "
                        "onClick=\"return title_chk()\"> \n"
                        "<INPUT TYPE=\"button\" VALUE=\"Back\" onClick=\"history.back()\">\n"
                        "</FORM>\n</BODY>\n</HTML>\n"),
              std::string::npos);
}

TEST_F(PostTest, SeparateWindowMsieAndFolderDefaultsShapeTheForm) {
    alice.WRITE_MODE = 2;
    settings.READ_CHK = 2;
    settings.ADD_MAX = 0;
    SaveFolderSettings(data, settings);
    Start(alice, "BORDWRITE");
    run->userAgent = "Mozilla/4.0 (compatible; MSIE 6.0)";
    Field("FOLDER_NO", "1");
    ShowPostingForm(*run);
    const std::string& page = out->text;
    EXPECT_NE(page.find("}\nwindow.focus();\n// -->"), std::string::npos);
    EXPECT_EQ(page.find("history.back()"), std::string::npos);
    EXPECT_NE(page.find("SIZE=\"80\""), std::string::npos);
    EXPECT_NE(page.find("COLS=\"80\""), std::string::npos);
    EXPECT_EQ(page.find("Attachment"), std::string::npos);
    EXPECT_NE(page.find("<SELECT NAME=\"READ_CHK\">\n<OPTION VALUE=\"2\">Show readers\n"
                        "<OPTION VALUE=\"1\">Do not show readers\n"),
              std::string::npos);
}

TEST_F(PostTest, ReplyQuotesTheParentAndADeletedParentPrefillsNothing) {
    ASSERT_EQ(Store(alice, "BORDWRITE", 0, "Hello", "line one\r\nline two"), 0);
    std::string page = Form(bob, "BORDWRITE", 1);
    EXPECT_NE(page.find("<B>Talk &amp; &lt;News&gt; Reply</B>"), std::string::npos);
    EXPECT_NE(page.find("Re:^1 <INPUT TYPE=\"text\" NAME=\"WRITE_TITLE\" SIZE=\"60\" "
                        "MAXLENGTH=\"80\" VALUE=\"Hello\"></TD>"),
              std::string::npos);
    EXPECT_NE(page.find("ROWS=\"8\">&gt;line one\r&gt;line two</TEXTAREA>"), std::string::npos);
    // The parent's HTML mode (1) comes first.
    EXPECT_NE(page.find("<SELECT NAME=\"HTML_MODE\">\n<OPTION VALUE=\"1\">Preformatted text\n"
                        "<OPTION VALUE=\"0\">Plain text\n<OPTION VALUE=\"2\">HTML\n"),
              std::string::npos);

    MessageIndexEntry e = Entry(1);
    e.deleted = 1;
    ASSERT_EQ(RewriteMessage(data, e), 0);
    page = Form(bob, "BORDWRITE", 1);
    EXPECT_NE(page.find("Re:^1 <INPUT TYPE=\"text\" NAME=\"WRITE_TITLE\" SIZE=\"60\" "
                        "MAXLENGTH=\"80\" VALUE=\"\"></TD>"),
              std::string::npos);
    EXPECT_NE(page.find("ROWS=\"8\"></TEXTAREA>"), std::string::npos);
}

TEST_F(PostTest, FormEscapesTitleBodyAndUser) {
    ASSERT_EQ(Store(alice, "BORDWRITE", 0, "\"><script>alert(1)</script>",
                    "a</TEXTAREA><script>alert(2)</script>"), 0);
    UserRecord mallory = alice;
    mallory.USER_NAME = "<b>Al</b>";
    const std::string page = Form(mallory, "EDITMSG", 1);
    EXPECT_NE(page.find("VALUE=\"&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;\"></TD>"),
              std::string::npos);
    EXPECT_NE(page.find(">a&lt;/TEXTAREA&gt;&lt;script&gt;alert(2)&lt;/script&gt;</TEXTAREA>"),
              std::string::npos);
    EXPECT_NE(page.find("&lt;b&gt;Al&lt;/b&gt; [alice]"), std::string::npos);
    EXPECT_EQ(page.find("<script>"), std::string::npos);
}

TEST_F(PostTest, RefusalsStoreNothing) {
    UserRecord reader = alice;
    reader.USER_LEVEL = 1;  // read rights only
    EXPECT_NE(Form(reader, "BORDWRITE", 0).find("You are not permitted to use this function."),
              std::string::npos);
    EXPECT_EQ(out->text.find("<FORM NAME=\"INPUT\""), std::string::npos);

    EXPECT_EQ(Store(reader, "BORDWRITE", 0), kPostRefused);
    EXPECT_EQ(Store(alice, "BORDWRITE", 0, ""), kPostNoTitle);
    EXPECT_EQ(Store(alice, "SOMETHING", 0), kPostRefused);
    // A chat room or a folder that is not in the tree holds no messages.
    StartStore(alice, "BORDWRITE", 0);
    run->login.user.USER_LEVEL = 100;
    run->fields[3].value = "2";  // FOLDER_NO
    EXPECT_EQ(SaveMessage(*run), kPostRefused);
    EXPECT_EQ(CountMessages(data, 1), 0);
    EXPECT_FALSE(Exists(data + "2/index.dat"));
}

TEST_F(PostTest, BodyLimitIsMaxContents) {
    EXPECT_EQ(Store(alice, "BORDWRITE", 0, "T", std::string(101, 'x')), kPostTooLong);
    EXPECT_EQ(CountMessages(data, 1), 0);
    EXPECT_EQ(Store(alice, "BORDWRITE", 0, "T", std::string(100, 'x')), kPostStored);
    EXPECT_EQ(Body(1), std::string(100, 'x'));

    // A body the decoder had to cut, or one beyond the work buffer, is refused even where the
    // setting would allow its length: it is never stored short.
    run->settings.MAX_CONTENTS = 99999;
    StartStore(alice, "BORDWRITE", 0, "T", std::string(99998, 'y'));
    for (FormField& f : run->fields)
        if (f.name == "WRITE_DATA") f.isCut = true;
    EXPECT_EQ(SaveMessage(*run), kPostTooLong);
    run->settings.MAX_CONTENTS = 200000;
    EXPECT_EQ(Store(alice, "BORDWRITE", 0, "T", std::string(150000, 'z')), kPostTooLong);
    EXPECT_EQ(CountMessages(data, 1), 1);
}

TEST_F(PostTest, NewPostStoresEntryBodyReadMarkAndLogLine) {
    logDate = "365";
    ASSERT_EQ(Store(alice, "BORDWRITE", 0, "First", "a\r\nb\r\n"), 0);
    ASSERT_EQ(Store(bob, "BORDWRITE", 1, "Answer", "c"), 0);
    const MessageIndexEntry e = Entry(1);
    EXPECT_EQ(e.WRITE_TITLE, "First");
    EXPECT_EQ(e.userId, "alice");
    EXPECT_EQ(e.WRITE_PRIORITY, 2);
    EXPECT_EQ(e.READ_CHK, 2);
    EXPECT_EQ(e.HTML_MODE, 1);
    EXPECT_EQ(e.attachCount, 0);
    EXPECT_EQ(e.date, DateStampAt(run->now));
    EXPECT_EQ(Body(1), "a\rb\r");
    const MessageIndexEntry r = Entry(2);
    EXPECT_EQ(r.threadNo, 1);
    EXPECT_EQ(r.depth, 1);
    ReadMark m;
    EXPECT_EQ(FindReadMark(data, 1, 1, "alice", m), 0);
    EXPECT_NE(FindReadMark(data, 1, 1, "bob", m), 0);
    EXPECT_EQ(FindReadMark(data, 1, 2, "bob", m), 0);

    const std::string log = ReadFileBytes(data + "system.log");
    EXPECT_EQ(Count(log, "\r\n"), 2u);
    EXPECT_NE(log.find(DateStampAt(run->now) + ",alice,write,1,,"), std::string::npos) << log;
    EXPECT_NE(log.find(",bob,write,1,"), std::string::npos);

    logDate = "0";
    ASSERT_EQ(Store(alice, "BORDWRITE", 0), 0);
    EXPECT_EQ(ReadFileBytes(data + "system.log"), log);
}

TEST_F(PostTest, AttachmentsGoToTheirSlotsAndNoUploadOutlivesTheStep) {
    StartStore(alice, "BORDWRITE", 0);
    const std::string plan = Upload("C:\\docs\\plan.txt", "plan");
    FileField("FILE1", plan);
    FileField("FILE2", plan);  // one upload fills one slot
    FileField("FILE3", Upload("/home/u/notes, v2.txt", "notes"));
    FileField("FILE4", Upload("extra.txt", "beyond ADD_MAX"));
    ASSERT_EQ(SaveMessage(*run), 0);
    EXPECT_EQ(Entry(1).attachCount, 2);
    EXPECT_EQ(AttachmentName(1, 1), "plan.txt");
    EXPECT_EQ(AttachmentName(1, 2), "-");
    EXPECT_EQ(AttachmentName(1, 3), "notes, v2.txt");
    EXPECT_EQ(ReadFileBytes(AttachedFile(1, 1, "plan.txt")), "plan");
    EXPECT_EQ(ReadFileBytes(AttachedFile(1, 3, "notes, v2.txt")), "notes");
    EXPECT_FALSE(Exists(add + "1/X1/4"));
    EXPECT_FALSE(TempsLeft());
}

TEST_F(PostTest, UnsafeClientNamesAreRefused) {
    EXPECT_EQ(AttachmentFileName(".."), "");
    EXPECT_EQ(AttachmentFileName("."), "");
    EXPECT_EQ(AttachmentFileName(""), "");
    // A lead byte hides the "/" from the directory cut; the name is refused all the same.
    EXPECT_EQ(AttachmentFileName("\x81/../../x"), "");
    EXPECT_EQ(AttachmentFileName(std::string(300, 'a')).size(), 251u);
    EXPECT_EQ(AttachmentFileName("\x83\x5C.txt"), "\x83\x5C.txt");

    StartStore(alice, "BORDWRITE", 0);
    FileField("FILE1", Upload("C:\\x\\..", "dots"));
    FileField("FILE2", Upload("C:\\x\\ab\x81/..", "evil"));  // "/" after a lead byte is no cut
    FileField("FILE3", "forged.txt,notatemp");
    ASSERT_EQ(SaveMessage(*run), 0);
    EXPECT_EQ(Entry(1).attachCount, 0);
    EXPECT_TRUE(ReadAttachments(data, 1).empty());
    EXPECT_FALSE(Exists(add + "1/X1"));
    EXPECT_FALSE(TempsLeft());
}

TEST_F(PostTest, APlainFieldCannotNameAnotherRequestsUpload) {
    StartStore(alice, "BORDWRITE", 0);
    // The temporary file of an upload still in progress elsewhere, named by a hand-made field.
    const std::string other = Upload("theirs.txt", "not yours");
    Field("FILE1", other);
    ASSERT_EQ(SaveMessage(*run), 0);
    EXPECT_EQ(Entry(1).attachCount, 0);
    EXPECT_FALSE(Exists(add + "1/X1"));
    EXPECT_EQ(ReadFileBytes(work + "/CGI0"), "not yours");
}

TEST_F(PostTest, RefusedStoreDeletesItsUploads) {
    StartStore(alice, "BORDWRITE", 0, "");
    FileField("FILE1", Upload("a.txt", "a"));
    EXPECT_EQ(SaveMessage(*run), kPostNoTitle);
    StartStore(alice, "NOTAJOB", 0);
    FileField("FILE1", Upload("a.txt", "a"));
    EXPECT_EQ(SaveMessage(*run), kPostRefused);
    EXPECT_FALSE(TempsLeft());
    EXPECT_FALSE(Exists(add + "1"));
}

TEST_F(PostTest, EditingKeepsReplacesAndDropsAttachmentsByTheKeepBox) {
    StartStore(alice, "BORDWRITE", 0);
    FileField("FILE1", Upload("one.txt", "1"));
    FileField("FILE2", Upload("two.txt", "2"));
    FileField("FILE3", Upload("three.txt", "3"));
    ASSERT_EQ(SaveMessage(*run), 0);
    ASSERT_EQ(Entry(1).attachCount, 3);

    const std::string form = Form(alice, "EDITMSG", 1);
    EXPECT_NE(form.find(" No.2 two.txt<INPUT TYPE=\"checkbox\" NAME=\"ADD_FILE2\" VALUE=\"ON\" "
                        "checked >Keep<BR>\n No.2 <INPUT TYPE=\"FILE\" NAME=\"FILE2\"><BR>\n"),
              std::string::npos);

    StartStore(alice, "EDITMSG", 1, "Edited", "new text");
    Field("ADD_FILE1", "ON");
    FileField("FILE1", Upload("ignored.txt", "x"));  // box set: the new file is discarded
    FileField("FILE2", "");                          // box cleared, no file: slot dropped
    Field("ADD_FILE3", "");
    FileField("FILE3", Upload("four.txt", "4"));     // box cleared, new file: replaced
    ASSERT_EQ(SaveMessage(*run), 0);

    const MessageIndexEntry e = Entry(1);
    EXPECT_EQ(e.WRITE_TITLE, "Edited");
    EXPECT_EQ(e.attachCount, 2);
    EXPECT_EQ(Body(1), "new text");
    EXPECT_EQ(AttachmentName(1, 1), "one.txt");
    EXPECT_EQ(AttachmentName(1, 2), "-");
    EXPECT_EQ(AttachmentName(1, 3), "four.txt");
    EXPECT_EQ(ReadFileBytes(AttachedFile(1, 1, "one.txt")), "1");
    EXPECT_FALSE(Exists(AttachedFile(1, 1, "ignored.txt")));
    // The files no entry names any more are gone, with the slot directory left empty.
    EXPECT_FALSE(Exists(add + "1/X1/2"));
    EXPECT_FALSE(Exists(AttachedFile(1, 3, "three.txt")));
    EXPECT_EQ(ReadFileBytes(AttachedFile(1, 3, "four.txt")), "4");
    EXPECT_FALSE(TempsLeft());
}

TEST_F(PostTest, AfterAnEditOnlyTheEditorHasRead) {
    ASSERT_EQ(Store(alice, "BORDWRITE", 0), 0);
    ASSERT_EQ(Store(bob, "BORDWRITE", 1), 0);  // reply 2 in the thread
    ReadMark m;
    m.messageNo = 1;
    m.userId = "bob";
    SaveReadMark(data, 1, m);
    m.userId = "carol";
    SaveReadMark(data, 1, m);

    ASSERT_EQ(Store(alice, "EDITMSG", 1, "Changed"), 0);
    const std::vector<ReadMark> marks = ReadReadMarks(data, 1, 1);
    ASSERT_EQ(marks.size(), 1u);
    EXPECT_EQ(marks[0].userId, "alice");
    const MessageIndexEntry e = Entry(1);
    EXPECT_EQ(e.threadNo, 1);
    EXPECT_EQ(e.depth, 0);
    EXPECT_EQ(Entry(2).depth, 1);  // the thread is untouched
    EXPECT_EQ(CountMessages(data, 1), 2);
}

TEST_F(PostTest, EditIsRefusedToNonWritersSharedAccountsAndWhereTheFolderForbidsIt) {
    ASSERT_EQ(Store(alice, "BORDWRITE", 0, "Original", "original"), 0);
    auto refusedBoth = [&](const UserRecord& who, const char* why) {
        EXPECT_NE(Form(who, "EDITMSG", 1).find("You are not permitted"), std::string::npos) << why;
        EXPECT_EQ(out->text.find("original"), std::string::npos) << why;
        StartStore(who, "EDITMSG", 1, "Hijacked", "hijacked");
        FileField("FILE1", Upload("a.txt", "a"));
        EXPECT_EQ(SaveMessage(*run), kPostRefused) << why;
        EXPECT_EQ(Entry(1).WRITE_TITLE, "Original") << why;
        EXPECT_EQ(Body(1), "original") << why;
        EXPECT_FALSE(TempsLeft()) << why;
    };
    UserRecord boss = bob;
    boss.USER_LEVEL = 100;
    refusedBoth(boss, "not the writer");
    UserRecord shared = alice;
    shared.MODE = 2;
    refusedBoth(shared, "shared account");
    settings.REWRITE_FLG = 1;
    SaveFolderSettings(data, settings);
    refusedBoth(alice, "folder forbids editing");
    // A message that does not exist cannot be edited either.
    settings.REWRITE_FLG = 2;
    SaveFolderSettings(data, settings);
    EXPECT_EQ(Store(alice, "EDITMSG", 7), kPostRefused);
    EXPECT_EQ(CountMessages(data, 1), 1);

    const std::string form = Form(alice, "EDITMSG", 1);
    EXPECT_NE(form.find("<B>Talk &amp; &lt;News&gt; Edit</B>"), std::string::npos);
    EXPECT_NE(form.find("VALUE=\"Original\"></TD>"), std::string::npos);
    EXPECT_EQ(form.find("Re:^"), std::string::npos);
    EXPECT_NE(form.find(">original</TEXTAREA>"), std::string::npos);

    // A message deleted by a moderator (kept for its replies) stays deleted: its writer can
    // neither open it for editing nor store over it.
    MessageIndexEntry moderated = Entry(1);
    moderated.deleted = 1;
    ASSERT_EQ(RewriteMessage(data, moderated), 0);
    refusedBoth(alice, "deleted by a moderator");
    EXPECT_EQ(Entry(1).deleted, 1);
}

// Multipart requests through the entry: decoding, session check, dispatch, the store and the
// page that follows it.
TEST_F(PostTest, MultipartRequestThroughTheEntry) {
    ASSERT_EQ(AppendUser(data, alice), 0);
    setenv("HTTP_USER_AGENT", "post-test", 1);
    setenv("REMOTE_ADDR", "127.0.0.1", 1);
    SessionRecord session;
    session.key = 4242;
    session.USER_ID = "alice";
    ASSERT_EQ(SaveSession(data, session), 0);
    std::ofstream(root + "boardcgi.ini", std::ios::binary)
        << "LANGUAGE," << BOARD_SOURCE_DIR << "/lang/english.lng,\n"
        << "DATA_FILE_PATH," << data << ",\nADD_FILE_PATH," << add << ",\nLOG_DATE,30,\n";
    // A full first page, so that the new message is the only one on the last page.
    for (int i = 1; i <= 20; ++i) {
        MessageIndexEntry old;
        old.folderNo = 1;
        old.userId = "bob";
        old.WRITE_TITLE = "Older-" + std::to_string(i);
        ASSERT_EQ(AppendMessage(data, old, "bob"), 0);
    }

    const std::string picture("\x89PNG\r\n\x1a\n\0bin\0", 12);
    auto post = [&](const std::string& title, const std::string& fjob = "BORDWRITE",
                    const std::string& text = "text\r\nmore") {
        const std::string b = "XyZ";
        std::string body;
        auto part = [&](const std::string& name, const std::string& value) {
            body += "--" + b + "\r\nContent-Disposition: form-data; name=\"" + name +
                    "\"\r\n\r\n" + value + "\r\n";
        };
        part("SKEY", "4242");
        part("JOB", "BORDWRITEWR");
        part("FJOB", fjob);
        part("FOLDER_NO", "1");
        part("SEL_NO", "0");
        part("USER_DISP_DEF", "2");
        part("WRITE_TITLE", title);
        part("WRITE_DATA", text);
        body += "--" + b +
                "\r\nContent-Disposition: form-data; name=\"FILE2\"; filename=\"C:\\tmp\\pic.png\"\r\n"
                "Content-Type: image/png\r\n\r\n" + picture + "\r\n";
        body += "--" + b + "--\r\n";
        const std::string bodyFile = root + "body";
        WriteFileBytes(bodyFile, body);

        CgiInput in;
        in.method = "POST";
        in.contentType = "multipart/form-data; boundary=" + b;
        in.contentLength = std::to_string(body.size());
        in.hasContentLength = true;
        in.fd = open(bodyFile.c_str(), O_RDONLY);
        in.workDir = work;
        StringOutput response;
        RunRequest(root + "boardcgi.cgi", in, response);
        close(in.fd);
        return response.text;
    };

    // A refusal shows the result page and keeps nothing, the upload included.
    std::string page = post("");
    EXPECT_NE(page.find("Please enter a title."), std::string::npos);
    EXPECT_EQ(CountMessages(data, 1), 20);
    EXPECT_FALSE(Exists(work + "/CGI0"));
    // The other refusals: each its own text under the same title.
    MessageTable msg;
    LoadMessages(msg, BOARD_SOURCE_DIR "/lang/english.lng");
    const std::string title = "<FONT SIZE=\"5\"><B>" + msg(278) + "</B></FONT>\n";
    for (const auto& [fjob, text, msgNo] :
         {std::tuple<std::string, std::string, int>{"SOMETHING", "x", 3},
          {"BORDWRITE", std::string(4001, 'x'), 377}}) {
        page = post("Refused", fjob, text);
        EXPECT_NE(page.find(title), std::string::npos) << msgNo;
        EXPECT_NE(page.find("<FONT COLOR=\"RED\"><B>" + msg(msgNo) + "</B></FONT>\n"),
                  std::string::npos) << msgNo;
        EXPECT_EQ(CountMessages(data, 1), 20);
        EXPECT_FALSE(Exists(work + "/CGI0"));
    }

    page = post("Via CGI");
    const MessageIndexEntry e = Entry(21);
    EXPECT_EQ(e.WRITE_TITLE, "Via CGI");
    EXPECT_EQ(e.attachCount, 1);
    EXPECT_EQ(Body(21), "text\rmore");
    EXPECT_EQ(AttachmentName(21, 2), "pic.png");
    EXPECT_EQ(ReadFileBytes(AttachedFile(21, 2, "pic.png")), picture);
    EXPECT_NE(ReadFileBytes(data + "system.log").find(",alice,write,1,"), std::string::npos);
    EXPECT_FALSE(Exists(work + "/CGI0"));
    // The form sends no page number, so the list that follows is the folder's last page.
    EXPECT_NE(page.find("&SEL_NO=21&"), std::string::npos);
    EXPECT_EQ(page.find("Older-20"), std::string::npos);
    unsetenv("HTTP_USER_AGENT");
    unsetenv("REMOTE_ADDR");
}

}  // namespace
