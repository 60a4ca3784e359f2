// What all record files share: paths, the data directory lock, text lines of comma-terminated
// fields, fixed-size records packed field by field, and replacement through a temporary file.
//
// Rules every store unit follows:
//  - Readers need no lock: they read a file whole (ReadWholeFile / ReadRecordFile) and work on
//    the bytes in memory.
//  - Every change of a record file happens under DataLock of the data directory, taken once for
//    the whole read-modify-write of an operation (the lock is re-entrant within a process, so
//    the write helpers below may take it again).
//  - A rewrite builds the new content in memory and hands it to RewriteViaTemp, which writes the
//    temporary file, flushes it to disk and renames it over the old file in one step.
//  - A change of several files that must stay in step (the folder tree and its settings, ...)
//    hands all new contents to ReplaceFilesTogether (store/journal.h) instead, which replaces
//    them as one change that a killed run can never leave half done.
//  - Text record files are written with CR LF line ends (kLineEnd); readers accept CR LF and a
//    bare LF alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view kLineEnd = "\r\n";

// ---- Paths ---------------------------------------------------------------------------------

// dataDir + name ("%s%s"); dataDir ends with its separator.
std::string DataFilePath(const std::string& dataDir, std::string_view name);
// The folder directory: dataDir + folder number ("%s%d").
std::string FolderDirPath(const std::string& dataDir, int folder);
// A file in a folder directory: dataDir + folder + "/" + name ("%s%d/%s").
std::string FolderFilePath(const std::string& dataDir, int folder, std::string_view name);
// Creates the folder directory; an existing one is no error. 0 or -1.
int EnsureFolderDir(const std::string& dataDir, int folder);

// ---- Locking -------------------------------------------------------------------------------

// Exclusive lock of the data directory (flock on the lock file "board.lock" in it), held for
// the lifetime of the object. Re-entrant within the process: nested locks of the same
// directory only count. Blocks until the lock is had. It excludes other processes (each request
// is one), not other threads of this process. When the lock file cannot be opened or created
// (the data directory is missing or not writable) the lock is not held: no change may then be
// made, and the write helpers below refuse with -1 (readers need no lock). Taking the lock (not taking it again)
// first finishes a change of several files that a killed run left behind, and once an hour
// removes the temporary files that killed runs left (store/journal.h).
class DataLock {
public:
    explicit DataLock(const std::string& dataDir);
    ~DataLock();
    DataLock(const DataLock&) = delete;
    DataLock& operator=(const DataLock&) = delete;
    // Whether the lock is had; without it nothing may be changed.
    bool held() const { return !key_.empty(); }

private:
    std::string key_;
};

// ---- Low-level file operations -------------------------------------------------------------

// Opens read-write (binary); when that fails, creates the file (owner read and write) and
// opens it read-write. Never truncates. A descriptor or -1.
int OpenRecordFile(const std::string& path);
// Size in bytes, or -1 when the file cannot be opened.
long FileSize(const std::string& path);
bool FileExists(const std::string& path);

// Reads a whole file. false when it does not exist or cannot be read (bytes then empty).
bool ReadWholeFile(const std::string& path, std::string& bytes);

// Reads a whole file for a read-modify-write. existed tells whether the file is there; a
// missing file reads as empty and is no failure. false when the file is there but cannot be
// read (the change must then not go ahead).
bool ReadFileForChange(const std::string& path, std::string& bytes, bool& existed);

// Reads up to length bytes at offset of an open file into bytes; the count read (short at the
// end of the file or on a read error).
size_t ReadBytesAt(int fd, size_t offset, size_t length, std::string& bytes);

// Replaces path by content: writes tmpPath (an existing one is removed first), flushes it to
// disk and renames it over path in a single step, so a reader sees the old file or the new one;
// the directory is then flushed too, so that the rename outlasts a power loss. Takes the lock
// of dataDir. 0, or -1 when the lock could not be had or the temporary file could not be
// written (the old file is then untouched and the temporary file removed).
int RewriteViaTemp(const std::string& dataDir, const std::string& path,
                   const std::string& tmpPath, std::string_view content);

// Flushes the entries of the directory that holds path (a rename or removal in it) to disk.
void SyncDirectoryOf(const std::string& path);

// Appends bytes at the end of path under the lock. When create is false and the file does not
// exist, nothing is written and -1 results. 0 on success, -1 on failure.
int AppendToFile(const std::string& dataDir, const std::string& path, std::string_view bytes,
                 bool create);

// RewriteViaTemp of content, skipped when the file existed and already holds exactly old
// (content == old). 0, or -1 when the rewrite failed.
int RewriteIfChanged(const std::string& dataDir, const std::string& path,
                     const std::string& tmpPath, bool existed, std::string_view old,
                     std::string_view content);

// Writes bytes at the byte offset (in place) under the lock; the file is opened with
// OpenRecordFile. 0, or -1 when the whole write could not be done.
int WriteAt(const std::string& dataDir, const std::string& path, long offset,
            std::string_view bytes);

// ---- Text record files ---------------------------------------------------------------------

// Splits file bytes into lines as a reader with a line buffer of bufferSize bytes sees them:
// CR LF and bare LF end a line (a CR before the LF never reaches the line); a line longer than
// bufferSize - 2 characters arrives in pieces of bufferSize - 1 bytes, each taken as a line of
// its own; the last line needs no line end. Line ends are not part of the returned lines.
std::vector<std::string_view> SplitTextLines(std::string_view bytes, size_t bufferSize = 1000);

// Like SplitTextLines, but each element is the raw line as stored, line end included, so that
// rewrites can copy unchanged lines byte for byte. Pieces of a long line are returned as the
// stored bytes they came from (the last piece carries the line end).
std::vector<std::string_view> SplitRawLines(std::string_view bytes, size_t bufferSize = 1000);

// Cuts a line at its commas from the left: fields[i] is the text between the previous comma
// (or the line start) and the next comma. Only fields followed by a comma are returned; what
// follows the last comma is left out. Commas are found as FindText finds them.
std::vector<std::string_view> CutFields(std::string_view line);

// The first characters of value that fit a slot of slotSize bytes with its terminator: at most
// slotSize - 1 bytes, ending at an embedded NUL. The cut never splits a two-byte character
// (a lone lead byte would swallow the comma written after the field).
std::string CutToSlot(std::string_view value, size_t slotSize);

// What a comma-terminated field of a text line can hold of value: the bytes up to the first
// comma, CR, LF or NUL, without a lead byte whose second byte is missing or is one of these
// stops (or a comma), then cut to the slot as CutToSlot cuts. With keepCommas, commas are
// kept (for the last fields of a line, which no reader cuts at commas); a comma still never
// becomes the second byte of a character, so a plain comma search finds the same commas.
std::string FieldValue(std::string_view value, size_t slotSize, bool keepCommas = false);

// The text of a raw line (as SplitRawLines gives it): without its LF and the CR before it.
std::string_view LineWithoutEnd(std::string_view rawLine);

// What must be added after content so that the next line written starts a line of its own:
// nothing when content is empty or ends with LF, "\n" when it ends with a CR (which becomes
// the CR of a CR LF, so the last line reads as before), else kLineEnd.
std::string_view LineEndToAdd(std::string_view content);
// Appends LineEndToAdd(out) to out.
void EndOpenLine(std::string& out);
// Copies raw line index of an old file into a rewrite. When the line copied last was not the
// one just before (index - 1), the content so far is ended first (EndOpenLine), so that a
// line or piece without line end cannot run together with this one.
void CopyRawLine(std::string& out, std::string_view rawLine, long index, long& lastCopied);

// Appends line (which carries its own line end) to a text file under the lock, first ending a
// last line that lacks its line end (LineEndToAdd of the file's last byte). create as for
// AppendToFile. 0 or -1.
int AppendTextLine(const std::string& dataDir, const std::string& path, std::string_view line,
                   bool create);

using LineEdit =
    std::function<int(const std::vector<std::string_view>& rawLines, std::string& out)>;

// Read-modify-write of a text record file under the lock of dataDir: edit builds the new
// content in out from the raw lines of the old file (SplitRawLines with a 1000-byte buffer;
// none when the file is missing), and the file is rewritten through tmpPath unless it would
// stay the same. edit's result, or -1 when the file could not be read or rewritten.
int EditTextFile(const std::string& dataDir, const std::string& path, const std::string& tmpPath,
                 const LineEdit& edit);

// Decimal conversion as the stored numbers are read: leading blanks, optional sign, digits;
// anything else (or nothing) reads as 0. Out-of-range values are clamped to 32 bits.
int32_t ParseInt(std::string_view text);

// ---- Fixed-size records --------------------------------------------------------------------

// Reads a fixed-record file whole, creating it empty when missing (as OpenRecordFile does).
// The result holds only complete records: a trailing partial record is dropped.
std::string ReadRecordFile(const std::string& path, size_t recordSize);
// The same for a read-modify-write: false when the file can be neither opened nor created, or
// cannot be read (bytes then empty), so that a change never goes ahead on a wrong picture.
bool ReadRecordFile(const std::string& path, size_t recordSize, std::string& bytes);
// Calls visit(record, position) for the complete records of an open fixed-record file from
// position first on, read in pieces of whole records into one small buffer (no copy of the
// whole file in memory), until visit returns true or the file ends. The position after the
// last record visited (or the count of records when the file ended).
size_t ScanRecords(int fd, size_t recordSize, size_t first,
                   const std::function<bool(std::string_view record, size_t position)>& visit);

// Number of complete records in a fixed-record file (0 when it cannot be opened).
long CountRecords(const std::string& path, size_t recordSize);

// The complete records of bytes, in file order; a trailing partial record is left out.
std::vector<std::string_view> SplitRecords(std::string_view bytes, size_t recordSize);

using RecordTest = std::function<bool(std::string_view record)>;

// Writes record (recordSize bytes) over the first complete record of the file for which match
// holds, else after the last complete record (a trailing partial record is overwritten rather
// than pushing the new one off its boundary). Takes the lock of dataDir. replaced, when given,
// tells which. 0, or -1 when the file could not be read or written.
int ReplaceOrAppendRecord(const std::string& dataDir, const std::string& path,
                          size_t recordSize, std::string_view record, const RecordTest& match,
                          bool* replaced = nullptr);

// The same two edits on file bytes in memory, for changes handed to ReplaceFilesTogether.
// bytes is first cut to its complete records.
void PutRecordIn(std::string& bytes, size_t recordSize, std::string_view record,
                 const RecordTest& match);
long DropRecordsIn(std::string& bytes, size_t recordSize, const RecordTest& drop);

// Rewrites a fixed-record file through tmpPath without the records for which drop holds and
// without a trailing partial record; a file that would stay the same is left alone. Takes the
// lock of dataDir. dropped, when given, counts the records left out. 0, or -1 when the file
// could not be read or rewritten.
int DropRecords(const std::string& dataDir, const std::string& path, const std::string& tmpPath,
                size_t recordSize, const RecordTest& drop, long* dropped = nullptr);

// Field packing at explicit offsets, little-endian, independent of struct layout. The Put
// functions grow a record that is too short with zero bytes; GetInt32 reads 0 past the end.
int32_t GetInt32(std::string_view record, size_t offset);
void PutInt32(std::string& record, size_t offset, int32_t value);
// Text of a fixed character field: the bytes up to the first NUL within the field.
std::string GetText(std::string_view record, size_t offset, size_t size);
// The text of a fixed character field as the record types read it: GetText cut as CutToSlot
// cuts it (at most size - 1 bytes, no split character).
std::string GetSlotText(std::string_view record, size_t offset, size_t size);
// Writes value into the field, cut as CutToSlot cuts it, the rest of the field zero.
void PutText(std::string& record, size_t offset, size_t size, std::string_view value);
