// SHA-256 (FIPS 180-4), for the checksums of the backup manifest: the same hex digests as
// sha256sum prints.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class Sha256 {
public:
    Sha256();
    void Update(const void* data, size_t size);
    void Update(std::string_view bytes) { Update(bytes.data(), bytes.size()); }
    // The digest as 64 lower-case hex digits. Ends the computation.
    std::string HexDigest();

private:
    void Block(const unsigned char* p);
    std::array<uint32_t, 8> h_;
    unsigned char buffer_[64];
    size_t used_ = 0;
    uint64_t length_ = 0;
};

// The hex digest of bytes.
std::string Sha256Hex(std::string_view bytes);
