// A throw-away installation for the administration pages, run through the real program: an
// operator and a member logged in, and multipart form posts with optional file parts.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/app/installation.h"

namespace admintest {

using Fields = std::vector<std::pair<std::string, std::string>>;

struct FilePart {
    std::string field, clientName, content;
};

class AdminTest : public ::testing::Test {
protected:
    void SetUp() override {
        inst.AddUser("admin", "pw", 100, 1);
        inst.AddUser("taro", "tpw", 5, 1, 3);
        opKey = inst.Login("admin", "pw");
        memberKey = inst.Login("taro", "tpw");
        ASSERT_FALSE(opKey.empty());
        ASSERT_FALSE(memberKey.empty());
    }

    // A multipart POST of the fields (SKEY and JOB given by the caller) and file parts.
    std::string Send(const Fields& fields, const std::vector<FilePart>& files = {}) const {
        const std::string b = "----adminBoundary7x";
        std::string body;
        for (const auto& [name, value] : fields)
            body += "--" + b + "\r\nContent-Disposition: form-data; name=\"" + name +
                    "\"\r\n\r\n" + value + "\r\n";
        for (const FilePart& f : files)
            body += "--" + b + "\r\nContent-Disposition: form-data; name=\"" + f.field +
                    "\"; filename=\"" + f.clientName +
                    "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + f.content + "\r\n";
        body += "--" + b + "--\r\n";
        CgiRequest r;
        r.method = "POST";
        r.body = body;
        r.contentType = "multipart/form-data; boundary=" + b;
        return inst.Run(r);
    }
    std::string AsOperator(const std::string& job, Fields fields = {},
                           const std::vector<FilePart>& files = {}) const {
        fields.insert(fields.begin(), {{"SKEY", opKey}, {"JOB", job}});
        return Send(fields, files);
    }
    std::string AsMember(const std::string& job, Fields fields = {},
                         const std::vector<FilePart>& files = {}) const {
        fields.insert(fields.begin(), {{"SKEY", memberKey}, {"JOB", job}});
        return Send(fields, files);
    }

    // The result page's title and text, as ShowResultPage writes them.
    std::string ResultOf(int title, int text) const {
        return "<FONT SIZE=\"5\"><B>" + inst.msg(title) + "</B></FONT>\n<P><BR><HR><P><BR>\n"
               "<FONT COLOR=\"RED\"><B>" + inst.msg(text) + "</B></FONT>\n";
    }
    static bool Has(const std::string& page, const std::string& what) {
        return page.find(what) != std::string::npos;
    }
    std::string Ini() const {
        std::string bytes;
        ReadWholeFile(inst.cgiDir + "boardcgi.ini", bytes);
        return bytes;
    }

    Installation inst;
    std::string opKey, memberKey;
};

}  // namespace admintest
