#include "vok-tse-client/Answer.h"
#include "vok-tse-client/ExitCodes.h"

#include <gtest/gtest.h>

using namespace vokclient;

TEST(Answer, CompleteOnlyWithTheEndMarkAsLastLine)
{
    EXPECT_TRUE(IsCompleteAnswer("CMD=BON OK\r\n*EOF*\r\n"));
    EXPECT_TRUE(IsCompleteAnswer("CMD=BON OK\n*EOF*\n"));
    EXPECT_TRUE(IsCompleteAnswer("CMD=BON OK\r\n*EOF*"));    // line end not written yet
    EXPECT_TRUE(IsCompleteAnswer("CMD=BON OK\r\n*EOF*\r"));
    EXPECT_FALSE(IsCompleteAnswer(""));
    EXPECT_FALSE(IsCompleteAnswer("CMD=BON OK\r\n*EO"));    // half written
    EXPECT_FALSE(IsCompleteAnswer("CMD=BON OK\r\n*EOF* \r\n"));
    EXPECT_FALSE(IsCompleteAnswer("CMD=BON OK\r\nSIG=x*EOF*\r\n"));
    EXPECT_FALSE(IsCompleteAnswer("*EOF*\r\nCMD=BON OK\r\n"));
}

TEST(Answer, FieldsNoticesAndLines)
{
    const Answer a = ParseAnswer(
        "CMD=STATUS OK\r\nTSE=OFFLINE ERR=3007h\r\nKASID=K=1\r\nSN=\r\n"
        "MITTEILUNGEN\r\nZertifikat l\xe4uft ab\r\nA=B\r\n*EOF*\r\n*EOF*\r\n");
    EXPECT_EQ(a.value("CMD"), "STATUS OK");
    EXPECT_EQ(a.value("TSE"), "OFFLINE ERR=3007h");  // split at the first "="
    EXPECT_EQ(a.value("KASID"), "K=1");
    EXPECT_TRUE(a.has("SN"));
    EXPECT_TRUE(a.value("SN").isEmpty());
    EXPECT_FALSE(a.has("A"));  // lines after the heading are notices
    ASSERT_TRUE(a.hasNotices);
    EXPECT_EQ(a.notices, (QList<QByteArray>{"Zertifikat l\xe4uft ab", "A=B", "*EOF*"}));
    EXPECT_EQ(a.lines.size(), 8);
    EXPECT_EQ(a.lines.first(), "CMD=STATUS OK");

    const Answer twice = ParseAnswer("CMD=BON OK\nSIG=a\nTRANR=1\nSIG=b\n*EOF*\n");
    ASSERT_EQ(twice.fields.size(), 3u);
    EXPECT_EQ(twice.fields[1].first, "SIG");
    EXPECT_EQ(twice.value("SIG"), "b");
}

TEST(Answer, VerdictPerCommand)
{
    auto judge = [](const char* text, Command c) { return Judge(ParseAnswer(text), c); };
    EXPECT_EQ(judge("CMD=BON OK\r\n*EOF*\r\n", Command::Bon).exitCode, ExitOk);
    EXPECT_EQ(judge("CMD=TEXT OK\r\n*EOF*\r\n", Command::Text).exitCode, ExitOk);
    EXPECT_EQ(judge("CMD=EXPORT OK\r\n*EOF*\r\n", Command::Export).exitCode, ExitOk);

    const Verdict err = judge("CMD=BON ERR 300Eh\r\nKASID=K\r\n*EOF*\r\n", Command::Bon);
    EXPECT_EQ(err.exitCode, ExitRefused);
    EXPECT_EQ(err.message, "CMD=BON ERR 300Eh");

    EXPECT_EQ(judge("CMD=STATUS OK\r\nTSE=ONLINE\r\n*EOF*\r\n", Command::Status).exitCode, ExitOk);
    const Verdict off = judge("CMD=STATUS OK\r\nTSE=OFFLINE ERR=1004h\r\n*EOF*\r\n", Command::Status);
    EXPECT_EQ(off.exitCode, ExitRefused);
    EXPECT_EQ(off.message, "TSE=OFFLINE ERR=1004h");

    // An answer of another command, or none that can be read, is no success.
    EXPECT_EQ(judge("CMD=TEXT OK\r\n*EOF*\r\n", Command::Bon).exitCode, ExitRefused);
    EXPECT_EQ(judge("CMD=BONUS OK\r\n*EOF*\r\n", Command::Bon).exitCode, ExitRefused);
    EXPECT_EQ(judge("*EOF*\r\n", Command::Status).exitCode, ExitRefused);
}
