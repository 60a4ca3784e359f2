// The folder tree: b_title.mst, one text line per folder in display order (leading blanks give
// the depth), and b_title2.mst, one 8800-byte settings record per folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Folder kinds.
inline constexpr int kFolderUnknown = 0;  // kind word not recognised
inline constexpr int kFolderDir = 1;
inline constexpr int kFolderBoard = 2;
inline constexpr int kFolderChat = 3;

// Ways of FindFolder.
inline constexpr int kFolderByNumber = 1;    // the first line of that folder number
inline constexpr int kFolderByPosition = 2;  // the n-th well-formed line, 1-based

inline constexpr size_t kFolderNameSize = 84;

// One line of b_title.mst: blanks, name, ",", number, ",", kind word, ",".
struct FolderRecord {
    int32_t folderNo = 0;
    int32_t kind = kFolderUnknown;
    std::string name;         // char[84]
    int32_t indentation = 0;  // number of leading blanks = depth - 1
};

inline constexpr size_t kFolderSettingsSize = 8800;

// One record of b_title2.mst (offsets in the comments).
struct FolderSettings {
    int32_t folderNo = 0;      // 0
    int32_t ADD_MAX = 0;       // 4: attachments per message
    int32_t readLevel = 0;     // 8
    int32_t writeLevel = 0;    // 12
    int32_t READ_CHK = 0;      // 16
    int32_t REWRITE_FLG = 0;   // 20: 2 lets writers edit their own messages
    std::string TITLEPIC;      // 24, 252 bytes
    std::string BACKPIC;       // 276, 252 bytes
    std::string DIRPIC;        // 528, 252 bytes
    std::string INFO;          // 780, 4002 bytes
    std::string DEFO;          // 4782, 4002 bytes
    std::string FONTCOLOR;     // 8784, 8 bytes
    std::string RESFONTCOLOR;  // 8792, 8 bytes
};

std::string PackFolderSettings(const FolderSettings& settings);
FolderSettings UnpackFolderSettings(std::string_view record);

// Parses one b_title.mst line (without its line end). false when it lacks three commas.
bool ParseFolderLine(std::string_view line, FolderRecord& out);
// The stored line of a record, line end included. A kind other than 1, 2, 3 is written with an
// empty kind field (read back as kind 0); the name is cut to its slot and at a comma or line
// break, which the format cannot hold.
std::string FormatFolderLine(const FolderRecord& record);

// Every well-formed line of b_title.mst in display order, from one read (empty when the file
// is missing). Element i is what FindFolder(i + 1, kFolderByPosition) finds.
std::vector<FolderRecord> ReadFolderTree(const std::string& dataDir);

// how kFolderByNumber: the first well-formed line of folder n; how kFolderByPosition: the n-th
// well-formed line (1-based). 0, or -1 when there is none or b_title.mst is missing.
int FindFolder(const std::string& dataDir, int n, int how, FolderRecord& out);

// Inserts the record's line directly after the p-th line of the file (every line counts), or at
// the end when the file has fewer lines. b_title.mst is created when missing. 0, or -1 when p
// is less than 1 or the file cannot be written.
int InsertFolderLine(const std::string& dataDir, const FolderRecord& record, int p);

// Drops the p-th line of the file (every line counts). 0, or -1 when there is no such line.
int DeleteFolderLine(const std::string& dataDir, int p);

// Replaces every well-formed line of the record's folder number by the record's line; lines
// without three commas are dropped. 0 when a line was replaced, else -1.
int RewriteFolderLine(const std::string& dataDir, const FolderRecord& record);

// Every complete record of b_title2.mst in file order, from one read (the file is created
// empty when missing).
std::vector<FolderSettings> ReadAllFolderSettings(const std::string& dataDir);
// The first record of folderNo in a list read by ReadAllFolderSettings, or nullptr.
const FolderSettings* FindSettingsIn(const std::vector<FolderSettings>& all, int folderNo);

// The first settings record of the folder. 0, or -1 when there is none.
int FindFolderSettings(const std::string& dataDir, int folderNo, FolderSettings& out);

// Appends the record after the last complete record. 0 when all 8800 bytes were written.
int AppendFolderSettings(const std::string& dataDir, const FolderSettings& settings);

// Drops every record of the folder. 0 when one was dropped, else -1.
int DeleteFolderSettings(const std::string& dataDir, int folderNo);

// Writes the record in place of every record of its folder, or at the end when there is none.
// 0, or -1 when the file cannot be written.
int SaveFolderSettings(const std::string& dataDir, const FolderSettings& settings);
