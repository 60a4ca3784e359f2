// The installation settings: one small text file next to the program, one line per key
// ("KEY,value,"), read at the start of every run and written back by the system settings page.
#pragma once

#include <span>
#include <string>

#include "cgi/request.h"
#include "config/language.h"

inline constexpr int kDefaultMaxRequestSize = static_cast<int>(kDefaultMaxRequestBytes);

struct SystemSettings {
    // Slot sizes of the text settings (bytes, terminator included): values are cut to one
    // byte less when read.
    static constexpr size_t kPathSize = 1002;     // LANGUAGE, paths, URLs, LOGOFF_URL
    static constexpr size_t kPictureSize = 252;   // LOGIN_GIF, BACK_GIF
    static constexpr size_t kLogDateSize = 10;    // LOG_DATE

    std::string LANGUAGE = "japan.lng";  // language file, relative to the working directory
    std::string CG_FILE_PATH;       // directory of the web files (pictures, link.html), ends "/"
    std::string CG_FILE_WEB_PATH;   // URL prefix of CG_FILE_PATH, ends "/"
    std::string DATA_FILE_PATH;     // data directory of the record files, ends "/"
    std::string ADD_FILE_PATH;      // directory of message attachments, ends "/"
    std::string ADD_FILE_WEB_PATH;  // URL prefix of ADD_FILE_PATH, ends "/"
    std::string LOGIN_GIF;          // picture of the login page (under CG_FILE_WEB_PATH)
    std::string BACK_GIF;           // background picture of the pages
    std::string LOG_DATE;           // days the access log keeps (decimal text; 0/empty: no log)
    int DATETIME = 1;               // 1: lists show date and time; 2: date only
    int IECOLS = 80;                // text area columns for MSIE browsers
    int NSCOLS = 60;                // text area columns for other browsers
    int ROWS = 8;                   // text area rows
    int MYDATA = 0;                 // 0: users may edit their own data; 1: they may not
    int MAX_CONTENTS = 4000;        // largest message text in bytes
    std::string LOGOFF_URL;         // page after log-off; empty: the login page
    int FRAME_DIVIDE = 20;          // width of the menu frame in percent
    // Limits of one request (the decoder refuses a request beyond them as a whole). A value
    // below 1 reads as the default. Written to the file only when not the default, after
    // FRAME_DIVIDE, so the file of an installation that keeps the defaults stays as it was.
    int MAX_REQUEST_SIZE = kDefaultMaxRequestSize;  // bytes of a POST body
    int MAX_UPLOAD_FILES = kDefaultMaxUploadFiles;  // uploaded files per request

    // Held for the run beside the settings, not stored in the file; set by the entry.
    std::string settingsFile;       // the settings file name
    std::string scriptName;         // the program's own name, target of every form and link

    bool operator==(const SystemSettings&) const = default;
};

// The keys of the settings file and the fields they name. Text values are cut to slot - 1
// bytes. The number keys are those of the system settings form followed by the request
// limits, which the form does not show.
struct TextSettingKey {
    const char* key;
    std::string SystemSettings::*field;
    size_t slot;
};
struct NumberSettingKey {
    const char* key;
    int SystemSettings::*field;
};
std::span<const TextSettingKey> TextSettingKeys();
std::span<const NumberSettingKey> NumberSettingKeys();
// The number keys the system settings form edits (a prefix of NumberSettingKeys()).
std::span<const NumberSettingKey> FormNumberSettingKeys();

// Sets every setting to its default, reads the settings file (creating it with the values of a
// new installation when it does not exist, and working with those values), then loads the
// messages of the language file named by LANGUAGE into messages. settingsFile and scriptName
// are left as they are.
void LoadSettings(SystemSettings& settings, MessageTable& messages, const std::string& fileName);

// Writes the settings file anew from the current values, one "KEY,value," line per key in the
// fixed order (LOGOFF_URL only when it is not empty). The new file replaces the old one in a
// single rename, so a run reading it sees the old file or the new one. 0, or -1 when the file
// could not be written (the old file is then unchanged).
int SaveSettings(const SystemSettings& settings, const std::string& fileName);
