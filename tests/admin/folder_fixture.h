// An installation with a logged-in system operator, for the folder and access log pages: jobs
// posted URL-encoded or as multipart bodies with uploads, and the tree read back as lines.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "store/recordfile.h"
#include "tests/app/installation.h"
#include "tests/testutil.h"

class AdminSite : public ::testing::Test {
protected:
    Installation inst;
    std::string key;  // the operator's session

    void SetUp() override {
        inst.AddUser("admin", "pw", 100, 1);
        key = inst.Login("admin", "pw");
        ASSERT_FALSE(key.empty());
    }

    // A session of another user (created with the level).
    std::string LoginUser(const std::string& id, int level, int group = 0) {
        inst.AddUser(id, "pw", level, 1, group);
        return inst.Login(id, "pw");
    }

    std::string Job(const std::string& job, const std::string& fields = "",
                    const std::string& as = "") const {
        return inst.Post("SKEY=" + (as.empty() ? key : as) + "&JOB=" + job + fields);
    }

    // A multipart POST; a part whose name starts with "@" is a file part "name" with the
    // client file name given after a "|" in the value ("@FILE1", "C:\\x\\a.gif|bytes").
    std::string Multipart(const std::string& job,
                          const std::vector<std::pair<std::string, std::string>>& parts,
                          const std::string& as = "") const {
        const std::string b = "----boundary7x";
        std::string body;
        const auto add = [&](const std::string& name, const std::string& value) {
            body += "--" + b + "\r\nContent-Disposition: form-data; name=\"";
            if (name[0] == '@') {
                const size_t bar = value.find('|');
                body += name.substr(1) + "\"; filename=\"" + value.substr(0, bar) +
                        "\"\r\nContent-Type: application/octet-stream\r\n\r\n" +
                        value.substr(bar + 1) + "\r\n";
            } else {
                body += name + "\"\r\n\r\n" + value + "\r\n";
            }
        };
        add("SKEY", as.empty() ? key : as);
        add("JOB", job);
        for (const auto& [n, v] : parts) add(n, v);
        body += "--" + b + "--\r\n";
        CgiRequest r;
        r.method = "POST";
        r.body = body;
        r.contentType = "multipart/form-data; boundary=" + b;
        return inst.Run(r);
    }

    std::vector<std::string> Tree() const {
        std::vector<std::string> lines;
        const std::string bytes = inst.ReadData("b_title.mst");
        for (std::string_view l : SplitTextLines(bytes)) lines.emplace_back(l);
        return lines;
    }

    // The result page's red text of message n.
    std::string Refused(int n) const { return "<FONT COLOR=\"RED\"><B>" + inst.msg(n) + "</B></FONT>"; }

    // No upload temporary file left in the program's directory.
    bool UploadsLeft() const {
        for (const auto& e : std::filesystem::directory_iterator(inst.cgiDir))
            if (e.path().filename().string().rfind("CGI", 0) == 0) return true;
        return false;
    }
};

inline bool Has(const std::string& page, const std::string& part) {
    return page.find(part) != std::string::npos;
}
