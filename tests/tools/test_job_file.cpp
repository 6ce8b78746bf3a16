#include "vok-tse-client/JobText.h"

#include <gtest/gtest.h>

using namespace vokclient;

namespace {

Options Opts(Command c, QByteArray kasid)
{
    Options o;
    o.command = c;
    o.kasid = std::move(kasid);
    return o;
}

}  // namespace

TEST(JobFile, BytesOfEachCommand)
{
    Options bon = Opts(Command::Bon, "Kasse01");
    bon.bonid = "4711";
    bon.sigtext = "Beleg^0.00_2.55_0.00_0.00_0.00^2.55:Bar";
    EXPECT_EQ(JobFileBytes(MakeJob(bon, Command::Bon).job),
              "CMD=BON\r\nKASID=Kasse01\r\nBONID=4711\r\n"
              "SIGTEXT=Beleg^0.00_2.55_0.00_0.00_0.00^2.55:Bar\r\n*EOF*\r\n");

    Options text = Opts(Command::Text, "K");
    text.sigtext = "";
    EXPECT_EQ(JobFileBytes(MakeJob(text, Command::Text).job), "CMD=TEXT\r\nKASID=K\r\nSIGTEXT=\r\n*EOF*\r\n");

    Options exp = Opts(Command::Export, "K");
    EXPECT_EQ(JobFileBytes(MakeJob(exp, Command::Export).job), "CMD=EXPORT\r\nKASID=K\r\n*EOF*\r\n");
    exp.von = "3";
    exp.bis = "9";
    EXPECT_EQ(JobFileBytes(MakeJob(exp, Command::Export).job),
              "CMD=EXPORT\r\nKASID=K\r\nVONTA=3\r\nBISTA=9\r\n*EOF*\r\n");

    // The status job that precedes bon --qr carries only the client id.
    EXPECT_EQ(JobFileBytes(MakeJob(bon, Command::Status).job), "CMD=STATUS\r\nKASID=Kasse01\r\n*EOF*\r\n");
}

TEST(JobFile, ValuesAreBytesUnlessWindows1252IsAsked)
{
    Options o = Opts(Command::Text, "K1");
    o.sigtext = QByteArray("a\xff\x80 b;\t=", 8);  // not UTF-8, blanks, tab, "="
    JobResult r = MakeJob(o, Command::Text);
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_EQ(*r.job.sigtext, QByteArray("a\xff\x80 b;\t=", 8));

    o.encoding = TextEncoding::Cp1252;
    o.sigtext = "\xe2\x82\xac 5 \xc3\x9f";  // "€ 5 ß"
    r = MakeJob(o, Command::Text);
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_EQ(*r.job.sigtext, "\x80 5 \xdf");

    o.sigtext = "\xe2\x86\x92";  // an arrow: not in Windows-1252
    EXPECT_FALSE(MakeJob(o, Command::Text).ok());
    for (const char* notUtf8 : {"\xff", "ab\xc3"}) {  // also a sequence cut off at the end
        o.sigtext = notUtf8;
        EXPECT_FALSE(MakeJob(o, Command::Text).ok()) << notUtf8;
    }
}

TEST(JobFile, RefusesWhatTheServiceWouldCutOrMisread)
{
    Options o = Opts(Command::Bon, QByteArray(30, 'k'));
    o.bonid = QByteArray(10, '9');
    o.sigtext = QByteArray(100, 's');
    EXPECT_TRUE(MakeJob(o, Command::Bon).ok());

    Options longId = o;
    longId.kasid += 'k';
    EXPECT_FALSE(MakeJob(longId, Command::Bon).ok());
    Options longBon = o;
    longBon.bonid = QByteArray(11, '9');
    EXPECT_FALSE(MakeJob(longBon, Command::Bon).ok());
    Options longText = o;
    longText.sigtext = QByteArray(101, 's');
    EXPECT_FALSE(MakeJob(longText, Command::Bon).ok());

    // The limit counts the bytes in the file: 100 "ä" are 200 UTF-8 bytes but 100 in Windows-1252.
    Options umlauts = o;
    QByteArray ae;
    for (int i = 0; i < 100; ++i) ae += "\xc3\xa4";
    umlauts.sigtext = ae;
    EXPECT_FALSE(MakeJob(umlauts, Command::Bon).ok());
    umlauts.encoding = TextEncoding::Cp1252;
    EXPECT_TRUE(MakeJob(umlauts, Command::Bon).ok());

    // A line break would end the value and start a line of its own ("*EOF*", another key).
    for (const QByteArray& v : {QByteArray("a\r\n*EOF*"), QByteArray("a\nCMD=XYZ"), QByteArray("a\rb"),
                                QByteArray("a\0b", 3)}) {
        Options br = o;
        br.sigtext = v;
        EXPECT_FALSE(MakeJob(br, Command::Bon).ok());
    }
}

TEST(JobFile, ClientIdOnlyOfTheCharactersTheTseTakes)
{
    // Every character the TSE's log takes for a client id, and 30 of them.
    for (const QByteArray& id : {QByteArray("AZaz09 '()+,-./:=?"), QByteArray(30, 'K')}) {
        const JobResult r = MakeJob(Opts(Command::Bon, id), Command::Bon);
        EXPECT_TRUE(r.ok()) << id.toStdString() << ": " << r.error.toStdString();
    }
    // An umlaut in either encoding, an underscore, controls other than line breaks, and what
    // PrintableString leaves out of ASCII.
    for (const QByteArray& id : {QByteArray("K\xc3\xa4sse"), QByteArray("Kasse_01"), QByteArray("K\t1"),
                                 QByteArray("K*"), QByteArray("K@1"), QByteArray("K;1"), QByteArray("K\"1"),
                                 QByteArray("K\x7f")}) {
        for (const TextEncoding e : {TextEncoding::Bytes, TextEncoding::Cp1252}) {
            Options o = Opts(Command::Status, id);
            o.encoding = e;
            const JobResult r = MakeJob(o, Command::Status);
            EXPECT_FALSE(r.ok()) << id.toStdString();
            EXPECT_TRUE(r.error.startsWith("--kasid")) << r.error.toStdString();
        }
    }
}
