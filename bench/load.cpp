// benchload: a small HTTP load client for bench/capacity.sh. CONCURRENCY workers each send one
// request after the other (HTTP/1.0, a new connection each, as a browser's page view costs the
// server one program run) for SECONDS, picking each request from the mix by its weight; the
// table gives, per kind of request, how many completed, the rate, and the median and 95th
// percentile of their response times (lines of the same name together), then the total rate. Requests that fail or answer with
// another status than 200 are counted apart.
//
//   benchload PORT SECONDS CONCURRENCY MIXFILE
//
// MIXFILE: one kind of request a line, tab-separated: name, weight (a whole number), method (GET
// or POST), the path with its query string, and for a POST the file holding the URL-encoded body.
// Requests go to 127.0.0.1:PORT with "User-Agent: bench".
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Kind {
    std::string name, method, path, body;
    int weight = 1;
};

struct Tally {
    std::vector<double> ms;  // response times of the completed requests
    long failed = 0;
};

using Clock = std::chrono::steady_clock;

// One request; its HTTP status, or 0 when the connection or the answer failed.
int Request(int port, const Kind& k) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return 0;
    }
    std::string req = k.method + " " + k.path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n"
                      "User-Agent: bench\r\nConnection: close\r\n";
    if (k.method == "POST")
        req += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
               std::to_string(k.body.size()) + "\r\n";
    req += "\r\n" + k.body;
    for (size_t sent = 0; sent < req.size();) {
        const ssize_t n = write(fd, req.data() + sent, req.size() - sent);
        if (n <= 0) {
            close(fd);
            return 0;
        }
        sent += static_cast<size_t>(n);
    }
    std::string head;
    char buf[65536];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        if (head.size() < 16) head.append(buf, static_cast<size_t>(std::min<ssize_t>(n, 16)));
    }
    close(fd);
    // "HTTP/1.x 200 ..."
    if (head.size() < 12 || head.compare(0, 5, "HTTP/") != 0) return 0;
    return std::atoi(head.c_str() + 9);
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: benchload PORT SECONDS CONCURRENCY MIXFILE\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const double seconds = std::atof(argv[2]);
    const int workers = std::max(1, std::atoi(argv[3]));
    std::vector<Kind> kinds;
    std::ifstream in(argv[4]);
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) continue;
        std::istringstream fields(line);
        Kind k;
        std::string weight, bodyFile;
        std::getline(fields, k.name, '\t');
        std::getline(fields, weight, '\t');
        std::getline(fields, k.method, '\t');
        std::getline(fields, k.path, '\t');
        std::getline(fields, bodyFile, '\t');
        k.weight = std::max(1, std::atoi(weight.c_str()));
        if (!bodyFile.empty()) {
            std::ifstream b(bodyFile, std::ios::binary);
            std::ostringstream s;
            s << b.rdbuf();
            k.body = s.str();
        }
        kinds.push_back(k);
    }
    if (kinds.empty()) {
        std::fprintf(stderr, "no requests in %s\n", argv[4]);
        return 2;
    }
    std::vector<int> pick;  // kind index per unit of weight
    for (size_t i = 0; i < kinds.size(); ++i) pick.insert(pick.end(), kinds[i].weight, static_cast<int>(i));

    std::vector<Tally> tallies(kinds.size());
    std::mutex lock;
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(seconds));
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&, w] {
            std::mt19937 rnd(static_cast<unsigned>(w) * 7919u + 1u);
            std::vector<Tally> mine(kinds.size());
            while (Clock::now() < end) {
                const size_t k = static_cast<size_t>(pick[rnd() % pick.size()]);
                const Clock::time_point t0 = Clock::now();
                const int status = Request(port, kinds[k]);
                const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
                if (status == 200) mine[k].ms.push_back(ms);
                else ++mine[k].failed;
            }
            std::lock_guard<std::mutex> g(lock);
            for (size_t k = 0; k < kinds.size(); ++k) {
                tallies[k].ms.insert(tallies[k].ms.end(), mine[k].ms.begin(), mine[k].ms.end());
                tallies[k].failed += mine[k].failed;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

    std::printf("| request | done | per second | median | 95%% | failed |\n"
                "|---|---:|---:|---:|---:|---:|\n");
    // Lines of the same name are one kind of request.
    std::vector<std::string> names;
    std::vector<Tally> byName;
    for (size_t k = 0; k < kinds.size(); ++k) {
        const size_t at = static_cast<size_t>(
            std::find(names.begin(), names.end(), kinds[k].name) - names.begin());
        if (at == names.size()) {
            names.push_back(kinds[k].name);
            byName.emplace_back();
        }
        byName[at].ms.insert(byName[at].ms.end(), tallies[k].ms.begin(), tallies[k].ms.end());
        byName[at].failed += tallies[k].failed;
    }
    size_t total = 0;
    long failed = 0;
    for (size_t k = 0; k < names.size(); ++k) {
        const Tally& t = byName[k];
        total += t.ms.size();
        failed += t.failed;
        std::printf("| %s | %zu | %.1f | %.0f ms | %.0f ms | %ld |\n", names[k].c_str(),
                    t.ms.size(), static_cast<double>(t.ms.size()) / elapsed,
                    Percentile(t.ms, 0.5), Percentile(t.ms, 0.95), t.failed);
    }
    std::printf("| all, %d at a time | %zu | %.1f | | | %ld |\n", workers, total,
                static_cast<double>(total) / elapsed, failed);
    return 0;
}
