// The message index of a board folder: index.dat in the folder directory, one 160-byte record
// per message, kept in thread order (each thread contiguous, replies depth-first after their
// parent, new threads at the end).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr size_t kMessageIndexEntrySize = 160;

struct MessageIndexEntry {
    int32_t folderNo = 0;      // 0
    int32_t messageNo = 0;     // 4; into AppendMessage: the parent's number, 0 for a new thread
    int32_t HTML_MODE = 0;     // 8
    int32_t threadNo = 0;      // 12: number of the thread's first message
    int32_t depth = 0;         // 16: 0 for a thread's first message
    int32_t WRITE_PRIORITY = 0;// 20
    std::string date;          // 24, 20 bytes: "%04d/%02d/%02d %02d:%02d"
    std::string userId;        // 44, 22 bytes: the writer
    std::string WRITE_TITLE;   // 66, 82 bytes
    int32_t attachCount = 0;   // 148
    int32_t deleted = 0;       // 152: 1 = placeholder of a deleted message that has replies
    int32_t READ_CHK = 0;      // 156
};

// Ways of FindMessage and FindLastMessage.
inline constexpr int kMessageByNumber = 1;    // FindMessage: key is a message number
inline constexpr int kMessageByPosition = 2;  // FindMessage: key is a 1-based position
inline constexpr int kLastByNumber = 1;       // FindLastMessage: greatest number (last of equals)
inline constexpr int kLastInFile = 2;         // FindLastMessage: physically last record

std::string PackMessageIndexEntry(const MessageIndexEntry& entry);
MessageIndexEntry UnpackMessageIndexEntry(std::string_view record);

// "%s%d/index.dat"
std::string MessageIndexPath(const std::string& dataDir, int folder);

// All records of the folder in file order, from one read (index.dat is created empty when the
// folder directory exists and the file does not).
std::vector<MessageIndexEntry> ReadMessageIndex(const std::string& dataDir, int folder);

// Up to n records from the 0-based position first, read at their offset (index.dat is created
// empty when missing, as CountMessages does).
std::vector<MessageIndexEntry> ReadMessagesAt(const std::string& dataDir, int folder, long first,
                                              long n);

// index.dat as read once, its records unpacked only when asked for: pages that show a few
// messages find them, their neighbours and their threads from the raw number, thread and depth
// fields.
// The file is read once in pieces, keeping only the number and thread fields; a record is
// unpacked when asked for, read at its offset from the same open file (so all of it comes from
// one version of the file).
struct RawMessageIndex {
    RawMessageIndex() = default;
    RawMessageIndex(RawMessageIndex&& other) noexcept;
    RawMessageIndex& operator=(RawMessageIndex&&) = delete;
    ~RawMessageIndex();

    std::vector<int32_t> numbers;  // of the complete records, in file order
    std::vector<int32_t> threads;
    int fd = -1;

    size_t size() const { return numbers.size(); }
    int32_t number(size_t i) const { return numbers[i]; }
    int32_t thread(size_t i) const { return threads[i]; }
    // The record at position i (an empty entry when it cannot be read).
    MessageIndexEntry entry(size_t i) const;
    // Position of the first record of the number, or -1.
    long find(int32_t number) const;
};
// One read of index.dat (created empty when the folder directory exists and the file does not).
RawMessageIndex ReadRawMessageIndex(const std::string& dataDir, int folder);
// The same, handing each complete record to visit (its position and bytes) as it is read, for
// pages that look at other fields of every record without keeping them.
RawMessageIndex ReadRawMessageIndex(
    const std::string& dataDir, int folder,
    const std::function<void(size_t position, std::string_view record)>& visit);

// The records of the numbers ranked first .. first + n - 1 among the distinct numbers of 1 or
// more, ascending, each number's first record in file order, from one read of index.dat in
// pieces; the records are read at their offset from the same open file. Only the numbers
// between the page and the nearer end of the index are kept (and, from the end, a bit per
// number), so the caller takes ReadRawMessageIndex for pages far from both ends. index.dat is
// created empty when missing.
std::vector<MessageIndexEntry> ReadMessagesByNumber(const std::string& dataDir, int folder,
                                                    size_t first, size_t n);

// Number of records; 0 when the file cannot be opened. Creates an empty index.dat when missing.
int CountMessages(const std::string& dataDir, int folder);

// how kMessageByNumber: the first record whose number is key; how kMessageByPosition: the record
// at 1-based position key. 0, or -1 when there is none.
int FindMessage(const std::string& dataDir, int folder, int key, int how, MessageIndexEntry& out);

// how kLastByNumber: the record with the greatest number (the last of equals in file order);
// how kLastInFile: the physically last record. -1 when the file is empty.
int FindLastMessage(const std::string& dataDir, int folder, int how, MessageIndexEntry& out);

// The n-th record (from 0) in file order whose thread number is threadNo. 0 or -1.
int FindThreadMessage(const std::string& dataDir, int folder, int n, int threadNo,
                      MessageIndexEntry& out);

// Number of records whose message number is messageNo (0 when the index cannot be read).
int CountMessageCopies(const std::string& dataDir, int folder, int messageNo);

// Stores a new message of entry.folderNo. entry.messageNo carries the parent's number (0 for a
// new thread); on return the entry holds its new number, thread number and depth, deleted 0.
// A new thread goes to the end of the file; a reply becomes the last record of its parent's
// subtree; a reply to a missing parent goes to the end with depth 0 and thread number = the
// missing parent's number. The writer (writerId) gets a read mark on the new message.
// Number allocation and insertion happen under one lock. 0, or -1 when index.dat cannot be
// written or no number is left.
int AppendMessage(const std::string& dataDir, MessageIndexEntry& entry,
                  const std::string& writerId);
// The same, calling beforeInsert with the new number under the lock once the number is known and
// before the index changes (the posting page writes the body there, so that the index never
// lists a message before its text is there). When beforeInsert gives a result other than 0,
// nothing is stored and -1 results.
int AppendMessage(const std::string& dataDir, MessageIndexEntry& entry,
                  const std::string& writerId,
                  const std::function<int(int32_t newNo)>& beforeInsert);

// The number AppendMessage gives next: one more than the greatest number of the index bytes;
// -1 when that is already the greatest number there is (no message can be added).
int32_t NextMessageNumber(std::string_view indexBytes);
// AppendMessage's insertion on index bytes in memory (cut first to complete records), without
// the read mark: entry as for AppendMessage. false (nothing inserted) when no number is left.
bool InsertMessageIn(std::string& indexBytes, MessageIndexEntry& entry);

// Overwrites in place every record whose number equals entry.messageNo (folder entry.folderNo).
// 0 when one was overwritten, else -1.
int RewriteMessage(const std::string& dataDir, const MessageIndexEntry& entry);

// Rewrites index.dat without the records of messageNo (their replies stay where they are).
// 0 when one was dropped, else -1.
int DeleteMessageEntry(const std::string& dataDir, int folder, int messageNo);
