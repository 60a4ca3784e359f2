#include "store/messages.h"
#include "store/messagechange.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "store/bodies.h"
#include "store/readmarks.h"
#include "store/recordfile.h"
#include "tests/testutil.h"

namespace {

namespace fs = std::filesystem;

class MessageIndex : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(EnsureFolderDir(dir_, 1), 0); }

    std::string Index() const { return MessageIndexPath(dir_, 1); }

    // Posts a message to folder 1: parent 0 starts a thread.
    MessageIndexEntry Post(int parent, const std::string& title, const std::string& writer = "WRITER") {
        MessageIndexEntry e;
        e.folderNo = 1;
        e.messageNo = parent;
        e.userId = writer;
        e.WRITE_TITLE = title;
        e.date = "2024/01/02 03:04";
        e.depth = 9;    // AppendMessage sets depth and deleted itself
        e.deleted = 1;
        EXPECT_EQ(AppendMessage(dir_, e, writer), 0);
        return e;
    }

    std::vector<int> Numbers() const {
        std::vector<int> n;
        for (const auto& e : ReadMessageIndex(dir_, 1)) n.push_back(e.messageNo);
        return n;
    }

    TempDir tmp_{"msgidx"};
    const std::string dir_ = tmp_.path;
};

std::string Le32(int32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
    return s;
}

std::string Slot(const std::string& text, size_t size) {
    std::string s = text.substr(0, size);
    s.resize(size, '\0');
    return s;
}

TEST_F(MessageIndex, RecordLayoutMatchesHandBuiltBytes) {
    std::string bytes = Le32(12) + Le32(34) + Le32(1) + Le32(30) + Le32(2) + Le32(2) +
                        Slot("2024/05/06 07:08", 20) + Slot("TARO", 22) + Slot("Hello \x82\xa0", 82) +
                        Le32(3) + Le32(1) + Le32(2);
    ASSERT_EQ(bytes.size(), kMessageIndexEntrySize);

    MessageIndexEntry e;
    e.folderNo = 12;
    e.messageNo = 34;
    e.HTML_MODE = 1;
    e.threadNo = 30;
    e.depth = 2;
    e.WRITE_PRIORITY = 2;
    e.date = "2024/05/06 07:08";
    e.userId = "TARO";
    e.WRITE_TITLE = "Hello \x82\xa0";
    e.attachCount = 3;
    e.deleted = 1;
    e.READ_CHK = 2;
    EXPECT_EQ(PackMessageIndexEntry(e), bytes);

    MessageIndexEntry back = UnpackMessageIndexEntry(bytes);
    EXPECT_EQ(PackMessageIndexEntry(back), bytes);
    EXPECT_EQ(back.WRITE_TITLE, e.WRITE_TITLE);
    EXPECT_EQ(back.userId, "TARO");

    // Over-long values are cut to their slot, never written into the next field.
    e.userId = std::string(40, 'U');
    e.WRITE_TITLE = std::string(200, 'T');
    std::string packed = PackMessageIndexEntry(e);
    EXPECT_EQ(packed.substr(44, 22), std::string(21, 'U') + '\0');
    EXPECT_EQ(packed.substr(66, 82), std::string(81, 'T') + '\0');
    EXPECT_EQ(GetInt32(packed, 148), 3);

    // A stored field without terminator reads cut to its slot.
    std::string raw = bytes;
    raw.replace(44, 22, std::string(22, 'Z'));
    EXPECT_EQ(UnpackMessageIndexEntry(raw).userId, std::string(21, 'Z'));
}

TEST_F(MessageIndex, RepliesGoAfterTheirParentsSubtree) {
    MessageIndexEntry first = Post(0, "first");
    EXPECT_EQ(first.messageNo, 1);
    EXPECT_EQ(first.threadNo, 1);
    EXPECT_EQ(first.depth, 0);
    EXPECT_EQ(first.deleted, 0);
    Post(1, "reply to 1");
    Post(0, "second thread");
    MessageIndexEntry four = Post(1, "another reply to 1");
    EXPECT_EQ(four.messageNo, 4);
    EXPECT_EQ(four.threadNo, 1);
    EXPECT_EQ(four.depth, 1);
    EXPECT_EQ(Numbers(), (std::vector<int>{1, 2, 4, 3}));
    MessageIndexEntry five = Post(2, "reply to 2");
    EXPECT_EQ(five.messageNo, 5);
    EXPECT_EQ(five.depth, 2);
    EXPECT_EQ(five.threadNo, 1);
    EXPECT_EQ(Numbers(), (std::vector<int>{1, 2, 5, 4, 3}));

    // A reply to the last record of the file goes to the end.
    MessageIndexEntry six = Post(3, "reply to 3");
    EXPECT_EQ(Numbers(), (std::vector<int>{1, 2, 5, 4, 3, 6}));
    EXPECT_EQ(six.threadNo, 3);
    EXPECT_EQ(six.depth, 1);

    // A reply to a missing parent becomes a top-level line keeping the parent's number.
    MessageIndexEntry orphan = Post(99, "orphan");
    EXPECT_EQ(orphan.messageNo, 7);
    EXPECT_EQ(orphan.threadNo, 99);
    EXPECT_EQ(orphan.depth, 0);
    EXPECT_EQ(Numbers().back(), 7);

    // Stored records carry what the entries returned, and every writer has a read mark.
    MessageIndexEntry stored;
    ASSERT_EQ(FindMessage(dir_, 1, 5, kMessageByNumber, stored), 0);
    EXPECT_EQ(PackMessageIndexEntry(stored), PackMessageIndexEntry(five));
    ReadMark mark;
    for (int m = 1; m <= 7; ++m) EXPECT_EQ(FindReadMark(dir_, 1, m, "WRITER", mark), 0) << m;
    EXPECT_FALSE(fs::exists(Index() + ".TMP"));
}

TEST_F(MessageIndex, FindersAndNumberReuse) {
    MessageIndexEntry e;
    EXPECT_EQ(CountMessages(dir_, 1), 0);
    EXPECT_TRUE(fs::exists(Index()));  // created empty
    EXPECT_EQ(FindMessage(dir_, 1, 1, kMessageByPosition, e), -1);
    EXPECT_EQ(FindLastMessage(dir_, 1, kLastByNumber, e), -1);
    EXPECT_EQ(FindLastMessage(dir_, 1, kLastInFile, e), -1);

    // Hand-built file: numbers 3, 7, 5 (7 twice, told apart by title), thread 3 has 2 records.
    auto rec = [](int no, int thread, const std::string& title) {
        MessageIndexEntry r;
        r.folderNo = 1;
        r.messageNo = no;
        r.threadNo = thread;
        r.WRITE_TITLE = title;
        return PackMessageIndexEntry(r);
    };
    WriteFileBytes(Index(), rec(3, 3, "a") + rec(7, 3, "b") + rec(7, 7, "c") + rec(5, 5, "d") + "partial");
    EXPECT_EQ(CountMessages(dir_, 1), 4);
    ASSERT_EQ(FindMessage(dir_, 1, 1, kMessageByPosition, e), 0);
    EXPECT_EQ(e.WRITE_TITLE, "a");
    ASSERT_EQ(FindMessage(dir_, 1, 4, kMessageByPosition, e), 0);
    EXPECT_EQ(e.WRITE_TITLE, "d");
    EXPECT_EQ(FindMessage(dir_, 1, 5, kMessageByPosition, e), -1);
    EXPECT_EQ(FindMessage(dir_, 1, 0, kMessageByPosition, e), -1);
    ASSERT_EQ(FindMessage(dir_, 1, 7, kMessageByNumber, e), 0);
    EXPECT_EQ(e.WRITE_TITLE, "b");
    EXPECT_EQ(FindMessage(dir_, 1, 4, kMessageByNumber, e), -1);
    ASSERT_EQ(FindLastMessage(dir_, 1, kLastByNumber, e), 0);
    EXPECT_EQ(e.WRITE_TITLE, "c");  // the last of equals
    ASSERT_EQ(FindLastMessage(dir_, 1, kLastInFile, e), 0);
    EXPECT_EQ(e.WRITE_TITLE, "d");
    ASSERT_EQ(FindThreadMessage(dir_, 1, 1, 3, e), 0);
    EXPECT_EQ(e.WRITE_TITLE, "b");
    EXPECT_EQ(FindThreadMessage(dir_, 1, 2, 3, e), -1);

    // A new thread overwrites the partial record instead of landing behind it.
    MessageIndexEntry eight = Post(0, "e");
    EXPECT_EQ(eight.messageNo, 8);
    EXPECT_EQ(ReadFileBytes(Index()).size(), 5 * kMessageIndexEntrySize);
    ASSERT_EQ(FindMessage(dir_, 1, 5, kMessageByPosition, e), 0);
    EXPECT_EQ(e.WRITE_TITLE, "e");

    // Deleting the greatest number gives it out again; deleting drops every record of it.
    EXPECT_EQ(DeleteMessageEntry(dir_, 1, 8), 0);
    EXPECT_EQ(Post(0, "f").messageNo, 8);
    EXPECT_EQ(DeleteMessageEntry(dir_, 1, 7), 0);
    EXPECT_EQ(Numbers(), (std::vector<int>{3, 5, 8}));
    EXPECT_EQ(DeleteMessageEntry(dir_, 1, 7), -1);
    EXPECT_EQ(Numbers(), (std::vector<int>{3, 5, 8}));
}

TEST_F(MessageIndex, RewriteMessageOverwritesInPlace) {
    Post(0, "one");
    Post(1, "two");
    Post(0, "three");
    MessageIndexEntry e;
    ASSERT_EQ(FindMessage(dir_, 1, 2, kMessageByNumber, e), 0);
    e.WRITE_TITLE = "edited";
    e.deleted = 1;
    EXPECT_EQ(RewriteMessage(dir_, e), 0);
    std::vector<MessageIndexEntry> all = ReadMessageIndex(dir_, 1);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[1].WRITE_TITLE, "edited");
    EXPECT_EQ(all[1].deleted, 1);
    EXPECT_EQ(all[1].depth, 1);
    EXPECT_EQ(all[0].WRITE_TITLE, "one");
    EXPECT_EQ(all[2].WRITE_TITLE, "three");
    e.messageNo = 42;
    EXPECT_EQ(RewriteMessage(dir_, e), -1);
    EXPECT_EQ(ReadMessageIndex(dir_, 1).size(), 3u);
}

// Checks index.dat of folder 1: numbers 1..n each once, every thread contiguous and depth-first.
// parentOf gives the parent each writer asked for (empty: parents are not known).
void ExpectSoundIndex(const std::vector<MessageIndexEntry>& all,
                      const std::map<int, int>& parentOf = {}) {
    std::vector<int> numbers;
    std::vector<const MessageIndexEntry*> path;  // ancestors of the current record by depth
    for (const auto& e : all) {
        numbers.push_back(e.messageNo);
        ASSERT_GE(e.depth, 0);
        ASSERT_LE(static_cast<size_t>(e.depth), path.size()) << "record " << e.messageNo;
        path.resize(e.depth);
        auto it = parentOf.find(e.messageNo);
        if (e.depth == 0) {
            EXPECT_EQ(e.threadNo, e.messageNo);
            if (it != parentOf.end()) {
                EXPECT_EQ(it->second, 0) << e.messageNo;
            }
        } else {
            EXPECT_EQ(e.threadNo, path.front()->messageNo);
            if (it != parentOf.end()) {
                EXPECT_EQ(path.back()->messageNo, it->second) << e.messageNo;
            }
        }
        path.push_back(&e);
    }
    std::sort(numbers.begin(), numbers.end());
    for (size_t i = 0; i < numbers.size(); ++i) ASSERT_EQ(numbers[i], static_cast<int>(i + 1));
}

std::string BodyFor(const std::string& title, int length) {
    std::string body = title + "\r";
    while (static_cast<int>(body.size()) < length) body += "line of " + title + "\r";
    return body;
}

TEST_F(MessageIndex, ConcurrentWritersKeepTheIndexSound) {
    constexpr int kWriters = 4, kPosts = 30;
    std::vector<pid_t> kids;
    for (int w = 0; w < kWriters; ++w) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::mt19937 rng(w * 7919 + 1);
            int bad = 0;
            for (int i = 0; i < kPosts; ++i) {
                std::vector<MessageIndexEntry> now = ReadMessageIndex(dir_, 1);
                int parent = (now.empty() || rng() % 3 == 0) ? 0 : now[rng() % now.size()].messageNo;
                MessageIndexEntry e;
                e.folderNo = 1;
                e.messageNo = parent;
                e.userId = "W" + std::to_string(w);
                e.WRITE_TITLE = "w" + std::to_string(w) + "-" + std::to_string(i) + "-p" + std::to_string(parent);
                if (AppendMessage(dir_, e, e.userId) != 0) ++bad;
                if (WriteMessageBody(dir_, 1, e.messageNo, BodyFor(e.WRITE_TITLE, 100 + 37 * i)) != 0) ++bad;
                ReadMark mark;
                mark.messageNo = now.empty() ? e.messageNo : now[rng() % now.size()].messageNo;
                mark.userId = "R" + std::to_string(rng() % 3);
                if (SaveReadMark(dir_, 1, mark) != 0) ++bad;
            }
            _exit(bad == 0 ? 0 : 1);
        }
        kids.push_back(pid);
    }
    for (pid_t pid : kids) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    std::vector<MessageIndexEntry> all = ReadMessageIndex(dir_, 1);
    ASSERT_EQ(all.size(), static_cast<size_t>(kWriters * kPosts));
    std::map<int, int> parentOf;
    for (const auto& e : all) {
        std::string title = e.WRITE_TITLE;
        parentOf[e.messageNo] = std::atoi(title.substr(title.rfind("-p") + 2).c_str());
        int seq = std::atoi(title.substr(title.find('-') + 1).c_str());
        std::string body;
        ASSERT_EQ(ReadMessageBody(dir_, 1, e.messageNo, body), 0);
        EXPECT_EQ(body, BodyFor(title, 100 + 37 * seq)) << title;
        ReadMark mark;
        EXPECT_EQ(FindReadMark(dir_, 1, e.messageNo, e.userId, mark), 0);
        // Marks saved under the lock never duplicate a user.
        std::vector<ReadMark> marks = ReadReadMarks(dir_, 1, e.messageNo);
        std::set<std::string> users;
        for (const auto& m : marks) EXPECT_TRUE(users.insert(m.userId).second) << e.messageNo;
    }
    ExpectSoundIndex(all, parentOf);
}

TEST_F(MessageIndex, KilledWriterNeverLeavesABrokenIndex) {
    Post(0, "root");
    std::mt19937 rng(12345);
    size_t lastSize = ReadFileBytes(Index()).size();
    for (int round = 0; round < 50; ++round) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::mt19937 child(round);
            for (;;) {
                std::vector<MessageIndexEntry> now = ReadMessageIndex(dir_, 1);
                MessageIndexEntry e;
                e.folderNo = 1;
                e.messageNo = now[child() % now.size()].messageNo;
                e.WRITE_TITLE = "reply";
                AppendMessage(dir_, e, "KILLME");
            }
        }
        // Once the writer is under way (its first reply is in), kill it at a random moment.
        std::error_code ec;  // a missing index ends the wait and fails below
        for (int wait = 0; wait < 2000 && fs::file_size(Index(), ec) <= lastSize; ++wait) usleep(1000);
        usleep(rng() % 5000);
        kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);

        ASSERT_TRUE(fs::exists(Index())) << "round " << round;
        std::string bytes = ReadFileBytes(Index());
        ASSERT_EQ(bytes.size() % kMessageIndexEntrySize, 0u) << "round " << round;
        ASSERT_GE(bytes.size(), lastSize) << "round " << round;
        lastSize = bytes.size();
        ExpectSoundIndex(ReadMessageIndex(dir_, 1));
    }
    EXPECT_GT(lastSize, 50 * kMessageIndexEntrySize);  // every writer got work done
}

}  // namespace

namespace {

// A damaged record holding the greatest number leaves no number for a new message: the post is
// refused rather than numbered by an overflow.
TEST_F(MessageIndex, NoNumberPastTheGreatest) {
    Post(0, "First");
    std::string last(4, '\0');
    PutInt32(last, 0, INT32_MAX);
    ASSERT_EQ(WriteAt(dir_, Index(), 4, last), 0);
    const std::string before = ReadFileBytes(Index());
    MessageIndexEntry e;
    e.folderNo = 1;
    EXPECT_EQ(AppendMessage(dir_, e, "WRITER"), -1);
    EXPECT_EQ(CommitNewMessage(dir_, e, "body", {}), -1);
    EXPECT_EQ(NextMessageNumberOf(dir_, 1), -1);
    EXPECT_EQ(ReadFileBytes(Index()), before);
}

}  // namespace

// A page by number found keeping only the numbers between it and the nearer end equals the
// slice of the whole index sorted by number (first record of each number of 1 or more),
// counted from either end: numbers out of order, repeated, 0 and negative, sparse and dense,
// and pages at, across and past the end.
TEST_F(MessageIndex, PagesByNumberAreSlicesOfTheSortedIndex) {
    std::mt19937 rng(11);
    for (int round = 0; round < 6; ++round) {
        std::string bytes;
        const int records = round == 0 ? 0 : 50 + static_cast<int>(rng() % 900);
        for (int i = 0; i < records; ++i) {
            MessageIndexEntry e;
            e.folderNo = 1;
            const int32_t spread = round % 3 == 0 ? 60 : round % 3 == 1 ? 5000 : 2000000000;
            e.messageNo = static_cast<int32_t>(rng() % spread) - 3;
            e.WRITE_TITLE = "r" + std::to_string(i);  // tells copies of a number apart
            bytes += PackMessageIndexEntry(e);
        }
        WriteFileBytes(Index(), bytes + "partial");
        std::vector<MessageIndexEntry> sorted;
        for (const MessageIndexEntry& e : ReadMessageIndex(dir_, 1))
            if (e.messageNo >= 1) sorted.push_back(e);
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const auto& a, const auto& b) { return a.messageNo < b.messageNo; });
        sorted.erase(std::unique(sorted.begin(), sorted.end(),
                                 [](const auto& a, const auto& b) { return a.messageNo == b.messageNo; }),
                     sorted.end());
        const size_t last = (static_cast<size_t>(records) + 59) / 20 * 20 - 20;  // last page + 40
        for (size_t first : {size_t{0}, size_t{20}, size_t{40}, size_t{580}, last - 80, last - 60,
                             last - 40, last - 20}) {
            std::vector<std::string> want, got;
            for (size_t k = first; k < sorted.size() && k < first + 20; ++k)
                want.push_back(PackMessageIndexEntry(sorted[k]));
            for (const MessageIndexEntry& e : ReadMessagesByNumber(dir_, 1, first, 20))
                got.push_back(PackMessageIndexEntry(e));
            EXPECT_EQ(got, want) << "round " << round << " first " << first;
        }
    }
}
