#include "config/settings.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "store/recordfile.h"

namespace {

const TextSettingKey kTextKeys[] = {
    {"LANGUAGE", &SystemSettings::LANGUAGE, SystemSettings::kPathSize},
    {"CG_FILE_PATH", &SystemSettings::CG_FILE_PATH, SystemSettings::kPathSize},
    {"CG_FILE_WEB_PATH", &SystemSettings::CG_FILE_WEB_PATH, SystemSettings::kPathSize},
    {"DATA_FILE_PATH", &SystemSettings::DATA_FILE_PATH, SystemSettings::kPathSize},
    {"ADD_FILE_PATH", &SystemSettings::ADD_FILE_PATH, SystemSettings::kPathSize},
    {"ADD_FILE_WEB_PATH", &SystemSettings::ADD_FILE_WEB_PATH, SystemSettings::kPathSize},
    {"LOGIN_GIF", &SystemSettings::LOGIN_GIF, SystemSettings::kPictureSize},
    {"BACK_GIF", &SystemSettings::BACK_GIF, SystemSettings::kPictureSize},
    {"LOG_DATE", &SystemSettings::LOG_DATE, SystemSettings::kLogDateSize},
    {"LOGOFF_URL", &SystemSettings::LOGOFF_URL, SystemSettings::kPathSize},
};

// The first kFormNumberKeys are the numbers of the system settings form.
const NumberSettingKey kNumberKeys[] = {
    {"DATETIME", &SystemSettings::DATETIME},   {"IECOLS", &SystemSettings::IECOLS},
    {"NSCOLS", &SystemSettings::NSCOLS},       {"ROWS", &SystemSettings::ROWS},
    {"MYDATA", &SystemSettings::MYDATA},       {"MAX_CONTENTS", &SystemSettings::MAX_CONTENTS},
    {"FRAME_DIVIDE", &SystemSettings::FRAME_DIVIDE},
    {"MAX_REQUEST_SIZE", &SystemSettings::MAX_REQUEST_SIZE},
    {"MAX_UPLOAD_FILES", &SystemSettings::MAX_UPLOAD_FILES},
};
constexpr size_t kFormNumberKeys = 7;

}  // namespace

std::span<const TextSettingKey> TextSettingKeys() { return kTextKeys; }
std::span<const NumberSettingKey> NumberSettingKeys() { return kNumberKeys; }
std::span<const NumberSettingKey> FormNumberSettingKeys() {
    return std::span<const NumberSettingKey>(kNumberKeys).first(kFormNumberKeys);
}

namespace {

// Values written into a newly created settings file: the directories of the installation
// layout and the URL under which the local web server shows the program's web files.
constexpr const char* kNewLanguage = "japan.lng";
constexpr const char* kNewCgFilePath = "/srv/board/www/";
constexpr const char* kNewDataFilePath = "/srv/board/data/";
constexpr const char* kNewAddFilePath = "/srv/board/www/";
constexpr const char* kNewWebPath = "http://localhost/Vorbix/";
constexpr const char* kNewLoginGif = "title.jpg";
constexpr const char* kNewBackGif = "back.gif";
constexpr const char* kNewLogDate = "365";

// A settings line is read into a buffer of 1,000 bytes (999 bytes and the terminator).
constexpr size_t kLineBuffer = 1000;

// Permissions of a settings file written where none existed.
constexpr mode_t kNewFileMode = 0644;

// Assigns the value of one key; unknown keys change nothing.
void Assign(SystemSettings& s, std::string_view key, std::string_view value) {
    for (const TextSettingKey& t : TextSettingKeys()) {
        if (key == t.key) {
            s.*t.field = CutToSlot(value, t.slot);
            return;
        }
    }
    for (const NumberSettingKey& n : NumberSettingKeys()) {
        if (key == n.key) {
            s.*n.field = ParseInt(value);
            return;
        }
    }
}

// The contents of a newly created settings file; also the values of the run that creates it.
std::string NewFileContent() {
    std::string c;
    c += std::string("LANGUAGE,") + kNewLanguage + ",\n";
    c += std::string("CG_FILE_PATH,") + kNewCgFilePath + ",\n";
    c += std::string("CG_FILE_WEB_PATH,") + kNewWebPath + ",\n";
    c += std::string("DATA_FILE_PATH,") + kNewDataFilePath + ",\n";
    c += std::string("ADD_FILE_PATH,") + kNewAddFilePath + ",\n";
    c += std::string("ADD_FILE_WEB_PATH,") + kNewWebPath + ",\n";
    c += std::string("LOGIN_GIF,") + kNewLoginGif + ",\n";
    c += std::string("BACK_GIF,") + kNewBackGif + ",\n";
    c += std::string("LOG_DATE,") + kNewLogDate + ",\n";
    c += "DATETIME,1,\n";
    c += "IECOLS,80,\n";
    c += "NSCOLS,60,\n";
    c += "ROWS,8,\n";
    c += "MYDATA,0,\n";
    c += "MAX_CONTENTS,4000,\n";
    c += "FRAME_DIVIDE,20,\n";
    return c;
}

void ReadSettingLines(SystemSettings& s, std::string_view bytes) {
    for (std::string_view line : SplitTextLines(bytes, kLineBuffer)) {
        std::vector<std::string_view> tokens = CommaTokens(line);
        // A key without a value leaves the field as it was.
        if (tokens.size() < 2) continue;
        Assign(s, tokens[0], tokens[1]);
    }
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Writes content to a fresh temporary file beside path, flushes it to disk and renames it over
// path. The file keeps the permissions of the one it replaces. 0 or -1 (path unchanged).
int ReplaceFile(const std::string& path, std::string_view content) {
    std::string tmp = path + ".XXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd < 0) return -1;
    struct stat st;
    fchmod(fd, stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : kNewFileMode);
    bool ok = WriteAll(fd, content) && fsync(fd) == 0;
    if (close(fd) != 0) ok = false;
    if (ok && rename(tmp.c_str(), path.c_str()) == 0) return 0;
    unlink(tmp.c_str());
    return -1;
}

// A value as it may stand in a line: up to its first line end (the file cannot hold a line
// feed in a value, and a value must never start a line of its own, which would read as a key).
std::string_view LineValue(const std::string& value) {
    std::string_view v(value);
    return v.substr(0, v.find_first_of("\r\n"));
}

}  // namespace

void LoadSettings(SystemSettings& settings, MessageTable& messages, const std::string& fileName) {
    SystemSettings defaults;
    defaults.settingsFile = settings.settingsFile;
    defaults.scriptName = settings.scriptName;
    settings = defaults;

    std::string bytes;
    if (ReadWholeFile(fileName, bytes)) {
        ReadSettingLines(settings, bytes);
    } else {
        // No readable file: work with the values of a new installation, and write them when
        // the file is missing (an existing file that cannot be read is left alone).
        const std::string content = NewFileContent();
        ReadSettingLines(settings, content);
        struct stat st;
        if (stat(fileName.c_str(), &st) != 0 && errno == ENOENT) ReplaceFile(fileName, content);
    }
    LoadMessages(messages, settings.LANGUAGE);
}

int SaveSettings(const SystemSettings& s, const std::string& fileName) {
    std::string c;
    auto text = [&c](const char* key, const std::string& value, size_t slot) {
        c += key;
        c += ',';
        c += CutToSlot(LineValue(value), slot);
        c += ",\n";
    };
    auto number = [&c](const char* key, int value) {
        c += key;
        c += ',';
        c += std::to_string(value);
        c += ",\n";
    };
    text("LANGUAGE", s.LANGUAGE, SystemSettings::kPathSize);
    text("CG_FILE_PATH", s.CG_FILE_PATH, SystemSettings::kPathSize);
    text("CG_FILE_WEB_PATH", s.CG_FILE_WEB_PATH, SystemSettings::kPathSize);
    text("DATA_FILE_PATH", s.DATA_FILE_PATH, SystemSettings::kPathSize);
    text("ADD_FILE_PATH", s.ADD_FILE_PATH, SystemSettings::kPathSize);
    text("ADD_FILE_WEB_PATH", s.ADD_FILE_WEB_PATH, SystemSettings::kPathSize);
    text("LOGIN_GIF", s.LOGIN_GIF, SystemSettings::kPictureSize);
    text("BACK_GIF", s.BACK_GIF, SystemSettings::kPictureSize);
    text("LOG_DATE", s.LOG_DATE, SystemSettings::kLogDateSize);
    number("DATETIME", s.DATETIME);
    number("IECOLS", s.IECOLS);
    number("NSCOLS", s.NSCOLS);
    number("ROWS", s.ROWS);
    number("MYDATA", s.MYDATA);
    number("MAX_CONTENTS", s.MAX_CONTENTS);
    if (!s.LOGOFF_URL.empty()) text("LOGOFF_URL", s.LOGOFF_URL, SystemSettings::kPathSize);
    number("FRAME_DIVIDE", s.FRAME_DIVIDE);
    if (s.MAX_REQUEST_SIZE != kDefaultMaxRequestSize) number("MAX_REQUEST_SIZE", s.MAX_REQUEST_SIZE);
    if (s.MAX_UPLOAD_FILES != kDefaultMaxUploadFiles) number("MAX_UPLOAD_FILES", s.MAX_UPLOAD_FILES);
    return ReplaceFile(fileName, c);
}
