#include "admin/picture.h"

#include <sys/stat.h>
#include <unistd.h>

#include "cgi/files.h"
#include "cgi/request.h"

namespace {

constexpr size_t kUploadCapacity = 1000;

bool EndsWithNoCase(const std::string& text, const char* suffix) {
    const std::string s = suffix;
    if (text.size() < s.size()) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        char c = text[text.size() - s.size() + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != s[i]) return false;
    }
    return true;
}

}  // namespace

bool IsPictureName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') return false;
    for (const char* ext : {".gif", ".jpg", ".jpeg", ".png", ".bmp"})
        if (EndsWithNoCase(name, ext) && name.size() > std::char_traits<char>::length(ext))
            return true;
    return false;
}

PictureUpload TakePicture(Run& run, const char* field, const std::string& dir,
                          std::string& name) {
    std::string value = GetUploadField(run.fields, field, 0, kUploadCapacity);
    if (value.empty()) return PictureUpload::None;
    std::string client, temp;
    SplitUploadValue(value, client, temp);
    if (temp.empty()) return PictureUpload::None;
    const std::string tempPath = run.workDir.empty() ? temp : run.workDir + "/" + temp;
    struct stat st;
    if (lstat(tempPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return PictureUpload::Failed;

    // The client's directory is already cut at "/" and "\"; cut again so that no separator
    // of either kind can remain whatever the decoder kept.
    CutToLastSeparator(client, '\\');
    CutToLastSeparator(client, '/');
    if (!IsPictureName(client)) {
        unlink(tempPath.c_str());
        return PictureUpload::Refused;
    }
    const std::string target = dir + client;
    unlink(target.c_str());
    if (MoveFile(tempPath, target) != 0) {
        unlink(tempPath.c_str());
        return PictureUpload::Failed;
    }
    name = client;
    return PictureUpload::Stored;
}
