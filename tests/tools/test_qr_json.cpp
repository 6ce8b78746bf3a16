#include "vok-tse-client/AnswerJson.h"
#include "vok-tse-client/QrText.h"

#include <gtest/gtest.h>

using namespace vokclient;

namespace {

const QByteArray kBon =
    "CMD=BON OK\r\nKASID=Kasse01\r\nBONID=17\r\nSIGTEXT=Beleg^0.00_2.55_0.00_0.00_0.00^2.55:Bar\r\n"
    "START=2024-07-14T13:52:10.000Z\r\nENDE=2024-07-14T13:52:11.000Z\r\nTRANR=12\r\nSIGNR=40\r\n"
    "SIG=c2lnbmF0dXJl\r\n*EOF*\r\n";
const QByteArray kStatus =
    "CMD=STATUS OK\r\nTSE=ONLINE\r\nKASID=Kasse01\r\nKASSE=BEKANNT\r\nSN=ABCD\r\nPUBKEY=cHVia2V5\r\n"
    "TIFO=unixTime\r\nHASHALGO=ecdsa-plain-SHA384\r\nZERT1=ABCD_X509.cer\r\nLOGTIFO=unixTime\r\n*EOF*\r\n";

}  // namespace

TEST(QrText, DsfinvkFieldOrder)
{
    const QrResult q = BuildQrText(ParseAnswer(kBon), ParseAnswer(kStatus));
    ASSERT_TRUE(q.ok()) << q.error.toStdString();
    EXPECT_EQ(q.text,
              "V0;Kasse01;Kassenbeleg-V1;Beleg^0.00_2.55_0.00_0.00_0.00^2.55:Bar;12;40;"
              "2024-07-14T13:52:10.000Z;2024-07-14T13:52:11.000Z;ecdsa-plain-SHA384;unixTime;"
              "c2lnbmF0dXJl;cHVia2V5");
}

TEST(QrText, TimeFormatAndMissingParts)
{
    // The log's format counts, not how the TSE takes its time.
    QByteArray status = kStatus;
    status.replace("LOGTIFO=unixTime", "LOGTIFO=generalizedTimeWithMilliseconds");
    status.replace("\nTIFO=unixTime", "\nTIFO=utcTime");
    EXPECT_TRUE(BuildQrText(ParseAnswer(kBon), ParseAnswer(status)).text.contains(";generalizedTimeWithMilliseconds;"));
    status.replace("LOGTIFO=generalizedTimeWithMilliseconds", "LOGTIFO=7");  // no DSFinV-K format
    EXPECT_TRUE(BuildQrText(ParseAnswer(kBon), ParseAnswer(status)).text.contains(";unixTime;"));
    status.replace("LOGTIFO=7\r\n", "");  // an older service: never the time-sync variant
    EXPECT_TRUE(BuildQrText(ParseAnswer(kBon), ParseAnswer(status)).text.contains(";unixTime;"));

    QByteArray noKey = kStatus;
    noKey.replace("PUBKEY=cHVia2V5", "PUBKEY=");
    EXPECT_FALSE(BuildQrText(ParseAnswer(kBon), ParseAnswer(noKey)).ok());
    QByteArray noAlgo = kStatus;
    noAlgo.replace("HASHALGO=ecdsa-plain-SHA384", "HASHALGO=");
    EXPECT_FALSE(BuildQrText(ParseAnswer(kBon), ParseAnswer(noAlgo)).ok());
    QByteArray failed = kBon;
    failed.replace("SIG=c2lnbmF0dXJl", "SIG=");
    EXPECT_FALSE(BuildQrText(ParseAnswer(failed), ParseAnswer(kStatus)).ok());
}

TEST(Json, StringEscaping)
{
    EXPECT_EQ(JsonString(""), "\"\"");
    EXPECT_EQ(JsonString("a\"b\\c/d"), "\"a\\\"b\\\\c/d\"");
    EXPECT_EQ(JsonString(QString::fromUtf8("\t\r\n\b\f\x01\x1f\x7f")), "\"\\t\\r\\n\\b\\f\\u0001\\u001f\\u007f\"");
    EXPECT_EQ(JsonString(QString(QChar(0x2028))), "\"\\u2028\"");
    // Non-ASCII stays UTF-8, surrogate pairs included.
    EXPECT_EQ(JsonString(QString::fromUtf8("\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80")),
              "\"\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80\"");
}

TEST(Json, DecodingOfAnswerBytes)
{
    EXPECT_EQ(DecodeText("\xc3\xa4", TextEncoding::Bytes), QString::fromUtf8("\xc3\xa4"));
    // Not UTF-8: the service's code page.
    EXPECT_EQ(DecodeText("\xe4\x80", TextEncoding::Bytes), QString::fromUtf8("\xc3\xa4\xe2\x82\xac"));
    EXPECT_EQ(DecodeText("\xc3\xa4", TextEncoding::Cp1252), QString::fromUtf8("\xc3\x83\xc2\xa4"));
}

TEST(Json, AnswerObject)
{
    const Answer a = ParseAnswer(
        "CMD=STATUS OK\r\nTSE=ONLINE\r\nKASID=K\"1\r\nMITTEILUNGEN\r\nTSE l\xe4uft ab\r\nx=y\r\n*EOF*\r\n");
    EXPECT_EQ(AnswerToJson(a, TextEncoding::Cp1252, {{"QR", "V0;K"}}),
              "{\"CMD\":\"STATUS OK\",\"TSE\":\"ONLINE\",\"KASID\":\"K\\\"1\","
              "\"MITTEILUNGEN\":[\"TSE l\xc3\xa4uft ab\",\"x=y\"],\"QR\":\"V0;K\"}\n");
    const Answer none = ParseAnswer("CMD=STATUS OK\r\n*EOF*\r\n");
    EXPECT_EQ(AnswerToJson(none, TextEncoding::Bytes), "{\"CMD\":\"STATUS OK\"}\n");
    // An empty notice block is still an array.
    EXPECT_EQ(AnswerToJson(ParseAnswer("CMD=STATUS OK\r\nMITTEILUNGEN\r\n*EOF*\r\n"), TextEncoding::Bytes),
              "{\"CMD\":\"STATUS OK\",\"MITTEILUNGEN\":[]}\n");
}

TEST(PlainOutput, LinesAsTheyAreOrBackToUtf8)
{
    const Answer a = ParseAnswer("CMD=TEXT OK\r\nSIGTEXT=\xe4\r\n*EOF*\r\n");
    EXPECT_EQ(AnswerToLines(a, TextEncoding::Bytes), "CMD=TEXT OK\nSIGTEXT=\xe4\n");
    EXPECT_EQ(AnswerToLines(a, TextEncoding::Cp1252), "CMD=TEXT OK\nSIGTEXT=\xc3\xa4\n");
}
