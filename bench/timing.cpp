// benchtime: times requests of the program against /bin/true in the same run. Each case is run
// in pairs with /bin/true, interleaved (true, page, true, page, ...), so that both see the same
// machine state; the table gives the medians of both and their ratio, of the wall-clock time and
// of the CPU time (user and system) of the run, which a busy machine disturbs less, and the
// greatest peak resident memory of the page's runs.
//
//   benchtime PROGRAM RUNS CASEFILE
//
// CASEFILE: one case a line, tab-separated: name, method (GET or POST), query string or "-",
// and for a POST the file holding the URL-encoded body. The program runs with the CGI
// environment of the case (REMOTE_ADDR, HTTP_USER_AGENT from this process's environment) in the
// current directory; its output goes to /dev/null.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Case {
    std::string name, method, query, bodyFile;
};

struct Timing {
    double wall = 0;  // ms
    double cpu = 0;   // ms of user and system time of the run
    long rssKb = 0;   // peak resident memory of the run
};

Timing RunOnce(const std::string& program, const std::vector<std::string>& env,
               const std::string& bodyFile) {
    std::vector<char*> envp;
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, bodyFile.empty() ? "/dev/null" : bodyFile.c_str(),
                                     O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data()) != 0) {
        std::perror(program.c_str());
        std::exit(1);
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    const auto end = std::chrono::steady_clock::now();
    posix_spawn_file_actions_destroy(&actions);
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return {std::chrono::duration<double, std::milli>(end - start).count(),
            ms(usage.ru_utime) + ms(usage.ru_stime), usage.ru_maxrss};
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string Env(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return std::string(name) + "=" + (v ? v : fallback);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: benchtime PROGRAM RUNS CASEFILE\n");
        return 2;
    }
    const std::string program = argv[1];
    const int runs = std::max(1, std::atoi(argv[2]));
    std::ifstream in(argv[3]);
    std::vector<Case> cases;
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) continue;
        std::istringstream fields(line);
        Case c;
        std::getline(fields, c.name, '\t');
        std::getline(fields, c.method, '\t');
        std::getline(fields, c.query, '\t');
        std::getline(fields, c.bodyFile, '\t');
        if (c.query == "-") c.query.clear();
        cases.push_back(c);
    }
    std::printf("| request | /bin/true | page | ratio | CPU /bin/true | CPU page | CPU ratio | "
                "peak RSS |\n"
                "|---|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Case& c : cases) {
        std::vector<std::string> env = {"REQUEST_METHOD=" + c.method, "QUERY_STRING=" + c.query,
                                        "GATEWAY_INTERFACE=CGI/1.1",
                                        Env("REMOTE_ADDR", "127.0.0.1"),
                                        Env("HTTP_USER_AGENT", "bench")};
        std::string body;
        if (!c.bodyFile.empty()) {
            std::ifstream b(c.bodyFile, std::ios::binary);
            std::ostringstream s;
            s << b.rdbuf();
            env.push_back("CONTENT_TYPE=application/x-www-form-urlencoded");
            env.push_back("CONTENT_LENGTH=" + std::to_string(s.str().size()));
        }
        std::vector<double> base, page, baseCpu, pageCpu;
        long rssKb = 0;
        for (int i = 0; i < 3; ++i) RunOnce(program, env, c.bodyFile);  // warm the caches
        for (int i = 0; i < runs; ++i) {
            const Timing t = RunOnce("/bin/true", env, "");
            const Timing p = RunOnce(program, env, c.bodyFile);
            base.push_back(t.wall);
            page.push_back(p.wall);
            baseCpu.push_back(t.cpu);
            pageCpu.push_back(p.cpu);
            rssKb = std::max(rssKb, p.rssKb);
        }
        const double b = Median(base), p = Median(page);
        const double bc = Median(baseCpu), pc = Median(pageCpu);
        std::printf("| %s | %.2f ms | %.2f ms | %.1f× | %.2f ms | %.2f ms | %.1f× | %.1f MiB |\n",
                    c.name.c_str(), b, p, p / b, bc, pc, bc > 0 ? pc / bc : 0.0, rssKb / 1024.0);
        std::fflush(stdout);
    }
    return 0;
}
