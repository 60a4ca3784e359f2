// A throw-away installation for the program tests: a data directory, a web directory and a
// program directory holding a link to the built boardcgi, its settings file and the English
// language file. Requests run the real program with a clean CGI environment.
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "config/language.h"
#include "store/folders.h"
#include "store/recordfile.h"
#include "store/users.h"

struct CgiRequest {
    std::string method = "GET";
    std::string query;         // QUERY_STRING of a GET
    std::string body;          // body of a POST (URL-encoded unless contentType says otherwise)
    std::string bodyFile;      // or a file that holds the body (for bodies too big to copy)
    std::string contentType = "application/x-www-form-urlencoded";
    std::string remoteAddr = "127.0.0.1";
    std::string userAgent = "TestBrowser/1.0";
};

struct Installation {
    std::string root;     // ends with "/"
    std::string dataDir;  // DATA_FILE_PATH
    std::string webDir;   // CG_FILE_PATH
    std::string cgiDir;
    std::string program;  // the program as the web server starts it
    std::map<std::string, std::string> settings;
    MessageTable msg;     // the English texts, for comparing pages
    mutable long lastPeakKb = 0;  // peak memory (kB) of the last run of the program

    Installation() {
        char tmpl[] = "/tmp/app_testXXXXXX";
        root = std::string(mkdtemp(tmpl)) + "/";
        dataDir = root + "data/";
        webDir = root + "www/";
        cgiDir = root + "cgi/";
        for (const std::string& d : {dataDir, webDir, cgiDir}) std::filesystem::create_directory(d);
        program = cgiDir + "boardcgi.cgi";
        std::filesystem::create_symlink(BOARD_BINARY_DIR "/bin/boardcgi", program);
        std::filesystem::copy_file(BOARD_SOURCE_DIR "/lang/english.lng", cgiDir + "english.lng");
        LoadMessages(msg, cgiDir + "english.lng");
        settings = {{"LANGUAGE", "english.lng"},   {"CG_FILE_PATH", webDir},
                    {"CG_FILE_WEB_PATH", "/web/"}, {"DATA_FILE_PATH", dataDir},
                    {"ADD_FILE_PATH", webDir},     {"ADD_FILE_WEB_PATH", "/web/"},
                    {"LOGIN_GIF", "title.jpg"},    {"BACK_GIF", "back.gif"},
                    {"LOG_DATE", "365"}};
        WriteSettings();
    }
    ~Installation() { std::filesystem::remove_all(root); }

    void Set(const std::string& key, const std::string& value) {
        settings[key] = value;
        WriteSettings();
    }
    void WriteSettings() const {
        std::ofstream f(cgiDir + "boardcgi.ini", std::ios::binary | std::ios::trunc);
        for (const auto& [k, v] : settings) f << k << "," << v << ",\n";
    }

    UserRecord AddUser(const std::string& id, const std::string& pass, int level, int mode,
                       int group = 0, int noReadMode = 0) const {
        UserRecord u;
        u.USER_ID = id;
        u.USER_NAME = "Name of " + id;
        u.USER_LEVEL = level;
        u.USER_PASS = pass;
        u.P_GROUP = group;
        u.USER_DISP_DEF = 1;
        u.MODE = mode;
        u.WRITE_MODE = 1;
        u.NO_READ_MODE = noReadMode;
        EXPECT_EQ(0, AppendUser(dataDir, u));
        return u;
    }

    // b_title.mst from lines such as "A,1,Dir," (blanks in front give the depth).
    void WriteFolders(const std::vector<std::string>& lines) const {
        std::ofstream f(dataDir + "b_title.mst", std::ios::binary | std::ios::trunc);
        for (const std::string& l : lines) f << l << "\r\n";
    }
    void WriteFolderSettings(int folder, int readLevel, int writeLevel,
                             const std::string& dirpic = "") const {
        FolderSettings s;
        s.folderNo = folder;
        s.readLevel = readLevel;
        s.writeLevel = writeLevel;
        s.READ_CHK = 1;
        s.REWRITE_FLG = 1;
        s.DIRPIC = dirpic;
        EXPECT_EQ(0, SaveFolderSettings(dataDir, s));
    }

    std::string ReadData(const std::string& name) const {
        std::string bytes;
        ReadWholeFile(dataDir + name, bytes);
        return bytes;
    }

    // Runs the program once; its standard output.
    std::string Run(const CgiRequest& r) const {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) return "pipe failed";
        pid_t pid = fork();
        if (pid == 0) {
            if (!r.bodyFile.empty()) {
                int f = open(r.bodyFile.c_str(), O_RDONLY);
                if (f < 0) _exit(126);
                dup2(f, in[0]);
                close(f);
            }
            dup2(in[0], 0);
            dup2(out[1], 1);
            close(in[0]); close(in[1]); close(out[0]); close(out[1]);
            if (chdir(cgiDir.c_str()) != 0) _exit(127);
            std::vector<std::string> env = {
                "REQUEST_METHOD=" + r.method, "REMOTE_ADDR=" + r.remoteAddr,
                "HTTP_USER_AGENT=" + r.userAgent, "PATH=/usr/bin:/bin"};
            if (r.method == "GET") {
                env.push_back("QUERY_STRING=" + r.query);
            } else {
                const size_t length = r.bodyFile.empty()
                                          ? r.body.size()
                                          : std::filesystem::file_size(r.bodyFile);
                env.push_back("CONTENT_LENGTH=" + std::to_string(length));
                env.push_back("CONTENT_TYPE=" + r.contentType);
            }
            std::vector<char*> envp;
            for (std::string& e : env) envp.push_back(e.data());
            envp.push_back(nullptr);
            char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
            execve(program.c_str(), argv, envp.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        signal(SIGPIPE, SIG_IGN);  // a program that refuses a body stops reading it
        size_t done = 0;
        while (done < r.body.size()) {
            ssize_t w = write(in[1], r.body.data() + done, r.body.size() - done);
            if (w <= 0) break;
            done += static_cast<size_t>(w);
        }
        close(in[1]);
        std::string result;
        char buf[4096];
        ssize_t n;
        while ((n = read(out[0], buf, sizeof buf)) > 0) result.append(buf, static_cast<size_t>(n));
        close(out[0]);
        int status = 0;
        struct rusage usage {};
        wait4(pid, &status, 0, &usage);
        lastPeakKb = usage.ru_maxrss;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        return result;
    }
    std::string Get(const std::string& query, const std::string& agent = "TestBrowser/1.0",
                    const std::string& addr = "127.0.0.1") const {
        CgiRequest r;
        r.query = query;
        r.userAgent = agent;
        r.remoteAddr = addr;
        return Run(r);
    }
    std::string Post(const std::string& body, const std::string& agent = "TestBrowser/1.0",
                     const std::string& addr = "127.0.0.1") const {
        CgiRequest r;
        r.method = "POST";
        r.body = body;
        r.userAgent = agent;
        r.remoteAddr = addr;
        return Run(r);
    }

    // Logs in through the login form; the session key of the frameset, or "" when none.
    std::string Login(const std::string& uid, const std::string& upw,
                      const std::string& agent = "TestBrowser/1.0") const {
        return KeyOfFrameset(Post("uid=" + uid + "&upw=" + upw + "&JOB=TOP&sub=Login", agent));
    }
    static std::string KeyOfFrameset(const std::string& page) {
        const std::string marker = "?SKEY=";
        size_t at = page.find(marker);
        if (at == std::string::npos || page.find("<FRAMESET") == std::string::npos) return "";
        at += marker.size();
        size_t end = page.find('&', at);
        return page.substr(at, end - at);
    }
};

inline constexpr const char* kNoContent = "Status: 204 No Content\n\n";

// The head every page starts with, as the English language file gives it.
inline std::string PageHead(const MessageTable& msg) {
    return "Content-type: text/html\nReferrer-Policy: same-origin\n"
           "X-Content-Type-Options: nosniff\nCache-Control: no-store\n"
           "Content-Security-Policy: frame-ancestors 'self'\n\n<HTML>\n<HEAD>\n" +
           msg(1) + "</HEAD>\n<!--" + msg(2) + "-->\n";
}
