#include "tools/progress.h"

#include <cstdio>
#include <unistd.h>

Progress::Progress(std::string verb) : verb_(std::move(verb)) {
    shown_ = isatty(STDERR_FILENO) == 1;
    last_ = std::chrono::steady_clock::now();
}

Progress::~Progress() {
    Clear();
}

void Progress::Add(uint64_t bytes) {
    ++files_;
    bytes_ += bytes;
    if (!shown_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    fprintf(stderr, "\r%s %llu files, %s ", verb_.c_str(), static_cast<unsigned long long>(files_),
            ByteCount(bytes_).c_str());
    fflush(stderr);
    drawn_ = true;
}

void Progress::Clear() {
    if (!drawn_) return;
    fprintf(stderr, "\r\033[K");
    fflush(stderr);
    drawn_ = false;
}

std::string ByteCount(uint64_t bytes) {
    char buf[64];
    if (bytes < 1000) {
        snprintf(buf, sizeof buf, "%llu bytes", static_cast<unsigned long long>(bytes));
    } else if (bytes < 1000000) {
        snprintf(buf, sizeof buf, "%.1f kB", static_cast<double>(bytes) / 1e3);
    } else if (bytes < 1000000000ULL) {
        snprintf(buf, sizeof buf, "%.1f MB", static_cast<double>(bytes) / 1e6);
    } else {
        snprintf(buf, sizeof buf, "%.1f GB", static_cast<double>(bytes) / 1e9);
    }
    return buf;
}
