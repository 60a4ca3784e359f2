// boardinstall: creates an installation of the board in a new (or empty) directory.
//
//   boardinstall DIR OPERATOR_ID OPERATOR_PASSWORD [--demo] [--port N] [--program PATH]
//                [--language japan.lng|english.lng]
//
// Exit status 0 on success, 1 when the installation could not be made (an existing
// installation is never overwritten), 2 for a wrong command line.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "install/install.h"

static void Usage() {
    fprintf(stderr,
            "usage: boardinstall DIR OPERATOR_ID OPERATOR_PASSWORD [--demo] [--port N]\n"
            "                    [--program PATH] [--language japan.lng|english.lng]\n"
            "  DIR       new or empty directory for the installation\n"
            "  --demo    add demo folders, users and messages (language english.lng unless\n"
            "            --language says otherwise)\n"
            "  --port    port of the web server on 127.0.0.1 (default 8080)\n"
            "  --program the boardcgi program to install (default: boardcgi beside this "
            "command)\n");
}

// The boardcgi program next to this command's own executable.
static std::string DefaultProgram() {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "boardcgi";
    std::string path(self, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "boardcgi";
}

int main(int argc, char** argv) {
    InstallOptions o;
    std::vector<std::string> positional;
    std::string language;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--demo") {
            o.demo = true;
        } else if (a == "--port" && value(v)) {
            char* end = nullptr;
            const long port = strtol(v.c_str(), &end, 10);
            o.port = (end != v.c_str() && *end == '\0' && port > 0 && port < 65536)
                         ? static_cast<int>(port) : -1;
        } else if (a == "--program" && value(v)) {
            o.program = v;
        } else if (a == "--language" && value(v)) {
            language = v;
        } else if (a == "-h" || a == "--help") {
            Usage();
            return 0;
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            fprintf(stderr, "boardinstall: unknown or incomplete option %s\n", a.c_str());
            Usage();
            return 2;
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 3) {
        Usage();
        return 2;
    }
    o.dir = positional[0];
    o.operatorId = positional[1];
    o.operatorPassword = positional[2];
    if (o.program.empty()) o.program = DefaultProgram();
    // The demo is meant to be read by anyone; a real installation starts with the system's
    // default language.
    o.language = !language.empty() ? language : (o.demo ? "english.lng" : "japan.lng");

    std::string error;
    if (CreateInstallation(o, error) != 0) {
        fprintf(stderr, "boardinstall: %s\n", error.c_str());
        return 1;
    }
    std::string dir = o.dir;
    char real[PATH_MAX];
    if (realpath(o.dir.c_str(), real) != nullptr) dir = real;
    printf("Installation created in %s\n", dir.c_str());
    printf("  program:     %s/cgi-bin/boardcgi.cgi (settings boardcgi.ini beside it)\n",
           dir.c_str());
    printf("  web server:  lighttpd -D -f %s/lighttpd.conf\n", dir.c_str());
    printf("           or  apache2 -DFOREGROUND -f %s/apache2.conf (see the file)\n", dir.c_str());
    printf("  address:     http://127.0.0.1:%d%s\n", o.port, kProgramUrl);
    printf("  operator:    %s (level 100)\n", o.operatorId.c_str());
    if (o.demo) printf("  demo users:  alice/alice, bob/bob (members), guest/guest (shared)\n");
    return 0;
}
