#include "config/language.h"
#include "cgi/dbcs.h"
#include "tests/testutil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class LanguageTest : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string path = dir_ + name;
        WriteFileBytes(path, bytes);
        return path;
    }

    TempDir tmp_{"langtest"};
    const std::string dir_ = tmp_.path;
    MessageTable table_;
};

std::string SourcePath(const std::string& rel) { return std::string(BOARD_SOURCE_DIR) + "/" + rel; }

// Message numbers with their roles, as listed for reviewers.
std::map<int, std::string> ListedMessages() {
    std::map<int, std::string> out;
    std::istringstream in(ReadFileBytes(SourcePath("lang/messages.txt")));
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        int n = 0;
        std::string role;
        fields >> n >> role;
        out[n] = role;
    }
    return out;
}

// Every message number the program's code reads as msg(N).
std::set<int> MessagesUsedByCode() {
    std::set<int> out;
    const std::regex use(R"(msg\((\d+)\))");
    for (const char* dir : {"cgi", "config", "store", "app", "board", "chat", "admin"}) {
        fs::path root = SourcePath(dir);
        if (!fs::exists(root)) continue;
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            const auto ext = entry.path().extension();
            if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
            const std::string text = ReadFileBytes(entry.path());
            for (std::sregex_iterator it(text.begin(), text.end(), use), end; it != end; ++it)
                out.insert(std::stoi((*it)[1].str()));
        }
    }
    return out;
}

// Shift_JIS: ASCII, single-byte katakana, or a lead byte 81-9F/E0-FC followed by a trail byte
// 40-7E/80-FC. Control characters other than the line feed are refused.
bool IsValidShiftJis(const std::string& bytes, size_t* badAt) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        bool ok;
        if (c < 0x80) {
            ok = c >= 0x20 || c == '\n';
            ok = ok && c != 0x7F;
        } else if (c >= 0xA1 && c <= 0xDF) {
            ok = true;
        } else if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) {
            ok = i + 1 < bytes.size();
            if (ok) {
                const unsigned char t = static_cast<unsigned char>(bytes[++i]);
                ok = (t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFC);
            }
        } else {
            ok = false;
        }
        if (!ok) {
            *badAt = i;
            return false;
        }
    }
    return true;
}

// The single-byte characters of a text: a double-byte character's second byte may take any
// value, so only the characters themselves are checked.
std::string SingleByteCharacters(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (IsLeadByte(text[i])) {
            ++i;
            continue;
        }
        out += text[i];
    }
    return out;
}

}  // namespace

TEST_F(LanguageTest, LinesFillTheirSlots) {
    LoadMessages(table_, Write("a.lng",
                               "12,Folder list,\n"
                               "0,zero,\n"
                               "400,big,\n"
                               "-3,negative,\n"
                               "x,not a number,\n"
                               "7,a,b,\n"
                               "5,,later token,\n"
                               "6,\n"
                               "8,first,\n"
                               "8,second,\n"
                               "9,crlf,\r\n"
                               "10,no closing comma"));
    EXPECT_EQ(table_(12), "Folder list");
    EXPECT_EQ(table_(7), "a");
    EXPECT_EQ(table_(5), "later token");  // an empty text makes the next piece the text
    EXPECT_EQ(table_(6), "");
    EXPECT_EQ(table_(8), "second");
    EXPECT_EQ(table_(9), "crlf");
    EXPECT_EQ(table_(10), "no closing comma");
    EXPECT_EQ(table_(0), "");
    for (int n : {1, 2, 3, 4, 399}) EXPECT_EQ(table_(n), "") << n;
    // Out of range numbers read as the empty text.
    EXPECT_EQ(table_(-1), "");
    EXPECT_EQ(table_(400), "");
    EXPECT_EQ(table_(100000), "");
}

TEST_F(LanguageTest, LongTextIsCutTo99Bytes) {
    const std::string text(150, 'x');
    LoadMessages(table_, Write("a.lng", "399," + text + ",\n"));
    EXPECT_EQ(table_(399), text.substr(0, 99));
}

TEST_F(LanguageTest, ReloadReplacesEveryText) {
    LoadMessages(table_, Write("a.lng", "1,one,\n2,two,\n"));
    ASSERT_EQ(table_(1), "one");
    LoadMessages(table_, Write("b.lng", "2,zwei,\n3,drei,\n"));
    EXPECT_EQ(table_(1), "");
    EXPECT_EQ(table_(2), "zwei");
    EXPECT_EQ(table_(3), "drei");
    // A file that cannot be read leaves every text empty.
    LoadMessages(table_, dir_ + "missing.lng");
    for (int n = 0; n < MessageTable::kSlots; ++n) EXPECT_EQ(table_(n), "") << n;
}

TEST_F(LanguageTest, ShippedFilesCoverEveryMessageInUse) {
    const std::map<int, std::string> listed = ListedMessages();
    ASSERT_GT(listed.size(), 250u);
    static const std::set<std::string> kRoles = {"head",   "title",  "label",  "button", "alert",
                                                 "error",  "confirm", "option", "text"};
    for (const auto& [n, role] : listed) {
        EXPECT_TRUE(n >= 1 && n <= 399) << n;
        EXPECT_TRUE(kRoles.count(role)) << n << " " << role;
    }
    std::set<int> needed;
    for (const auto& entry : listed) needed.insert(entry.first);
    std::set<int> used = MessagesUsedByCode();
    for (int n : used) EXPECT_TRUE(listed.count(n)) << "message " << n << " used but not listed";
    needed.insert(used.begin(), used.end());

    for (const char* file : {"lang/japan.lng", "lang/english.lng"}) {
        SCOPED_TRACE(file);
        LoadMessages(table_, SourcePath(file));
        for (int n : needed) {
            const std::string& text = table_(n);
            EXPECT_FALSE(text.empty()) << "message " << n;
            EXPECT_LE(text.size(), 99u) << "message " << n;
        }
        // The charset of all stored data is declared in the page head, in both languages.
        EXPECT_EQ(table_(1),
                  "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=Shift_JIS\">");
        // Message 2 stands inside an HTML comment.
        EXPECT_EQ(table_(2).find("--"), std::string::npos);
        // The texts go into attribute values and JavaScript strings ('%s' and "%s") and are
        // handed to formatting calls as arguments: no quotes, percent signs or markup.
        for (int n = 2; n < MessageTable::kSlots; ++n) {
            EXPECT_EQ(SingleByteCharacters(table_(n)).find_first_of("\"'%<>&\\"),
                      std::string::npos)
                << "message " << n << ": " << table_(n);
        }

        // Each line holds exactly "N,text," with a listed number: no text contains a comma, so
        // nothing is cut off when the file is read.
        std::istringstream in(ReadFileBytes(SourcePath(file)));
        std::string line;
        std::set<int> seen;
        while (std::getline(in, line)) {
            const size_t first = line.find(',');
            ASSERT_NE(first, std::string::npos) << line;
            const int n = std::stoi(line.substr(0, first));
            EXPECT_TRUE(listed.count(n)) << "message " << n << " in the file but not listed";
            EXPECT_TRUE(seen.insert(n).second) << "message " << n << " twice";
            EXPECT_EQ(line.find(','), first);
            EXPECT_EQ(line.find(',', first + 1), line.size() - 1) << line;
        }
    }
}

TEST(ShippedLanguageFiles, Encodings) {
    const std::string english = ReadFileBytes(SourcePath("lang/english.lng"));
    ASSERT_FALSE(english.empty());
    for (size_t i = 0; i < english.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(english[i]);
        ASSERT_TRUE((c >= 0x20 && c < 0x7F) || c == '\n') << "byte " << i;
    }

    const std::string japan = ReadFileBytes(SourcePath("lang/japan.lng"));
    ASSERT_FALSE(japan.empty());
    size_t badAt = 0;
    EXPECT_TRUE(IsValidShiftJis(japan, &badAt)) << "invalid Shift_JIS at byte " << badAt;
    EXPECT_EQ(japan.find('\r'), std::string::npos);

    // The Japanese texts are Japanese: nearly every one holds double-byte characters.
    MessageTable table;
    LoadMessages(table, SourcePath("lang/japan.lng"));
    int filled = 0, doubleByte = 0;
    for (int n = 3; n < MessageTable::kSlots; ++n) {
        const std::string& text = table(n);
        if (text.empty()) continue;
        ++filled;
        for (unsigned char c : text) {
            if (c >= 0x81) {
                ++doubleByte;
                break;
            }
        }
    }
    EXPECT_GE(doubleByte * 100, filled * 95);
}
