// A job failing the same way on every pass logs once, then at most once a
// minute with a count; any change makes the next line a first one again.
#include "jobs/RepeatedErrors.h"

#include <gtest/gtest.h>

namespace {

constexpr int64_t kSecond = 1000;  // on the monotonic clock

TEST(RepeatedErrors, FirstLineAsItStandsThenOnceAMinuteWithTheCount)
{
    TRepeatedErrors errors;
    int64_t now = 3600000;
    const QString line = "°Fehler beim Reset A.TSE  Err=16";
    EXPECT_EQ(errors.Filter("A.TSE", line, now), line);
    int logged = 0;
    for (int tick = 1; tick <= 4 * 59; ++tick) {  // four passes a second for 59 s
        now += kSecond / 4;
        if (!errors.Filter("A.TSE", line, now).isEmpty()) ++logged;
    }
    EXPECT_EQ(logged, 0);
    now += kSecond * 3 / 2;
    EXPECT_EQ(errors.Filter("A.TSE", line, now), line + "  (237x wiederholt)");
    EXPECT_TRUE(errors.Filter("A.TSE", line, now + kSecond).isEmpty());

    // Another job, or another error of the same job, is a first occurrence.
    EXPECT_EQ(errors.Filter("B.TSE", line, now), line);
    const QString other = "°Fehler beim Reset A.TSE  Err=13";
    EXPECT_EQ(errors.Filter("A.TSE", other, now), other);
}

TEST(RepeatedErrors, ClearedAndVanishedJobsStartAfresh)
{
    TRepeatedErrors errors;
    const QString line = "x";
    errors.Filter("A.TSE", line, 1000);
    errors.Filter("B.TSE", line, 1000);
    errors.Clear("A.TSE");
    EXPECT_EQ(errors.Filter("A.TSE", line, 1000), line);
    errors.KeepOnly({"A.TSE"});
    EXPECT_EQ(errors.Size(), 1u);
    EXPECT_EQ(errors.Filter("B.TSE", line, 1000), line);
}

}  // namespace
