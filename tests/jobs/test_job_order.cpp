// The order a pass takes its jobs in: a register's flood never keeps
// another register's job waiting for more than one job of each register.
#include "jobs/JobOrder.h"

#include <QSet>
#include <gtest/gtest.h>

namespace {

QList<QByteArray> Names(std::initializer_list<const char*> names)
{
    QList<QByteArray> out;
    for (const char* n : names) out << QByteArray(n);
    return out;
}

TEST(JobOrder, ANumberAfterASeparatorNumbersTheJobsOfOneRegister)
{
    EXPECT_EQ(RegisterOfJob("KASSE01_123.TSE"), "KASSE01");
    EXPECT_EQ(RegisterOfJob("KASSE01-0005.TSE"), "KASSE01");
    EXPECT_EQ(RegisterOfJob("Filiale 2 Kasse.7.TSE"), "Filiale 2 Kasse");
    EXPECT_EQ(RegisterOfJob("K1__-42.TSE"), "K1");
    // The register's own number stays: two registers, not one.
    EXPECT_EQ(RegisterOfJob("KASSE01.TSE"), "KASSE01");
    EXPECT_EQ(RegisterOfJob("KASSE02.TSE"), "KASSE02");
    // Nothing left but a number or separators: the name is the register.
    EXPECT_EQ(RegisterOfJob("0815.TSE"), "0815");
    EXPECT_EQ(RegisterOfJob("_17.TSE"), "_17");
    EXPECT_EQ(RegisterOfJob("Kasse_A.TSE"), "Kasse_A");
    // Names are bytes (a register writing Windows-1252).
    EXPECT_EQ(RegisterOfJob("K\xe4sse_3.TSE"), "K\xe4sse");
}

TEST(JobOrder, OneJobOfEachRegisterInTurnEachRegisterInItsOwnOrder)
{
    const QList<QByteArray> listed = Names({"A_1.TSE", "A_2.TSE", "B.TSE", "A_3.TSE", "C_9.TSE", "C_8.TSE"});
    EXPECT_EQ(FairOrder(listed), Names({"A_1.TSE", "B.TSE", "C_9.TSE", "A_2.TSE", "C_8.TSE", "A_3.TSE"}));

    EXPECT_TRUE(FairOrder({}).isEmpty());
    const QList<QByteArray> oneRegister = Names({"A_3.TSE", "A_1.TSE", "A_2.TSE"});
    EXPECT_EQ(FairOrder(oneRegister), oneRegister);
}

TEST(JobOrder, AQuietRegistersJobWaitsForAtMostOneJobOfEachBusyRegister)
{
    // Two floods listed before the quiet register's one job.
    QList<QByteArray> listed;
    for (int i = 0; i < 500; ++i) listed << "FLUT_" + QByteArray::number(i) + ".TSE";
    for (int i = 0; i < 300; ++i) listed << "MASSE-" + QByteArray::number(i) + ".TSE";
    listed << "Ruhig.TSE";
    const QList<QByteArray> order = FairOrder(listed);
    ASSERT_EQ(order.size(), listed.size());
    EXPECT_EQ(order.indexOf("Ruhig.TSE"), 2);
    // Nothing is lost or taken twice, and each flood keeps its own order.
    EXPECT_EQ(QSet<QByteArray>(order.begin(), order.end()), QSet<QByteArray>(listed.begin(), listed.end()));
    qsizetype last = -1;
    for (int i = 0; i < 500; ++i) {
        const qsizetype at = order.indexOf("FLUT_" + QByteArray::number(i) + ".TSE");
        EXPECT_GT(at, last);
        last = at;
    }
}

}  // namespace
