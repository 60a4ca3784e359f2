// Taking the folder tree and the access log out, and putting the tree back, through the program.
#include <filesystem>

#include "tests/admin/folder_fixture.h"

namespace {

using ExportTest = AdminSite;

TEST_F(ExportTest, DownloadsSendTheBytesUnchangedAndOnlyToTheOperator) {
    const std::string tree = "A,1,Dir,\r\n B,2,Board,\r\n" + std::string(1500, 'x') + "\r\nC,3,Chat,";
    WriteFileBytes(inst.dataDir + "b_title.mst", tree);
    WriteFileBytes(inst.dataDir + "system.log", "2024/01/01 10:00,admin,login,0,1.2.3.4,<b>\r\n");
    const std::string member = LoginUser("member", 99);
    for (const auto& [job, file] : {std::pair{"FOLDER_DOWNLOAD", "b_title.mst"},
                                    std::pair{"AccessLogDOWNLOAD", "system.log"}}) {
        EXPECT_EQ(Job(job), std::string("Content-Type: application/octet-stream\n"
                                        "Content-Disposition: attachment; filename=") +
                                file + "\n\n" + inst.ReadData(file));
        EXPECT_EQ(Job(job, "", member), kNoContent);
    }
}

TEST_F(ExportTest, OnlyTheTreeFileIsTakenBackAndTheListStaysAsItWas) {
    inst.WriteFolders({"Dir,1,Dir,", " Board,2,Board,", "Chat,3,Chat,"});
    const std::string list = Job("FOLDERLIST");
    const std::string download = Job("FOLDER_DOWNLOAD");
    const std::string bytes = download.substr(download.find("\n\n") + 2);
    ASSERT_EQ(bytes, inst.ReadData("b_title.mst"));

    WriteFileBytes(inst.dataDir + "b_title.mst", "Other,9,Board,\r\n");
    EXPECT_EQ(Multipart("FOLDER_UPLOAD", {{"@FILE1", "C:\\work\\B_Title.MST|" + bytes}}), list);
    EXPECT_EQ(inst.ReadData("b_title.mst"), bytes);
    EXPECT_FALSE(UploadsLeft());

    const std::string member = LoginUser("member", 99);
    for (const auto& [name, as] : {std::pair<std::string, std::string>{"notes.txt", ""},
                                   {"b_title2.mst", ""}, {"b_title.mst.txt", ""},
                                   {"b_title.mst", member}}) {
        SCOPED_TRACE(name);
        const std::string page = Multipart("FOLDER_UPLOAD", {{"@FILE1", name + "|junk"}}, as);
        EXPECT_TRUE(Has(page, as.empty() ? Refused(386) : inst.msg(3) + "\n<FORM>\n"));
        EXPECT_EQ(inst.ReadData("b_title.mst"), bytes);
        EXPECT_FALSE(std::filesystem::exists(inst.dataDir + name) && name != "b_title.mst" &&
                     name != "b_title2.mst");
        EXPECT_NE(inst.ReadData("b_title2.mst"), "junk");
        EXPECT_FALSE(UploadsLeft());
    }
}

}  // namespace
