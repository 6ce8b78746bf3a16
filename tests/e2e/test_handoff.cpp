// Instant hand-off, in the window itself: a job file that appears starts a
// job pass at once when the poll timer is on, and none while it is off.
#include "support/AppFixture.h"

#include <QFile>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

using namespace testenv;

class HandOff : public AppFixture {
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        WriteIni();
        PlugTse();
        ASSERT_TRUE(StartAndWaitRunning());
    }

    void PutStatusJob(const QString& name)
    {
        const QString tmpName = JobDir() + "/." + name + ".tmp";
        WriteFile(tmpName, "CMD=STATUS\r\nKASID=Kasse06\r\n*EOF*\r\n");
        ASSERT_TRUE(QFile::rename(tmpName, JobDir() + "/" + name + ".TSE"));
    }

    bool Answered(const QString& name) const
    {
        return ReadFile(JobDir() + "/" + name + ".SIG").endsWith("*EOF*\r\n");
    }
};

}  // namespace

TEST_F(HandOff, AJobIsTakenWithoutWaitingForTheNextTick)
{
    // The poll would not tick again for a day: only the directory notice
    // can start this pass.
    service->PollTimer().start(24 * 3600 * 1000);
    PutStatusJob("A");
    EXPECT_TRUE(RunUntil([&] { return Answered("A"); }, 20000));
    EXPECT_TRUE(service->Polling());

    // The pass's own answer and deletion are notices too; the next job is
    // taken all the same.
    PutStatusJob("B");
    EXPECT_TRUE(RunUntil([&] { return Answered("B"); }, 20000));
}

TEST_F(HandOff, NoPassWhileThePollTimerIsOff)
{
    // Passes are held back during a pass and a manual export.
    core().HoldPolling();
    PutStatusJob("C");
    RunFor(300);
    EXPECT_FALSE(QFile::exists(JobDir() + "/C.SIG"));
    EXPECT_TRUE(QFile::exists(JobDir() + "/C.TSE"));

    core().ReleasePolling();
    EXPECT_TRUE(RunUntil([&] { return Answered("C"); }, 20000));
}
