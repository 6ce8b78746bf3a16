// The state file reads back every value byte for byte, and a file that is
// cut short or holds numbers no field can take is refused, not half read.
#include "device_state.h"

#include <gtest/gtest.h>

using namespace softtse;

namespace {

DeviceState oddState()
{
    DeviceState s;
    s.lifeCycle = Active;
    s.admin.pinHash = "AB";
    s.admin.retries = 2;
    s.timeAdmin.retries = 0;
    s.transactionCounter = 4294967294u;
    s.signatureCounter = 4294967295u;
    s.timeOffset = INT64_MIN;
    s.lastTimeUpdateMs = INT64_MAX;
    s.storedLogBytes = UINT64_MAX;
    s.serialHex = std::string(64, 'C');
    s.uniqueIdHex = "00FF";
    s.certificationId = std::string("BSI\r\nkey=x%41\xE4\xFF") + '\0' + "end";
    s.certificateExpiry = UINT64_MAX;
    s.clients = {{'K', '\r'}, {'\n', '=', 0xE4, 0x00}, {'%', '4', '1'}};
    // The second kept without its client, as older state files hold them.
    s.openTransactions = {{1, {'K', ' ', '1'}}, {4294967294u, {}}};
    return s;
}

} // namespace

TEST(StateFile, EveryValueReadsBackByteForByte)
{
    const DeviceState s = oddState();
    const std::string text = serializeState(s);
    DeviceState r;
    ASSERT_TRUE(parseState(text, r));
    EXPECT_EQ(text, serializeState(r));
    EXPECT_EQ(s.certificationId, r.certificationId);
    EXPECT_EQ(s.clients, r.clients);
    EXPECT_EQ(s.openTransactions, r.openTransactions);
    EXPECT_EQ(s.timeOffset, r.timeOffset);
    EXPECT_EQ(s.lastTimeUpdateMs, r.lastTimeUpdateMs);
    EXPECT_EQ(s.storedLogBytes, r.storedLogBytes);
    EXPECT_EQ(s.signatureCounter, r.signatureCounter);
    EXPECT_EQ(s.admin.pinHash, r.admin.pinHash);
    EXPECT_EQ(s.admin.retries, r.admin.retries);
    // Written with CR LF line ends by an editor, it still reads the same.
    std::string crlf;
    for (char c : text)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    ASSERT_TRUE(parseState(crlf, r));
    EXPECT_EQ(text, serializeState(r));
}

TEST(StateFile, DamagedFilesAreRefused)
{
    const std::string text = serializeState(oddState());
    DeviceState r;
    EXPECT_FALSE(parseState(text.substr(0, text.size() / 2), r)); // cut short: no end line
    auto with = [&](const std::string &from, const std::string &to) {
        std::string t = text;
        const size_t at = t.find(from);
        EXPECT_NE(std::string::npos, at) << from;
        if (at != std::string::npos)
            t.replace(at, from.size(), to);
        return t;
    };
    EXPECT_FALSE(parseState(with("signatureCounter=4294967295", "signatureCounter=4294967296"), r));
    EXPECT_FALSE(parseState(with("signatureCounter=4294967295", "signatureCounter=-1"), r));
    EXPECT_FALSE(parseState(with("timeOffset=-9223372036854775808", "timeOffset=-9223372036854775809"), r));
    EXPECT_FALSE(parseState(with("adminRetries=2", "adminRetries=40000"), r));
    EXPECT_FALSE(parseState(with("uniqueId=00FF", "uniqueId=00%F"), r));
    EXPECT_FALSE(parseState(with("uniqueId=00FF", "uniqueId=00%G0"), r));
    EXPECT_FALSE(parseState(with("open=1,4B2031", "open=1,4B203"), r));
    EXPECT_FALSE(parseState(with("open=1,4B2031", "open=1,"), r));
    EXPECT_FALSE(parseState(with("open=1,4B2031", "open=x,4B2031"), r));
}
