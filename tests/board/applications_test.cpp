// ID applications: every refusal of the applying step, the purge of decided applications, and
// the operator's decision, which creates the user or rejects an id taken meanwhile.
#include "board/applications.h"

#include <filesystem>

#include "cgi/text.h"
#include "store/applications.h"
#include "view_fixture.h"

namespace {

using viewtest::Fields;

class ApplicationsTest : public viewtest::ViewTest {
protected:
    void Apply(const std::string& id, int status, const std::string& date = "2024/01/01 10:00") {
        IdApplication a;
        a.USER_ID = id;
        a.USER_NAME = id + " name";
        a.USER_PASS = "pw-" + id;
        a.E_MAIL_ADDR = id + "@example.org";
        a.date = date;
        a.status = status;
        ASSERT_EQ(AddApplication(data, a), 0);
    }
    int Save(const Fields& fields) {
        StringOutput out;
        ::Run r(out);
        Configure(r, reader, fields);
        r.now = time(nullptr);
        r.remoteAddr = "10.0.0.9";
        r.userAgent = "Agent <x>";
        return SaveApplication(r);
    }
    std::vector<std::string> Ids() {
        std::vector<std::string> ids;
        for (const IdApplication& a : ReadAllApplications(data)) ids.push_back(a.USER_ID);
        return ids;
    }
};

TEST_F(ApplicationsTest, EachRefusalHasItsCode) {
    Apply("waiting", kAppWaiting);
    Apply("approved", kAppApproved);
    Apply("refused", kAppRefused);
    const struct {
        const char* id;
        const char* name;
        const char* pass;
        const char* mail;
        int code;
    } cases[] = {
        {"", "N", "p", "m", kApplicationNoId},
        {"x", "", "p", "m", kApplicationNoName},
        {"READER", "N", "p", "m", kApplicationIdInUse},  // any letter case
        {"waiting", "N", "p", "m", kApplicationExists},
        {"approved", "N", "p", "m", kApplicationExists},
        {"refused", "N", "p", "m", kApplicationExists},  // not purged yet: not stored again
        {"a,b", "N", "p", "m", kApplicationBadId},
        {"a b", "N", "p", "m", kApplicationBadId},
        {"a/b", "N", "p", "m", kApplicationBadId},
        {"a\\b", "N", "p", "m", kApplicationBadId},
        {"a\tb", "N", "p", "m", kApplicationBadId},
        {"a\x7f", "N", "p", "m", kApplicationBadId},
        {".", "N", "p", "m", kApplicationBadId},
        {"..", "N", "p", "m", kApplicationBadId},
        {"x", "N,M", "p", "m", kApplicationBadName},
        {"x", "N", "p q", "m", kApplicationBadPassword},
        {"x", "N", "p", "m,n", kApplicationBadMail},
        {"x", "N", "p", "m n", kApplicationBadMail},
        {"\x95\x5c", "N", "p", "m", kApplicationStored},  // "\" as a second byte is no separator
        {"Waiting", "N", "p", "m", kApplicationStored},   // applications compare ids exactly
    };
    for (const auto& c : cases)
        EXPECT_EQ(Save({{"USER_ID", c.id}, {"USER_NAME", c.name}, {"USER_PASS", c.pass},
                        {"E_MAIL_ADDR", c.mail}}),
                  c.code)
            << c.id;
    EXPECT_EQ(Ids(), (std::vector<std::string>{"waiting", "approved", "refused", "\x95\x5c",
                                               "Waiting"}));
    IdApplication stored;
    ASSERT_EQ(FindApplication(data, "Waiting", 0, stored), 0);
    EXPECT_EQ(stored.REMOTE_ADDR, "10.0.0.9");
    EXPECT_EQ(stored.HTTP_USER_AGENT, "Agent <x>");
    EXPECT_EQ(stored.status, kAppWaiting);

    // A file that cannot be written is no id applied for already (here: no data lock).
    std::filesystem::remove(data + "board.lock");
    std::filesystem::create_directory(data + "board.lock");
    EXPECT_EQ(Save({{"USER_ID", "later"}, {"USER_NAME", "N"}}), kApplicationNotStored);
    std::filesystem::remove(data + "board.lock");

    // Through the dispatcher: the result page of the code, or the list after a success.
    const std::string refused = Job("IDSINSEIWR", reader, {{"USER_ID", ".."}, {"USER_NAME", "N"}});
    EXPECT_NE(refused.find("<FONT SIZE=\"5\"><B>ID application</B></FONT>"), std::string::npos);
    EXPECT_NE(refused.find("<FONT COLOR=\"RED\"><B>The user ID contains characters"),
              std::string::npos);
    const std::string list = Job("IDSINSEIWR", reader,
                                 {{"USER_ID", "fresh"}, {"USER_NAME", "Fresh <one>"},
                                  {"USER_PASS", "sesame"}});
    EXPECT_NE(list.find("<TD BGCOLOR=\"#FFFFFF\">fresh</TD><TD BGCOLOR=\"#FFFFFF\">Fresh "
                        "&lt;one&gt;</TD><TD BGCOLOR=\"#FFFFFF\">Pending</TD>"),
              std::string::npos)
        << list;
    EXPECT_EQ(list.find("sesame"), std::string::npos);
    const std::string pending = Job("IDSINSEIlist2", sysop, {});
    EXPECT_EQ(pending.find("sesame"), std::string::npos);
    EXPECT_NE(pending.find("<TD BGCOLOR=\"#FFFFFF\">10.0.0.9</TD><TD BGCOLOR=\"#FFFFFF\">"
                           "Agent &lt;x&gt;</TD></TR>"),
              std::string::npos);
}

TEST_F(ApplicationsTest, DecidedApplicationsArePurgedFromTheCutOffDayBack) {
    std::string cutoff = DateStampAt(time(nullptr));
    for (int i = 0; i < 14; ++i) DayBefore(cutoff);
    Apply("old-decided", kAppApproved, "2000/01/01 00:00");
    Apply("old-pending", kAppWaiting, "2000/01/01 00:00");
    Apply("cutoff-decided", kAppRefused, cutoff + " 23:59");
    Apply("later-decided", kAppRefused, "9999/01/01 00:00");
    Apply("old-after-later", kAppRefused, "2000/01/01 00:00");  // behind a later one: stays
    Job("IDSINSEIlist", reader, {});
    EXPECT_EQ(Ids(), (std::vector<std::string>{"old-pending", "later-decided", "old-after-later"}));
}

TEST_F(ApplicationsTest, ApprovalCreatesTheUserAndAnIdTakenMeanwhileIsRejected) {
    Apply("newbie", kAppRefused);
    // A second record of the id (AddApplication stores none): the decision finds it, stepping
    // over the refused one.
    IdApplication again;
    ASSERT_EQ(FindApplication(data, "newbie", 0, again), 0);
    again.status = kAppWaiting;
    ASSERT_EQ(AppendToFile(data, data + "g_user.dat", PackIdApplication(again), false), 0);
    Apply("second", kAppWaiting);
    Apply("clash", kAppWaiting);
    Apply("untouched", kAppWaiting);
    AddUser(viewtest::MakeUser("Clash", 5));
    const Fields decide = {{"USER_ID", "newbie"}, {"USER_ID", "second"}, {"USER_ID", "clash"},
                           {"OK_NG", "1"},        {"MES", "4"},          {"MESSAGE", "Welcome"}};

    // Only an operator decides.
    const std::string refused = Job("IDSINSEIsysopWR", reader, decide);
    EXPECT_NE(refused.find("You are not permitted to use this function."), std::string::npos);
    EXPECT_EQ(ReadAllApplications(data)[1].status, kAppWaiting);

    const std::string page = Job("IDSINSEIsysopWR", sysop, decide);
    const std::vector<IdApplication> apps = ReadAllApplications(data);
    ASSERT_EQ(apps.size(), 5u);
    EXPECT_EQ(apps[0].status, kAppRefused);
    EXPECT_EQ(apps[0].message, "");
    EXPECT_EQ(apps[1].status, kAppApproved);
    EXPECT_EQ(apps[1].message, "Welcome");
    EXPECT_EQ(apps[2].message, "Welcome");
    EXPECT_EQ(apps[3].status, kAppRefused);
    EXPECT_EQ(apps[3].message, "");
    EXPECT_EQ(apps[4].status, kAppWaiting);
    // The pending list that follows shows only the one left.
    EXPECT_NE(page.find("VALUE=\"untouched\""), std::string::npos);
    EXPECT_EQ(page.find("VALUE=\"newbie\""), std::string::npos);

    std::string id = "newbie";
    UserRecord user;
    ASSERT_EQ(FindUser(data, id, user), 0);
    // Level 10, no group, thread order, member account, same-window writing, the system's
    // language.
    EXPECT_EQ(FormatUserLine(user), "newbie,newbie name,10,newbie@example.org,pw-newbie,0,1,1,1," +
                                        SystemSettings().LANGUAGE + ",,0,\r\n");
    int clashes = 0;
    for (const UserRecord& u : ReadAllUsers(data)) clashes += u.USER_ID == "clash";
    EXPECT_EQ(clashes, 0);
}

}  // namespace
