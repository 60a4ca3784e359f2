// The earlier version's nine tables for the converter's tests, filled with a small sample
// (Japanese names, titles and bodies; rows out of order; odd values), written as Jet 3 or Jet 4
// files by the test writer; and helpers to run commands and read CSV.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/convert/jetwriter.h"

inline JetTable* FindTable(std::vector<JetTable>& tables, const std::string& name) {
    for (JetTable& t : tables)
        if (t.name == name) return &t;
    return nullptr;
}

// The sample. Its converted files are spelled out in the tests.
inline std::vector<JetTable> SampleTables() {
    using T = JetType;
    const JetValue null = std::nullopt;
    std::vector<JetTable> t;
    t.push_back({"MST_USER",
                 {{"T01_USER_ID", T::Text, 20},
                  {"T01_USER_NAME", T::Text, 80},
                  {"T01_USER_LEVEL", T::Int},
                  {"T01_USER_E_MAIL_ADDR", T::Text, 250},
                  {"T01_USER_PASS", T::Text, 20},
                  {"T01_USER_PGROUP", T::Long},
                  {"T01_USER_DISP_DEF", T::Byte}},
                 {{"taro", Sjis("山田太郎"), "100", "taro@example.jp", "pw1", "2", "0"},
                  {"hanako", Sjis("花子"), "10", null, "pw2", "0", "1"},
                  {"jiro", "Jiro Suzuki  ", "5", "j@example.jp", "pw3", "1", "2"},
                  {"saburo", "Saburo,S", "1", "s@example.jp", "pw4", "0", "5"}}});
    t.push_back({"BORD_TITLE",
                 {{"T_F_SEL_NO", T::Long},
                  {"T_F_DISP_NO", T::Long},
                  {"T_F_CLASS", T::Int},
                  {"T_F_NAME", T::Text, 80},
                  {"T_F_FLG", T::Byte},
                  {"T_F_ADD_MAX", T::Int},
                  {"T_READ_LEVEL", T::Int},
                  {"T_WRITE_LEVEL", T::Int},
                  {"T_F_TITLEGIF", T::Text, 255},
                  {"T_F_BACKGIF", T::Text, 255},
                  {"T_F_INFO", T::Memo},
                  {"T_F_DEFO", T::Memo}},
                 {{"2", "2", "2", Sjis("掲示板"), "0", "3", "0", "1", "title.gif", "back.gif",
                   Sjis("お知らせ<BR>です"), "default text"},
                  {"1", "1", "1", "Top", "1", "0", "0", "0", null, null, null, null},
                  {"4", "3", "1", "Odd", "7", "1", "0", "0", std::string(255, 'p'), "b.gif",
                   std::string(5000, 'i'), Sjis("既定")},
                  {"3", "3", "3", "Deep", "0", "1", "5", "5", "", "", "", ""}}});
    t.push_back({"GROUP_USER",
                 {{"T03_GROUP_ID", T::Long}, {"T03_USER_ID", T::Text, 20}},
                 {{"2", "Taro"}, {"1", "jiro"}, {"2", "hanako"}}});
    t.push_back({"MST_GROUP",
                 {{"T02_GROUP_ID", T::Long}, {"T02_GROUP_NAME", T::Text, 80}},
                 {{"2", Sjis("営業")}, {"1", "Staff"}}});
    t.push_back({"BORD_GROUP_ACL",
                 {{"GA_FOLDER_NO", T::Long}, {"GA_GROUP_ID", T::Long}, {"GA_LEVEL", T::Int}},
                 {{"2", "2", "2"}, {"2", "1", "1"}, {"1", "2", "3"}}});
    t.push_back({"BORD_USER_ACL",
                 {{"UA_FOLDER_NO", T::Long}, {"UA_USER_ID", T::Text, 20}, {"UA_LEVEL", T::Int}},
                 {{"2", "taro", "3"}, {"2", "hanako", "1"}}});
    t.push_back({"BORD_DATA",
                 {{"D_FOLDER_NO", T::Long},
                  {"D_F_SEL_NO", T::Long},
                  {"D_F_DISP_NO", T::Double},
                  {"D_F_BBS_G_NO", T::Long},
                  {"D_F_CLASS", T::Int},
                  {"D_WRITE_PRIORITY", T::Single},
                  {"D_WRITE_DATE", T::DateTime},
                  {"D_WRITER_ID", T::Text, 30},
                  {"D_WRITE_TITLE", T::Text, 100},
                  {"D_WRITE_DATA", T::Memo},
                  {"D_ADD_FILE", T::Int},
                  {"D_DEL_FLG", T::Bool},
                  {"D_CHK_MODE", T::Bool}},
                 {{"2", "2", "2", "1", "1", "0", "36526.5", "hanako", Sjis("返信です"), "a<BR>b",
                   "0", "0", "0"},
                  {"4", "1", "1", "1", "0", "0", "36526.5", "averyveryverylongwriterid",
                   std::string(100, 't'), std::string(3000, 'x') + "<BR>", "0", "1", "0"},
                  {"2", "1", "1", "1", "0", "1.9", "36526.5", "taro", Sjis("最初の投稿"),
                   Sjis("本文<BR>二行目<<BR>"), "2", "0", "1"},
                  {"2", "3", "1.5", "3", "0", "2", null, "jiro", "Third", null, "1", "0",
                   "0"}}});
    t.push_back({"BORD_ADD_FILE",
                 {{"AF_FOLDER_NO", T::Long},
                  {"AF_F_SEL_NO", T::Long},
                  {"AF_F_SUB_NO", T::Int},
                  {"AF_FILE_NAME", T::Text, 250}},
                 {{"2", "1", "2", "b.txt"},
                  {"2", "1", "1", Sjis("資料.doc")},
                  {"4", "1", "1", "stray.txt"},
                  {"2", "9", "1", "orphan.txt"}}});
    t.push_back({"BORD_READ_POINT",
                 {{"R_FOLDER_NO", T::Long}, {"R_F_SEL_NO", T::Long}, {"R_USER_ID", T::Text, 20}},
                 {{"2", "1", "taro"},
                  {"2", "1", "hanako"},
                  {"2", "2", "taro"},
                  {"3", "1", "taro"},
                  {"4", "1", "jiro"}}});
    return t;
}

inline std::string WriteDatabase(const std::string& path, const std::vector<JetTable>& tables,
                                 int version) {
    std::string error;
    JetOptions options;
    options.version = version;
    EXPECT_TRUE(WriteJetFile(path, tables, options, error)) << error;
    return path;
}

// Standard output of a shell command, and its exit status.
inline std::string RunCommand(const std::string& command, int* status = nullptr) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        const int rc = pclose(p);
        if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }
    return out;
}

// CSV as mdb-export and v2convert --dump write it: fields separated by commas, quoted fields
// with doubled quotes (and line ends inside), records ended by LF.
inline std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row.push_back(field);
            field.clear();
        } else if (c == '\n') {
            row.push_back(field);
            rows.push_back(row);
            row.clear();
            field.clear();
        } else {
            field += c;
        }
    }
    if (!field.empty() || !row.empty()) {
        row.push_back(field);
        rows.push_back(row);
    }
    return rows;
}
