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
// Whether a line of b_title.mst (its line end aside) is read back whole: at most 998
// characters, what the 1000-byte line reader takes as one line. No writer produces a longer one:
// the change is refused with kTreeLineTooLong instead (the folder would lose its line).
bool TreeLineFits(std::string_view line);

// Every well-formed line of b_title.mst in display order, from one read (empty when the file
// is missing). Element i is what FindFolder(i + 1, kFolderByPosition) finds.
std::vector<FolderRecord> ReadFolderTree(const std::string& dataDir);

// how kFolderByNumber: the first well-formed line of folder n; how kFolderByPosition: the n-th
// well-formed line (1-based). 0, or -1 when there is none or b_title.mst is missing.
int FindFolder(const std::string& dataDir, int n, int how, FolderRecord& out);

// Inserts the record's line directly after the p-th line of the file (every line counts), or at
// the end when the file has fewer lines. b_title.mst is created when missing. 0, or -1 when p
// is less than 1 or the file cannot be written, or kTreeLineTooLong.
int InsertFolderLine(const std::string& dataDir, const FolderRecord& record, int p);

// Drops the p-th line of the file (every line counts). 0, or -1 when there is no such line.
int DeleteFolderLine(const std::string& dataDir, int p);

// Replaces every well-formed line of the record's folder number by the record's line; lines
// without three commas are dropped. 0 when a line was replaced, else -1.
int RewriteFolderLine(const std::string& dataDir, const FolderRecord& record);

// RewriteFolderLine of renamed (when not null) and SaveFolderSettings of settings as one change
// (ReplaceFilesTogether). 0, -1 (nothing changed) or kTreeLineTooLong.
int SaveFolderLineAndSettings(const std::string& dataDir, const FolderRecord* renamed,
                              const FolderSettings& settings);

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

// ---- Changes of the tree with everything that hangs on folder numbers ----------------------
//
// Each of these reads b_title.mst under the data lock, finds folders by position among the
// well-formed lines (as FindFolder does), and makes its change of b_title.mst, b_title2.mst
// and, where folders go away or come new, the access lists as one change
// (ReplaceFilesTogether, store/journal.h): a run killed at any moment leaves all of them old or
// all of them new. Lines of b_title.mst that are not changed are kept byte for byte, lines that
// are not well-formed included.

// Placement relative to the chosen folder.
inline constexpr int kPlaceAfter = 1;   // after the folder and its subtree
inline constexpr int kPlaceInside = 2;  // first entry of the directory

// Results besides 0 and -1 (the files could not be read or written; nothing changed).
inline constexpr int kTreeNoSuchFolder = -2;   // no folder there, or kPlaceInside on a non-directory
inline constexpr int kTreeIntoOwnSubtree = -3;  // the target lies in the moved block
inline constexpr int kTreeLineTooLong = -4;     // a line would be longer than its reader takes

// Creates a folder of folder.kind named folder.name; folder.folderNo becomes the largest number
// of the tree + 1 and folder.indentation its depth. position below 1: at the end at depth 0.
// Otherwise relative to the folder at that position: kPlaceAfter puts it after that folder's
// subtree at the depth of the folder that then follows (of the last folder when none follows);
// kPlaceInside directly after the directory, one deeper; any other place directly after the
// folder at its depth. The settings record starts cleared with READ_CHK and REWRITE_FLG 1;
// settings records and access list entries left under the new number by earlier data are
// dropped, so the folder starts with nothing. 0, -1 or kTreeNoSuchFolder.
int CreateFolder(const std::string& dataDir, FolderRecord& folder, int position, int place);

// Deletes the folder at the position with its subtree (the lines after it that are deeper):
// their lines, and the settings records and access list entries of their numbers. removed
// lists the numbers that left the tree (a number that still has a line elsewhere is kept, with
// its settings and entries); the caller removes their directories. 0, -1 or kTreeNoSuchFolder
// (nothing deleted).
int DeleteFolderSubtree(const std::string& dataDir, int position, std::vector<int32_t>& removed);

// Moves the folder at position source with its subtree. target 0: to the top of the list at
// depth 0. Otherwise relative to the folder at position target (depth T): kPlaceInside (a
// directory only) puts the block before the folder that follows the target, at depth T + 1;
// any other place before the first later folder of depth T or less, at depth T (at the end of
// the list when there is none). The block keeps its inner shape; only the blanks in front of
// its lines change. 0, -1, kTreeNoSuchFolder (no folder at source or target, or kPlaceInside on
// a non-directory) or kTreeIntoOwnSubtree (the target or the block's new place lies within the
// block). Only b_title.mst changes.
int MoveFolderSubtree(const std::string& dataDir, int source, int target, int place);
