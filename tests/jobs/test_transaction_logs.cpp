// Reading a transaction's log message back: the fields that decide whose
// finish it is, and the log time in each of the three forms a TSE may use.
#include "jobs/TransactionLogs.h"

#include <gtest/gtest.h>

namespace {

std::string Tlv(uint8_t tag, const std::string& content)
{
    std::string out(1, char(tag));
    if (content.size() < 0x80) {
        out += char(content.size());
    } else {
        out += char(0x82);
        out += char(content.size() >> 8);
        out += char(content.size() & 0xFF);
    }
    return out + content;
}

std::string Message(const std::string& time, const std::string& auditData = {})
{
    std::string body = Tlv(0x02, "\x02") + Tlv(0x06, "\x04\x00\x7f\x00\x07\x03\x07\x01\x01") +
                       Tlv(0x80, "FinishTransaction") + Tlv(0x81, "Kasse01") + Tlv(0x82, "Beleg^1.00:Bar") +
                       Tlv(0x83, "Kassenbeleg-V1") + Tlv(0x84, "extern") + Tlv(0x85, std::string("\x00\x81", 2)) +
                       Tlv(0x04, std::string(32, '\x11')) + Tlv(0x30, Tlv(0x06, "\x04\x00\x7f\x00\x07\x01\x01\x04\x01\x04"));
    if (!auditData.empty()) body += Tlv(0x04, auditData);
    body += Tlv(0x02, "\x07") + time + Tlv(0x04, std::string("\xAB\xCD", 2));
    return Tlv(0x30, body);
}

TEST(TransactionLogMessage, TheFieldsOfAFinishAndEveryFormOfItsTime)
{
    const uint64_t t = 1765300600;  // 2025-12-09 17:16:40 UTC
    const std::string unixTime = Tlv(0x02, std::string("\x69\x38\x59\x78", 4));
    const std::pair<std::string, std::string> forms[] = {
        {unixTime, "unixTime"},
        {Tlv(0x17, "2512091716Z"), "utcTime"},
        {Tlv(0x17, "251209171640Z"), "utcTimeWithSeconds"},
        {Tlv(0x18, "20251209171640Z"), "generalizedTime"},
        {Tlv(0x18, "20251209171640.250Z"), "generalizedTimeWithMilliseconds"}};
    for (const auto& [time, format] : forms) {
        TLogMessage m;
        ASSERT_TRUE(ParseLogMessage(Message(time), m));
        EXPECT_EQ(m.logTime, format == "utcTime" ? t - 40 : t);
        EXPECT_EQ(m.logTimeFormat, format);  // the QR text names it
        EXPECT_EQ(m.operationType, "FinishTransaction");
        EXPECT_EQ(m.clientId, "Kasse01");
        EXPECT_EQ(m.processData, "Beleg^1.00:Bar");
        EXPECT_EQ(m.processType, "Kassenbeleg-V1");
        EXPECT_EQ(m.taNr, 129u);
        EXPECT_EQ(m.sigCounter, 7u);
        EXPECT_EQ(m.signature, "ABCD");
    }
    TLogMessage audited;
    ASSERT_TRUE(ParseLogMessage(Message(unixTime, "audit"), audited));
    EXPECT_EQ(audited.sigCounter, 7u);

    // A time that is no time, or a message cut short, is not read at all.
    TLogMessage bad;
    EXPECT_FALSE(ParseLogMessage(Message(Tlv(0x17, "251309171640Z")), bad));
    EXPECT_FALSE(ParseLogMessage(Message(Tlv(0x18, "20251209171640")), bad));
    const std::string whole = Message(unixTime);
    EXPECT_FALSE(ParseLogMessage(whole.substr(0, whole.size() - 3), bad));
}

}  // namespace
