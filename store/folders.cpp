#include "store/folders.h"

#include <algorithm>
#include <set>

#include "store/acl.h"
#include "store/journal.h"
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

bool TreeLineFits(std::string_view line) { return LineWithoutEnd(line).size() <= 998; }

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
    if (!TreeLineFits(newLine)) return kTreeLineTooLong;
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

namespace {

// The tree bytes with every well-formed line of the record's number replaced by its line and
// lines without three commas dropped; false when no line was replaced.
bool TreeWithLine(std::string_view bytes, const std::string& newLine, int32_t folderNo,
                  std::string& out) {
    const std::vector<std::string_view> lines = SplitRawLines(bytes, 1000);
    long lastCopied = -1;
    bool replaced = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        FolderRecord old;
        if (!ParseFolderLine(LineWithoutEnd(lines[i]), old)) continue;  // malformed: dropped
        if (old.folderNo == folderNo) {
            EndOpenLine(out);
            out += newLine;
            replaced = true;
        } else {
            CopyRawLine(out, lines[i], static_cast<long>(i), lastCopied);
        }
    }
    return replaced;
}

}  // namespace

int RewriteFolderLine(const std::string& dataDir, const FolderRecord& record) {
    const std::string newLine = FormatFolderLine(record);
    if (!TreeLineFits(newLine)) return kTreeLineTooLong;
    return EditTree(dataDir, [&](const std::vector<std::string_view>& lines, std::string& out) {
        std::string bytes;
        for (std::string_view line : lines) bytes.append(line);
        return TreeWithLine(bytes, newLine, record.folderNo, out) ? 0 : -1;
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

// ---- Changes of the tree with everything that hangs on folder numbers ----------------------

namespace {

// b_title.mst as read for a change: its raw lines and, in display order, the well-formed ones.
struct TreeForChange {
    std::string bytes;
    std::vector<std::string_view> raw;
    std::vector<size_t> rawIndex;       // of each well-formed line
    std::vector<FolderRecord> folders;  // the well-formed lines, position i + 1

    bool Read(const std::string& dataDir) {
        bool existed;
        if (!ReadFileForChange(DataFilePath(dataDir, kTreeFile), bytes, existed)) return false;
        raw = SplitRawLines(bytes, 1000);
        for (size_t i = 0; i < raw.size(); ++i) {
            FolderRecord r;
            if (!ParseFolderLine(LineWithoutEnd(raw[i]), r)) continue;
            rawIndex.push_back(i);
            folders.push_back(std::move(r));
        }
        return true;
    }
    int count() const { return static_cast<int>(folders.size()); }
    // End of the subtree of the folder at 0-based index i: the first later index not deeper.
    int SubtreeEnd(int i) const {
        int e = i + 1;
        while (e < count() && folders[e].indentation > folders[i].indentation) ++e;
        return e;
    }
};

// A raw line with its leading blanks replaced by depth blanks, always with a line end.
std::string Reindented(std::string_view rawLine, int depth) {
    size_t blanks = 0;
    while (blanks < rawLine.size() && rawLine[blanks] == ' ') ++blanks;
    std::string line(static_cast<size_t>(std::max(depth, 0)), ' ');
    line.append(rawLine.substr(blanks));
    EndOpenLine(line);
    return line;
}

// The settings records without those of the numbers, plus extra when given.
bool SettingsWithout(const std::string& dataDir, const std::set<int32_t>& numbers,
                     const std::string& extra, std::string& out) {
    std::string bytes;
    if (!ReadRecordFile(DataFilePath(dataDir, kSettingsFile), kFolderSettingsSize, bytes))
        return false;
    out.clear();
    out.reserve(bytes.size() + extra.size());
    for (std::string_view r : SplitRecords(bytes, kFolderSettingsSize))
        if (!numbers.count(GetInt32(r, 0))) out.append(r);
    out += extra;
    return true;
}

// Tree, settings and access lists as one change.
int CommitFolderChange(const std::string& dataDir, std::string tree,
                       const std::set<int32_t>& gone, const std::string& extraSettings) {
    std::vector<FileReplacement> files;
    files.push_back({std::string(kTreeFile), std::move(tree)});
    std::string settings;
    if (!SettingsWithout(dataDir, gone, extraSettings, settings)) return -1;
    files.push_back({std::string(kSettingsFile), std::move(settings)});
    if (AclsWithoutFolders(dataDir, std::vector<int32_t>(gone.begin(), gone.end()), files) != 0)
        return -1;
    return ReplaceFilesTogether(dataDir, files) == 0 ? 0 : -1;
}

}  // namespace

int CreateFolder(const std::string& dataDir, FolderRecord& folder, int position, int place) {
    DataLock lock(dataDir);
    TreeForChange t;
    if (!t.Read(dataDir)) return -1;
    int32_t largest = 0;
    for (const FolderRecord& f : t.folders) largest = std::max(largest, f.folderNo);
    if (largest == INT32_MAX) return -1;

    size_t afterRaw = t.raw.size();  // raw index the new line follows; raw.size(): the end
    int depth = 0;
    if (position >= 1) {
        if (position > t.count()) return kTreeNoSuchFolder;
        const FolderRecord& chosen = t.folders[position - 1];
        if (place == kPlaceInside && chosen.kind != kFolderDir) return kTreeNoSuchFolder;
        int p = position;  // 1-based position the new line follows
        if (place == kPlaceAfter) {
            p = t.SubtreeEnd(position - 1);
            depth = p < t.count() ? t.folders[p].indentation : t.folders.back().indentation;
        } else {
            depth = chosen.indentation + (place == kPlaceInside ? 1 : 0);
        }
        afterRaw = t.rawIndex[p - 1];
    }
    folder.folderNo = largest + 1;
    folder.indentation = depth;
    if (!TreeLineFits(FormatFolderLine(folder))) return kTreeLineTooLong;

    std::string out;
    long lastCopied = -1;
    for (size_t i = 0; i < t.raw.size(); ++i) {
        CopyRawLine(out, t.raw[i], static_cast<long>(i), lastCopied);
        if (i == afterRaw) {
            EndOpenLine(out);
            out += FormatFolderLine(folder);
        }
    }
    if (afterRaw == t.raw.size()) {
        EndOpenLine(out);
        out += FormatFolderLine(folder);
    }
    FolderSettings settings;
    settings.folderNo = folder.folderNo;
    settings.READ_CHK = 1;
    settings.REWRITE_FLG = 1;
    return CommitFolderChange(dataDir, std::move(out), {folder.folderNo},
                              PackFolderSettings(settings));
}

int DeleteFolderSubtree(const std::string& dataDir, int position, std::vector<int32_t>& removed) {
    removed.clear();
    DataLock lock(dataDir);
    TreeForChange t;
    if (!t.Read(dataDir)) return -1;
    if (position < 1 || position > t.count()) return kTreeNoSuchFolder;
    const int first = position - 1, end = t.SubtreeEnd(first);

    std::set<size_t> dropped;
    std::set<int32_t> inBlock, kept;
    for (int i = 0; i < t.count(); ++i) {
        if (i >= first && i < end) {
            dropped.insert(t.rawIndex[i]);
            inBlock.insert(t.folders[i].folderNo);
        } else {
            kept.insert(t.folders[i].folderNo);
        }
    }
    std::set<int32_t> gone;
    for (int32_t n : inBlock)
        if (!kept.count(n)) gone.insert(n);

    std::string out;
    long lastCopied = -1;
    for (size_t i = 0; i < t.raw.size(); ++i)
        if (!dropped.count(i)) CopyRawLine(out, t.raw[i], static_cast<long>(i), lastCopied);
    if (CommitFolderChange(dataDir, std::move(out), gone, "") != 0) return -1;
    removed.assign(gone.begin(), gone.end());
    return 0;
}

int MoveFolderSubtree(const std::string& dataDir, int source, int target, int place) {
    DataLock lock(dataDir);
    TreeForChange t;
    if (!t.Read(dataDir)) return -1;
    if (source < 1 || source > t.count()) return kTreeNoSuchFolder;
    const int a = source - 1, b = t.SubtreeEnd(a);  // the block: indices a .. b-1
    const int L = t.folders[a].indentation;

    int anchor;  // index of the folder the block goes before; count(): to the end
    int T = 0;
    if (target == 0) {
        anchor = 0;
        place = kPlaceAfter;
    } else {
        if (target < 1 || target > t.count()) return kTreeNoSuchFolder;
        const int ti = target - 1;
        T = t.folders[ti].indentation;
        if (place == kPlaceInside) {
            if (t.folders[ti].kind != kFolderDir) return kTreeNoSuchFolder;
            anchor = ti + 1;
        } else {
            place = kPlaceAfter;
            anchor = ti + 1;
            while (anchor < t.count() && t.folders[anchor].indentation > T) ++anchor;
        }
        // Into the block itself (onto the folder or below it) the block cannot go.
        if (ti >= a && ti < b) return kTreeIntoOwnSubtree;
    }
    if (target != 0 && anchor >= a && anchor < b) return kTreeIntoOwnSubtree;
    const int shift = T - L + (place == kPlaceInside ? 1 : 0);

    std::string block;
    std::set<size_t> inBlock;
    for (int i = a; i < b; ++i) {
        inBlock.insert(t.rawIndex[i]);
        block += Reindented(t.raw[t.rawIndex[i]], t.folders[i].indentation + shift);
        if (!TreeLineFits(std::string_view(block).substr(block.rfind('\n', block.size() - 2) + 1)))
            return kTreeLineTooLong;
    }
    const size_t anchorRaw = anchor < t.count() ? t.rawIndex[anchor] : t.raw.size();
    std::string out;
    out.reserve(t.bytes.size() + b - a);
    long lastCopied = -1;
    for (size_t i = 0; i < t.raw.size(); ++i) {
        if (i == anchorRaw) {
            EndOpenLine(out);
            out += block;
            lastCopied = -2;  // the next copied line starts after the block's line end
        }
        if (!inBlock.count(i)) CopyRawLine(out, t.raw[i], static_cast<long>(i), lastCopied);
    }
    if (anchorRaw == t.raw.size()) {
        EndOpenLine(out);
        out += block;
    }
    if (out == t.bytes) return 0;
    return ReplaceFilesTogether(dataDir, {{std::string(kTreeFile), std::move(out)}}) == 0 ? 0 : -1;
}

int SaveFolderLineAndSettings(const std::string& dataDir, const FolderRecord* renamed,
                              const FolderSettings& settings) {
    DataLock lock(dataDir);
    if (!lock.held()) return -1;
    std::vector<FileReplacement> files;
    if (renamed != nullptr) {
        const std::string newLine = FormatFolderLine(*renamed);
        if (!TreeLineFits(newLine)) return kTreeLineTooLong;
        std::string bytes, tree;
        bool existed;
        if (!ReadFileForChange(DataFilePath(dataDir, kTreeFile), bytes, existed)) return -1;
        if (TreeWithLine(bytes, newLine, renamed->folderNo, tree) && tree != bytes)
            files.push_back({std::string(kTreeFile), std::move(tree)});
    }
    std::string bytes, records;
    bool existed, matched = false;
    if (!ReadFileForChange(DataFilePath(dataDir, kSettingsFile), bytes, existed)) return -1;
    const std::string packed = PackFolderSettings(settings);
    for (std::string_view r : SplitRecords(bytes, kFolderSettingsSize)) {
        const bool mine = GetInt32(r, 0) == settings.folderNo;
        matched = matched || mine;
        records.append(mine ? std::string_view(packed) : r);
    }
    if (!matched) records += packed;
    files.push_back({std::string(kSettingsFile), std::move(records)});
    return ReplaceFilesTogether(dataDir, files) == 0 ? 0 : -1;
}
