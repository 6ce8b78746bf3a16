#include "platform/Ansi.h"

#include <gtest/gtest.h>

using plat::AnsiToQ;
using plat::QToAnsi;

TEST(AnsiCodePage, EveryByteSurvivesTheRoundTrip)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    const QString text = AnsiToQ(all);
    ASSERT_EQ(text.size(), 256);
    EXPECT_EQ(QToAnsi(text), all);
}

TEST(AnsiCodePage, MapsTheCodePageRatherThanLatin1)
{
    EXPECT_EQ(AnsiToQ("\x80"), QString(QChar(0x20AC)));  // euro sign
    EXPECT_EQ(AnsiToQ("\x9F"), QString(QChar(0x0178)));
    EXPECT_EQ(AnsiToQ("\xE4\xF6\xFC\xDF"), QString::fromUtf8("äöüß"));
    EXPECT_EQ(QToAnsi(QString::fromUtf8("€ äöüß")), std::string("\x80 \xE4\xF6\xFC\xDF"));
}

TEST(AnsiCodePage, UnassignedBytesBecomeTheC1ControlsOfTheSameValue)
{
    for (const unsigned char b : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
        const QString text = AnsiToQ(std::string(1, static_cast<char>(b)));
        ASSERT_EQ(text.size(), 1) << int(b);
        EXPECT_EQ(text.at(0).unicode(), b);
    }
}

TEST(AnsiCodePage, CharactersOutsideTheCodePageBecomeQuestionMarks)
{
    // U+0100 and U+20AD are unmapped; the emoji is a surrogate pair and must
    // give one '?', not two.
    const QString text = QString::fromUtf8("a\u0100b\u20ADc😀d");
    EXPECT_EQ(QToAnsi(text), "a?b?c?d");
    // C1 controls other than the five unassigned bytes have no place in the
    // code page either.
    EXPECT_EQ(QToAnsi(QString(QChar(0x0080))), "?");
}
