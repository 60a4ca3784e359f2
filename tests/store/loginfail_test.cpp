#include "store/loginfail.h"
#include "store/recordfile.h"
#include "tests/testutil.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Steps of one id's attempts: (seconds since the start, password right?, expected result).
struct Step {
    time_t at;
    bool right;
    int expected;
};

void Play(const TempDir& dir, const char* what, const std::vector<Step>& steps) {
    const time_t t0 = 1700000000;
    for (size_t i = 0; i < steps.size(); ++i) {
        EXPECT_EQ(LoginAttempt(dir.path, "alice", t0 + steps[i].at, steps[i].right),
                  steps[i].expected)
            << what << ", step " << i;
    }
}

std::vector<Step> Failures(time_t from, int n) {
    std::vector<Step> s;
    for (int i = 0; i < n; ++i) s.push_back({from + i, false, kLoginFailed});
    return s;
}

std::vector<Step> operator+(std::vector<Step> a, const std::vector<Step>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(LoginFailTest, TenFailuresWithinTenMinutesLockTheIdForTenMinutes) {
    struct Case {
        const char* what;
        std::vector<Step> steps;
    } cases[] = {
        {"the tenth failure locks, whatever the password after it",
         Failures(0, 10) + std::vector<Step>{{20, true, kLoginThrottled},
                                             {20, false, kLoginThrottled},
                                             {608, true, kLoginThrottled},
                                             {609, true, kLoginAccepted}}},
        {"nine failures do not", Failures(0, 9) + std::vector<Step>{{9, true, kLoginAccepted}}},
        {"a success forgets the failures",
         Failures(0, 9) + std::vector<Step>{{9, true, kLoginAccepted}} + Failures(10, 9) +
             std::vector<Step>{{19, true, kLoginAccepted}}},
        {"failures older than ten minutes do not count",
         Failures(0, 9) + Failures(600, 1) + std::vector<Step>{{601, true, kLoginAccepted}}},
        {"after the lock the count starts again",
         Failures(0, 10) + Failures(609, 9) + std::vector<Step>{{618, true, kLoginAccepted}}},
    };
    for (const Case& c : cases) {
        TempDir dir("loginfail_test");
        Play(dir, c.what, c.steps);
    }
}

TEST(LoginFailTest, FileHoldsOnlyIdsWithRecentFailures) {
    TempDir dir("loginfail_test");
    const time_t t = 1700000000;
    EXPECT_EQ(LoginAttempt(dir.path, "bob", t, true), kLoginAccepted);
    EXPECT_FALSE(FileExists(dir.File(kLoginFailFile)));  // nothing to keep, nothing written
    for (int i = 0; i < 10; ++i) LoginAttempt(dir.path, "bob", t, false);
    EXPECT_EQ(LoginAttempt(dir.path, "carol", t + 1, false), kLoginFailed);
    EXPECT_EQ(ReadFileBytes(dir.File(kLoginFailFile)),
              "bob,1700000600,\r\ncarol,0,1700000001,\r\n");
    // Another id is not touched by bob's lock; lines that expired go when the file changes.
    EXPECT_EQ(LoginAttempt(dir.path, "Bob", t + 2, true), kLoginAccepted);
    EXPECT_EQ(LoginAttempt(dir.path, "dave", t + 700, false), kLoginFailed);
    EXPECT_EQ(ReadFileBytes(dir.File(kLoginFailFile)), "dave,0,1700000700,\r\n");
}

}  // namespace
