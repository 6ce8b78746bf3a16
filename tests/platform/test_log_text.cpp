// What a name or value from the share looks like in the log and the window.
#include "platform/LogText.h"

#include <gtest/gtest.h>

using namespace plat;

TEST(LogText, LineBreaksAndOtherControlsBecomeVisibleCodes)
{
    EXPECT_EQ(VisibleControls(QStringLiteral("A\nB\rC")), QStringLiteral("A<0A>B<0D>C"));
    EXPECT_EQ(VisibleControls(QString(QChar(0)) + "x"), QStringLiteral("<00>x"));
    EXPECT_EQ(VisibleControls(QStringLiteral("\t\x1b\x1f\x7f")), QStringLiteral("<09><1B><1F><7F>"));
    // NEL and the other C1 controls, which Windows-1252's gaps decode to.
    EXPECT_EQ(VisibleControls(QString(QChar(0x85)) + QChar(0x81)), QStringLiteral("<85><81>"));
    // A list entry breaks at these; the log's code page cannot hold them.
    EXPECT_EQ(VisibleControls(QString(QChar(0x2028)) + QChar(0x2029)), QStringLiteral("<2028><2029>"));
}

TEST(LogText, PrintableTextIsKeptAsItIs)
{
    const QString text = QStringLiteral("Kässe €  TA=42  Beleg^1.00:Bar <0D> ~");
    EXPECT_EQ(VisibleControls(text), text);
    EXPECT_EQ(VisibleControls(QString()), QString());
}

TEST(LogText, BytesInTheLogsCodePageKeepTheirPrintableUpperHalf)
{
    // 0x80 is the euro sign and 0x85 the ellipsis in Windows-1252.
    EXPECT_EQ(VisibleControlBytes(std::string("K\xe4s\x80\x85", 5)), std::string("K\xe4s\x80\x85", 5));
    EXPECT_EQ(VisibleControlBytes(std::string("a\r\nb\0c\x7f", 7)), "a<0D><0A>b<00>c<7F>");
}
