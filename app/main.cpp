// boardcgi: started by the web server once per request with the CGI environment; the request
// body arrives on standard input and the response leaves on standard output.
#include <csignal>
#include <cstdlib>
#include <string>

#include "app/entry.h"
#include "cgi/output.h"
#include "cgi/request.h"

int main(int argc, char** argv) {
    // A browser that goes away must not end the run in the middle of its work.
    signal(SIGPIPE, SIG_IGN);
    // Web servers end a CGI run whose browser went away with SIGTERM; a run takes
    // milliseconds, and ending it early would leave its upload temporary files behind.
    signal(SIGTERM, SIG_IGN);

    std::string programPath = argc > 0 && argv[0] != nullptr ? argv[0] : "";
    if (programPath.find_first_of("/\\") == std::string::npos) {
        // Started by bare name: the web server names the script it runs.
        const char* script = getenv("SCRIPT_FILENAME");
        if (script != nullptr && *script != '\0') programPath = script;
    }

    FdOutput out(1);
    const CgiInput input = CgiInputFromEnvironment(0, "");
    RunRequest(programPath, input, out);
    out.Flush();
    return 0;
}
