// The request decoder on arbitrary bodies: the first byte chooses GET, a URL-encoded POST or a
// multipart POST (whose boundary is "b"); every upload temporary file is swept afterwards.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "cgi/request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string work = [] {
        char pattern[] = "/tmp/request_fuzz.XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made == nullptr) abort();
        return std::string(made);
    }();
    if (size == 0) return 0;
    const std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
    CgiInput in;
    in.workDir = work;
    in.limits.maxRequestBytes = 1 << 16;
    in.limits.maxUploadFiles = 4;
    const int fd = memfd_create("body", 0);
    if (fd < 0) abort();
    if (write(fd, body.data(), body.size()) != static_cast<ssize_t>(body.size())) abort();
    lseek(fd, 0, SEEK_SET);
    in.fd = fd;
    switch (data[0] % 3) {
        case 0:
            in.method = "GET";
            in.queryString = body;
            in.hasQueryString = true;
            break;
        case 1:
            in.method = "POST";
            in.contentType = "application/x-www-form-urlencoded";
            break;
        default:
            in.method = "POST";
            in.contentType = "multipart/form-data; boundary=b";
            break;
    }
    in.contentLength = std::to_string(body.size());
    in.hasContentLength = true;
    FieldList fields;
    DecodeRequest(in, fields);
    for (const FormField& f : fields) {
        if (!f.isUpload || f.value.empty()) continue;
        std::string value = f.value, client, temp;
        SplitUploadValue(value, client, temp);
        GetField(fields, f.name, 0, 1000);
    }
    FinishRequest(fields, work, 1 << 30);  // far in the future: every temporary is stale
    close(fd);
    return 0;
}
