// Progress of a long operator command: files and bytes done, redrawn on one line of the
// terminal at most a few times a second. Silent when standard error is not a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class Progress {
public:
    // verb names the work ("checked", "saved", "restored").
    explicit Progress(std::string verb);
    ~Progress();
    void Add(uint64_t bytes);  // one more file of that many bytes
    // Clears the progress line (before other output and at the end).
    void Clear();
    uint64_t files() const { return files_; }
    uint64_t bytes() const { return bytes_; }

private:
    std::string verb_;
    bool shown_ = false;
    bool drawn_ = false;
    uint64_t files_ = 0;
    uint64_t bytes_ = 0;
    std::chrono::steady_clock::time_point last_;
};

// "12.3 MB", "456 bytes".
std::string ByteCount(uint64_t bytes);
