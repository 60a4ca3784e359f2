// Creating an installation of the board: the directory layout, the program with its settings
// and language files, the static web files, the first system operator, the web server's
// configuration and, on request, a small demo board.
//
// Layout under the installation directory DIR (all paths absolute):
//   DIR/cgi-bin/        the program (boardcgi.cgi), boardcgi.ini, the language files; the
//                       program's working directory, where upload temporary files appear
//   DIR/data/           DATA_FILE_PATH: the record files
//   DIR/www/            CG_FILE_PATH, seen by browsers as /Vorbix/
//   DIR/files/          ADD_FILE_PATH, the attachments (sent only by the program)
//   DIR/tmp/            the web server's own temporary files (request bodies)
//   DIR/lighttpd.conf   the web server configuration (see ServerConfig)
//   DIR/apache2.conf    the same for Apache httpd 2.4 (see ApacheConfig)
#pragma once

#include <string>

#include "config/settings.h"

struct InstallOptions {
    std::string dir;               // installation directory (made absolute)
    std::string operatorId;        // the first system operator's user id
    std::string operatorPassword;
    std::string program;           // the boardcgi program to copy
    std::string language;          // LANGUAGE: "japan.lng" or "english.lng"
    int port = 8080;               // port of the web server on 127.0.0.1
    bool demo = false;             // also create the demo folders, users and messages
};

// URL layout shared by the settings and the server configuration.
inline constexpr const char* kProgramUrl = "/cgi-bin/boardcgi.cgi";
inline constexpr const char* kWebUrl = "/Vorbix/";
inline constexpr const char* kFilesUrl = "/files/";  // ADD_FILE_WEB_PATH, no longer served

// Checks the options: a user id and password the login page can send (1 to 20 printable ASCII
// characters, no comma), a port in 1..65535, a directory path without characters that the
// configuration files cannot hold. "" when they are usable, otherwise the reason.
std::string CheckInstallOptions(const InstallOptions& options);

// The settings of a new installation in dir (absolute, no trailing "/").
SystemSettings InstallationSettings(const std::string& dir, const std::string& language);

// The lighttpd configuration of an installation in dir (absolute, no trailing "/"): listens on
// 127.0.0.1:port; executes only the program at kProgramUrl; serves DIR/www/ at kWebUrl as
// static files (never executed) with "X-Content-Type-Options: nosniff", uploaded pictures
// sandboxed; limits the size of a request to the program's; refuses every other URL, so the
// data directory, the program's working directory and the attachments are never served.
std::string ServerConfig(const std::string& dir, int port);

// The Apache httpd 2.4 configuration of the same installation, with the same rules as
// ServerConfig (Debian's module directory; started as root it serves as www-data).
std::string ApacheConfig(const std::string& dir, int port);

// Creates the installation. Refuses (without touching anything) when options.dir exists and
// is not an empty directory. On a failure half-way it removes what it created. 0 on success;
// otherwise -1 with error set.
int CreateInstallation(InstallOptions options, std::string& error);

// The demo content: folders, groups, users of both account kinds and messages, written
// through the store into the data directory dataDir. The operator writes the first messages.
// 0, or -1 with error set.
int AddDemoContent(const std::string& dataDir, const std::string& operatorId, std::string& error);
