#include <fcntl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "tests/tools/fixture.h"
#include "tools/archive.h"
#include "tools/backup.h"
#include "tools/sha256.h"

namespace {

int64_t NowNs() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// An archive written by hand, for the damages a restore must refuse.
std::string HandMadeArchive(const TempDir& dir,
                            const std::vector<std::pair<std::string, std::string>>& files) {
    const std::string path = dir.File("hand.tar.gz");
    TarGzWriter tar;
    EXPECT_TRUE(tar.Open(path, 6));
    for (const auto& [name, bytes] : files) EXPECT_TRUE(tar.AddBytes(name, bytes, 0600, 0));
    EXPECT_TRUE(tar.Close());
    return path;
}

std::string ManifestLine(const std::string& name, const std::string& bytes) {
    return std::to_string(bytes.size()) + " " + Sha256Hex(bytes) + " " + EscapeManifestName(name) +
           "\n";
}

}  // namespace

TEST(Sha256, KnownDigests) {
    const struct {
        std::string input;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.digest, Sha256Hex(c.input)) << c.input.size();
    // Fed in uneven pieces, the same digest.
    Sha256 pieces;
    const std::string& long_input = cases[3].input;
    for (size_t at = 0, step = 1; at < long_input.size(); at += step, step = step * 3 % 997 + 1)
        pieces.Update(long_input.substr(at, step));
    EXPECT_EQ(cases[3].digest, pieces.HexDigest());
}

// A backup restores to the same bytes (names longer than the tar header holds and names with
// control bytes included) and checks sound; the restore refuses a directory that is not empty.
TEST(Backup, RestoresTheSameFilesAndChecksSound) {
    Board b;
    b.MakeSound();
    const std::string longName = std::string(180, 'n') + ".txt";
    const std::string oddName = "line\nbreak\\x.txt";
    ASSERT_EQ(0, SaveAttachment(b.data, 2, AttachmentEntry{4, 2, longName}));
    ASSERT_EQ(0, SaveAttachment(b.data, 2, AttachmentEntry{4, 3, oddName}));
    std::filesystem::create_directories(b.files + "2/X4/2");
    std::filesystem::create_directories(b.files + "2/X4/3");
    WriteFileBytes(b.files + "2/X4/2/" + longName, std::string(200000, 'L'));
    WriteFileBytes(b.files + "2/X4/3/" + oddName, "odd");
    MessageIndexEntry e;
    ASSERT_EQ(0, FindMessage(b.data, 2, 4, kMessageByNumber, e));
    e.attachCount = 3;
    ASSERT_EQ(0, RewriteMessage(b.data, e));
    ASSERT_TRUE(b.Check().problems.empty());

    const std::string archive = b.root.File("backup.tar.gz");
    std::string error;
    ASSERT_EQ(kArchiveDone, Backup(b.data, b.files, archive, error, nullptr)) << error;
    EXPECT_FALSE(FileExists(archive + ".part"));

    TempDir target("tools_restore");
    const std::string data = target.path + "data/", files = target.path + "files/";
    ASSERT_EQ(kArchiveDone, Restore(archive, data, files, error, nullptr)) << error;
    EXPECT_EQ(TreeBytes(b.data), TreeBytes(data));
    EXPECT_EQ(TreeBytes(b.files), TreeBytes(files));
    CheckOptions o;
    o.dataDir = data;
    o.attachDir = files;
    CheckResult r;
    ASSERT_EQ(0, CheckInstallation(o, r, nullptr));
    EXPECT_TRUE(r.problems.empty()) << r.problems.front();

    // Not into a directory that holds anything; what is there stays.
    EXPECT_EQ(kArchiveCannot, Restore(archive, data, target.path + "other/", error, nullptr));
    EXPECT_EQ(TreeBytes(b.data), TreeBytes(data));
}

// An archive that does not match its manifest, is cut short, or names a file outside the two
// directories is refused, and nothing of it stays behind.
TEST(Backup, RestoreRefusesWhatDoesNotMatchAndLeavesNothing) {
    TempDir dir("tools_archive");
    const std::string good = "bytes";
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> files;
    } cases[] = {
        {"checksum differs",
         {{"data/user.mst", "other"}, {"manifest.txt", ManifestLine("data/user.mst", good)}}},
        {"file not listed",
         {{"data/user.mst", good},
          {"data/extra", good},
          {"manifest.txt", ManifestLine("data/user.mst", good)}}},
        {"listed file missing", {{"manifest.txt", ManifestLine("data/user.mst", good)}}},
        {"no manifest", {{"data/user.mst", good}}},
        {"outside the directories",
         {{"data/../escape", good}, {"manifest.txt", ManifestLine("data/../escape", good)}}},
        {"not a board backup",
         {{"etc/passwd", good}, {"manifest.txt", ManifestLine("etc/passwd", good)}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string archive = HandMadeArchive(dir, c.files);
        const std::string data = dir.File("data/"), files = dir.File("files/");
        std::string error;
        EXPECT_EQ(kArchiveBad, Restore(archive, data, files, error, nullptr));
        EXPECT_FALSE(error.empty());
        EXPECT_FALSE(FileExists(data));
        EXPECT_FALSE(FileExists(files));
        EXPECT_FALSE(FileExists(dir.path + "escape"));
    }

    // A sound archive cut short (a restore into existing empty directories leaves them empty).
    const std::string archive = HandMadeArchive(
        dir, {{"data/big", std::string(100000, 'b')},
              {"manifest.txt", ManifestLine("data/big", std::string(100000, 'b'))}});
    const std::string whole = ReadFileBytes(archive);
    WriteFileBytes(archive, whole.substr(0, whole.size() / 2));
    mkdir(dir.File("data").c_str(), 0700);
    mkdir(dir.File("files").c_str(), 0700);
    std::string error;
    EXPECT_EQ(kArchiveBad, Restore(archive, dir.File("data/"), dir.File("files/"), error, nullptr));
    EXPECT_TRUE(std::filesystem::is_empty(dir.File("data")));
}

// Posters in other processes write messages (with bodies, read marks and attachments) while
// the backup runs. The restored copy checks sound and holds every message whose post was
// complete before the backup began.
TEST(Backup, TakenWhilePostsAreWrittenHoldsEveryPostCompletedBeforeIt) {
    Board b;
    b.MakeSound();
    const std::string stop = b.root.File("stop");
    const int kPosters = 3;
    std::vector<pid_t> posters;
    for (int p = 0; p < kPosters; ++p) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // Each completed post: "folder number completion-time" on a line of its own log.
            std::ofstream log(b.root.File("posts" + std::to_string(p)));
            int last = 0;
            for (int i = 0; !FileExists(stop); ++i) {
                const int folder = 2 + (p + i) % 2;
                const int parent = (i % 3 == 1 && folder == 2 && last > 0) ? last : 0;
                const std::string body =
                    "poster " + std::to_string(p) + " post " + std::to_string(i);
                const int no = b.Post(folder, parent, "alice", body, i % 4 == 0 ? "file.txt" : "");
                if (folder == 2) last = no;
                log << folder << " " << no << " " << NowNs() << " " << body << std::endl;
            }
            _exit(0);
        }
        posters.push_back(pid);
    }
    usleep(400000);
    const int64_t began = NowNs();
    const std::string archive = b.root.File("live.tar.gz");
    std::string error;
    ASSERT_EQ(kArchiveDone, Backup(b.data, b.files, archive, error, nullptr)) << error;
    usleep(200000);
    WriteFileBytes(stop, "");
    for (pid_t pid : posters) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    TempDir target("tools_restore");
    const std::string data = target.path + "data/", files = target.path + "files/";
    ASSERT_EQ(kArchiveDone, Restore(archive, data, files, error, nullptr)) << error;
    CheckOptions o;
    o.dataDir = data;
    o.attachDir = files;
    CheckResult r;
    ASSERT_EQ(0, CheckInstallation(o, r, nullptr));
    EXPECT_TRUE(r.problems.empty())
        << r.problems.size() << " problems, first: " << r.problems.front();

    int before = 0, after = 0;
    for (int p = 0; p < kPosters; ++p) {
        std::istringstream lines(ReadFileBytes(b.root.File("posts" + std::to_string(p))));
        int folder, no;
        int64_t when;
        std::string body;
        while (lines >> folder >> no >> when && std::getline(lines >> std::ws, body)) {
            if (when >= began) {
                ++after;
                continue;
            }
            ++before;
            std::string stored;
            EXPECT_TRUE(ReadWholeFile(MessageBodyPath(data, folder, no), stored))
                << folder << "/" << no;
            EXPECT_EQ(body, stored);
            MessageIndexEntry e;
            EXPECT_EQ(0, FindMessage(data, folder, no, kMessageByNumber, e)) << folder << "/" << no;
        }
    }
    EXPECT_GT(before, 10);
    EXPECT_GT(after, 0);
}
