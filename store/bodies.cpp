#include "store/bodies.h"

#include <sys/stat.h>
#include <unistd.h>

#include "store/recordfile.h"
#include "store/unreadsum.h"

std::string MessageBodyPath(const std::string& dataDir, int folder, int messageNo) {
    return FolderFilePath(dataDir, folder, "X" + std::to_string(messageNo) + ".DAT");
}

int WriteMessageBody(const std::string& dataDir, int folder, int messageNo, std::string_view text) {
    text = text.substr(0, text.find('\0'));
    const std::string path = MessageBodyPath(dataDir, folder, messageNo);
    UnreadSummaryUpdate update(dataDir, folder);  // a new file in the folder: a new stamp
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
    const size_t got = ReadBytesAt(fd, 0, want, out);
    close(fd);
    size_t nul = out.find('\0');
    if (nul != std::string::npos) out.resize(nul);
    return got == want ? 0 : -1;
}
