#include "platform/DateTime.h"
#include "tse/ProcLib.h"
#include "tse/TseLib.h"
#include "tse/UnixLib.h"

#include <QByteArray>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

using plat::EncodeDateTime;
using plat::FormatDateTime;

// ---- Hex -----------------------------------------------------------------

TEST(Hex, EveryByteRoundTripsThroughBothTextKinds)
{
    EXPECT_EQ(ByteToHex(0), "00");
    EXPECT_EQ(ByteToHex(255), "FF");
    EXPECT_EQ(HexToByte(QString("7F")), 127);
    for (int b = 0; b < 256; ++b) {
        const QString hex = ByteToHex(static_cast<uint8_t>(b));
        ASSERT_EQ(hex.size(), 2);
        ASSERT_EQ(HexToByte(hex), b) << hex.toStdString();
        ASSERT_EQ(HexToByte(hex.toStdString()), b) << hex.toStdString();
    }
}

TEST(Hex, ByteSequencesRoundTripAndALastSingleDigitIsIgnored)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    const std::string hex = BytesToHex(all);
    EXPECT_EQ(hex.substr(0, 8), "00010203");
    EXPECT_EQ(hex.substr(hex.size() - 4), "FEFF");
    EXPECT_EQ(HexToBytes(hex), all);
    EXPECT_EQ(HexToBytes("41424"), "AB");
    EXPECT_EQ(HexToBytes("7f0a"), "\x7F\x0A");
    EXPECT_EQ(BytesToHex(std::string()), "");
}

TEST(Hex, AnsiChrTakesTheCodeModulo256)
{
    EXPECT_EQ(AnsiChr(65), 'A');
    EXPECT_EQ(AnsiChr(256 + 65), 'A');
    EXPECT_EQ(static_cast<unsigned char>(AnsiChr(-1)), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(AnsiChr(0xE4)), 0xE4);  // no code-page conversion
}

// ---- GetTerm -------------------------------------------------------------

TEST(GetTerm, CutsTermsOffInOrderIncludingTheEmptyLastOne)
{
    QString s = "A|B|";
    EXPECT_EQ(GetTerm(s, '|'), "A");
    EXPECT_EQ(s, "B|");
    EXPECT_EQ(GetTerm(s, '|'), "B");
    EXPECT_EQ(s, "");
    EXPECT_EQ(GetTerm(s, '|'), "");
    EXPECT_EQ(s, "");

    QString adjacent = "x||y";
    EXPECT_EQ(GetTerm(adjacent, '|'), "x");
    EXPECT_EQ(GetTerm(adjacent, '|'), "");
    EXPECT_EQ(GetTerm(adjacent, '|'), "y");
}

TEST(GetTerm, WithoutSeparatorTakesTheWholeText)
{
    QString s = "ohne Trenner";
    EXPECT_EQ(GetTerm(s, '|'), "ohne Trenner");
    EXPECT_TRUE(s.isEmpty());
}

TEST(GetTerm, EightBitTextKeepsItsBytesAndGivesCodePageText)
{
    std::string s = "A|B|";
    EXPECT_EQ(GetTerm(s, '|'), "A");
    EXPECT_EQ(GetTerm(s, '|'), "B");
    EXPECT_EQ(GetTerm(s, '|'), "");
    EXPECT_TRUE(s.empty());

    std::string umlauts = "\xC4pfel \x80 5 Gr\xFC\xDF";
    EXPECT_EQ(GetTerm(umlauts, ' '), QString::fromUtf8("Äpfel"));
    EXPECT_EQ(umlauts, "\x80 5 Gr\xFC\xDF");
    EXPECT_EQ(GetTerm(umlauts, QChar(0x20AC)), "");  // the euro sign is byte 0x80
    EXPECT_EQ(umlauts, " 5 Gr\xFC\xDF");
}

// ---- Program directory ---------------------------------------------------

TEST(AktVerz, DropsTheBuildFolderAndOneTrailingSeparator)
{
    EXPECT_EQ(AktVerzFrom("C:\\Kasse\\TSE\\Win32\\Debug"), "C:\\Kasse\\TSE");
    EXPECT_EQ(AktVerzFrom("D:\\X\\Win32\\Release\\bin"), "D:\\X");
    EXPECT_EQ(AktVerzFrom("/opt/kasse/Win32/Debug/bin"), "/opt/kasse");
    EXPECT_EQ(AktVerzFrom("/opt/kasse/Win32/Release"), "/opt/kasse");
    EXPECT_EQ(AktVerzFrom("C:\\Kasse\\"), "C:\\Kasse");
    EXPECT_EQ(AktVerzFrom("C:\\"), "C:");
    EXPECT_EQ(AktVerzFrom("/home/kasse/"), "/home/kasse");
    EXPECT_EQ(AktVerzFrom("/home/kasse"), "/home/kasse");
}

TEST(AktVerz, TheFolderNamesAreCaseSensitive)
{
    EXPECT_EQ(AktVerzFrom("/opt/win32/debug"), "/opt/win32/debug");
    EXPECT_EQ(AktVerzFrom("/opt/Win32/Debugger/x"), "/opt");
}

// ---- Unix time -----------------------------------------------------------

TEST(UnixTime, StartsAt1970AsLocalWallClock)
{
    EXPECT_EQ(DateTimeToUnixTime(EncodeDateTime(1970, 1, 1), false), 0u);
    EXPECT_EQ(DateTimeToUnixTime(EncodeDateTime(1970, 1, 2, 1), false), 90000u);
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", UnixTimeToDateTime(90000, false)), "1970-01-02 01:00:00");
    EXPECT_DOUBLE_EQ(UnixTimeToDateTime(0, false), 25569.0);
}

TEST(UnixTime, InstantsBefore1970GiveZero)
{
    EXPECT_EQ(DateTimeToUnixTime(EncodeDateTime(1969, 12, 31, 23, 59, 59), false), 0u);
    EXPECT_EQ(DateTimeToUnixTime(EncodeDateTime(1899, 12, 29, 6), false), 0u);
}

TEST(UnixTime, WholeSecondsRoundTrip)
{
    // 2^31 and beyond: past the signed 32-bit end of January 2038.
    for (const uint32_t u : {1u, 59u, 86399u, 86400u, 1700000000u, 2147483647u, 2147483648u, 4000000000u, 4294967295u}) {
        EXPECT_EQ(DateTimeToUnixTime(UnixTimeToDateTime(u, false), false), u) << u;
        EXPECT_EQ(DateTimeToUnixTime(UnixTimeToDateTime(u, true), true), u) << u;
    }
    const plat::TDateTime dt = EncodeDateTime(2026, 12, 9, 5, 7, 3);
    EXPECT_DOUBLE_EQ(UnixTimeToDateTime(DateTimeToUnixTime(dt, false), false), dt);
}

TEST(UnixTime, MillisecondsAreDroppedNotRounded)
{
    EXPECT_EQ(DateTimeToUnixTime(EncodeDateTime(1970, 1, 1, 0, 0, 1, 999), false), 1u);
    // A value a hair below a whole second is that second.
    EXPECT_EQ(DateTimeToUnixTime(EncodeDateTime(1970, 1, 1, 0, 0, 2) - 1e-10, false), 2u);
}

TEST(UnixTime, TheZoneShiftFollowsThePlatformConvention)
{
    // Bias -60 and DaylightBias -60 in Berlin: both are added, daylight saving
    // in effect or not, so local 12:00 is read as 10:00 UTC.
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
    const plat::TDateTime winterNoon = EncodeDateTime(2026, 1, 15, 12);
    const uint32_t shifted = DateTimeToUnixTime(winterNoon, true);
    const plat::TDateTime back = UnixTimeToDateTime(shifted, true);
    if (old)
        ::setenv("TZ", saved.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
    EXPECT_EQ(DateTimeToUnixTime(winterNoon, false) - shifted, 7200u);
    EXPECT_DOUBLE_EQ(back, winterNoon);
}

TEST(UnixTime, InstantsBeyondTheRangeSaturate)
{
    EXPECT_EQ(DateTimeToUnixTime(EncodeDateTime(2200, 1, 1), false), 4294967295u);
}

// ---- TSE text helpers ----------------------------------------------------

TEST(InsTZ, PutsTheSeparatorBetweenBytesAndSetsBarsApart)
{
    EXPECT_EQ(InsTZ("0A1B2C|3D4E", ' '), "0A 1B 2C | 3D 4E");
    EXPECT_EQ(InsTZ("04007F", '-'), "04-00-7F");
    EXPECT_EQ(InsTZ("", ' '), "");
    EXPECT_EQ(InsTZ("0A|", ' '), "0A | ");
    EXPECT_EQ(InsTZ("|0A", ' '), " | 0A");
    EXPECT_EQ(InsTZ("ABC", '-'), "AB-C");
}

TEST(Asn1, FlattensSequencesIntoTheirValues)
{
    EXPECT_EQ(Get_ASN1_Data("3009040401020304010100"), "01020304|00");
    EXPECT_EQ(Get_ASN1_Data("300C06082A8648CE3D0403030500"), "2A8648CE3D040303");
    EXPECT_EQ(Get_ASN1_Data("3008" "3003020105" "020107"), "05|07");
    // A SET and a context tag are values, not walked into.
    EXPECT_EQ(Get_ASN1_Data("3007" "3103020105" "A000"), "020105");
}

TEST(Asn1, OnlyASequenceIsRead)
{
    EXPECT_EQ(Get_ASN1_Data("0403010203"), "");
    EXPECT_EQ(Get_ASN1_Data(""), "");
    EXPECT_EQ(Get_ASN1_Data("3"), "");
}

TEST(Asn1, LongLengthFormsTakeTheirWholeValue)
{
    const std::string value256 = std::string(510, 'A') + "BC";
    EXPECT_EQ(Get_ASN1_Data("30820104" "04820100" + value256 + "020101"), value256 + "|01");
    const std::string value200 = std::string(400, '7');
    EXPECT_EQ(Get_ASN1_Data("3081CB" "0481C8" + value200 + "0101FF"), value200 + "|FF");
}

TEST(Asn1, TruncatedInputStopsAtTheEndOfTheText)
{
    EXPECT_EQ(Get_ASN1_Data("300A040801020304"), "01020304");  // value cut short
    EXPECT_EQ(Get_ASN1_Data("3000" "0402" "01020"), "0102");    // a value ends after its length
    EXPECT_EQ(Get_ASN1_Data("300A0401AA04"), "AA");             // ends after a tag
    EXPECT_EQ(Get_ASN1_Data("300A0401AA0482"), "AA");           // ends inside a long length
    EXPECT_EQ(Get_ASN1_Data("300A0401AA048201"), "AA");
    EXPECT_EQ(Get_ASN1_Data("30"), "");
    EXPECT_EQ(Get_ASN1_Data("300"), "");
    // Absurd lengths run to the end instead of overflowing.
    EXPECT_EQ(Get_ASN1_Data("3000" "0488FFFFFFFFFFFFFFFF" "0102"), "0102");
    EXPECT_EQ(Get_ASN1_Data("3000" "04FFFF"), "");
    EXPECT_EQ(Get_ASN1_Data("3000" "0484FFFFFFFF" "0102"), "0102");
}

TEST(HexToText, ShowsPrintableBytesAndDotsForTheRest)
{
    EXPECT_EQ(HexToText("41001F7E7F"), "A..~.");
    EXPECT_EQ(HexToText("4142|4344"), "AB | CD");
    EXPECT_EQ(HexToText("20E4"), " .");
    EXPECT_EQ(HexToText("414"), "A");
    EXPECT_EQ(HexToText(""), "");
}

TEST(HexToBase64, PadsTheLastGroup)
{
    EXPECT_EQ(HexToBase64("616263"), "YWJj");
    EXPECT_EQ(HexToBase64("6162"), "YWI=");
    EXPECT_EQ(HexToBase64("61"), "YQ==");
    EXPECT_EQ(HexToBase64(""), "");
}

TEST(HexToBase64, AgreesWithStandardBase64ForEveryLengthAndByte)
{
    std::string bytes;
    for (int n = 0; n < 300; ++n) {
        const QByteArray expected = QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())).toBase64();
        ASSERT_EQ(HexToBase64(BytesToHex(bytes)), expected.toStdString()) << "length " << n;
        bytes.push_back(static_cast<char>((n * 37 + 11) & 0xFF));
    }
}
