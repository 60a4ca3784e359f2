// Helpers shared by the unit tests: a temporary directory that removes itself with everything
// in it, and whole-file reads and writes that leave the bytes exactly as given.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>

// A fresh directory under /tmp (mkdtemp), removed recursively when the object goes. path ends
// with "/", so it serves directly as a data directory; File(name) is a path inside it.
class TempDir {
public:
    explicit TempDir(std::string_view prefix = "board_test") {
        std::string pattern = "/tmp/";
        pattern.append(prefix);
        pattern += ".XXXXXX";
        const char* made = mkdtemp(pattern.data());
        EXPECT_NE(made, nullptr) << "mkdtemp " << pattern;
        if (made) {
            root_ = made;
            path = root_ + "/";
        } else {
            path = "/nonexistent-test-dir/";
        }
    }
    ~TempDir() {
        std::error_code ignored;
        if (!root_.empty()) std::filesystem::remove_all(root_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string File(std::string_view name) const { return path + std::string(name); }

    std::string path;  // ends with "/"

private:
    std::string root_;
};

// The bytes of a file; empty when it is missing or cannot be read.
inline std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Replaces (or creates) a file with exactly bytes. A failure is reported to the running test.
inline bool WriteFileBytes(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    const bool ok = static_cast<bool>(out);
    EXPECT_TRUE(ok) << "cannot write " << path;
    return ok;
}
