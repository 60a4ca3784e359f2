#include "store/accesslog.h"
#include "store/recordfile.h"
#include "tests/testutil.h"

#include <gtest/gtest.h>

namespace {

struct LogDir : TempDir {
    LogDir() : TempDir("accesslog_test") {}
    void Write(const std::string& bytes) const { WriteFileBytes(File("system.log"), bytes); }
    std::string Read() const { return ReadFileBytes(File("system.log")); }
};

AccessLogEntry Login(const std::string& id, const std::string& date) {
    return AccessLogEntry{id, date, kLogLogin, 0, "10.0.0.1", "Mozilla/4.0 (compatible, X)"};
}

}  // namespace

TEST(AccessLog, LineFormats) {
    LogDir d;
    ASSERT_EQ(AppendAccessLog(d.path, Login("Taro", "2024/05/01 09:30")), 0);
    ASSERT_EQ(AppendAccessLog(d.path, AccessLogEntry{"Taro", "2024/05/01 09:31", kLogWrite, 12, "", ""}), 0);
    EXPECT_EQ(d.Read(),
              "2024/05/01 09:30,Taro,login,0,10.0.0.1,Mozilla/4.0 (compatible, X)\r\n"
              "2024/05/01 09:31,Taro,write,12,,\r\n");
    EXPECT_EQ(AppendAccessLog(d.path, AccessLogEntry{"Taro", "2024/05/01 09:32", 3, 0, "", ""}), -1);

    // No value can split a line or shift the fields that are read back; a last line without
    // its line end is ended before the next one.
    d.Write("2024/05/01 08:00,Hana,login,0,a,b");
    AccessLogEntry odd = Login("Ta,ro", "2024/05/02 10:00");
    odd.userAgent = "evil\r\n2099/01/01 00:00,Hana,login,0,,";
    ASSERT_EQ(AppendAccessLog(d.path, odd), 0);
    EXPECT_EQ(d.Read(), "2024/05/01 08:00,Hana,login,0,a,b\r\n"
                        "2024/05/02 10:00,Ta,login,0,10.0.0.1,evil\r\n");
}

TEST(AccessLog, Summary) {
    LogDir d;
    UserLogSummary s;
    EXPECT_EQ(SummarizeUserLog(d.path, "Taro", s), -1);
    EXPECT_EQ(s.lastLogin, "");
    EXPECT_EQ(s.logins + s.writes, 0);

    d.Write("2024/05/01 09:30,Taro,login,0,a,b\r\n"
            "2024/05/01 09:40,Taro,write,3,,\r\n"
            "2024/05/02 08:00,taro,login,0,a,b\r\n"   // another id: the compare is exact
            "2024/05/03 07:15,Taro,login,0,a,with, commas\n"
            "broken line without commas\r\n"
            "2024/05/04 07:15,Taro,login\r\n"        // the kind word lacks its comma
            "2024/05/04 07:20,Hana,write,1,,\r\n");
    ASSERT_EQ(SummarizeUserLog(d.path, "Taro", s), 0);
    EXPECT_EQ(s.lastLogin, "2024/05/03 07:15");
    EXPECT_EQ(s.logins, 2);
    EXPECT_EQ(s.writes, 1);

    const auto all = SummarizeAccessLog(d.path);
    EXPECT_EQ(all.at("Taro").logins, 2);
    EXPECT_EQ(all.at("taro").lastLogin, "2024/05/02 08:00");
    EXPECT_EQ(all.at("Hana").writes, 1);
}

TEST(AccessLog, PruneKeepsLaterDaysByteForByte) {
    LogDir d;
    EXPECT_EQ(PruneAccessLog(d.path, "2024/05/10"), -1);
    EXPECT_FALSE(FileExists(d.path + "system.log"));

    const std::string kept = "2024/05/11 00:01,Taro,login,0,a,b\n"
                             "2024/06/01 12:00,Hana,write,4,,\r\n";
    d.Write("2024/05/09 23:59,Taro,login,0,a,b\r\n"
            "2024/05/10 23:59,Taro,login,0,a,b\r\n" + kept);
    ASSERT_EQ(PruneAccessLog(d.path, "2024/05/10"), 0);
    EXPECT_EQ(d.Read(), kept);
    // A long line arrives in pieces, each judged as a line: when a later piece goes, the kept
    // head piece still ends before the next line.
    const std::string head = "2024/05/20 10:00,Hana,login,0,a," + std::string(999 - 32, 'b');
    d.Write(head + "2024/05/01,tail\r\n" + kept);
    ASSERT_EQ(PruneAccessLog(d.path, "2024/05/10"), 0);
    EXPECT_EQ(d.Read(), head + "\r\n" + kept);
    UserLogSummary s;
    ASSERT_EQ(SummarizeUserLog(d.path, "Taro", s), 0);
    EXPECT_EQ(s.logins, 1);
    ASSERT_EQ(PruneAccessLog(d.path, "2024/06/01 09:00"), 0);
    EXPECT_EQ(d.Read(), "");
    EXPECT_FALSE(FileExists(d.path + "system.log.TMP"));
}
