// Client ids and process types a certified TSE refuses are refused here too,
// and a transaction is finished only by the client that started it. Every
// refusal is a parameter error that leaves no trace: no log message, no
// counter, not a byte of the state changed.
#include "SoftTseFixture.h"

#include <algorithm>

using namespace softtse_test;

namespace {

// What a refused call must leave as it was.
struct Trace {
    std::string state;
    std::vector<std::string> logs;
    bool operator==(const Trace &o) const { return state == o.state && logs == o.logs; }
};

class ClientRules : public SoftTseTest {
protected:
    void SetUp() override
    {
        initialiseDevice(device);
        ASSERT_EQ(ExecutionOk, mapClient("POS1"));
        ASSERT_EQ(ExecutionOk, mapClient("POS2"));
    }

    Trace trace() const
    {
        Trace t{readText(device.stateFolder() / "state"), storedLogs(device)};
        std::sort(t.logs.begin(), t.logs.end());
        return t;
    }

    static std::vector<uint32_t> openNumbers()
    {
        uint8_t *buffer = nullptr;
        uint32_t count = 0;
        if (se_getOpenTransactions(&buffer, &count) != ExecutionOk)
            return {};
        const Bytes list = take(buffer, count * 4);
        std::vector<uint32_t> numbers;
        for (size_t i = 0; i + 3 < list.size(); i += 4)
            numbers.push_back(uint32_t(list[i]) | uint32_t(list[i + 1]) << 8 | uint32_t(list[i + 2]) << 16 |
                              uint32_t(list[i + 3]) << 24);
        return numbers;
    }

    static se_result_t mapAsAdmin(const std::string &client)
    {
        const Bytes serial = serialNumber();
        return se_mapERStoKey(client.data(), len(client), serial.data(), static_cast<uint32_t>(serial.size()));
    }

    se_result_t exportFor(const std::string &client)
    {
        const std::string file = (device.path() / "client.tar").string();
        return se_exportDataToFile(client.data(), len(client), SE_MAX_UINT32, 0, SE_MAX_UINT32, 0, SE_MAX_TIME, 0,
                                   file.c_str());
    }

    // Adds a client to the closed device's state file, as a library that
    // took any bytes may have mapped it.
    void addClientToStateFile(const std::string &client)
    {
        const fs::path state = device.stateFolder() / "state";
        std::string text = readText(state);
        static const char *hex = "0123456789ABCDEF";
        std::string line = "client=";
        for (unsigned char c : client) {
            line += hex[c >> 4];
            line += hex[c & 0x0F];
        }
        text.insert(text.find("end=1\n"), line + "\n");
        writeText(state, text);
    }
};

const std::vector<std::string> kRefusedIds = {
    "K\xE4sse",             // Windows-1252
    "K\xC3\xA4sse",         // UTF-8
    "Kasse_01",
    std::string("K\0", 2),
    "Kasse\n",
    "K*1", "K@1", "K;1", "K\"1", "K&1", "K#1", "K\\1",
    std::string(31, 'K'),
};

const std::vector<std::string> kAcceptedIds = {
    "Kasse 01", "POS-2", "K'()+,-./:=?", std::string(30, 'z'), "0",
};

TEST_F(ClientRules, IdsOutsidePrintableStringAreRefusedByEveryCallWithoutTrace)
{
    ASSERT_EQ(ExecutionOk, login("Admin", kAdminPin));
    const Trace before = trace();
    for (const std::string &id : kRefusedIds) {
        EXPECT_EQ(ErrorParameterMismatch, mapAsAdmin(id)) << id;
        EXPECT_EQ(ErrorParameterMismatch, start(id).rc) << id;
        EXPECT_EQ(ErrorParameterMismatch, finish(id, 1).rc) << id;
        EXPECT_EQ(ErrorParameterMismatch, exportFor(id)) << id;
    }
    EXPECT_EQ(before, trace());
    EXPECT_FALSE(fs::exists(device.path() / "client.tar"));
    for (const std::string &id : kAcceptedIds) {
        ASSERT_EQ(ExecutionOk, mapAsAdmin(id)) << id;
        const Signed s = start(id);
        ASSERT_EQ(ExecutionOk, s.rc) << id;
        EXPECT_EQ(ExecutionOk, finish(id, s.transactionNumber).rc) << id;
        EXPECT_EQ(ExecutionOk, exportFor(id)) << id;
    }
}

TEST_F(ClientRules, MappedIdFromAnOlderLibraryNoLongerSigns)
{
    // A device used before the rule may hold a mapping a certified TSE would
    // never have made; the id is judged by its characters, not its mapping.
    se_close();
    addClientToStateFile("Kasse_01");
    ASSERT_EQ(ExecutionOk, se_openDirect(device.str().c_str(), 5000));
    const Trace before = trace();
    EXPECT_EQ(ErrorParameterMismatch, start("Kasse_01").rc);
    EXPECT_EQ(before, trace());
}

TEST_F(ClientRules, ProcessTypeOutsidePrintableStringIsRefusedWithoutTrace)
{
    const Trace empty = trace();
    se_StartTransactionResult_t started{};
    EXPECT_EQ(ErrorParameterMismatch,
              se_startTransaction("POS1", 4, nullptr, 0, "Kassenbeleg_V1", 14, nullptr, 0, &started));
    EXPECT_EQ(empty, trace());

    const Signed s = start("POS1");
    ASSERT_EQ(ExecutionOk, s.rc);
    const Trace open = trace();
    for (const std::string type : {"Kassenbeleg_V1", "Beleg\xE4", "Beleg\t1"})
        EXPECT_EQ(ErrorParameterMismatch, finish("POS1", s.transactionNumber, "Beleg^1.00", type).rc) << type;
    EXPECT_EQ(open, trace());
    EXPECT_EQ(std::vector<uint32_t>{s.transactionNumber}, openNumbers());
    EXPECT_EQ(ExecutionOk, finish("POS1", s.transactionNumber, "Beleg^1.00", "Kassenbeleg-V1").rc);
}

TEST_F(ClientRules, OnlyTheStartingClientFinishes)
{
    const Signed s = start("POS2");
    ASSERT_EQ(ExecutionOk, s.rc);
    const Trace open = trace();
    EXPECT_EQ(ErrorParameterMismatch, finish("POS1", s.transactionNumber).rc);
    EXPECT_EQ(open, trace());
    EXPECT_EQ(std::vector<uint32_t>{s.transactionNumber}, openNumbers());

    // The starter is part of the stored state, not of the session.
    se_close();
    ASSERT_EQ(ExecutionOk, se_openDirect(device.str().c_str(), 5000));
    EXPECT_EQ(ErrorParameterMismatch, finish("POS1", s.transactionNumber).rc);
    const Signed f = finish("POS2", s.transactionNumber);
    ASSERT_EQ(ExecutionOk, f.rc);
    EXPECT_EQ(s.signatureCounter + 1, f.signatureCounter);
    EXPECT_TRUE(openNumbers().empty());
}

TEST_F(ClientRules, StarterOfATransactionInAnOlderStateFileIsReadFromItsStartMessage)
{
    const Signed s = start("POS2");
    ASSERT_EQ(ExecutionOk, s.rc);
    se_close();
    // Older state files list open transactions by number alone.
    const fs::path state = device.stateFolder() / "state";
    std::string text = readText(state);
    const std::string line = "open=" + std::to_string(s.transactionNumber);
    const size_t at = text.find(line + ",");
    ASSERT_NE(std::string::npos, at) << text;
    text.erase(at + line.size(), text.find('\n', at) - at - line.size());
    writeText(state, text);

    ASSERT_EQ(ExecutionOk, se_openDirect(device.str().c_str(), 5000));
    EXPECT_EQ(ErrorParameterMismatch, finish("POS1", s.transactionNumber).rc);
    EXPECT_EQ(ExecutionOk, finish("POS2", s.transactionNumber).rc);
}

} // namespace
