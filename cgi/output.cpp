#include "cgi/output.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

void Output::Printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    VPrintf(format, args);
    va_end(args);
}

void Output::VPrintf(const char* format, va_list args) {
    char small[512];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof small) {
        Write(std::string_view(small, static_cast<size_t>(n)));
        return;
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(big.data(), big.size(), format, args);
    big.resize(static_cast<size_t>(n));
    Write(big);
}

void FdOutput::Write(std::string_view bytes) {
    buffer_.append(bytes);
    if (buffer_.size() >= 64 * 1024) Flush();
}

void FdOutput::Flush() {
    size_t done = 0;
    while (done < buffer_.size()) {
        ssize_t w = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            break;  // the client went away; nothing more can be delivered
        }
        done += static_cast<size_t>(w);
    }
    buffer_.clear();
}
