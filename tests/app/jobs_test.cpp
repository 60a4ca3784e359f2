// The dispatch table's consistency and the result page of refused writing steps.
#include "app/jobs.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "app/result.h"

namespace {

TEST(JobTable, NamesAreUniqueAndFollowUpsArePages) {
    std::set<std::string> names;
    for (const JobRoute& route : JobTable()) {
        EXPECT_TRUE(names.insert(route.job).second) << route.job;
        // A row is either a page or a writing step.
        EXPECT_FALSE(route.page != nullptr && route.write != nullptr) << route.job;
    }
    auto isPage = [](const char* job) {
        const JobRoute* r = FindJobRoute(job);
        return r != nullptr && r->write == nullptr;
    };
    for (const JobRoute& route : JobTable()) {
        if (route.then != nullptr) {
            EXPECT_TRUE(isPage(route.then)) << route.job;
        }
        for (const JobOutcome& o : route.outcomes) {
            if (o.page != nullptr) {
                EXPECT_TRUE(isPage(o.page)) << route.job << " -> " << o.page;
            } else {
                EXPECT_TRUE(o.titleMsg > 0 && o.textMsg > 0) << route.job << " " << o.code;
            }
        }
    }
    // Names are compared exactly.
    EXPECT_NE(nullptr, FindJobRoute("ROOM"));
    EXPECT_EQ(nullptr, FindJobRoute("room"));
    EXPECT_EQ(nullptr, FindJobRoute("ROOM "));
}

TEST(JobTable, DispatchWritesNothingForUnknownAndForbiddenJobs) {
    StringOutput sink;
    ::Run run(sink);
    run.login.user.MODE = 2;
    run.login.SKEY = "5";
    for (const char* job : {"", "room", "LOGOFF"}) {
        run.login.JOB = job;
        DispatchJob(run);
    }
    run.login.user.MODE = 1;
    run.settings.MYDATA = 1;
    run.login.JOB = "MYDATA";
    DispatchJob(run);
    EXPECT_EQ("", sink.text);
}

TEST(JobTable, OperatorJobsAreRefusedBelowLevel100BeforeAnyHandler) {
    auto page = [](int level, const char* job) {
        StringOutput sink;
        ::Run run(sink);
        run.settings.CG_FILE_WEB_PATH = "/web/";
        run.settings.BACK_GIF = "back.gif";
        run.settings.scriptName = "board.cgi";
        for (int n : {1, 2, 3, 4, 104, 109, 112, 239, 247, 311}) run.msg.text[n] = "m" + std::to_string(n);
        run.login.user.USER_LEVEL = level;
        run.login.user.MODE = 1;
        run.login.SKEY = "5";
        run.login.JOB = job;
        DispatchJob(run);
        return sink.text;
    };
    const std::string head = "Content-type: text/html\nReferrer-Policy: same-origin\n"
                             "X-Content-Type-Options: nosniff\nCache-Control: no-store\n"
                             "Content-Security-Policy: frame-ancestors 'self'\n\n<HTML>\n"
                             "<HEAD>\nm1</HEAD>\n<!--m2-->\n";
    const std::string body = "<BODY BACKGROUND=\"/web/back.gif\" BGPROPERTIES=FIXED >\n";
    const std::string block = "m3\n<FORM>\n"
                              "<INPUT TYPE=\"button\" VALUE=\"m4\" onClick=\"history.back()\">\n"
                              "</FORM>\n</BODY>\n</HTML>\n";
    const std::string refusal = head + "\t\t" + body + block;
    auto titled = [&](const std::string& title) {
        return head + "\t\t" + body + "<FONT SIZE=\"5\"><B>" + title + "</B></FONT><P>\n<P>\n" +
               block;
    };
    auto resultPage = [&](const char* title) {
        return head + "<BODY BACKGROUND=\"/web/back.gif\" BGPROPERTIES=FIXED >\n<CENTER>\n<BR>"
                      "<FONT SIZE=\"5\"><B>" + title + "</B></FONT>\n<P><BR><HR><P><BR>\n"
                      "<FONT COLOR=\"RED\"><B>m3</B></FONT>\n<FORM ACTION=\"board.cgi\" METHOD=POST >\n"
                      "<INPUT TYPE=\"button\" VALUE=\" OK \" onClick=\"history.back()\">\n"
                      "</FORM>\n</CENTER>\n</BODY>\n</HTML>\n";
    };
    const std::map<std::string, std::string> special = {
        {"FOLDER_DOWNLOAD", ""},           {"AccessLogDOWNLOAD", ""},
        {"USERWR", resultPage("m109")},    {"NEWUSERWR", resultPage("m109")},
        {"BORDMOVEWR", resultPage("m239")},
        // Pages that write their heading before the level test, and the writing steps that
        // are followed by them.
        {"ADMIN", head + "\t\t" + body + "<FONT SIZE=\"5\"><B>m104</B></FONT>\n<P>\n" + block},
        {"AccessLogDISP", titled("m112")},
        {"AccessLogLastLogin", titled("m112 m247")},
        {"AccessLogDeleteUser", titled("m112 m247")},
        {"IDSINSEIlist2", head + body + "<FONT SIZE=\"5\"><B>m311</B></FONT><P>\n" + block},
        {"IDSINSEIsysopWR", head + body + "<FONT SIZE=\"5\"><B>m311</B></FONT><P>\n" + block},
    };
    const char* operatorJobs[] = {
        "ADMIN", "SYSTEM", "SYSTEMUPDATE", "USERLIST", "USERMENT", "USERWR", "NEWUSERWR",
        "GROUPLIST", "NEWGROUP", "NEWGROUPWR", "EDITGROUP", "DELGROUP", "DELGROUPWR",
        "FOLDERLIST", "NEWFOLDER", "NEWFOLDERWR", "DELFOLDER", "DELFOLDERWR", "BORDMOVE",
        "BORDMOVEWR", "FOLDER_DOWNLOAD", "FOLDER_UPLOAD", "AccessLogDISP", "AccessLogDOWNLOAD",
        "AccessLogLastLogin", "AccessLogDeleteUser", "IDSINSEIlist2", "IDSINSEIsysopWR"};
    for (const char* job : operatorJobs) {
        EXPECT_TRUE(IsOperatorJob(job)) << job;
        EXPECT_NE(FindJobRoute(job), nullptr) << job;
        auto it = special.find(job);
        EXPECT_EQ(page(99, job), it == special.end() ? refusal : it->second) << job;
    }
    // Folder managers use the folder settings and access lists; anyone may save his own data.
    for (const char* job : {"BORDCONFIG", "BORDCONFIGWR", "BORDACCESS", "BORDACCESSWR",
                            "MYDATA", "MYDATAWR", "IDSINSEI", "IDSINSEIlist", "ROOM"})
        EXPECT_FALSE(IsOperatorJob(job)) << job;
    // The operator passes on to the job itself.
    EXPECT_NE(page(100, "SYSTEM"), refusal);
}

TEST(ResultPage, Bytes) {
    StringOutput sink;
    ::Run run(sink);
    run.settings.CG_FILE_WEB_PATH = "/web/";
    run.settings.BACK_GIF = "back.gif";
    run.settings.scriptName = "board.cgi";
    run.msg.text[1] = "<META>";
    run.msg.text[2] = "c";
    ShowResultPage(run, "Title", "Text");
    EXPECT_EQ("Content-type: text/html\nReferrer-Policy: same-origin\n"
              "X-Content-Type-Options: nosniff\nCache-Control: no-store\n"
              "Content-Security-Policy: frame-ancestors 'self'\n\n<HTML>\n<HEAD>\n<META></HEAD>\n<!--c-->\n"
              "<BODY BACKGROUND=\"/web/back.gif\" BGPROPERTIES=FIXED >\n"
              "<CENTER>\n<BR><FONT SIZE=\"5\"><B>Title</B></FONT>\n"
              "<P><BR><HR><P><BR>\n"
              "<FONT COLOR=\"RED\"><B>Text</B></FONT>\n"
              "<FORM ACTION=\"board.cgi\" METHOD=POST >\n"
              "<INPUT TYPE=\"button\" VALUE=\" OK \" onClick=\"history.back()\">\n"
              "</FORM>\n</CENTER>\n</BODY>\n</HTML>\n",
              sink.text);
}

}  // namespace
