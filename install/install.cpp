#include "install/install.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#include "install/embedded.h"
#include "store/users.h"

namespace fs = std::filesystem;

static bool Printable(const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x21 || c > 0x7E) return false;
    }
    return true;
}

std::string CheckInstallOptions(const InstallOptions& o) {
    // The login page sends at most 20 characters per field; a comma would split the user record.
    if (o.operatorId.empty() || o.operatorId.size() > 20 || !Printable(o.operatorId) ||
        o.operatorId.find(',') != std::string::npos) {
        return "the operator's user id must be 1 to 20 printable ASCII characters without a "
               "comma or blank";
    }
    if (o.operatorPassword.empty() || o.operatorPassword.size() > 20 ||
        !Printable(o.operatorPassword) || o.operatorPassword.find(',') != std::string::npos) {
        return "the operator's password must be 1 to 20 printable ASCII characters without a "
               "comma or blank";
    }
    if (o.port < 1 || o.port > 65535) return "the port must be a number from 1 to 65535";
    if (o.language != "japan.lng" && o.language != "english.lng") {
        return "the language must be japan.lng or english.lng";
    }
    if (o.dir.empty()) return "no installation directory given";
    // The directory ends up in the settings file (one "KEY,value," line of at most 999 bytes)
    // and in quoted strings of the server configuration.
    if (o.dir.size() > 900) return "the installation directory's path is too long";
    for (unsigned char c : o.dir) {
        if (c < 0x20 || c == 0x7F || c == ',' || c == '"' || c == '\\' || c == '$') {
            return "the installation directory's path must not contain a comma, a quote, a "
                   "backslash, '$' or control characters";
        }
    }
    return "";
}

SystemSettings InstallationSettings(const std::string& dir, const std::string& language) {
    SystemSettings s;
    s.LANGUAGE = language;
    s.CG_FILE_PATH = dir + "/www/";
    // Host-relative prefixes: the pages work under whatever host name and port the browser
    // used to reach the server.
    s.CG_FILE_WEB_PATH = kWebUrl;
    s.DATA_FILE_PATH = dir + "/data/";
    s.ADD_FILE_PATH = dir + "/files/";
    s.ADD_FILE_WEB_PATH = kFilesUrl;
    s.LOGIN_GIF = "title.jpg";
    s.BACK_GIF = "back.gif";
    s.LOG_DATE = "365";
    s.DATETIME = 1;
    s.IECOLS = 80;
    s.NSCOLS = 60;
    s.ROWS = 8;
    s.MYDATA = 0;
    s.MAX_CONTENTS = 4000;
    s.FRAME_DIVIDE = 20;
    return s;
}

// The web server's limit of a request in kilobytes: the program's default limit of a body
// (MAX_REQUEST_SIZE) and 64 kB for the request line and header.
static long long MaxRequestKbytes() { return kDefaultMaxRequestBytes / 1024 + 64; }

std::string ServerConfig(const std::string& dir, int port) {
    std::string c;
    c += "# lighttpd configuration of the board installed in " + dir + "\n";
    c += "# Start in the foreground (Ctrl-C stops it):  lighttpd -D -f " + dir + "/lighttpd.conf\n";
    c += "#\n";
    c += "# Only the program runs: " + std::string(kProgramUrl) +
         " is the one URL handed to mod_cgi.\n";
    c += "# " + std::string(kWebUrl) + " (web files) are plain static files. Every other URL is\n";
    c += "# refused, so the data directory, the program's working directory (upload temporary\n";
    c += "# files) and the attachments are never served: attachments are sent by the program\n";
    c += "# to callers who may read their folder.\n\n";
    c += "server.modules = ( \"mod_access\", \"mod_alias\", \"mod_redirect\", \"mod_setenv\", "
         "\"mod_cgi\" )\n\n";
    c += "server.bind = \"127.0.0.1\"\n";
    c += "server.port = " + std::to_string(port) + "\n";
    c += "server.document-root = \"" + dir + "/www\"\n";
    c += "server.upload-dirs = ( \"" + dir + "/tmp\" )\n";
    c += "# Requests larger than the program takes (MAX_REQUEST_SIZE, with room for the header)\n";
    c += "# are refused here already, before they reach the disk.\n";
    c += "server.max-request-size = " + std::to_string(MaxRequestKbytes()) + "\n\n";
    c += "mimetype.assign = (\n";
    // Keys are matched against the end of the file name ignoring letter case ("NEW.GIF").
    static const char* const kTypes[][2] = {
        {".html", "text/html; charset=Shift_JIS"}, {".htm", "text/html; charset=Shift_JIS"},
        {".txt", "text/plain; charset=Shift_JIS"}, {".gif", "image/gif"},
        {".jpg", "image/jpeg"}, {".jpeg", "image/jpeg"}, {".png", "image/png"},
        {".bmp", "image/bmp"}, {".pdf", "application/pdf"}, {".zip", "application/zip"},
        {"", "application/octet-stream"},
    };
    for (const auto& t : kTypes) {
        c += "  \"" + std::string(t[0]) + "\" => \"" + t[1] + "\",\n";
    }
    c += ")\n\n";
    c += "alias.url = (\n";
    c += "  \"" + std::string(kProgramUrl) + "\" => \"" + dir + "/cgi-bin/boardcgi.cgi\",\n";
    c += "  \"" + std::string(kWebUrl) + "\" => \"" + dir + "/www/\",\n";
    c += ")\n\n";
    c += "# The bare address leads to the login page.\n";
    c += "url.redirect = ( \"^/$\" => \"" + std::string(kProgramUrl) + "\" )\n\n";
    c += "# Everything but the program and the web files is refused.\n";
    c += "$HTTP[\"url\"] !~ \"^/(Vorbix/|cgi-bin/boardcgi\\.cgi$|$)\" {\n";
    c += "  url.access-deny = ( \"\" )\n";
    c += "}\n\n";
    c += "# The program is the only thing executed.\n";
    c += "$HTTP[\"url\"] == \"" + std::string(kProgramUrl) + "\" {\n";
    c += "  cgi.assign = ( \"\" => \"\" )\n";
    c += "  cgi.execute-x-only = \"enable\"\n";
    c += "}\n\n";
    c += "# Static files are taken as the type given here, never sniffed. What users upload\n";
    c += "# (user and folder pictures) is also sandboxed: an uploaded page is shown without\n";
    c += "# scripts and without access to the board's pages.\n";
    c += "$HTTP[\"url\"] =~ \"^/Vorbix/\" {\n";
    c += "  setenv.add-response-header = ( \"X-Content-Type-Options\" => \"nosniff\" )\n";
    c += "}\n";
    c += "$HTTP[\"url\"] =~ \"^/Vorbix/(userpic/|[0-9]+/)\" {\n";
    c += "  setenv.add-response-header = ( \"X-Content-Type-Options\" => \"nosniff\",\n";
    c += "                                  \"Content-Security-Policy\" => \"sandbox\" )\n";
    c += "}\n";
    return c;
}

// Apache httpd 2.4 with Debian's module directory.
static constexpr const char* kApacheModules = "/usr/lib/apache2/modules/";

std::string ApacheConfig(const std::string& dir, int port) {
    const std::string program = std::string(kProgramUrl);
    std::string c;
    c += "# Apache httpd 2.4 configuration of the board installed in " + dir + "\n";
    c += "# Start in the foreground (Ctrl-C stops it):\n";
    c += "#   apache2 -DFOREGROUND -f " + dir + "/apache2.conf\n";
    c += "# Started as root, the server (and so the program) runs as www-data, which then must\n";
    c += "# own the installation:  chown -R www-data:www-data " + dir + "\n";
    c += "#\n";
    c += "# The same rules as lighttpd.conf: only the program runs (" + program + "); " +
         kWebUrl + "\n";
    c += "# (web files) are plain static files; every other URL is refused, so the data\n";
    c += "# directory, the program's working directory (upload temporary files) and the\n";
    c += "# attachments are never served: attachments are sent by the program to callers who\n";
    c += "# may read their folder.\n\n";
    for (const char* m : {"mpm_prefork", "authz_core", "alias", "mime", "headers", "cgi"}) {
        c += "LoadModule " + std::string(m) + "_module " + kApacheModules + "mod_" + m + ".so\n";
    }
    c += "\n";
    c += "ServerRoot \"" + dir + "\"\n";
    c += "ServerName 127.0.0.1\n";
    c += "Listen 127.0.0.1:" + std::to_string(port) + "\n";
    c += "User www-data\n";
    c += "Group www-data\n";
    c += "DefaultRuntimeDir \"" + dir + "/tmp\"\n";
    c += "PidFile \"" + dir + "/tmp/apache2.pid\"\n";
    c += "ErrorLog \"" + dir + "/tmp/apache2-error.log\"\n";
    c += "LogLevel warn\n";
    c += "ServerTokens Prod\n";
    c += "ServerSignature Off\n";
    c += "TraceEnable Off\n";
    c += "StartServers 2\n\n";
    c += "# Request bodies larger than the program takes (MAX_REQUEST_SIZE) are refused here.\n";
    c += "LimitRequestBody " + std::to_string(kDefaultMaxRequestBytes) + "\n\n";
    c += "TypesConfig /dev/null\n";
    static const char* const kTypes[][2] = {
        {"text/html;charset=Shift_JIS", ".html .htm"}, {"text/plain;charset=Shift_JIS", ".txt"},
        {"image/gif", ".gif"}, {"image/jpeg", ".jpg .jpeg"}, {"image/png", ".png"},
        {"image/bmp", ".bmp"}, {"application/pdf", ".pdf"}, {"application/zip", ".zip"},
    };
    for (const auto& t : kTypes) c += "AddType " + std::string(t[0]) + " " + t[1] + "\n";
    c += "DocumentRoot \"" + dir + "/www\"\n\n";
    c += "Alias " + program + " \"" + dir + "/cgi-bin/boardcgi.cgi\"\n";
    c += "Alias " + std::string(kWebUrl) + " \"" + dir + "/www/\"\n";
    c += "# The bare address leads to the login page.\n";
    c += "RedirectMatch 301 ^/$ " + program + "\n\n";
    c += "# Nothing of the file system is served unless granted below.\n";
    c += "<Directory />\n  Options None\n  AllowOverride None\n  Require all denied\n</Directory>\n";
    c += "# Everything but the program and the web files is refused.\n";
    c += "<LocationMatch \"^/(?!Vorbix/|cgi-bin/boardcgi\\.cgi$|$)\">\n  Require all denied\n"
         "</LocationMatch>\n\n";
    c += "# The program is the only thing executed.\n";
    c += "<Directory \"" + dir + "/cgi-bin\">\n";
    c += "  <Files \"boardcgi.cgi\">\n    Require all granted\n    Options +ExecCGI\n"
         "    SetHandler cgi-script\n  </Files>\n";
    c += "</Directory>\n\n";
    c += "# Static files are taken as the type given here, never sniffed. What users upload\n";
    c += "# (user and folder pictures) is also sandboxed: an uploaded page is shown without\n";
    c += "# scripts and without access to the board's pages.\n";
    c += "<Directory \"" + dir + "/www\">\n  Require all granted\n";
    c += "  Header always set X-Content-Type-Options nosniff\n";
    c += "  # Files of other types are sent as plain bytes to save.\n";
    c += "  ForceType application/octet-stream\n";
    c += "  <FilesMatch \"(?i)\\.(html|htm|txt|gif|jpg|jpeg|png|bmp|pdf|zip)$\">\n";
    c += "    ForceType None\n  </FilesMatch>\n";
    c += "</Directory>\n";
    c += "<LocationMatch \"^/Vorbix/(userpic/|[0-9]+/)\">\n";
    c += "  Header always set Content-Security-Policy sandbox\n</LocationMatch>\n";
    return c;
}

static bool WriteFile(const std::string& path, const void* data, size_t size, mode_t mode) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    f.close();
    if (!f) return false;
    return chmod(path.c_str(), mode) == 0;
}

static bool WriteText(const std::string& path, const std::string& text, mode_t mode) {
    return WriteFile(path, text.data(), text.size(), mode);
}

static bool ReadFile(const std::string& path, std::string& bytes) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    bytes.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return !f.bad();
}

// Builds the installation in an empty directory o.dir; the caller cleans up on failure.
static int Populate(const InstallOptions& o, std::string& error) {
    const std::string& dir = o.dir;
    std::error_code ec;
    const std::pair<const char*, fs::perms> dirs[] = {
        {"/data", fs::perms::owner_all},
        {"/www", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                     fs::perms::others_read | fs::perms::others_exec},
        {"/files", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                       fs::perms::others_read | fs::perms::others_exec},
        {"/cgi-bin", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                         fs::perms::others_read | fs::perms::others_exec},
        {"/tmp", fs::perms::owner_all},
    };
    for (const auto& [name, perms] : dirs) {
        fs::create_directory(dir + name, ec);
        if (!ec) fs::permissions(dir + name, perms, ec);
        if (ec) {
            error = "cannot create " + dir + name + ": " + ec.message();
            return -1;
        }
    }

    std::string program;
    if (!ReadFile(o.program, program) || program.empty()) {
        error = "cannot read the program " + o.program;
        return -1;
    }
    const std::string cgiDir = dir + "/cgi-bin/";
    if (!WriteFile(cgiDir + "boardcgi.cgi", program.data(), program.size(), 0755)) {
        error = "cannot write " + cgiDir + "boardcgi.cgi";
        return -1;
    }
    for (size_t i = 0; i < kEmbeddedFileCount; ++i) {
        const EmbeddedFile& f = kEmbeddedFiles[i];
        const std::string path =
            (f.kind == kEmbeddedLanguage ? cgiDir : dir + "/www/") + f.name;
        if (!WriteFile(path, f.data, f.size, 0644)) {
            error = "cannot write " + path;
            return -1;
        }
    }
    const SystemSettings settings = InstallationSettings(dir, o.language);
    if (SaveSettings(settings, cgiDir + "boardcgi.ini") != 0) {
        error = "cannot write " + cgiDir + "boardcgi.ini";
        return -1;
    }

    UserRecord op;
    op.USER_ID = o.operatorId;
    op.USER_NAME = "System operator";
    op.USER_LEVEL = 100;
    op.USER_PASS = o.operatorPassword;
    op.USER_DISP_DEF = 1;
    op.MODE = 1;
    op.WRITE_MODE = 1;
    if (AppendUser(settings.DATA_FILE_PATH, op) != 0) {
        error = "cannot write the user file in " + settings.DATA_FILE_PATH;
        return -1;
    }

    if (o.demo && AddDemoContent(settings.DATA_FILE_PATH, o.operatorId, error) != 0) return -1;

    if (!WriteText(dir + "/lighttpd.conf", ServerConfig(dir, o.port), 0644)) {
        error = "cannot write " + dir + "/lighttpd.conf";
        return -1;
    }
    if (!WriteText(dir + "/apache2.conf", ApacheConfig(dir, o.port), 0644)) {
        error = "cannot write " + dir + "/apache2.conf";
        return -1;
    }
    return 0;
}

int CreateInstallation(InstallOptions o, std::string& error) {
    error = CheckInstallOptions(o);
    if (!error.empty()) return -1;
    std::error_code ec;
    fs::path dir = fs::absolute(o.dir, ec).lexically_normal();
    std::string text = dir.string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    o.dir = text;
    error = CheckInstallOptions(o);
    if (!error.empty()) return -1;

    if (access(o.program.c_str(), X_OK) != 0 || !fs::is_regular_file(o.program, ec)) {
        error = "the program " + o.program + " is missing or not executable";
        return -1;
    }

    bool created = false;
    const fs::file_status st = fs::symlink_status(o.dir, ec);
    if (fs::exists(st)) {
        if (!fs::is_directory(st) || !fs::is_empty(o.dir, ec) || ec) {
            error = o.dir + " already exists and is not an empty directory; refusing to "
                    "overwrite an existing installation";
            return -1;
        }
    } else {
        fs::create_directories(o.dir, ec);
        if (ec) {
            error = "cannot create " + o.dir + ": " + ec.message();
            return -1;
        }
        created = true;
    }

    if (Populate(o, error) == 0) return 0;

    // Leave the directory as it was found: it was missing or empty before.
    if (created) {
        fs::remove_all(o.dir, ec);
    } else {
        for (const auto& entry : fs::directory_iterator(o.dir, ec)) {
            std::error_code ignored;
            fs::remove_all(entry.path(), ignored);
        }
    }
    return -1;
}
