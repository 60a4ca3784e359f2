#include "store/folders.h"

#include "store/recordfile.h"

namespace {

constexpr std::string_view kTreeFile = "b_title.mst";
constexpr std::string_view kTreeTemp = "b_title.mst.TMP";
constexpr std::string_view kSettingsFile = "b_title2.mst";
constexpr std::string_view kSettingsTemp = "b_title2.mst.TMP";

// Rewrites the folder tree file with what edit makes of its raw lines (see EditTextFile).
int EditTree(const std::string& dataDir, const LineEdit& edit) {
    return EditTextFile(dataDir, DataFilePath(dataDir, kTreeFile),
                        DataFilePath(dataDir, kTreeTemp), edit);
}

}  // namespace

// ---- Settings records ------------------------------------------------------------------------

std::string PackFolderSettings(const FolderSettings& s) {
    std::string r(kFolderSettingsSize, '\0');
    PutInt32(r, 0, s.folderNo);
    PutInt32(r, 4, s.ADD_MAX);
    PutInt32(r, 8, s.readLevel);
    PutInt32(r, 12, s.writeLevel);
    PutInt32(r, 16, s.READ_CHK);
    PutInt32(r, 20, s.REWRITE_FLG);
    PutText(r, 24, 252, s.TITLEPIC);
    PutText(r, 276, 252, s.BACKPIC);
    PutText(r, 528, 252, s.DIRPIC);
    PutText(r, 780, 4002, s.INFO);
    PutText(r, 4782, 4002, s.DEFO);
    PutText(r, 8784, 8, s.FONTCOLOR);
    PutText(r, 8792, 8, s.RESFONTCOLOR);
    return r;
}

FolderSettings UnpackFolderSettings(std::string_view r) {
    const auto text = [&](size_t offset, size_t size) { return GetSlotText(r, offset, size); };
    FolderSettings s;
    s.folderNo = GetInt32(r, 0);
    s.ADD_MAX = GetInt32(r, 4);
    s.readLevel = GetInt32(r, 8);
    s.writeLevel = GetInt32(r, 12);
    s.READ_CHK = GetInt32(r, 16);
    s.REWRITE_FLG = GetInt32(r, 20);
    s.TITLEPIC = text(24, 252);
    s.BACKPIC = text(276, 252);
    s.DIRPIC = text(528, 252);
    s.INFO = text(780, 4002);
    s.DEFO = text(4782, 4002);
    s.FONTCOLOR = text(8784, 8);
    s.RESFONTCOLOR = text(8792, 8);
    return s;
}

// ---- Tree lines ------------------------------------------------------------------------------

bool ParseFolderLine(std::string_view line, FolderRecord& out) {
    const std::vector<std::string_view> fields = CutFields(line);
    if (fields.size() < 3) return false;
    std::string_view first = fields[0];
    size_t blanks = 0;
    while (blanks < first.size() && first[blanks] == ' ') ++blanks;
    out.indentation = static_cast<int32_t>(blanks);
    out.name = CutToSlot(first.substr(blanks), kFolderNameSize);
    out.folderNo = ParseInt(fields[1]);
    const char k = fields[2].empty() ? '\0' : fields[2][0];
    if (k == 'D' || k == 'd') {
        out.kind = kFolderDir;
    } else if (k == 'B' || k == 'b') {
        out.kind = kFolderBoard;
    } else if (k == 'C' || k == 'c') {
        out.kind = kFolderChat;
    } else {
        out.kind = kFolderUnknown;
    }
    return true;
}

std::string FormatFolderLine(const FolderRecord& record) {
    std::string line(record.indentation > 0 ? static_cast<size_t>(record.indentation) : 0, ' ');
    line += FieldValue(record.name, kFolderNameSize);
    line += ',';
    line += std::to_string(record.folderNo);
    line += ',';
    switch (record.kind) {
        case kFolderDir: line += "Dir"; break;
        case kFolderBoard: line += "Board"; break;
        case kFolderChat: line += "Chat"; break;
        default: break;  // empty kind field: read back as kind 0
    }
    line += ',';
    line.append(kLineEnd);
    return line;
}

std::vector<FolderRecord> ReadFolderTree(const std::string& dataDir) {
    std::vector<FolderRecord> tree;
    std::string bytes;
    if (!ReadWholeFile(DataFilePath(dataDir, kTreeFile), bytes)) return tree;
    for (std::string_view line : SplitTextLines(bytes, 1000)) {
        FolderRecord record;
        if (ParseFolderLine(line, record)) tree.push_back(std::move(record));
    }
    return tree;
}

int FindFolder(const std::string& dataDir, int n, int how, FolderRecord& out) {
    std::vector<FolderRecord> tree = ReadFolderTree(dataDir);
    if (how == kFolderByNumber) {
        for (FolderRecord& record : tree) {
            if (record.folderNo == n) {
                out = std::move(record);
                return 0;
            }
        }
    } else if (how == kFolderByPosition) {
        if (n >= 1 && static_cast<size_t>(n) <= tree.size()) {
            out = std::move(tree[static_cast<size_t>(n) - 1]);
            return 0;
        }
    }
    return -1;
}

int InsertFolderLine(const std::string& dataDir, const FolderRecord& record, int p) {
    if (p < 1) return -1;
    const std::string newLine = FormatFolderLine(record);
    return EditTree(dataDir, [&](const std::vector<std::string_view>& lines, std::string& out) {
        long lastCopied = -1;
        bool written = false;
        for (size_t i = 0; i < lines.size(); ++i) {
            CopyRawLine(out, lines[i], static_cast<long>(i), lastCopied);
            if (!written && i + 1 == static_cast<size_t>(p)) {
                EndOpenLine(out);
                out += newLine;
                written = true;
            }
        }
        if (!written) {
            EndOpenLine(out);
            out += newLine;
        }
        return 0;
    });
}

int DeleteFolderLine(const std::string& dataDir, int p) {
    return EditTree(dataDir, [&](const std::vector<std::string_view>& lines, std::string& out) {
        long lastCopied = -1;
        bool dropped = false;
        for (size_t i = 0; i < lines.size(); ++i) {
            if (p >= 1 && i + 1 == static_cast<size_t>(p)) {
                dropped = true;
                continue;
            }
            CopyRawLine(out, lines[i], static_cast<long>(i), lastCopied);
        }
        return dropped ? 0 : -1;
    });
}

int RewriteFolderLine(const std::string& dataDir, const FolderRecord& record) {
    const std::string newLine = FormatFolderLine(record);
    return EditTree(dataDir, [&](const std::vector<std::string_view>& lines, std::string& out) {
        long lastCopied = -1;
        bool replaced = false;
        for (size_t i = 0; i < lines.size(); ++i) {
            FolderRecord old;
            if (!ParseFolderLine(LineWithoutEnd(lines[i]), old)) continue;  // malformed: dropped
            if (old.folderNo == record.folderNo) {
                EndOpenLine(out);
                out += newLine;
                replaced = true;
            } else {
                CopyRawLine(out, lines[i], static_cast<long>(i), lastCopied);
            }
        }
        return replaced ? 0 : -1;
    });
}

// ---- Settings file ---------------------------------------------------------------------------

std::vector<FolderSettings> ReadAllFolderSettings(const std::string& dataDir) {
    const std::string bytes =
        ReadRecordFile(DataFilePath(dataDir, kSettingsFile), kFolderSettingsSize);
    std::vector<FolderSettings> all;
    for (std::string_view r : SplitRecords(bytes, kFolderSettingsSize))
        all.push_back(UnpackFolderSettings(r));
    return all;
}

const FolderSettings* FindSettingsIn(const std::vector<FolderSettings>& all, int folderNo) {
    for (const FolderSettings& s : all)
        if (s.folderNo == folderNo) return &s;
    return nullptr;
}

int FindFolderSettings(const std::string& dataDir, int folderNo, FolderSettings& out) {
    const std::string bytes =
        ReadRecordFile(DataFilePath(dataDir, kSettingsFile), kFolderSettingsSize);
    for (std::string_view r : SplitRecords(bytes, kFolderSettingsSize)) {
        if (GetInt32(r, 0) == folderNo) {
            out = UnpackFolderSettings(r);
            return 0;
        }
    }
    return -1;
}

int AppendFolderSettings(const std::string& dataDir, const FolderSettings& settings) {
    DataLock lock(dataDir);
    const std::string path = DataFilePath(dataDir, kSettingsFile);
    // After the last complete record: a partial record left at the end is overwritten rather
    // than pushing every later record off its boundary.
    const long offset = CountRecords(path, kFolderSettingsSize) * static_cast<long>(kFolderSettingsSize);
    return WriteAt(dataDir, path, offset, PackFolderSettings(settings));
}

namespace {

// Copies the settings records, replacing (replacement non-null) or dropping those of folderNo;
// with append, adds the replacement at the end when none matched. matched tells whether one did.
int ChangeSettings(const std::string& dataDir, int folderNo, const std::string* replacement,
                   bool& matched) {
    DataLock lock(dataDir);
    std::string bytes;
    bool existed;
    matched = false;
    if (!ReadFileForChange(DataFilePath(dataDir, kSettingsFile), bytes, existed)) return -1;
    std::string out;
    out.reserve(bytes.size() + kFolderSettingsSize);
    for (std::string_view r : SplitRecords(bytes, kFolderSettingsSize)) {
        if (GetInt32(r, 0) == folderNo) {
            matched = true;
            if (replacement) out += *replacement;
        } else {
            out.append(r);
        }
    }
    if (replacement && !matched) out += *replacement;
    return RewriteIfChanged(dataDir, DataFilePath(dataDir, kSettingsFile),
                            DataFilePath(dataDir, kSettingsTemp), existed, bytes, out);
}

}  // namespace

int DeleteFolderSettings(const std::string& dataDir, int folderNo) {
    bool matched;
    if (ChangeSettings(dataDir, folderNo, nullptr, matched) != 0) return -1;
    return matched ? 0 : -1;
}

int SaveFolderSettings(const std::string& dataDir, const FolderSettings& settings) {
    const std::string packed = PackFolderSettings(settings);
    bool matched;
    return ChangeSettings(dataDir, settings.folderNo, &packed, matched);
}
