#include "cgi/request.h"
#include "cgi/fileops.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::string_literals;

namespace {

struct TempDir {
    std::string path;  // ends with "/"
    TempDir() {
        char tmpl[] = "/tmp/request_test.XXXXXX";
        const char* made = mkdtemp(tmpl);
        EXPECT_NE(made, nullptr);
        path = std::string(made ? made : "/tmp/request_test_failed") + "/";
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
};

std::string Slurp(const std::string& path) {
    std::string bytes;
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return bytes;
    char buf[65536];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) bytes.append(buf, static_cast<size_t>(n));
    close(fd);
    return bytes;
}

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// The body as a descriptor positioned at its start.
struct BodyFd {
    int fd;
    explicit BodyFd(std::string_view body) {
        fd = memfd_create("body", MFD_CLOEXEC);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(write(fd, body.data(), body.size()), static_cast<ssize_t>(body.size()));
        lseek(fd, 0, SEEK_SET);
    }
    ~BodyFd() { close(fd); }
    off_t Position() const { return lseek(fd, 0, SEEK_CUR); }
};

int Get(const std::string& query, FieldList& fields) {
    CgiInput in;
    in.method = "GET";
    in.queryString = query;
    in.hasQueryString = true;
    return DecodeRequest(in, fields);
}

// A POST of body; length defaults to the body's size.
int Post(const std::string& type, std::string_view body, FieldList& fields,
         const std::string& workDir = "", std::optional<std::string> length = std::nullopt,
         off_t* consumed = nullptr) {
    BodyFd b(body);
    CgiInput in;
    in.method = "POST";
    in.contentType = type;
    in.contentLength = length ? *length : std::to_string(body.size());
    in.hasContentLength = true;
    in.fd = b.fd;
    in.workDir = workDir;
    int r = DecodeRequest(in, fields);
    if (consumed) *consumed = b.Position();
    return r;
}

const std::string kType = "multipart/form-data; boundary=----xyzzy42";
const std::string kDelim = "------xyzzy42";

struct Part {
    std::string name;
    std::string data;
    std::optional<std::string> filename;
    bool withType = false;
};

std::string Multipart(const std::vector<Part>& parts, bool close = true) {
    std::string b = "preamble ignored\r\n";
    for (const Part& p : parts) {
        b += kDelim + "\r\nContent-Disposition: form-data; name=\"" + p.name + "\"";
        if (p.filename) b += "; filename=\"" + *p.filename + "\"";
        b += "\r\n";
        if (p.withType) b += "Content-Type: application/octet-stream\r\n";
        b += "\r\n" + p.data + "\r\n";
    }
    return b + kDelim + (close ? "--\r\n" : "\r\n");
}

std::string RandomBytes(size_t n, std::mt19937& rng) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng() & 0xFF);
    return s;
}

void SetMtime(const std::string& path, time_t when) {
    struct timeval tv[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(utimes(path.c_str(), tv), 0);
}

void Touch(const std::string& path, std::string_view bytes = "x") {
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

// ---- URL-encoded requests -------------------------------------------------------------------

TEST(UrlEncodedTest, QueryStringFieldsInOrder) {
    FieldList f;
    ASSERT_EQ(Get("JOB=ROOM&FOLDER_NO=3", f), 0);
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[0].name, "JOB");
    EXPECT_EQ(f[1].name, "FOLDER_NO");
    EXPECT_EQ(GetField(f, "FOLDER_NO", 0, 20), "3");
    EXPECT_EQ(GetField(f, "FOLDER_NO", 1, 20), "");
    EXPECT_EQ(GetField(f, "folder_no", 0, 20), "");  // names are case-sensitive

    ASSERT_EQ(Get("DISP_NO=3&DISP_NO=7", f), 0);
    EXPECT_EQ(GetField(f, "DISP_NO", 0, 20), "3");
    EXPECT_EQ(GetField(f, "DISP_NO", 1, 20), "7");
    EXPECT_EQ(GetField(f, "DISP_NO", 2, 20), "");
    EXPECT_EQ(GetField(f, "DISP_NO", -1, 20), "");
}

TEST(UrlEncodedTest, PlusAndPercentDecoding) {
    FieldList f;
    ASSERT_EQ(Get("v=a+b%2Bc&w=%41%4a%4A&n%61m+e=1&h=%e3%81%82", f), 0);
    EXPECT_EQ(GetField(f, "v", 0, 100), "a b+c");
    EXPECT_EQ(GetField(f, "w", 0, 100), "AJJ");
    EXPECT_EQ(GetField(f, "nam e", 0, 100), "1");
    EXPECT_EQ(GetField(f, "h", 0, 100), "\xE3\x81\x82");
    // Digits are not checked: each byte is worth its formula value.
    ASSERT_EQ(Get("z=%zz", f), 0);
    EXPECT_EQ(GetField(f, "z", 0, 100), "S");
}

TEST(UrlEncodedTest, SegmentsAndEquals) {
    FieldList f;
    ASSERT_EQ(Get("x=1&&y=2", f), 0);
    ASSERT_EQ(f.size(), 3u);
    EXPECT_EQ(f[1].name, "");
    EXPECT_EQ(f[2].name, "y");
    ASSERT_EQ(Get("x=1&", f), 0);
    EXPECT_EQ(f.size(), 1u);
    ASSERT_EQ(Get("&", f), 0);
    EXPECT_EQ(f.size(), 1u);

    ASSERT_EQ(Get("flag&a=b=c", f), 0);
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[0].name, "flag");
    EXPECT_FALSE(f[0].hasValue);
    EXPECT_EQ(GetField(f, "flag", 0, 10), "");
    EXPECT_EQ(GetField(f, "a", 0, 10), "b=c");
    // The "=" is found on character boundaries: the one inside a two-byte character is not.
    ASSERT_EQ(Get("n\x81=x=1", f), 0);
    EXPECT_EQ(f[0].name, "n\x81=x");
    EXPECT_EQ(f[0].value, "1");
}

TEST(UrlEncodedTest, PercentNearTheEndAndZeroBytes) {
    FieldList f;
    ASSERT_EQ(Get("a=1%&b=1%4&c=%&%=%4", f), 0);
    ASSERT_EQ(f.size(), 4u);
    EXPECT_EQ(f[0].value, "1%");
    EXPECT_EQ(f[1].value, "1%4");
    EXPECT_EQ(f[2].value, "%");
    EXPECT_EQ(f[3].name, "%");
    EXPECT_EQ(f[3].value, "%4");
    // A zero byte ends the name or value it stands in.
    ASSERT_EQ(Get("a=x%00y&b%00c=2&c=\0z"s, f), 0);
    ASSERT_EQ(f.size(), 3u);
    EXPECT_EQ(f[0].value, "x");
    EXPECT_EQ(f[1].name, "b");
    EXPECT_EQ(f[2].value, "");
}

TEST(UrlEncodedTest, MethodsAndLengths) {
    FieldList f;
    CgiInput in;
    in.method = "get";
    in.hasQueryString = true;
    in.queryString = "a=1";
    EXPECT_EQ(DecodeRequest(in, f), 0);
    EXPECT_EQ(f.size(), 1u);
    in.queryString = "";
    EXPECT_EQ(DecodeRequest(in, f), 0);
    EXPECT_TRUE(f.empty());
    for (const char* m : {"PUT", "", "HEAD"}) {
        in.method = m;
        in.queryString = "a=1";
        EXPECT_EQ(DecodeRequest(in, f), 0);
        EXPECT_TRUE(f.empty()) << m;
    }

    const std::string form = "application/x-www-form-urlencoded";
    for (const char* bad : {"0", "", "abc", "-5", "-0"}) {
        EXPECT_EQ(Post(form, "a=1", f, "", std::string(bad)), -2) << bad;
        EXPECT_TRUE(f.empty());
    }
    {
        BodyFd b("a=1");
        CgiInput post;
        post.method = "POST";
        post.contentType = form;
        post.fd = b.fd;
        EXPECT_EQ(DecodeRequest(post, f), -2);  // no CONTENT_LENGTH at all
    }
    EXPECT_EQ(Post("APPLICATION/X-WWW-FORM-URLENCODED", "a=1", f, "", " 3xyz"), 0);
    EXPECT_EQ(GetField(f, "a", 0, 10), "1");
    // A type with anything added is taken as multipart and, without a boundary, gives nothing.
    EXPECT_EQ(Post(form + "; charset=x", "a=1", f), 0);
    EXPECT_TRUE(f.empty());

    // Never read past CONTENT_LENGTH; a shorter body is decoded as far as it came.
    off_t used = 0;
    EXPECT_EQ(Post(form, "a=1&b=2", f, "", "3", &used), 0);
    EXPECT_EQ(used, 3);
    EXPECT_EQ(f.size(), 1u);
    // A length beyond the request size limit is refused before a byte is read.
    EXPECT_EQ(Post(form, "a=1&b=2", f, "", "999999999999999999999", &used), kRequestTooLarge);
    EXPECT_EQ(used, 0);
    EXPECT_TRUE(f.empty());
}

TEST(GetFieldTest, CapacityCuts) {
    FieldList f = {{"v", "abcdefgh", true}, {"k", "ab\x82\xA0" "c", true}};
    EXPECT_EQ(GetField(f, "v", 0, 5), "abcd");
    EXPECT_EQ(GetField(f, "v", 0, 8), "abcdefg");
    EXPECT_EQ(GetField(f, "v", 0, 9), "abcdefgh");
    EXPECT_EQ(GetField(f, "v", 0, 1), "");
    EXPECT_EQ(GetField(f, "v", 0, 0), "");
    // A cut never leaves half of a two-byte character.
    EXPECT_EQ(GetField(f, "k", 0, 4), "ab");
    EXPECT_EQ(GetField(f, "k", 0, 5), "ab\x82\xA0");
}

TEST(EnvironmentTest, ReadsAndCutsVariables) {
    setenv("REQUEST_METHOD", std::string(1500, 'P').c_str(), 1);
    setenv("CONTENT_TYPE", std::string(1200, 't').c_str(), 1);
    setenv("QUERY_STRING", std::string(5000, 'q').c_str(), 1);
    unsetenv("CONTENT_LENGTH");
    CgiInput in = CgiInputFromEnvironment(7, "/w");
    EXPECT_EQ(in.method.size(), 999u);
    EXPECT_EQ(in.contentType.size(), 999u);
    EXPECT_EQ(in.queryString.size(), 5000u);
    EXPECT_TRUE(in.hasQueryString);
    EXPECT_FALSE(in.hasContentLength);
    EXPECT_EQ(in.fd, 7);
    EXPECT_EQ(in.workDir, "/w");
    setenv("CONTENT_LENGTH", "12", 1);
    unsetenv("QUERY_STRING");
    in = CgiInputFromEnvironment(0, ".");
    EXPECT_EQ(in.contentLength, "12");
    EXPECT_FALSE(in.hasQueryString);
    for (const char* v : {"REQUEST_METHOD", "CONTENT_TYPE", "CONTENT_LENGTH"}) unsetenv(v);
}

// ---- Multipart requests ---------------------------------------------------------------------

TEST(MultipartTest, FieldsAndFiles) {
    TempDir dir;
    FieldList f;
    std::string body = Multipart({
        {"JOB", "BORDWR", std::nullopt, false},
        {"FILE1", "hello\r\nworld", "C:\\docs\\a.txt", true},
        {"FILE2", "plain", "b.bin", false},
        {"MSG", "line1\r\nline2", std::nullopt, true},
        {"FILE3", "", "", true},
        {"a=b", "c", std::nullopt, false},
        {"JOB", "", std::nullopt, false},
    });
    ASSERT_EQ(Post(kType, body, f, dir.path), 0);
    ASSERT_EQ(f.size(), 7u);
    EXPECT_EQ(GetField(f, "JOB", 0, 100), "BORDWR");
    EXPECT_EQ(GetField(f, "FILE1", 0, 100), "C:\\docs\\a.txt,CGI0");
    EXPECT_EQ(GetField(f, "FILE2", 0, 100), "b.bin,CGI1");
    EXPECT_EQ(GetField(f, "MSG", 0, 100), "line1\r\nline2");
    EXPECT_EQ(GetField(f, "FILE3", 0, 100), "");
    EXPECT_EQ(f[5].name, "a");
    EXPECT_EQ(f[5].value, "b=c");
    EXPECT_EQ(f[6].name, "JOB");
    EXPECT_EQ(GetField(f, "JOB", 1, 100), "");
    // Only file parts count as uploads.
    EXPECT_EQ(GetUploadField(f, "FILE1", 0, 100), "C:\\docs\\a.txt,CGI0");
    EXPECT_TRUE(f[1].isUpload && f[2].isUpload && f[4].isUpload);
    EXPECT_FALSE(f[3].isUpload);
    EXPECT_EQ(GetUploadField(f, "MSG", 0, 100), "");
    EXPECT_EQ(GetUploadField(f, "JOB", 0, 100), "");
    EXPECT_EQ(Slurp(dir.path + "CGI0"), "hello\r\nworld");
    EXPECT_EQ(Slurp(dir.path + "CGI1"), "plain");
    EXPECT_FALSE(Exists(dir.path + "CGI2"));  // the empty file name made none
    struct stat st;
    ASSERT_EQ(stat((dir.path + "CGI0").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(MultipartTest, FileBytesExactAcrossBlockEdges) {
    TempDir dir;
    std::mt19937 rng(11);
    const std::string pool = RandomBytes(70000, rng);
    std::vector<size_t> sizes = {0, 1, 2, 3};
    for (size_t edge : {1000u, 2000u, 3000u, 64000u})
        for (size_t n = edge - 3; n <= edge + 3; ++n) sizes.push_back(n);
    // Sizes that put the CR LF and the delimiter across the 64 KiB reads of the body.
    const size_t head = Multipart({{"F", "", "f.bin", false}}).find("\r\n\r\n") + 4;
    for (size_t k = 0; k <= kDelim.size() + 4; ++k) sizes.push_back(65536 - head - k);
    for (size_t n : sizes) {
        // Random bytes; then the same size ending in CR, in CR LF, and holding a near delimiter.
        std::vector<std::string> variants;
        for (int v = 0; v < 4; ++v) variants.push_back(pool.substr(rng() % 1000, n));
        if (n >= 1) variants[1].back() = '\r';
        if (n >= 2) variants[2].replace(n - 2, 2, "\r\n");
        std::string near = "\r\n" + kDelim.substr(0, kDelim.size() - 1);
        if (n >= near.size()) variants[3].replace(n - near.size(), near.size(), near);
        for (size_t v = 0; v < variants.size(); ++v) {
            FieldList f;
            ASSERT_EQ(Post(kType, Multipart({{"F", variants[v], "f.bin", v % 2 == 0},
                                             {"after", "1", std::nullopt, false}}),
                           f, dir.path),
                      0);
            ASSERT_EQ(GetField(f, "F", 0, 100), "f.bin,CGI0") << n << "/" << v;
            EXPECT_EQ(GetField(f, "after", 0, 100), "1");
            ASSERT_EQ(Slurp(dir.path + "CGI0"), variants[v]) << "size " << n << " variant " << v;
            std::filesystem::remove(dir.path + "CGI0");
        }
    }
}

TEST(MultipartTest, DelimiterAcrossReadsInPreambleAndValues) {
    const std::string parts = Multipart({{"A", "1", std::nullopt, false}});
    for (size_t k = 0; k <= kDelim.size() + 2; ++k) {
        // The first delimiter straddles the first 64 KiB read.
        std::string body = std::string(65536 - k - 18, 'p') + parts;  // 18: "preamble ignored\r\n"
        FieldList f;
        ASSERT_EQ(Post(kType, body, f), 0);
        EXPECT_EQ(GetField(f, "A", 0, 10), "1") << k;
        // A value's delimiter straddles it.
        std::string value(65536 - k - parts.find("\r\n\r\n") - 4, 'v');
        ASSERT_EQ(Post(kType,
                       Multipart({{"A", value, std::nullopt, false},
                                  {"B", "2", std::nullopt, false}}),
                       f),
                  0);
        EXPECT_EQ(GetField(f, "A", 0, 100000), value) << k;
        EXPECT_EQ(GetField(f, "B", 0, 10), "2") << k;
    }
}

TEST(MultipartTest, ValueLimitAndZeroBytes) {
    FieldList f;
    for (size_t n : {99997u, 99998u, 99999u, 100000u, 150000u}) {
        ASSERT_EQ(Post(kType, Multipart({{"T", std::string(n, 'v'), std::nullopt, false},
                                         {"U", "u", std::nullopt, false}}),
                       f),
                  0);
        EXPECT_EQ(GetField(f, "T", 0, 200000).size(), std::min<size_t>(n, 99998)) << n;
        EXPECT_EQ(FindFormField(f, "T", 0)->isCut, n > 99998) << n;
        EXPECT_EQ(GetField(f, "U", 0, 10), "u");
        EXPECT_FALSE(FindFormField(f, "U", 0)->isCut);
    }
    // A cut at the limit does not split a two-byte character.
    std::string kana = std::string(99997, 'v') + "\x82\xA0" + "tail";
    ASSERT_EQ(Post(kType, Multipart({{"T", kana, std::nullopt, false}}), f), 0);
    EXPECT_EQ(GetField(f, "T", 0, 200000).size(), 99997u);

    ASSERT_EQ(Post(kType, Multipart({{"T", "ab\0cd"s, std::nullopt, false},
                                     {"N\0x"s, "1", std::nullopt, false}}),
                   f),
              0);
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[0].value, "ab");
    EXPECT_EQ(f[1].name, "N");
}

TEST(MultipartTest, BoundaryRules) {
    TempDir dir;
    FieldList f;
    const std::string one = Multipart({{"A", "1", std::nullopt, false}});
    off_t used = 0;
    // No boundary: the whole body is read, no field results.
    EXPECT_EQ(Post("multipart/form-data", one, f, dir.path, std::nullopt, &used), 0);
    EXPECT_TRUE(f.empty());
    EXPECT_EQ(used, static_cast<off_t>(one.size()));
    EXPECT_EQ(Post("boundary=----xyzzy42", one, f), 0);  // at the very start it counts as none
    EXPECT_TRUE(f.empty());
    EXPECT_EQ(Post("multipart/form-data; BOUNDARY=----xyzzy42", one, f), 0);
    EXPECT_EQ(GetField(f, "A", 0, 10), "1");
    EXPECT_EQ(Post("multipart/form-data; boundary=----xyzzy42]; x=y", one, f), 0);
    EXPECT_EQ(GetField(f, "A", 0, 10), "1");

    // The delimiter fits 99 bytes: a boundary of 97 works, a longer one is refused.
    for (size_t len : {97u, 98u, 300u}) {
        std::string boundary(len, 'b');
        std::string body = "--" + boundary +
                           "\r\nContent-Disposition: form-data; name=\"A\"\r\n\r\n1\r\n--" +
                           boundary + "--\r\n";
        EXPECT_EQ(Post("multipart/form-data; boundary=" + boundary, body, f, "", std::nullopt,
                       &used),
                  0);
        EXPECT_EQ(f.size(), len == 97 ? 1u : 0u) << len;
        EXPECT_EQ(used, static_cast<off_t>(body.size()));
    }

    // Only a closing delimiter, or none at all.
    EXPECT_EQ(Post(kType, kDelim + "--\r\n", f), 0);
    EXPECT_TRUE(f.empty());
    EXPECT_EQ(Post(kType, "no delimiter here", f), 0);
    EXPECT_TRUE(f.empty());
}

TEST(MultipartTest, OddHeaders) {
    TempDir dir;
    FieldList f;
    // A header line without a name comes before the disposition line.
    std::string body = kDelim +
                       "\r\nX-Note: none\r\nContent-Disposition: form-data; name=\"A\"\r\n\r\n1\r\n" +
                       kDelim + "--";
    ASSERT_EQ(Post(kType, body, f), 0);
    EXPECT_EQ(GetField(f, "A", 0, 10), "1");

    // Names and client file names of 1,000 bytes or more are cut to 999 bytes.
    std::string longName(1500, 'n'), longFile(1200, 'f');
    ASSERT_EQ(Post(kType, Multipart({{longName, "v", std::nullopt, false},
                                     {"F", "data", longFile, false},
                                     {"B", "2", std::nullopt, false}}),
                   f, dir.path),
              0);
    ASSERT_EQ(f.size(), 3u);
    EXPECT_EQ(f[0].name, longName.substr(0, 999));
    EXPECT_EQ(f[0].value, "v");
    EXPECT_EQ(f[1].value, longFile.substr(0, 999) + ",CGI0");
    EXPECT_EQ(Slurp(dir.path + "CGI0"), "data");
    EXPECT_EQ(GetField(f, "B", 0, 10), "2");

    // A file name without its closing quote makes an ordinary field.
    body = kDelim + "\r\nContent-Disposition: form-data; name=\"F\"; filename=\"x\r\n\r\nval\r\n" +
           kDelim + "--";
    ASSERT_EQ(Post(kType, body, f, dir.path), 0);
    EXPECT_EQ(GetField(f, "F", 0, 10), "val");
    EXPECT_FALSE(Exists(dir.path + "CGI1"));
}

TEST(MultipartTest, TruncatedBodies) {
    TempDir dir;
    FieldList f;
    std::string full = Multipart({{"A", "1", std::nullopt, false},
                                  {"F", std::string(5000, 'z'), "f.txt", false},
                                  {"B", "2", std::nullopt, false}});
    size_t inFile = full.find(std::string(5000, 'z')) + 2500;
    // CONTENT_LENGTH promises more than arrives: the last part's field is there, its file holds
    // what arrived.
    ASSERT_EQ(Post(kType, full.substr(0, inFile), f, dir.path, std::to_string(full.size())), 0);
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(GetField(f, "F", 0, 100), "f.txt,CGI0");
    EXPECT_EQ(Slurp(dir.path + "CGI0"), std::string(2500, 'z'));
    // CONTENT_LENGTH shorter than the body: reading stops there.
    off_t used = 0;
    ASSERT_EQ(Post(kType, full, f, dir.path, std::to_string(inFile), &used), 0);
    EXPECT_EQ(used, static_cast<off_t>(inFile));
    EXPECT_EQ(Slurp(dir.path + "CGI1"), std::string(2500, 'z'));
    // Cut inside a part header: that part gives no field.
    ASSERT_EQ(Post(kType, full.substr(0, full.find("name=\"B") + 3), f, dir.path), 0);
    EXPECT_EQ(f.size(), 2u);
    // Cut inside an ordinary value: what arrived is its value.
    ASSERT_EQ(Post(kType, full.substr(0, full.find("\r\n1\r\n") + 3), f, dir.path), 0);
    EXPECT_EQ(GetField(f, "A", 0, 10), "1");
}

TEST(MultipartTest, TemporaryNumbering) {
    TempDir dir;
    FieldList f;
    auto upload = [&] {
        EXPECT_EQ(Post(kType, Multipart({{"F", "x", "x", false}}), f, dir.path), 0);
        return GetField(f, "F", 0, 100);
    };
    Touch(dir.path + "CGI0");
    Touch(dir.path + "CGI1");
    std::filesystem::create_directory(dir.path + "CGI2");
    EXPECT_EQ(upload(), "x,CGI3");
    std::filesystem::remove(dir.path + "CGI0");
    EXPECT_EQ(upload(), "x,CGI0");
    EXPECT_EQ(Slurp(dir.path + "CGI1"), "x");  // an existing file is never overwritten
    // A dangling link counts as taken: nothing is ever written through it.
    std::filesystem::remove(dir.path + "CGI1");
    ASSERT_EQ(symlink((dir.path + "elsewhere").c_str(), (dir.path + "CGI1").c_str()), 0);
    EXPECT_EQ(upload(), "x,CGI4");
    EXPECT_FALSE(Exists(dir.path + "elsewhere"));

    // A temporary file that cannot be created: the value still names it, decoding goes on.
    ASSERT_EQ(Post(kType, Multipart({{"F", "x", "x", false}, {"B", "2", std::nullopt, false}}), f,
                   dir.path + "missing/"),
              0);
    EXPECT_EQ(GetField(f, "F", 0, 100), "x,CGI0");
    EXPECT_EQ(GetField(f, "B", 0, 100), "2");
}

TEST(MultipartTest, ConcurrentUploadsNeverShareATemporaryFile) {
    TempDir dir;
    constexpr int kChildren = 6, kEach = 15;
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    std::vector<pid_t> pids;
    for (int c = 0; c < kChildren; ++c) {
        pid_t pid = fork();
        if (pid == 0) {
            close(gate[1]);
            char go;
            if (read(gate[0], &go, 1) != 0) _exit(3);  // released when the pipe closes
            for (int i = 0; i < kEach; ++i) {
                std::string data = "child " + std::to_string(c) + " upload " + std::to_string(i);
                data += std::string(3000, static_cast<char>('a' + c));
                FieldList f;
                if (Post(kType, Multipart({{"F", data, "f", false}}), f, dir.path) != 0) _exit(1);
                std::string value = GetField(f, "F", 0, 100);
                if (value.size() < 3 || Slurp(dir.path + value.substr(2)) != data) _exit(2);
            }
            _exit(0);
        }
        pids.push_back(pid);
    }
    close(gate[0]);
    close(gate[1]);
    for (pid_t pid : pids) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    // Every upload has a file of its own (each child checked the bytes under its name).
    int made = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path))
        made += e.path().filename().string().rfind("CGI", 0) == 0;
    EXPECT_EQ(made, kChildren * kEach);
}

// Peak memory of a child process that decodes one upload of the given size (kB), or -1.
// The body is written to a file and fed as the descriptor; the child checks the stored bytes.
static long PeakKbForUpload(const std::string& dir, size_t size) {
    int out[2];
    if (pipe(out) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        close(out[0]);
        std::string bodyPath = dir + "body" + std::to_string(size);
        int fd = open(bodyPath.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        std::string head =
            kDelim + "\r\nContent-Disposition: form-data; name=\"F\"; filename=\"big\"\r\n\r\n";
        std::string tail = "\r\n" + kDelim + "--\r\n";
        std::string chunk(64 * 1024, '\0');
        for (size_t i = 0; i < chunk.size(); ++i)
            chunk[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
        bool ok = write(fd, head.data(), head.size()) == static_cast<ssize_t>(head.size());
        for (size_t done = 0; ok && done < size; done += chunk.size()) {
            size_t n = std::min(chunk.size(), size - done);
            ok = write(fd, chunk.data(), n) == static_cast<ssize_t>(n);
        }
        ok = ok && write(fd, tail.data(), tail.size()) == static_cast<ssize_t>(tail.size());
        lseek(fd, 0, SEEK_SET);
        CgiInput in;
        in.method = "POST";
        in.contentType = kType;
        in.contentLength = std::to_string(head.size() + size + tail.size());
        in.hasContentLength = true;
        in.fd = fd;
        in.workDir = dir;
        FieldList f;
        ok = ok && DecodeRequest(in, f) == 0 && GetField(f, "F", 0, 100) == "big,CGI0";
        close(fd);
        unlink(bodyPath.c_str());
        struct stat st;
        ok = ok && stat((dir + "CGI0").c_str(), &st) == 0 &&
             static_cast<size_t>(st.st_size) == size;
        long hwm = -1;
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmHWM:", 0) == 0) hwm = std::atol(line.c_str() + 6);
        // Check the stored bytes against the pattern a chunk at a time.
        int in2 = open((dir + "CGI0").c_str(), O_RDONLY);
        std::string got(chunk.size(), '\0');
        for (size_t done = 0; ok && done < size; done += chunk.size()) {
            size_t n = std::min(chunk.size(), size - done);
            ok = read(in2, got.data(), n) == static_cast<ssize_t>(n) &&
                 std::memcmp(got.data(), chunk.data(), n) == 0;
        }
        close(in2);
        unlink((dir + "CGI0").c_str());
        if (!ok) hwm = -1;
        ssize_t w = write(out[1], &hwm, sizeof hwm);
        _exit(w == sizeof hwm ? 0 : 1);
    }
    close(out[1]);
    long hwm = -1;
    if (read(out[0], &hwm, sizeof hwm) != sizeof hwm) hwm = -1;
    close(out[0]);
    waitpid(pid, nullptr, 0);
    return hwm;
}

TEST(MultipartTest, UploadMemoryDoesNotGrowWithSize) {
    const size_t big = 50u << 20;
    TempDir dir;
    long small = PeakKbForUpload(dir.path, 1 << 20);
    long large = PeakKbForUpload(dir.path, big);
    ASSERT_GT(small, 0);
    ASSERT_GT(large, 0);
    EXPECT_LT(large - small, 3 * 1024) << "peak kB: 1 MB upload " << small << ", large " << large;
}

TEST(MultipartTest, NameSearchJumpsPastTakenNames) {
    TempDir dir;
    for (int n = 0; n < 200; ++n) Touch(dir.path + UploadTempName(n), "old");
    FieldList f;
    ASSERT_EQ(Post(kType, Multipart({{"F", "new", "x", false}, {"G", "2nd", "y", false}}), f,
                   dir.path),
              0);
    std::string client, temp, value = GetField(f, "F", 0, 100);
    SplitUploadValue(value, client, temp);
    ASSERT_FALSE(temp.empty());
    EXPECT_GE(std::atoi(temp.c_str() + 3), 200) << temp;  // not found by walking from 0
    EXPECT_EQ(Slurp(dir.path + temp), "new");
    value = GetField(f, "G", 0, 100);
    SplitUploadValue(value, client, temp);
    EXPECT_EQ(Slurp(dir.path + temp), "2nd");
    for (int n = 0; n < 200; ++n) ASSERT_EQ(Slurp(dir.path + UploadTempName(n)), "old");
}

// Requests beyond a limit are refused whole: no fields, no temporary file, the body past the
// limit unread.
TEST(RequestLimitsTest, OversizedRequestsAreRefusedWhole) {
    TempDir dir;
    const std::string form = "application/x-www-form-urlencoded";
    std::string manyFields;
    for (size_t i = 0; i < kMaxFields; ++i) manyFields += "a&";
    std::vector<Part> threeFiles = {{"F1", "1", "a", false}, {"F2", "2", "b", false},
                                    {"E", "", "", false}, {"F3", "3", "c", false}};
    std::vector<Part> tinyParts(kMaxFields + 1, Part{"p", "v", std::nullopt, false});
    std::vector<Part> bigValues(kMaxFieldBytes / 99998 + 1,
                                Part{"v", std::string(99998, 'v'), std::nullopt, false});
    struct Case {
        const char* what;
        std::string type, body;
        int maxFiles;
        int result;
        size_t fields;
    } cases[] = {
        {"fields at the limit", form, manyFields, 64, 0, kMaxFields},
        {"one field more", form, manyFields + "b", 64, kRequestTooLarge, 0},
        {"URL-encoded body over its limit", form, "a=" + std::string(kMaxUrlEncodedBytes, 'x'),
         64, kRequestTooLarge, 0},
        {"file parts at the limit", kType, Multipart(threeFiles), 3, 0, 4},
        {"one file part more", kType, Multipart(threeFiles), 2, kRequestTooLarge, 0},
        {"too many parts", kType, Multipart(tinyParts), 64, kRequestTooLarge, 0},
        {"too many value bytes", kType, Multipart(bigValues), 64, kRequestTooLarge, 0},
    };
    for (const Case& c : cases) {
        BodyFd b(c.body);
        CgiInput in;
        in.method = "POST";
        in.contentType = c.type;
        in.contentLength = std::to_string(c.body.size());
        in.hasContentLength = true;
        in.fd = b.fd;
        in.workDir = dir.path;
        in.limits.maxUploadFiles = c.maxFiles;
        FieldList f;
        EXPECT_EQ(DecodeRequest(in, f), c.result) << c.what;
        EXPECT_EQ(f.size(), c.fields) << c.what;
        if (c.result != 0) {
            EXPECT_FALSE(Exists(dir.path + "CGI0") || Exists(dir.path + "CGI1")) << c.what;
        }
        FinishRequest(f, dir.path, time(nullptr));
    }
    // Over the request size limit: refused from CONTENT_LENGTH alone; a GET's query string
    // has the URL-encoded limits.
    FieldList f;
    off_t used = -1;
    EXPECT_EQ(Post(kType, Multipart(threeFiles), f, dir.path,
                   std::to_string(kDefaultMaxRequestBytes + 1), &used),
              kRequestTooLarge);
    EXPECT_EQ(used, 0);
    EXPECT_EQ(Get(manyFields + "b", f), kRequestTooLarge);
    EXPECT_TRUE(f.empty());
}

// ---- Upload values and the end of a run -------------------------------------------------------

TEST(SplitUploadValueTest, ClientAndTemporaryNames) {
    struct Case {
        std::string value, shortened, client, temp;
    } cases[] = {
        {"C:\\dir\\b.jpg,CGI2", "b.jpg,CGI2", "b.jpg", "CGI2"},
        {"/home/u/x.txt,CGI10", "x.txt,CGI10", "x.txt", "CGI10"},
        {"d\\\x83\x5C.txt,CGI1", "\x83\x5C.txt,CGI1", "\x83\x5C.txt", "CGI1"},  // 0x5C as 2nd byte
        {"a,b.txt,CGI3", "a,b.txt,CGI3", "a,b.txt", "CGI3"},  // commas stay in the client name
        {"x,board.ini", "x,board.ini", "x", ""},              // a forged value names no file
        {"x,CGI", "x,CGI", "x", ""},
        {"x,CGI1a", "x,CGI1a", "x", ""},
        {"x,../CGI1", "CGI1", "CGI1", ""},
        {"plain", "plain", "plain", ""},
    };
    for (const Case& c : cases) {
        std::string value = c.value, client = "old", temp = "old";
        SplitUploadValue(value, client, temp);
        EXPECT_EQ(value, c.shortened) << c.value;
        EXPECT_EQ(client, c.client) << c.value;
        EXPECT_EQ(temp, c.temp) << c.value;
    }
    std::string value = std::string(1500, 'c') + ",CGI0", client, temp;
    SplitUploadValue(value, client, temp);
    EXPECT_EQ(client.size(), 999u);
    EXPECT_EQ(temp, "CGI0");
}

TEST(FinishRequestTest, SweepsOnlyStaleTemporaryFiles) {
    TempDir dir;
    const time_t now = time(nullptr);
    struct {
        const char* name;
        time_t age;
        bool kept;
    } files[] = {{"CGI5", 3601, false}, {"CGI6", 3599, true}, {"CGI7", 3600, true},
                 {"CGIabc", 100000, false}, {"other", 100000, true}, {"cgi8", 100000, true}};
    for (auto& e : files) {
        Touch(dir.path + e.name);
        SetMtime(dir.path + e.name, now - e.age);
    }
    std::filesystem::create_directory(dir.path + "CGIx");
    SetMtime(dir.path + "CGIx", now - 100000);
    Touch(dir.path + "target");
    SetMtime(dir.path + "target", now - 100000);
    ASSERT_EQ(symlink((dir.path + "target").c_str(), (dir.path + "CGIlink").c_str()), 0);

    FieldList fields = {{"a", "b", true}};
    FinishRequest(fields, dir.path, now);
    EXPECT_TRUE(fields.empty());
    for (auto& e : files) EXPECT_EQ(Exists(dir.path + e.name), e.kept) << e.name;
    EXPECT_TRUE(Exists(dir.path + "CGIx"));
    EXPECT_TRUE(Exists(dir.path + "CGIlink"));
    EXPECT_TRUE(Exists(dir.path + "target"));
    FinishRequest(fields, dir.path + "missing", now);  // no directory: nothing happens
}

TEST(FinishRequestTest, RemovesThisRunsTemporariesButNotWhatAHandlerMoved) {
    TempDir dir;
    FieldList f;
    ASSERT_EQ(Post(kType,
                   Multipart({{"A", "a", "a", false}, {"B", "b", "b", false},
                              {"C", "c", "c", false}}),
                   f, dir.path),
              0);
    ASSERT_TRUE(Exists(dir.path + "CGI0") && Exists(dir.path + "CGI1") && Exists(dir.path + "CGI2"));
    // A handler keeps B by moving it away, and another run's upload then takes the free name.
    ASSERT_EQ(rename((dir.path + "CGI1").c_str(), (dir.path + "kept").c_str()), 0);
    Touch(dir.path + "CGI1", "another run");
    FinishRequest(f, dir.path, time(nullptr));
    EXPECT_FALSE(Exists(dir.path + "CGI0"));
    EXPECT_FALSE(Exists(dir.path + "CGI2"));
    EXPECT_EQ(Slurp(dir.path + "CGI1"), "another run");
    EXPECT_EQ(Slurp(dir.path + "kept"), "b");
}

// ---- Malformed input ------------------------------------------------------------------------

TEST(MalformedInputTest, RandomBodiesNeverCrash) {
    TempDir dir;
    std::mt19937 rng(20240611);
    const std::string valid = Multipart({{"A", "1", std::nullopt, false},
                                         {"F", "file\r\ndata", "C:\\f.txt", true},
                                         {"a=b", "c", std::nullopt, false},
                                         {"E", "", "", false}});
    const std::string alphabet = "%&=+\r\n\"-\0ab0F\x81\x82\xA0\xFF"s;
    const std::vector<std::string> types = {kType, "multipart/form-data; boundary=",
                                            "application/x-www-form-urlencoded",
                                            "multipart/form-data; boundary=a]"};
    const int rounds = 3000;
    for (int i = 0; i < rounds; ++i) {
        std::string body;
        int mode = static_cast<int>(rng() % 3);
        if (mode == 0) {
            body = RandomBytes(rng() % 400, rng);
        } else if (mode == 1) {
            body = valid;
            for (int m = static_cast<int>(rng() % 6); m >= 0; --m) {
                size_t at = rng() % (body.size() + 1);
                switch (rng() % 3) {
                    case 0: if (at < body.size()) body[at] = static_cast<char>(rng()); break;
                    case 1: body.insert(at, 1, alphabet[rng() % alphabet.size()]); break;
                    default: body.erase(at, rng() % 20); break;
                }
            }
        } else {
            for (size_t n = rng() % 200; n > 0; --n) body += alphabet[rng() % alphabet.size()];
        }
        FieldList f;
        long length = static_cast<long>(body.size()) + static_cast<long>(rng() % 21) - 10;
        int r = Post(types[rng() % types.size()], body, f, dir.path, std::to_string(length));
        ASSERT_TRUE(r == 0 || r == -2) << i;
        if (mode == 2) Get(body, f);
        for (const FormField& field : f) {
            ASSERT_EQ(field.name.find('\0'), std::string::npos);
            ASSERT_EQ(field.value.find('\0'), std::string::npos);
            std::string value = field.value, client, temp;
            if (!value.empty()) SplitUploadValue(value, client, temp);
        }
        FinishRequest(f, dir.path, time(nullptr) + 7200);  // sweeps this round's files
    }
}

// A file part the disk does not take whole (a write fails) or whose temporary file cannot be
// made is marked as cut, so that no caller stores it short as if it were complete.
TEST(MultipartTest, AFileTheDiskDidNotTakeWholeIsMarked) {
    TempDir dir;
    const std::string body = Multipart({{"FILE1", std::string(200000, 'x'), "a.bin", true},
                                        {"FILE2", "small", "b.bin", true}});
    FieldList f;
    SetFileFault(1, ENOSPC);  // the first block written
    ASSERT_EQ(Post(kType, body, f, dir.path), 0);
    SetFileFault(0, 0);
    ASSERT_EQ(f.size(), 2u);
    EXPECT_TRUE(f[0].isCut);
    EXPECT_FALSE(f[1].isCut);
    FieldList g;
    ASSERT_EQ(Post(kType, body, g, dir.path + "missing/"), 0);
    ASSERT_EQ(g.size(), 2u);
    EXPECT_TRUE(g[0].isCut && g[1].isCut);
}
