#include "store/recordfile.h"
#include "tests/testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs fn in a child process and returns its exit status (-1 when it did not exit normally).
template <typename Fn>
pid_t Spawn(Fn fn) {
    pid_t pid = fork();
    if (pid == 0) {
        _exit(fn());
    }
    return pid;
}

int Wait(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> Strings(const std::vector<std::string_view>& v) {
    return std::vector<std::string>(v.begin(), v.end());
}

using Lines = std::vector<std::string>;

}  // namespace

// ---- Text lines and fields -----------------------------------------------------------------

TEST(RecordFileText, LineEndsAndLastLine) {
    EXPECT_EQ(Strings(SplitTextLines("a,b,\r\nc,\n\r\nd,e")), (Lines{"a,b,", "c,", "", "d,e"}));
    // A CR inside a line stays; one at the very end of the file is a line end.
    EXPECT_EQ(Strings(SplitTextLines("x\ry,\nz,\r")), (Lines{"x\ry,", "z,"}));
    EXPECT_EQ(Strings(SplitTextLines("a,\r\r\n")), (Lines{"a,\r"}));
    EXPECT_TRUE(SplitTextLines("").empty());
    // Raw lines keep the stored line ends and together are the file.
    EXPECT_EQ(Strings(SplitRawLines("a,\r\nb,\nc")), (Lines{"a,\r\n", "b,\n", "c"}));
}

TEST(RecordFileText, LongLinesArriveInPieces) {
    const std::string s998(998, 'a'), s999(999, 'b'), s1000(1000, 'c');
    EXPECT_EQ(Strings(SplitTextLines(s998 + "\r\nz,\r\n")), (Lines{s998, "z,"}));
    // 999 characters fill the buffer; the line end then comes alone as an empty line.
    EXPECT_EQ(Strings(SplitTextLines(s999 + "\r\nz,\r\n")), (Lines{s999, "", "z,"}));
    EXPECT_EQ(Strings(SplitTextLines(s1000 + "\nz,")), (Lines{s1000.substr(0, 999), "c", "z,"}));
    // A CR LF at a piece boundary counts as the single line feed.
    const std::string s2500 = std::string(999, 'd') + std::string(999, 'e') + std::string(502, 'f');
    EXPECT_EQ(Strings(SplitTextLines(s2500 + "\r\n")),
              (Lines{std::string(999, 'd'), std::string(999, 'e'), std::string(502, 'f')}));
    const std::string file = s999 + "\r\n" + s1000 + "\r\n" + s2500;
    auto raw = SplitRawLines(file);
    ASSERT_EQ(raw.size(), 7u);
    EXPECT_EQ(raw[6], std::string(502, 'f'));
    EXPECT_EQ(raw[1], "\r\n");
    EXPECT_EQ(raw[3], "c\r\n");
    std::string joined;
    for (auto r : raw) joined.append(r);
    EXPECT_EQ(joined, file);
    // The smaller buffer of the no-read list.
    const std::string s298(298, 'u');
    EXPECT_EQ(Strings(SplitTextLines(s298 + "\r\n" + s298 + "uu\r\n", 300)),
              (Lines{s298, std::string(299, 'u'), "u"}));
}

TEST(RecordFileText, CutFieldsAndDoubleByteCharacters) {
    EXPECT_EQ(Strings(CutFields("ab,,cd,ef")), (Lines{"ab", "", "cd"}));
    EXPECT_TRUE(CutFields("no comma").empty());
    // 0x83 0x5C and 0x82 0xA0 are two-byte characters; the split matches the byte commas.
    const std::string line = "\x83\x5C\x82\xA0,\x88\xEA,A\x81\x40" "B,rest";
    EXPECT_EQ(Strings(CutFields(line)), (Lines{"\x83\x5C\x82\xA0", "\x88\xEA", "A\x81\x40" "B"}));
}

TEST(RecordFileText, ParseIntLikeDecimalConversion) {
    EXPECT_EQ(ParseInt("42"), 42);
    EXPECT_EQ(ParseInt(" \t-17x"), -17);
    EXPECT_EQ(ParseInt("+5"), 5);
    EXPECT_EQ(ParseInt(""), 0);
    EXPECT_EQ(ParseInt("abc"), 0);
    EXPECT_EQ(ParseInt("- 3"), 0);
    EXPECT_EQ(ParseInt("2147483647"), INT32_MAX);
    EXPECT_EQ(ParseInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(ParseInt("99999999999999999999"), INT32_MAX);
    EXPECT_EQ(ParseInt("-99999999999999999999"), INT32_MIN);
}

TEST(RecordFileText, CutToSlot) {
    EXPECT_EQ(CutToSlot("abcdef", 4), "abc");
    EXPECT_EQ(CutToSlot("abc", 4), "abc");
    EXPECT_EQ(CutToSlot(std::string_view("ab\0cd", 5), 10), "ab");
    EXPECT_EQ(CutToSlot("abc", 0), "");
    // The second byte of a character would fall outside: the whole character goes.
    EXPECT_EQ(CutToSlot("a\x82\xA0" "b", 3), "a");
    EXPECT_EQ(CutToSlot("a\x82\xA0" "b", 4), "a\x82\xA0");
}

TEST(RecordFileText, FieldValueNeverSplitsALine) {
    EXPECT_EQ(FieldValue("Taro,Hana", 10), "Taro");
    EXPECT_EQ(FieldValue("a\rb", 10), "a");
    EXPECT_EQ(FieldValue("a\nb", 10), "a");
    EXPECT_EQ(FieldValue(std::string_view("a\0b", 3), 10), "a");
    EXPECT_EQ(FieldValue("abcdef", 4), "abc");
    // A lead byte goes when its second byte is missing, a stop or a comma: a comma written
    // after the field (or kept in it) never becomes the second byte of a character.
    EXPECT_EQ(FieldValue("a\x82", 10), "a");
    EXPECT_EQ(FieldValue("a\x82\nb", 10), "a");
    EXPECT_EQ(FieldValue("a\x82,b", 10), "a");
    EXPECT_EQ(FieldValue("a\x83\x5C" "b", 10), "a\x83\x5C" "b");
    // The last fields of a line may keep their commas.
    EXPECT_EQ(FieldValue("Mozilla/4.0 (compatible, X)\r\nmore", 100, true),
              "Mozilla/4.0 (compatible, X)");
    EXPECT_EQ(FieldValue("x\x82,y", 100, true), "x");
}

TEST(RecordFileText, LineEndsAddedBeforeNewLines) {
    EXPECT_EQ(LineWithoutEnd("a,b,\r\n"), "a,b,");
    EXPECT_EQ(LineWithoutEnd("a,b,\n"), "a,b,");
    EXPECT_EQ(LineWithoutEnd("a,b,"), "a,b,");
    EXPECT_EQ(LineEndToAdd(""), "");
    EXPECT_EQ(LineEndToAdd("a\n"), "");
    EXPECT_EQ(LineEndToAdd("a"), "\r\n");
    EXPECT_EQ(LineEndToAdd("a\r"), "\n");  // the CR that ended the last line stays its end

    // Rewrites: a line copied after a gap starts a line of its own.
    std::string out;
    long last = -1;
    CopyRawLine(out, "1,", 0, last);
    CopyRawLine(out, "3,\r\n", 2, last);
    EXPECT_EQ(out, "1,\r\n3,\r\n");

    TempDir dir;
    const std::string path = dir.path + "list";
    EXPECT_EQ(AppendTextLine(dir.path, path, "a\r\n", false), -1);
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(AppendTextLine(dir.path, path, "a\r\n", true), 0);
    WriteFileBytes(path, "a\r\nb");
    EXPECT_EQ(AppendTextLine(dir.path, path, "c\r\n", false), 0);
    WriteFileBytes(path, ReadFileBytes(path) + "d\r");
    EXPECT_EQ(AppendTextLine(dir.path, path, "e\r\n", false), 0);
    EXPECT_EQ(ReadFileBytes(path), "a\r\nb\r\nc\r\nd\r\ne\r\n");
}

// ---- Fixed records -------------------------------------------------------------------------

TEST(RecordFileFixed, PackAgainstHandBuiltBytes) {
    std::string rec(16, '\x55');
    PutInt32(rec, 0, 0x01020304);
    PutInt32(rec, 4, -2);
    PutText(rec, 8, 6, "abcdefgh");
    EXPECT_EQ(rec, std::string("\x04\x03\x02\x01\xFE\xFF\xFF\xFF" "abcde\0\x55\x55", 16));
    EXPECT_EQ(GetInt32(rec, 0), 0x01020304);
    EXPECT_EQ(GetInt32(rec, 4), -2);
    EXPECT_EQ(GetText(rec, 8, 6), "abcde");
    // A shorter value zero-fills the rest of the field, leaving the neighbours alone.
    PutText(rec, 8, 6, "xy");
    EXPECT_EQ(rec.substr(8), std::string("xy\0\0\0\0\x55\x55", 8));
    // A field without a NUL reads as its own bytes only.
    const std::string full("ABCDEFGH", 8);
    EXPECT_EQ(GetText(full, 2, 3), "CDE");
    EXPECT_EQ(GetInt32(std::string("\x00\x00\x00\x80", 4), 0), INT32_MIN);
    EXPECT_EQ(GetInt32("ab", 0), 0);
}

TEST(RecordFileFixed, MissingFileCreatedAndPartialRecordDropped) {
    TempDir dir;
    const std::string path = DataFilePath(dir.path, "b_g_acl.mst");
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(FileSize(path), -1);
    EXPECT_EQ(ReadRecordFile(path, 12), "");
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ(FileSize(path), 0);

    const std::string two = std::string(12, 'a') + std::string(12, 'b');
    WriteFileBytes(path, two + "ccccc");
    EXPECT_EQ(ReadRecordFile(path, 12), two);
    EXPECT_EQ(CountRecords(path, 12), 2);
    EXPECT_EQ(ReadFileBytes(path).size(), 29u);  // reading never truncates

    // In place write of the second record.
    EXPECT_EQ(WriteAt(dir.path, path, 12, std::string(12, 'z')), 0);
    EXPECT_EQ(ReadRecordFile(path, 12), std::string(12, 'a') + std::string(12, 'z'));
    EXPECT_EQ(WriteAt(dir.path, path, -1, "x"), -1);
}

TEST(RecordFileFixed, ReplaceOrAppendAndDrop) {
    TempDir dir;
    const std::string path = dir.path + "recs";
    const auto first = [](char c) { return [c](std::string_view r) { return r[0] == c; }; };
    bool replaced = true;
    EXPECT_EQ(ReplaceOrAppendRecord(dir.path, path, 4, "aaaa", first('a'), &replaced), 0);
    EXPECT_FALSE(replaced);
    WriteFileBytes(path, "aaaabbbbcc");  // a partial record at the end is overwritten
    EXPECT_EQ(ReplaceOrAppendRecord(dir.path, path, 4, "cccc", first('c'), &replaced), 0);
    EXPECT_FALSE(replaced);
    EXPECT_EQ(ReplaceOrAppendRecord(dir.path, path, 4, "bBBB", first('b'), &replaced), 0);
    EXPECT_TRUE(replaced);
    EXPECT_EQ(ReadFileBytes(path), "aaaabBBBcccc");
    EXPECT_EQ(Strings(SplitRecords(ReadFileBytes(path) + "x", 4)), (Lines{"aaaa", "bBBB", "cccc"}));

    long dropped = -1;
    EXPECT_EQ(DropRecords(dir.path, path, path + ".TMP", 4, first('z'), &dropped), 0);
    EXPECT_EQ(dropped, 0);
    EXPECT_EQ(ReadFileBytes(path), "aaaabBBBcccc");
    WriteFileBytes(path, "aaaabBBBccccdd");
    EXPECT_EQ(DropRecords(dir.path, path, path + ".TMP", 4, first('b'), &dropped), 0);
    EXPECT_EQ(dropped, 1);
    EXPECT_EQ(ReadFileBytes(path), "aaaacccc");  // the partial record went too

    // A file that cannot be read is never replaced by what could be read of it.
    const std::string odd = dir.path + "dir";
    ASSERT_EQ(mkdir(odd.c_str(), 0700), 0);
    std::string bytes;
    EXPECT_FALSE(ReadRecordFile(odd, 4, bytes));
    EXPECT_EQ(DropRecords(dir.path, odd, odd + ".TMP", 4, first('a'), &dropped), -1);
    EXPECT_EQ(ReplaceOrAppendRecord(dir.path, odd, 4, "aaaa", first('a')), -1);
}

TEST(RecordFilePaths, Joins) {
    EXPECT_EQ(DataFilePath("/d/", "user.mst"), "/d/user.mst");
    EXPECT_EQ(FolderDirPath("/d/", 12), "/d/12");
    EXPECT_EQ(FolderFilePath("/d/", 12, "index.dat"), "/d/12/index.dat");
    TempDir dir;
    EXPECT_EQ(EnsureFolderDir(dir.path, 7), 0);
    EXPECT_EQ(EnsureFolderDir(dir.path, 7), 0);
    WriteFileBytes(dir.path + "8", "file");
    EXPECT_EQ(EnsureFolderDir(dir.path, 8), -1);
}

// ---- Writing -------------------------------------------------------------------------------

TEST(RecordFileWrite, RewriteAppendAndFailures) {
    TempDir dir;
    const std::string path = DataFilePath(dir.path, "user.mst");
    const std::string tmp = path + ".TMP";
    WriteFileBytes(tmp, "stale temporary file that is longer");
    WriteFileBytes(path, "old\r\n");
    EXPECT_EQ(RewriteViaTemp(dir.path, path, tmp, "new\r\n"), 0);
    EXPECT_EQ(ReadFileBytes(path), "new\r\n");
    EXPECT_FALSE(FileExists(tmp));
    EXPECT_EQ(RewriteViaTemp(dir.path, path, tmp, ""), 0);
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ(FileSize(path), 0);

    // A temporary file that cannot be created leaves the old file as it was.
    WriteFileBytes(path, "keep\r\n");
    EXPECT_EQ(RewriteViaTemp(dir.path, path, dir.path + "nodir/x.TMP", "lost"), -1);
    EXPECT_EQ(ReadFileBytes(path), "keep\r\n");
    // A rename that cannot be done fails and removes the temporary file.
    std::filesystem::create_directory(dir.path + "adir");
    WriteFileBytes(dir.path + "adir/f", "x");
    EXPECT_EQ(RewriteViaTemp(dir.path, dir.path + "adir", tmp, "lost"), -1);
    EXPECT_FALSE(FileExists(tmp));

    EXPECT_EQ(AppendToFile(dir.path, path, "a,\r\n", false), 0);
    EXPECT_EQ(ReadFileBytes(path), "keep\r\na,\r\n");
    const std::string other = DataFilePath(dir.path, "group.mst");
    EXPECT_EQ(AppendToFile(dir.path, other, "g,\r\n", false), -1);
    EXPECT_FALSE(FileExists(other));
    EXPECT_EQ(AppendToFile(dir.path, other, "g,\r\n", true), 0);
    EXPECT_EQ(ReadFileBytes(other), "g,\r\n");

    // Without a data directory (no lock file possible) writes still run and fail by themselves.
    EXPECT_EQ(AppendToFile(dir.path + "missing/", dir.path + "missing/f", "x", true), -1);
}

// ---- Locking -------------------------------------------------------------------------------

namespace {

// Whether another process could take the lock of dir right now.
bool LockFreeForOthers(const std::string& dir) {
    pid_t pid = Spawn([&] {
        int fd = open((dir + "board.lock").c_str(), O_RDWR);
        if (fd < 0) return 2;
        return flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1;
    });
    return Wait(pid) == 0;
}

}  // namespace

TEST(RecordFileLock, ReentrantAndHeldUntilOutermostRelease) {
    TempDir dir;
    // Nested locks, also under another spelling of the directory, and the write helpers that
    // lock again inside must not wait for themselves: run in a child with a deadline.
    pid_t pid = Spawn([&] {
        alarm(5);
        DataLock outer(dir.path);
        {
            DataLock inner(dir.path);
            DataLock other(dir.path + "./");
            if (AppendToFile(dir.path, dir.path + "f", "x", true) != 0) return 3;
            if (RewriteViaTemp(dir.path, dir.path + "f", dir.path + "f.TMP", "y") != 0) return 4;
        }
        return 0;
    });
    EXPECT_EQ(Wait(pid), 0);

    {
        DataLock outer(dir.path);
        EXPECT_FALSE(LockFreeForOthers(dir.path));
        {
            DataLock inner(dir.path);
        }
        EXPECT_FALSE(LockFreeForOthers(dir.path));
    }
    EXPECT_TRUE(LockFreeForOthers(dir.path));
    struct stat st;
    ASSERT_EQ(stat((dir.path + "board.lock").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(RecordFileLock, ForkedChildDoesNotInheritTheLock) {
    TempDir dir;
    std::optional<DataLock> held;
    held.emplace(dir.path);
    int pipefd[2];
    ASSERT_EQ(pipe(pipefd), 0);
    pid_t pid = Spawn([&] {
        close(pipefd[0]);
        alarm(5);
        DataLock again(dir.path);  // must wait until the parent lets go
        (void)!write(pipefd[1], "L", 1);
        return 0;
    });
    close(pipefd[1]);
    usleep(100000);
    const int flags = fcntl(pipefd[0], F_GETFL);
    fcntl(pipefd[0], F_SETFL, flags | O_NONBLOCK);
    char c;
    EXPECT_EQ(read(pipefd[0], &c, 1), -1);  // still waiting
    held.reset();
    fcntl(pipefd[0], F_SETFL, flags);
    EXPECT_EQ(read(pipefd[0], &c, 1), 1);
    EXPECT_EQ(Wait(pid), 0);
    close(pipefd[0]);
}

// ---- Concurrency and crash safety ----------------------------------------------------------

TEST(RecordFileConcurrency, TwoWritersLoseNothing) {
    TempDir dir;
    const std::string path = DataFilePath(dir.path, "system.log");
    const std::string tmp = path + ".TMP";
    WriteFileBytes(path, "");
    constexpr int kAppends = 500, kRewrites = 200;
    const std::string dataDir = dir.path;
    // Each process interleaves appends with read-modify-write rewrites of the same file.
    auto worker = [&](char who) {
        return [=] {
            for (int i = 0; i < kAppends; ++i) {
                std::string line = std::string(1, who) + "A" + std::to_string(i) + ",\r\n";
                if (AppendToFile(dataDir, path, line, false) != 0) return 1;
                if (i >= kRewrites) continue;
                DataLock lock(dataDir);
                std::string bytes;
                if (!ReadWholeFile(path, bytes)) return 2;
                bytes += std::string(1, who) + "R" + std::to_string(i) + ",\r\n";
                if (RewriteViaTemp(dataDir, path, tmp, bytes) != 0) return 3;
            }
            return 0;
        };
    };
    pid_t a = Spawn(worker('p'));
    pid_t b = Spawn(worker('q'));
    EXPECT_EQ(Wait(a), 0);
    EXPECT_EQ(Wait(b), 0);

    std::vector<std::string> expected;
    for (char who : {'p', 'q'}) {
        for (int i = 0; i < kAppends; ++i) expected.push_back(std::string(1, who) + "A" + std::to_string(i) + ",");
        for (int i = 0; i < kRewrites; ++i) expected.push_back(std::string(1, who) + "R" + std::to_string(i) + ",");
    }
    const std::string bytes = ReadFileBytes(path);
    auto got = Strings(SplitTextLines(bytes));
    std::sort(expected.begin(), expected.end());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
}

namespace {

// Version k of the test file: lines 0..k of a fixed pattern and a closing line naming k.
std::string Version(int k) {
    std::string s;
    for (int i = 0; i <= k; ++i) s += "line " + std::to_string(i) + "," + std::string(i % 50, 'x') + ",\r\n";
    s += "END " + std::to_string(k) + ",\r\n";
    return s;
}

// The version number of bytes, or -1 when they are not a whole version.
int VersionOf(const std::string& bytes) {
    size_t end = bytes.rfind("END ");
    if (end == std::string::npos) return -1;
    int k = ParseInt(std::string_view(bytes).substr(end + 4));
    return k >= 0 && bytes == Version(k) ? k : -1;
}

}  // namespace

TEST(RecordFileConcurrency, ReaderNeverSeesMissingOrShortFile) {
    TempDir dir;
    const std::string path = DataFilePath(dir.path, "user.mst");
    WriteFileBytes(path, Version(0));
    constexpr int kVersions = 300;
    pid_t writer = Spawn([&] {
        for (int k = 1; k <= kVersions; ++k)
            if (RewriteViaTemp(dir.path, path, path + ".TMP", Version(k)) != 0) return 1;
        return 0;
    });
    int last = 0, reads = 0, bad = 0;
    for (;;) {
        std::string bytes;
        if (!ReadWholeFile(path, bytes)) {
            ++bad;
        } else {
            int k = VersionOf(bytes);
            if (k < last) ++bad;  // missing, cut short, or older than seen before
            else last = k;
        }
        ++reads;
        if (last == kVersions) break;
        if (waitpid(writer, nullptr, WNOHANG) == writer) {
            writer = -1;
            std::string final;
            ReadWholeFile(path, final);
            last = VersionOf(final);
            break;
        }
    }
    if (writer > 0) {
        EXPECT_EQ(Wait(writer), 0);
    }
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(last, kVersions);
    EXPECT_GT(reads, 1);
}

TEST(RecordFileConcurrency, KilledWriterLeavesWholeFile) {
    TempDir dir;
    const std::string path = DataFilePath(dir.path, "index.dat");
    const std::string tmp = path + ".TMP";
    WriteFileBytes(path, Version(0));
    std::mt19937 rng(12345);
    int previous = 0;
    for (int round = 0; round < 50; ++round) {
        pid_t pid = Spawn([&] {
            for (int k = previous + 1;; ++k)
                RewriteViaTemp(dir.path, path, tmp, Version(k % 400));
            return 0;
        });
        usleep(std::uniform_int_distribution<int>(0, 4000)(rng));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        std::string bytes;
        ASSERT_TRUE(ReadWholeFile(path, bytes)) << "round " << round;
        int k = VersionOf(bytes);
        ASSERT_GE(k, 0) << "round " << round << " size " << bytes.size();
        previous = k;
    }
    // The lock died with the writer and a stale temporary file is no obstacle.
    EXPECT_EQ(RewriteViaTemp(dir.path, path, tmp, Version(3)), 0);
    EXPECT_EQ(VersionOf(ReadFileBytes(path)), 3);
}
