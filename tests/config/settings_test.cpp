#include "config/settings.h"
#include "tests/testutil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void WriteIni(const std::string& bytes) { WriteFileBytes(file_, bytes); }
    std::string ReadIni() { return ReadFileBytes(file_); }
    SystemSettings Load() {
        SystemSettings s;
        LoadSettings(s, messages_, file_);
        return s;
    }

    TempDir tmp_{"settingstest"};
    const std::string dir_ = tmp_.path;
    const std::string file_ = dir_ + "board.ini";
    MessageTable messages_;
};

const char kNewFile[] =
    "LANGUAGE,japan.lng,\n"
    "CG_FILE_PATH,/srv/board/www/,\n"
    "CG_FILE_WEB_PATH,http://localhost/Vorbix/,\n"
    "DATA_FILE_PATH,/srv/board/data/,\n"
    "ADD_FILE_PATH,/srv/board/www/,\n"
    "ADD_FILE_WEB_PATH,http://localhost/Vorbix/,\n"
    "LOGIN_GIF,title.jpg,\n"
    "BACK_GIF,back.gif,\n"
    "LOG_DATE,365,\n"
    "DATETIME,1,\n"
    "IECOLS,80,\n"
    "NSCOLS,60,\n"
    "ROWS,8,\n"
    "MYDATA,0,\n"
    "MAX_CONTENTS,4000,\n"
    "FRAME_DIVIDE,20,\n";

// Runs with another working directory and returns to the old one.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::string& dir) : old_(fs::current_path()) {
        fs::current_path(dir);
    }
    ~WorkingDirectory() { fs::current_path(old_); }

private:
    fs::path old_;
};

}  // namespace

TEST_F(SettingsTest, MissingKeysKeepTheirDefaults) {
    WriteIni("FRAME_DIVIDE,30,\n");
    SystemSettings s;
    s.settingsFile = file_;
    s.scriptName = "board.cgi";
    LoadSettings(s, messages_, file_);
    SystemSettings expected;
    expected.FRAME_DIVIDE = 30;
    expected.settingsFile = file_;
    expected.scriptName = "board.cgi";
    EXPECT_EQ(s, expected);
    EXPECT_EQ(s.LANGUAGE, "japan.lng");
    EXPECT_EQ(s.DATA_FILE_PATH, "");
    // Nothing was written over the existing file.
    EXPECT_EQ(ReadIni(), "FRAME_DIVIDE,30,\n");
}

TEST_F(SettingsTest, LineParsing) {
    WriteIni("DATA_FILE_PATH,D:\\data\\,extra,\n"
             "ROWS,abc,\n"
             "rows,20,\n"
             "IECOLS,,\n"
             "NSCOLS\n"
             "LOGOFF_URL,,\n"
             "UNKNOWN,1,\n"
             "MYDATA,1,\n"
             "MYDATA,2,\n"
             "BACK_GIF,crlf.gif,\r\n"
             "LOGIN_GIF,nocomma.jpg\r\n"
             ",,MAX_CONTENTS,,500,\n"
             "DATETIME, 2,\n");
    SystemSettings s = Load();
    EXPECT_EQ(s.DATA_FILE_PATH, "D:\\data\\");
    EXPECT_EQ(s.ROWS, 0);
    EXPECT_EQ(s.IECOLS, 80);  // a key without a value keeps the default
    EXPECT_EQ(s.NSCOLS, 60);
    EXPECT_EQ(s.LOGOFF_URL, "");
    EXPECT_EQ(s.MYDATA, 2);  // the last line of a key wins
    EXPECT_EQ(s.BACK_GIF, "crlf.gif");
    EXPECT_EQ(s.LOGIN_GIF, "nocomma.jpg");
    EXPECT_EQ(s.MAX_CONTENTS, 500);  // empty pieces are skipped
    EXPECT_EQ(s.DATETIME, 2);
}

TEST_F(SettingsTest, OverlongValuesAreCutToTheirSlots) {
    const std::string picture(300, 'p');
    const std::string path(980, 'd');  // the line still fits 999 bytes
    WriteIni("LOGIN_GIF," + picture + ",\n" +
             "BACK_GIF," + picture + ",\n" +
             "LOG_DATE,12345678901234,\n" +
             "CG_FILE_PATH," + path + ",\n" +
             // A line longer than 999 bytes arrives in pieces; its value is the first piece's.
             "ADD_FILE_PATH," + std::string(1500, 'a') + ",\n" +
             "ROWS,9,\n");
    SystemSettings s = Load();
    EXPECT_EQ(s.LOGIN_GIF, picture.substr(0, 251));
    EXPECT_EQ(s.BACK_GIF, picture.substr(0, 251));
    EXPECT_EQ(s.LOG_DATE, "123456789");
    EXPECT_EQ(s.CG_FILE_PATH, path);
    EXPECT_EQ(s.ADD_FILE_PATH, std::string(999 - 14, 'a'));
    EXPECT_EQ(s.ROWS, 9);
}

TEST_F(SettingsTest, SaveWritesEveryKeyInOrder) {
    SystemSettings s;
    s.LANGUAGE = "english.lng";
    s.CG_FILE_PATH = "/w/";
    s.CG_FILE_WEB_PATH = "http://h/w/";
    s.DATA_FILE_PATH = "/d/";
    s.ADD_FILE_PATH = "/a/";
    s.ADD_FILE_WEB_PATH = "http://h/a/";
    s.LOGIN_GIF = "t.jpg";
    s.BACK_GIF = "b.gif";
    s.LOG_DATE = "30";
    s.DATETIME = 2;
    s.IECOLS = 81;
    s.NSCOLS = 61;
    s.ROWS = 9;
    s.MYDATA = 1;
    s.MAX_CONTENTS = -5;
    s.FRAME_DIVIDE = 25;
    WriteIni("OLD,content,\nLOGOFF_URL,http://old/,\n");
    ASSERT_EQ(SaveSettings(s, file_), 0);
    const std::string body =
        "LANGUAGE,english.lng,\nCG_FILE_PATH,/w/,\nCG_FILE_WEB_PATH,http://h/w/,\n"
        "DATA_FILE_PATH,/d/,\nADD_FILE_PATH,/a/,\nADD_FILE_WEB_PATH,http://h/a/,\n"
        "LOGIN_GIF,t.jpg,\nBACK_GIF,b.gif,\nLOG_DATE,30,\nDATETIME,2,\nIECOLS,81,\n"
        "NSCOLS,61,\nROWS,9,\nMYDATA,1,\nMAX_CONTENTS,-5,\n";
    EXPECT_EQ(ReadIni(), body + "FRAME_DIVIDE,25,\n");

    s.LOGOFF_URL = "http://example.invalid/bye.html";
    ASSERT_EQ(SaveSettings(s, file_), 0);
    EXPECT_EQ(ReadIni(), body + "LOGOFF_URL,http://example.invalid/bye.html,\nFRAME_DIVIDE,25,\n");

    // What was saved reads back unchanged, and no work file is left beside it.
    EXPECT_EQ(Load(), s);
    int files = 0;
    for (const auto& entry : fs::directory_iterator(dir_)) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST_F(SettingsTest, SaveKeepsEveryValueOnItsOwnLine) {
    SystemSettings s;
    s.BACK_GIF = "b.gif\nDATA_FILE_PATH,/etc/,";
    s.LOG_DATE = "12345678901234";
    ASSERT_EQ(SaveSettings(s, file_), 0);
    SystemSettings back = Load();
    EXPECT_EQ(back.BACK_GIF, "b.gif");
    EXPECT_EQ(back.DATA_FILE_PATH, "");
    EXPECT_EQ(back.LOG_DATE, "123456789");
}

TEST_F(SettingsTest, SaveFailureLeavesNoFile) {
    SystemSettings s;
    EXPECT_EQ(SaveSettings(s, dir_ + "missing/board.ini"), -1);
    EXPECT_FALSE(fs::exists(dir_ + "missing"));
}

TEST_F(SettingsTest, MissingFileIsCreatedAndUsed) {
    // The first run creates the file and loads the language it names from the working
    // directory; the next run reads the same values back.
    fs::copy_file(std::string(BOARD_SOURCE_DIR) + "/lang/japan.lng", dir_ + "japan.lng");
    WorkingDirectory cwd(dir_);
    SystemSettings first;
    LoadSettings(first, messages_, file_);
    EXPECT_EQ(ReadIni(), kNewFile);
    EXPECT_EQ(first.LANGUAGE, "japan.lng");
    EXPECT_EQ(first.CG_FILE_PATH, "/srv/board/www/");
    EXPECT_EQ(first.CG_FILE_WEB_PATH, "http://localhost/Vorbix/");
    EXPECT_EQ(first.DATA_FILE_PATH, "/srv/board/data/");
    EXPECT_EQ(first.ADD_FILE_PATH, "/srv/board/www/");
    EXPECT_EQ(first.ADD_FILE_WEB_PATH, "http://localhost/Vorbix/");
    EXPECT_EQ(first.LOGIN_GIF, "title.jpg");
    EXPECT_EQ(first.BACK_GIF, "back.gif");
    EXPECT_EQ(first.LOG_DATE, "365");
    EXPECT_EQ(first.LOGOFF_URL, "");
    EXPECT_FALSE(messages_(3).empty());

    const std::string firstMessage = messages_(3);
    MessageTable again;
    SystemSettings second;
    LoadSettings(second, again, file_);
    EXPECT_EQ(second, first);
    EXPECT_EQ(again(3), firstMessage);
}

TEST_F(SettingsTest, UnwritableFileStillGivesNewInstallationValues) {
    SystemSettings s;
    LoadSettings(s, messages_, dir_ + "missing/board.ini");
    EXPECT_EQ(s.DATA_FILE_PATH, "/srv/board/data/");
    EXPECT_EQ(s.LOG_DATE, "365");
    EXPECT_FALSE(fs::exists(dir_ + "missing"));
}

TEST_F(SettingsTest, LanguageSettingLoadsItsMessages) {
    const std::string lng = dir_ + "mine.lng";
    WriteFileBytes(lng, "101,Enter,\n");
    WriteIni("LANGUAGE," + lng + ",\n");
    messages_.text[5] = "stale";
    SystemSettings s = Load();
    EXPECT_EQ(s.LANGUAGE, lng);
    EXPECT_EQ(messages_(101), "Enter");
    EXPECT_EQ(messages_(5), "");
}

TEST_F(SettingsTest, RequestLimitsAreWrittenOnlyWhenNotTheDefault) {
    WriteIni("MAX_REQUEST_SIZE,2000000,\nMAX_UPLOAD_FILES,8,\n");
    SystemSettings s = Load();
    EXPECT_EQ(s.MAX_REQUEST_SIZE, 2000000);
    EXPECT_EQ(s.MAX_UPLOAD_FILES, 8);
    ASSERT_EQ(SaveSettings(s, file_), 0);
    const std::string saved = ReadIni();
    EXPECT_NE(saved.find("FRAME_DIVIDE,20,\nMAX_REQUEST_SIZE,2000000,\nMAX_UPLOAD_FILES,8,\n"),
              std::string::npos);
    EXPECT_EQ(Load(), s);
    // With the defaults the file holds exactly the keys it always held.
    SystemSettings defaults;
    EXPECT_EQ(defaults.MAX_REQUEST_SIZE, 100 << 20);
    EXPECT_EQ(defaults.MAX_UPLOAD_FILES, 64);
    ASSERT_EQ(SaveSettings(defaults, file_), 0);
    EXPECT_EQ(ReadIni().find("MAX_REQUEST_SIZE"), std::string::npos);
    EXPECT_EQ(ReadIni().find("MAX_UPLOAD_FILES"), std::string::npos);
}
