#include "store/bodies.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "store/recordfile.h"

std::string MessageBodyPath(const std::string& dataDir, int folder, int messageNo) {
    return FolderFilePath(dataDir, folder, "X" + std::to_string(messageNo) + ".DAT");
}

int WriteMessageBody(const std::string& dataDir, int folder, int messageNo, std::string_view text) {
    text = text.substr(0, text.find('\0'));
    const std::string path = MessageBodyPath(dataDir, folder, messageNo);
    return RewriteViaTemp(dataDir, path, path + ".TMP", text);
}

int ReadMessageBody(const std::string& dataDir, int folder, int messageNo, std::string& out) {
    out.clear();
    int fd = OpenRecordFile(MessageBodyPath(dataDir, folder, messageNo));
    if (fd < 0) return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        close(fd);
        return -1;
    }
    const size_t want = st.st_size <= 0 ? 0
                        : static_cast<size_t>(st.st_size) > kMaxBodyRead
                            ? kMaxBodyRead
                            : static_cast<size_t>(st.st_size);
    out.resize(want);
    size_t got = 0;
    while (got < want) {
        ssize_t n = read(fd, out.data() + got, want - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    out.resize(got);
    size_t nul = out.find('\0');
    if (nul != std::string::npos) out.resize(nul);
    return got == want ? 0 : -1;
}
