// Where a run writes its response: standard output in the program, a string in tests.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

class Output {
public:
    virtual ~Output() = default;
    virtual void Write(std::string_view bytes) = 0;
    virtual void Flush() {}

    Output& operator<<(std::string_view s) { Write(s); return *this; }
    Output& operator<<(const std::string& s) { Write(s); return *this; }
    Output& operator<<(const char* s) { Write(s ? std::string_view(s) : std::string_view()); return *this; }
    Output& operator<<(char c) { Write(std::string_view(&c, 1)); return *this; }
    Output& operator<<(int v) { Write(std::to_string(v)); return *this; }
    Output& operator<<(long v) { Write(std::to_string(v)); return *this; }

    // printf-style formatting for the page formats written as "%s", "%d" and so on.
    void Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void VPrintf(const char* format, va_list args);
};

// Collects everything written; for tests and for pages assembled before sending.
class StringOutput : public Output {
public:
    void Write(std::string_view bytes) override { text.append(bytes); }
    std::string text;
};

// Writes to a file descriptor through a buffer that is flushed when full, by Flush and at
// destruction. Short writes and EINTR are retried.
class FdOutput : public Output {
public:
    explicit FdOutput(int fd) : fd_(fd) {}
    ~FdOutput() override { Flush(); }
    FdOutput(const FdOutput&) = delete;
    FdOutput& operator=(const FdOutput&) = delete;
    void Write(std::string_view bytes) override;
    void Flush() override;

private:
    int fd_;
    std::string buffer_;
};
