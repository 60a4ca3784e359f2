// What a request may cost before any login: upload temporary files, request size limits and
// memory; the response headers of every page.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "installation.h"

namespace {

const std::string kBoundary = "----b0undary";

// A multipart body of `files` file parts and `fields` small ordinary parts.
std::string MultipartBody(int files, int fields, size_t fileSize = 10) {
    std::string b;
    for (int i = 0; i < fields; ++i)
        b += "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"f" +
             std::to_string(i) + "\"\r\n\r\nv\r\n";
    for (int i = 0; i < files; ++i)
        b += "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"FILE" +
             std::to_string(i) + "\"; filename=\"x.bin\"\r\nContent-Type: x/y\r\n\r\n" +
             std::string(fileSize, 'z') + "\r\n";
    return b + "--" + kBoundary + "--\r\n";
}

class RequestCostTest : public ::testing::Test {
protected:
    Installation inst;

    std::string PostMultipart(const std::string& body) const {
        CgiRequest r;
        r.method = "POST";
        r.contentType = "multipart/form-data; boundary=" + kBoundary;
        r.body = body;
        return inst.Run(r);
    }
    int TemporariesLeft() const {
        int n = 0;
        for (const auto& e : std::filesystem::directory_iterator(inst.cgiDir))
            n += e.path().filename().string().rfind("CGI", 0) == 0;
        return n;
    }
    bool IsTooLargePage(const std::string& page) const {
        return page.rfind("Status: 413 Request Entity Too Large\n", 0) == 0 &&
               page.find(inst.msg(397)) != std::string::npos;
    }
};

TEST_F(RequestCostTest, UploadsWithoutASessionLeaveNoTemporaryFile) {
    const std::string page = PostMultipart(MultipartBody(20, 2));
    EXPECT_NE(page.find("NAME=\"upw\""), std::string::npos);  // the login page
    EXPECT_EQ(TemporariesLeft(), 0);
    // One file part beyond the limit: the request is refused whole, nothing stays either.
    EXPECT_TRUE(IsTooLargePage(PostMultipart(MultipartBody(65, 0))));
    EXPECT_EQ(TemporariesLeft(), 0);
    // The limits come from the settings.
    inst.Set("MAX_UPLOAD_FILES", "3");
    EXPECT_TRUE(IsTooLargePage(PostMultipart(MultipartBody(4, 0))));
    inst.Set("MAX_REQUEST_SIZE", "1000");
    EXPECT_TRUE(IsTooLargePage(PostMultipart(MultipartBody(0, 50))));
    EXPECT_FALSE(IsTooLargePage(PostMultipart(MultipartBody(3, 0))));
    EXPECT_EQ(TemporariesLeft(), 0);
}

// Peak memory of the whole program for bodies built to cost as much as possible. The bodies
// are written to a file piece by piece, so the test itself stays small when it starts the
// program (a child's peak counts from its parent's size at the fork).
TEST_F(RequestCostTest, MemoryStaysBounded) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "under AddressSanitizer the peak is the sanitizer's shadow memory";
#endif
    const std::string form = "application/x-www-form-urlencoded";
    const std::string multipart = "multipart/form-data; boundary=" + kBoundary;
    const std::string part = "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"f\"\r\n\r\nv\r\n";
    const std::string file = "--" + kBoundary +
                             "\r\nContent-Disposition: form-data; name=\"F\"; filename=\"x\"\r\n\r\n";
    const std::string end = "\r\n--" + kBoundary + "--\r\n";
    struct Case {
        const char* what;
        std::string type, head;
        std::string piece;  // repeated
        size_t count;
        std::string tail;
    } cases[] = {
        {"10 MB of empty URL-encoded fields", form, "", std::string(1024, '&'), 10240, ""},
        {"1 MB of empty URL-encoded fields", form, "", std::string(1023, '&'), 1024, ""},
        {"200,000 small parts", multipart, "", part, 200000, "--" + kBoundary + "--\r\n"},
        {"80 values of 100 kB", multipart, "", part.substr(0, part.size() - 3) +
                                               std::string(100000, 'v') + "\r\n", 80,
         "--" + kBoundary + "--\r\n"},
        {"a 60 MB upload", multipart, file, std::string(1 << 20, 'z'), 60, end},
    };
    const std::string path = inst.root + "body";
    for (const Case& c : cases) {
        {
            std::ofstream f(path, std::ios::binary | std::ios::trunc);
            f << c.head;
            for (size_t i = 0; i < c.count; ++i) f << c.piece;
            f << c.tail;
        }
        CgiRequest r;
        r.method = "POST";
        r.contentType = c.type;
        r.bodyFile = path;
        inst.Run(r);
        EXPECT_LT(inst.lastPeakKb, 16 * 1024) << c.what;
        std::cout << c.what << ": peak " << inst.lastPeakKb << " kB\n";
    }
    EXPECT_EQ(TemporariesLeft(), 0);
}

TEST(LoginThrottleTest, TenFailuresRefuseTheIdWhateverThePassword) {
    Installation inst;
    inst.AddUser("alice", "right", 10, 1);
    inst.AddUser("bob", "pw", 10, 1);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(inst.Login("ALICE", "wrong"), "");
    // Nine failures still let the right password in, and that forgets them.
    EXPECT_NE(inst.Login("alice", "right"), "");
    for (int i = 0; i < 10; ++i) EXPECT_EQ(inst.Login("alice", "wrong" + std::to_string(i)), "");
    const std::string page = inst.Post("uid=alice&upw=right&JOB=TOP");
    EXPECT_EQ(Installation::KeyOfFrameset(page), "");
    EXPECT_NE(page.find("\t\t<FORM ACTION=\"boardcgi.cgi\" METHOD=POST >\n\t\t<FONT COLOR=\"RED\"><B>" +
                        inst.msg(381) + "</B></FONT><P>\n\t\t" + inst.msg(100)),
              std::string::npos)
        << page;
    // Only that id is refused; an ordinary failure shows no notice.
    EXPECT_NE(inst.Login("bob", "pw"), "");
    EXPECT_EQ(inst.Post("uid=bob&upw=x&JOB=TOP").find(inst.msg(381)), std::string::npos);
}

}  // namespace
