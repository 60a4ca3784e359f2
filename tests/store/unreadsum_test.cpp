#include "store/unreadsum.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "store/bodies.h"
#include "store/messagechange.h"
#include "store/messages.h"
#include "store/readmarks.h"
#include "store/recordfile.h"
#include "store/unread.h"
#include "tests/testutil.h"

namespace {

namespace fs = std::filesystem;

// The literal count, message by message, on the files as they are (nothing created).
int LiteralCountUnread(const std::string& dir, const std::string& user) {
    const std::string folder = dir + "1/";
    std::string list = ReadFileBytes(folder + "unread.dat");
    for (size_t start = 0; start < list.size();) {
        size_t end = list.find('\n', start);
        if (end == std::string::npos) end = list.size();
        std::string line = list.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == user) return 0;
        start = end + 1;
    }
    const std::string index = ReadFileBytes(folder + "index.dat");
    int messages = 0, marked = 0;
    for (size_t off = 0; off + 160 <= index.size(); off += 160) {
        ++messages;
        int32_t number;
        std::memcpy(&number, index.data() + off + 4, 4);
        const std::string marks = ReadFileBytes(folder + "R" + std::to_string(number) + ".DAT");
        for (size_t m = 0; m + 32 <= marks.size(); m += 32) {
            char id[24] = {};
            std::memcpy(id, marks.data() + m + 4, 23);
            if (user == id) ++marked;
        }
    }
    return messages - marked;
}

std::string MarkRecord(int32_t message, const std::string& id) {
    ReadMark mark;
    mark.messageNo = message;
    mark.userId = id;
    return PackReadMark(mark);
}

// Replaces a file as another program would: a new file renamed over the old one.
void ReplaceExternally(const std::string& path, const std::string& bytes) {
    WriteFileBytes(path + ".ext", bytes);
    fs::rename(path + ".ext", path);
}

// Random sequences of every operation that changes messages, read marks or no-read lists
// (the single-file writes and the all-or-nothing post, edit and removal), mixed with
// replacements of the folder's files behind the board's back: after each step the count of
// every user equals the literal count, and the stored summary, when trusted, equals a fresh
// count. The board's own changes leave the summary trusted, so their deltas are what is checked.
TEST(UnreadSummary, CountsFollowEveryChangeAndExternalReplacement) {
    const std::vector<std::string> users = {"A", "B", "CC", "ABCDEFGHIJKLMNOPQRSTUVW", "D E%"};
    std::mt19937 rng(7);
    auto pick = [&](const std::vector<std::string>& v) { return v[rng() % v.size()]; };
    for (int sequence = 0; sequence < 12; ++sequence) {
        TempDir tmp("unreadsum");
        const std::string dir = tmp.path;
        ASSERT_EQ(EnsureFolderDir(dir, 1), 0);
        ASSERT_EQ(CountUnread(dir, 1, "A"), 0);  // the summary, stored for the changes to follow
        auto number = [&] {  // a message number that may or may not exist
            const int count = CountMessages(dir, 1);
            return 1 + static_cast<int>(rng() % static_cast<unsigned>(count + 2));
        };
        for (int step = 0; step < 60; ++step) {
            const std::string user = pick(users);
            std::string what;
            UnreadSummary trusted;
            // A change the board makes keeps a trusted summary trusted (a count that found the
            // user on the no-read list may have left an untrusted one).
            bool own = LoadUnreadSummary(dir, 1, trusted) == 0;
            switch (rng() % 15) {
            case 0: case 1: {
                MessageIndexEntry e;
                e.folderNo = 1;
                e.messageNo = rng() % 3 == 0 ? 0 : number();
                e.WRITE_TITLE = "t";
                AppendMessage(dir, e, user);
                what = "append";
                break;
            }
            case 2: case 3: {
                ReadMark mark;
                mark.messageNo = number();
                mark.userId = user;
                SaveReadMark(dir, 1, mark);
                what = "mark";
                break;
            }
            case 4: ClearReadMarks(dir, 1, number()); what = "clear"; break;
            case 5: DeleteMessageEntry(dir, 1, number()); what = "delete"; break;
            case 6: {
                MessageIndexEntry e;
                if (FindMessage(dir, 1, number(), kMessageByNumber, e) == 0) {
                    e.deleted = 1;
                    RewriteMessage(dir, e);
                }
                what = "flag deleted";
                break;
            }
            case 7: AddNoReadEntry(dir, 1, user); what = "no-read add"; break;
            case 8: RemoveNoReadEntry(dir, 1, user); what = "no-read remove"; break;
            case 9: WriteMessageBody(dir, 1, number(), "body"); what = "body"; break;
            case 10: {  // another program replaces or removes a read-mark file
                const std::string path = ReadMarkPath(dir, 1, number());
                if (rng() % 3 == 0) fs::remove(path);
                else ReplaceExternally(path, MarkRecord(1, pick(users)) + MarkRecord(2, user));
                what = "external marks";
                own = false;
                break;
            }
            case 11: {  // another program (a restore) replaces the index or the no-read list
                if (rng() % 2) {
                    std::string index = ReadFileBytes(MessageIndexPath(dir, 1));
                    index += index.substr(0, 160);  // a number listed twice
                    ReplaceExternally(MessageIndexPath(dir, 1), index);
                } else {
                    ReplaceExternally(NoReadListPath(dir, 1), pick(users) + "\r\n");
                }
                what = "external index or list";
                own = false;
                break;
            }
            case 12: {
                MessageIndexEntry e;
                e.folderNo = 1;
                e.messageNo = rng() % 3 == 0 ? 0 : number();
                e.userId = user;
                CommitNewMessage(dir, e, "body", {});
                what = "post";
                break;
            }
            case 13: {
                MessageIndexEntry e;
                if (FindMessage(dir, 1, number(), kMessageByNumber, e) == 0) {
                    e.userId = user;
                    ASSERT_EQ(CommitEditedMessage(dir, e, "edited", {}, {}), 0);
                }
                what = "edit";
                break;
            }
            case 14: CommitMessageRemoval(dir, 1, number()); what = "removal"; break;
            }
            if (own) {
                ASSERT_EQ(LoadUnreadSummary(dir, 1, trusted), 0)
                    << "sequence " << sequence << " step " << step << " (" << what << ")";
            }
            for (const std::string& u : users)
                ASSERT_EQ(CountUnread(dir, 1, u), LiteralCountUnread(dir, u))
                    << "sequence " << sequence << " step " << step << " (" << what << ") user " << u;
            UnreadSummary stored, fresh;
            if (LoadUnreadSummary(dir, 1, stored) == 0) {
                ASSERT_EQ(CountUnreadSummary(dir, 1, fresh, false), 0);
                ASSERT_EQ(stored.records, fresh.records) << "step " << step << " (" << what << ")";
                std::erase_if(stored.marks, [](const auto& p) { return p.second == 0; });
                ASSERT_EQ(stored.marks, fresh.marks) << "step " << step << " (" << what << ")";
            }
        }
    }
}

// A damaged or foreign summary is never trusted; the count rebuilds it.
TEST(UnreadSummary, DamagedSummaryIsRebuilt) {
    TempDir tmp("unreadsum");
    const std::string dir = tmp.path;
    MessageIndexEntry e;
    e.folderNo = 1;
    ASSERT_EQ(AppendMessage(dir, e, "A"), 0);
    e.messageNo = 0;
    ASSERT_EQ(AppendMessage(dir, e, "B"), 0);
    ASSERT_EQ(CountUnread(dir, 1, "A"), 1);
    const std::string path = UnreadSummaryPath(dir, 1);
    const std::string good = ReadFileBytes(path);
    UnreadSummary parsed;
    ASSERT_TRUE(ParseUnreadSummary(good, parsed));
    EXPECT_EQ(parsed.records, 2);
    EXPECT_EQ(parsed.marks, (std::map<std::string, long>{{"A", 1}, {"B", 1}}));

    std::string flipped = good;
    flipped[flipped.find("records 2")] = 'R';
    for (const std::string& bad : {std::string(), good.substr(0, good.size() - 3), flipped,
                                   std::string("garbage\r\n")}) {
        EXPECT_FALSE(ParseUnreadSummary(bad, parsed));
        // Written in place, so that the folder's stamp stays as the summary recorded it.
        const int fd = open(path.c_str(), O_WRONLY | O_TRUNC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, bad.data(), bad.size()), static_cast<ssize_t>(bad.size()));
        close(fd);
        EXPECT_EQ(CountUnread(dir, 1, "A"), 1);
        EXPECT_EQ(CountUnread(dir, 1, "C"), 2);
        EXPECT_TRUE(ParseUnreadSummary(ReadFileBytes(path), parsed));
    }
    // Ids of any bytes survive the file.
    UnreadSummary odd;
    odd.records = 3;
    odd.marks = {{"a b%c\x01", 2}, {"", 1}};
    ASSERT_TRUE(ParseUnreadSummary(FormatUnreadSummary(odd), parsed));
    EXPECT_EQ(parsed.marks, odd.marks);
}

}  // namespace
