// A temporary installation for the reading pages: data directory, attachment directory, the
// English messages, users, board folders and messages made through the store.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "app/jobs.h"
#include "app/run.h"
#include "cgi/files.h"
#include "store/bodies.h"
#include "store/folders.h"
#include "store/recordfile.h"
#include "store/messages.h"
#include "store/users.h"

namespace viewtest {

using Fields = std::vector<std::pair<std::string, std::string>>;

inline UserRecord MakeUser(const std::string& id, int level, int mode = 1) {
    UserRecord u;
    u.USER_ID = id;
    u.USER_NAME = id + "-name";
    u.USER_LEVEL = level;
    u.MODE = mode;
    u.WRITE_MODE = 1;
    u.USER_DISP_DEF = 1;
    return u;
}

class ViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/boardviewXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root = tmpl;
        data = root + "/data/";
        add = root + "/add/";
        ASSERT_EQ(mkdir(data.c_str(), 0700), 0);
        ASSERT_EQ(mkdir(add.c_str(), 0700), 0);
        sysop = MakeUser("sysop", 100);
        reader = MakeUser("reader", 1);
        AddUser(sysop);
        AddUser(reader);
    }
    void TearDown() override { RemoveDirectoryTree(root); }

    void AddUser(const UserRecord& u) { ASSERT_EQ(AppendUser(data, u), 0); }

    // A board with settings; read level 0 and write level 50 unless the settings say otherwise.
    void AddBoard(int folderNo, const std::string& name, FolderSettings fs = {}) {
        ASSERT_EQ(InsertFolderLine(data, {folderNo, kFolderBoard, name, 0}, 1000), 0);
        fs.folderNo = folderNo;
        if (fs.writeLevel == 0) fs.writeLevel = 50;
        ASSERT_EQ(SaveFolderSettings(data, fs), 0);
        ASSERT_EQ(EnsureFolderDir(data, folderNo), 0);
    }

    // A message (a reply when parent > 0); returns its number.
    int Post(int folder, int parent, const std::string& title, const std::string& writer = "sysop",
             const std::string& body = "", int htmlMode = 0) {
        MessageIndexEntry e;
        e.folderNo = folder;
        e.messageNo = parent;
        e.HTML_MODE = htmlMode;
        e.date = "2024/05/06 07:08";
        e.userId = writer;
        e.WRITE_TITLE = title;
        EXPECT_EQ(AppendMessage(data, e, writer), 0);
        EXPECT_EQ(WriteMessageBody(data, folder, e.messageNo, body), 0);
        return e.messageNo;
    }

    MessageIndexEntry Entry(int folder, int number) {
        MessageIndexEntry e;
        EXPECT_EQ(FindMessage(data, folder, number, kMessageByNumber, e), 0);
        return e;
    }

    void Configure(::Run& r, const UserRecord& caller, const Fields& fields) {
        r.settings.DATA_FILE_PATH = data;
        r.settings.ADD_FILE_PATH = add;
        r.settings.ADD_FILE_WEB_PATH = "/att/";
        r.settings.CG_FILE_WEB_PATH = "/cg/";
        r.settings.BACK_GIF = "back.gif";
        r.settings.DATETIME = datetime;
        r.settings.scriptName = "board.cgi";
        LoadMessages(r.msg, std::string(BOARD_SOURCE_DIR) + "/lang/english.lng");
        for (const auto& [name, value] : fields) r.fields.push_back({name, value, true});
        r.login.user = caller;
        r.login.SKEY = "4321";
        r.login.JOB = "ROOM";
    }

    // Runs a page as caller with the request fields; returns what it wrote.
    std::string Page(void (*page)(::Run&), const UserRecord& caller, const Fields& fields) {
        StringOutput out;
        ::Run r(out);
        Configure(r, caller, fields);
        page(r);
        return out.text;
    }

    // Runs a job through the dispatch table (a writing step and the page after it) as caller;
    // upload temporary files are looked for in root.
    std::string Job(const std::string& job, const UserRecord& caller, const Fields& fields) {
        StringOutput out;
        ::Run r(out);
        Configure(r, caller, fields);
        r.login.JOB = job;
        r.now = time(nullptr);
        r.workDir = root;
        DispatchJob(r);
        return out.text;
    }

    // A folder of any kind at the end of the tree, with its settings.
    void AddFolder(int folderNo, int kind, const std::string& name, int depth, int readLevel = 0,
                   int writeLevel = 50) {
        ASSERT_EQ(InsertFolderLine(data, {folderNo, kind, name, depth}, 1000), 0);
        FolderSettings fs;
        fs.folderNo = folderNo;
        fs.readLevel = readLevel;
        fs.writeLevel = writeLevel;
        ASSERT_EQ(SaveFolderSettings(data, fs), 0);
        if (kind == kFolderBoard) {
            ASSERT_EQ(EnsureFolderDir(data, folderNo), 0);
        }
    }

    // Message numbers of the DETAILS links of a page, in order.
    static std::vector<int> DetailLinks(const std::string& page) {
        std::vector<int> numbers;
        std::regex re("JOB=DETAILS&FOLDER_NO=\\d+&SEL_NO=(\\d+)&");
        for (auto it = std::sregex_iterator(page.begin(), page.end(), re);
             it != std::sregex_iterator(); ++it)
            numbers.push_back(std::stoi((*it)[1]));
        return numbers;
    }

    static int Count(const std::string& text, const std::string& what) {
        int n = 0;
        for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
        return n;
    }

    std::string root, data, add;
    int datetime = 1;
    UserRecord sysop, reader;
};

}  // namespace viewtest
