// gzip-compressed tar archives (POSIX ustar; a pax extended header carries a name longer than
// the ustar fields hold), written and read as a stream through zlib. Only directories and
// regular files are written; the reader takes those and refuses every other kind of entry.
#pragma once

#include <sys/types.h>
#include <zlib.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

class TarGzWriter {
public:
    ~TarGzWriter();
    // level: zlib's 1 (fastest) to 9 (smallest).
    bool Open(const std::string& path, int level);
    bool AddDirectory(const std::string& name, mode_t mode, time_t mtime);
    // Adds a file of size bytes whose bytes source fills in pieces: source(buffer, wanted)
    // returns the count it put there (0 or less: the file ended early, an error).
    bool AddFile(const std::string& name, uint64_t size, mode_t mode, time_t mtime,
                 const std::function<long(char*, size_t)>& source);
    bool AddBytes(const std::string& name, std::string_view bytes, mode_t mode, time_t mtime);
    // Writes the end of the archive and closes it. false when any write failed.
    bool Close();

private:
    bool Write(const void* data, size_t size);
    bool Pad(uint64_t size);
    bool Header(const std::string& name, char type, uint64_t size, mode_t mode, time_t mtime);
    gzFile gz_ = nullptr;
    bool ok_ = true;
};

class TarGzReader {
public:
    struct Entry {
        std::string name;
        char type = 0;  // '0' file, '5' directory
        uint64_t size = 0;
        mode_t mode = 0;
        time_t mtime = 0;
    };

    ~TarGzReader();
    bool Open(const std::string& path);
    // The next entry: 1, or 0 at the end of the archive, or -1 when the archive is damaged or
    // holds an entry that is neither a file nor a directory (error then says why). The data of
    // a file entry must be taken with ReadData before the next call.
    int Next(Entry& entry);
    // Passes the entry's size bytes to sink in pieces; false when the archive ends early or
    // sink returns false.
    bool ReadData(uint64_t size, const std::function<bool(const char*, size_t)>& sink);

    std::string error;

private:
    bool ReadBlock(char* block, bool& atEnd);
    bool Skip(uint64_t size);
    gzFile gz_ = nullptr;
};
