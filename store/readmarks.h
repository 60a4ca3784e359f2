// Read marks: R<m>.DAT in the folder directory holds one 32-byte record per user who has read
// message m. A message is unread for a user exactly when the user has no mark on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr size_t kReadMarkSize = 32;

struct ReadMark {
    int32_t messageNo = 0;  // 0
    std::string userId;     // 4, 24 bytes: the reader
    int32_t count = 0;      // 28: always written as 0
};

std::string PackReadMark(const ReadMark& mark);
ReadMark UnpackReadMark(std::string_view record);

// "%s%d/R%d.DAT"
std::string ReadMarkPath(const std::string& dataDir, int folder, int messageNo);

// Every mark of the message in file order, from one read (R<m>.DAT is created empty when
// missing).
std::vector<ReadMark> ReadReadMarks(const std::string& dataDir, int folder, int messageNo);

// The user's mark on the message (exact compare of the id). 0 or -1.
int FindReadMark(const std::string& dataDir, int folder, int messageNo, const std::string& userId,
                 ReadMark& out);

// The n-th mark (from 0) of the message in file order. 0 or -1.
int ReadMarkAt(const std::string& dataDir, int folder, int messageNo, int n, ReadMark& out);

// Overwrites in place the first mark with the same user id in R<m>.DAT of mark.messageNo, or
// appends the mark. 0, or -1 when the file cannot be written.
int SaveReadMark(const std::string& dataDir, int folder, const ReadMark& mark);

// The same, for a caller that knows how many index records carry the mark's message number
// (copies; -1 = not known, the index is then read when the count needs it).
int SaveReadMarkCounted(const std::string& dataDir, int folder, const ReadMark& mark,
                        long copies);

// SaveReadMark and ClearReadMarks on the bytes of an R<m>.DAT in memory.
void PutReadMarkIn(std::string& bytes, const ReadMark& mark);
void ClearReadMarksIn(std::string& bytes, int messageNo);

// Rewrites R<m>.DAT (through R<m>.TMP) keeping only records of other message numbers, so that
// it ends up existing and empty. 0, or -1 when the file cannot be rewritten.
int ClearReadMarks(const std::string& dataDir, int folder, int messageNo);

// Number of the folder's messages the user has not read: the number of index records minus
// the number of the user's marks in their R<m>.DAT files (messages with the deleted flag count
// like any other). 0 when the user is on the folder's no-read list; -1 when a read-mark file
// cannot be opened. Reads index.dat once and each R<m>.DAT once; an R<m>.DAT that does not
// exist is created empty.
int CountUnread(const std::string& dataDir, int folder, const std::string& userId);

// Rewrites R<m>.DAT (through R<m>.TMP) without the marks for which drop holds, which is called
// for every mark in file order; a file that would stay the same is left alone. dropped, when
// given, counts the marks left out. 0, or -1 when the file could not be read or rewritten.
int DropReadMarks(const std::string& dataDir, int folder, int messageNo,
                  const std::function<bool(const ReadMark&)>& drop, long* dropped = nullptr);
