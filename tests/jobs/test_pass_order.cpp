// One pass over jobs of several registers: the registers take turns at the
// TSE, every answer is complete, every job file goes, and the journal holds
// nothing open once the batch's answers are on the disk.
#include "JobFixture.h"

#include "jobs/JobPassState.h"

using namespace jobtest;

class PassOrder : public JobFixture {};

TEST_F(PassOrder, RegistersTakeTurnsAndEveryBatchedJobIsSettled)
{
    StartService();
    Run("Anmeldung", Bon("Flut", "0", "Anmeldung"));  // registers the clients before the pass that counts
    Run("Anmeldung", Bon("Ruhig", "0", "Anmeldung"));

    // Dropped while no event is handled: one scan sees them all.
    const QStringList flood = {"Flut_1", "Flut_2", "Flut_3", "Flut_4", "Flut_5", "Flut_6"};
    for (const QString& name : flood) PutJob(name, Bon("Flut", name.toLatin1(), "Beleg"));
    PutJob("Ruhig", Bon("Ruhig", "1", "Beleg"));
    PutJob("Text-1", Job({"CMD=TEXT", "KASID=Ruhig", "SIGTEXT=Tagesabschluss", "*EOF*"}));
    PutJob("Abfrage", Job({"CMD=STATUS", "KASID=Ruhig", "*EOF*"}));

    QStringList all = flood;
    all << "Ruhig" << "Text-1" << "Abfrage";
    ASSERT_TRUE(RunUntil([&] {
        for (const QString& name : all)
            if (!Answered(name)) return false;
        return true;
    }));

    // The two quiet registers' jobs are signed before all but one of the flood's.
    QList<uint32_t> floodNumbers;
    for (const QString& name : flood) floodNumbers << SigValues(name)["TRANR"].toUInt();
    std::sort(floodNumbers.begin(), floodNumbers.end());
    for (const QString& quiet : {QStringLiteral("Ruhig"), QStringLiteral("Text-1")}) {
        const uint32_t nr = SigValues(quiet)["TRANR"].toUInt();
        EXPECT_GT(nr, 0u) << quiet.toStdString();
        EXPECT_LT(nr, floodNumbers[1]) << quiet.toStdString() << " waited for more than one job of the flood";
    }
    EXPECT_EQ(QSet<uint32_t>(floodNumbers.begin(), floodNumbers.end()).size(), flood.size());
    EXPECT_TRUE(SigLines("Abfrage").value(0).startsWith("CMD=STATUS OK"));

    ASSERT_TRUE(core().JobState);
    EXPECT_TRUE(core().JobState->Journal.OpenEntries().empty()) << "a batched job's done record is missing";
    EXPECT_TRUE(core().JobState->Pending.empty());
}
