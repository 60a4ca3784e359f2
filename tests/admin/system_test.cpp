// The system settings page and its save: the form as the settings stand, the settings file
// written back, the pictures, and values the file cannot hold.
#include "tests/admin/admin_fixture.h"

#include <filesystem>

namespace admintest {
namespace {

// Every setting of the form, as the page sends it back.
Fields SettingsForm(const Installation& inst) {
    return {{"LANGUAGE", "english.lng"},   {"CG_FILE_PATH", inst.webDir},
            {"CG_FILE_WEB_PATH", "/web/"}, {"DATA_FILE_PATH", inst.dataDir},
            {"ADD_FILE_PATH", inst.webDir}, {"ADD_FILE_WEB_PATH", "/files/"},
            {"LOGIN_GIF", "login.gif"},    {"BACK_GIF", "back.gif"},
            {"LOG_DATE", "30"},            {"DATETIME", "2"},
            {"IECOLS", "81"},              {"NSCOLS", "61"},
            {"ROWS", "9"},                 {"MYDATA", "1"},
            {"MAX_CONTENTS", "5000"},      {"LOGOFF_URL", ""},
            {"FRAME_DIVIDE", "25"}};
}

Fields With(Fields f, const std::string& name, const std::string& value) {
    for (auto& [n, v] : f)
        if (n == name) v = value;
    return f;
}

TEST_F(AdminTest, SettingsPageShowsTheSelectsInTheOrderOfTheCurrentValues) {
    inst.Set("DATETIME", "2");
    inst.Set("MYDATA", "1");
    inst.Set("LOGIN_GIF", "a\"b<c>.gif");
    std::string page = AsOperator("SYSTEM");
    EXPECT_TRUE(Has(page, "<SELECT NAME=\"DATETIME\" >\n<OPTION VALUE=\"2\">" + inst.msg(10) +
                              "\n<OPTION VALUE=\"1\">" + inst.msg(9) + "\n</SELECT>\n</TD>\n"));
    EXPECT_TRUE(Has(page, "<SELECT NAME=\"MYDATA\" >\n<OPTION VALUE=\"1\">" + inst.msg(369) +
                              "\n<OPTION VALUE=\"0\">" + inst.msg(368) + "\n</SELECT>\n"));
    EXPECT_TRUE(Has(page, "<INPUT TYPE=\"text\" NAME=\"LOGIN_GIF\" VALUE=\"a&quot;b&lt;c&gt;.gif\" "
                          "SIZE=\"40\"><BR>\n" + inst.msg(7) +
                          "<INPUT TYPE=\"FILE\" NAME=\"FILE1\">\n</TD>\n"));
    EXPECT_TRUE(Has(page, "NAME=\"LOGOFF_URL\" VALUE=\"\" SIZE=\"40\" MAXLENGTH=\"1000\">"));
    EXPECT_TRUE(Has(page, "NAME=\"FRAME_DIVIDE\" VALUE=\"20\" SIZE=\"5\" MAXLENGTH=\"2\">%</TD>\n"));

    // A value with no option of its own gives an empty select, and saving the form then
    // stores 0.
    inst.Set("DATETIME", "5");
    page = AsOperator("SYSTEM");
    EXPECT_TRUE(Has(page, "<SELECT NAME=\"DATETIME\" >\n</SELECT>\n"));
    Fields form = SettingsForm(inst);
    std::erase_if(form, [](const auto& f) { return f.first == "DATETIME"; });
    AsOperator("SYSTEMUPDATE", form);
    EXPECT_TRUE(Has(Ini(), "\nDATETIME,0,\n"));
}

TEST_F(AdminTest, SavedSettingsAreWrittenInOrderAndReadBackInTheNewLanguage) {
    std::filesystem::copy_file(BOARD_SOURCE_DIR "/lang/japan.lng", inst.cgiDir + "japan.lng");
    MessageTable japan;
    LoadMessages(japan, inst.cgiDir + "japan.lng");
    const std::string page = AsOperator("SYSTEMUPDATE", With(SettingsForm(inst), "LANGUAGE", "japan.lng"));
    EXPECT_EQ("LANGUAGE,japan.lng,\nCG_FILE_PATH," + inst.webDir + ",\nCG_FILE_WEB_PATH,/web/,\n"
              "DATA_FILE_PATH," + inst.dataDir + ",\nADD_FILE_PATH," + inst.webDir +
              ",\nADD_FILE_WEB_PATH,/files/,\nLOGIN_GIF,login.gif,\nBACK_GIF,back.gif,\n"
              "LOG_DATE,30,\nDATETIME,2,\nIECOLS,81,\nNSCOLS,61,\nROWS,9,\nMYDATA,1,\n"
              "MAX_CONTENTS,5000,\nFRAME_DIVIDE,25,\n",
              Ini());
    // The page that follows shows the values read back, in the new language.
    EXPECT_TRUE(Has(page, "<FONT SIZE=\"5\"><B>" + japan(108) + "</B></FONT>\n"));
    EXPECT_TRUE(Has(page, "NAME=\"IECOLS\" VALUE=\"81\""));
    EXPECT_TRUE(Has(page, "<SELECT NAME=\"DATETIME\" >\n<OPTION VALUE=\"2\">"));

    AsOperator("SYSTEMUPDATE", With(SettingsForm(inst), "LOGOFF_URL", "http://example.invalid/"));
    EXPECT_TRUE(Has(Ini(), "MAX_CONTENTS,5000,\nLOGOFF_URL,http://example.invalid/,\nFRAME_DIVIDE,25,\n"));
}

TEST_F(AdminTest, ValuesTheSettingsFileCannotHoldRefuseTheWholeSave) {
    const std::string before = Ini();
    for (const auto& [name, value] :
         {std::pair<std::string, std::string>{"DATA_FILE_PATH", "/tmp/a,b/"},
          {"LOGOFF_URL", "http://x/\r\nLANGUAGE,evil.lng"},
          {"LOG_DATE", "3\n0"},
          {"ROWS", "8,9"}}) {
        const std::string page = AsOperator("SYSTEMUPDATE", With(SettingsForm(inst), name, value));
        EXPECT_TRUE(Has(page, ResultOf(108, 362))) << name;
        EXPECT_EQ(before, Ini()) << name;
    }
}

TEST_F(AdminTest, UploadedPicturesReplaceTheSettingOnlyUnderAPictureName) {
    std::ofstream(inst.webDir + "back.gif") << "old background";
    const std::string page = AsOperator(
        "SYSTEMUPDATE", SettingsForm(inst),
        {{"FILE1", "C:\\pics\\title.jpg", "JPEGDATA"}, {"FILE2", "page.html", "<script>"}});
    // The login picture lands under its own name and the setting follows it, whatever the
    // text field said.
    EXPECT_EQ("JPEGDATA", inst.ReadData("../www/title.jpg"));
    EXPECT_TRUE(Has(Ini(), "\nLOGIN_GIF,title.jpg,\n"));
    // The refused background is not placed, the stored name stays, and the page says so.
    EXPECT_FALSE(std::filesystem::exists(inst.webDir + "page.html"));
    EXPECT_TRUE(Has(Ini(), "\nBACK_GIF,back.gif,\n"));
    EXPECT_EQ("old background", inst.ReadData("../www/back.gif"));
    EXPECT_TRUE(Has(page, "<FONT COLOR=\"RED\"><B>" + inst.msg(380) + "</B></FONT>"));
    for (const auto& entry : std::filesystem::directory_iterator(inst.cgiDir))
        EXPECT_NE(0u, entry.path().filename().string().rfind("CGI", 0)) << entry.path();
}

}  // namespace
}  // namespace admintest
