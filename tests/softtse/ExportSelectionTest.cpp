// Which logs an export holds: consecutive ranges must share out every stored
// log exactly once, whatever order the clients' transactions interleave in.
#include "export_selection.h"

#include <gtest/gtest.h>

#include <set>

using namespace softtse;

namespace {

constexpr uint32_t kOpen = 0xFFFFFFFFu;

struct Series {
    std::vector<LogFileInfo> logs;
    uint32_t counter = 0;

    void transaction(uint32_t number, const std::string &client, uint64_t time = 1000)
    {
        LogFileInfo l;
        l.transaction = true;
        l.signatureCounter = ++counter;
        l.transactionNumber = number;
        l.clientId.assign(client.begin(), client.end());
        l.logTime = time;
        l.name = "T" + std::to_string(l.signatureCounter);
        logs.push_back(l);
    }
    void system(uint64_t time = 1000)
    {
        LogFileInfo l;
        l.signatureCounter = ++counter;
        l.logTime = time;
        l.name = "S" + std::to_string(l.signatureCounter);
        logs.push_back(l);
    }
};

ExportRange transactions(uint32_t first, uint32_t last)
{
    ExportRange r;
    r.startTransactionNumber = first;
    r.endTransactionNumber = last;
    return r;
}

std::vector<uint32_t> counters(const std::vector<LogFileInfo> &logs)
{
    std::vector<uint32_t> c;
    for (const LogFileInfo &l : logs)
        c.push_back(l.signatureCounter);
    return c;
}

// Logins, a restart's time update, interleaved clients: 1 start, 2 start,
// 1 finish, system logs, 3 start, 2 finish, 3 finish, system logs.
Series interleaved()
{
    Series s;
    s.system();          // 1
    s.system();          // 2
    s.transaction(1, "K1"); // 3
    s.transaction(2, "K2"); // 4
    s.transaction(1, "K1"); // 5
    s.system();          // 6
    s.system();          // 7
    s.transaction(3, "K1"); // 8
    s.transaction(2, "K2"); // 9
    s.transaction(3, "K1"); // 10
    s.system();          // 11
    return s;
}

} // namespace

TEST(ExportSelection, ConsecutiveRangesShareOutEveryLogOnce)
{
    const Series s = interleaved();
    for (uint32_t cut = 0; cut <= 3; ++cut) {
        std::multiset<uint32_t> seen;
        for (uint32_t c : counters(selectLogs(s.logs, transactions(1, cut))))
            seen.insert(c);
        for (uint32_t c : counters(selectLogs(s.logs, transactions(cut + 1, kOpen))))
            seen.insert(c);
        ASSERT_EQ(seen.size(), s.logs.size()) << "cut after " << cut;
        for (uint32_t c = 1; c <= s.counter; ++c)
            EXPECT_EQ(seen.count(c), 1u) << "counter " << c << ", cut after " << cut;
    }
}

TEST(ExportSelection, ClosedRangesTakeTheSystemLogsUpToTheirLastTransaction)
{
    const Series s = interleaved();
    // Transaction 2 finishes after 3 started: its range ends at counter 9,
    // so the logs 6 and 7 between go with it, and 11 waits for the next.
    EXPECT_EQ(counters(selectLogs(s.logs, transactions(1, 2))), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7, 9}));
    EXPECT_EQ(counters(selectLogs(s.logs, transactions(3, 3))), (std::vector<uint32_t>{8, 10}));
    EXPECT_EQ(counters(selectLogs(s.logs, transactions(3, kOpen))), (std::vector<uint32_t>{8, 10, 11}));
    EXPECT_TRUE(selectLogs(s.logs, transactions(4, 9)).empty());
    // Only system logs after the last transaction: an open range still has them.
    EXPECT_EQ(counters(selectLogs(s.logs, transactions(4, kOpen))), (std::vector<uint32_t>{11}));
}

TEST(ExportSelection, OneClientsExportKeepsTheSameSystemLogs)
{
    const Series s = interleaved();
    ExportRange r = transactions(1, kOpen);
    r.allClients = false;
    r.clientId = {'K', '2'};
    EXPECT_EQ(counters(selectLogs(s.logs, r)), (std::vector<uint32_t>{1, 2, 4, 6, 7, 9, 11}));
}

TEST(ExportSelection, DateRangesHoldSystemLogsToo)
{
    Series s;
    s.system(100);
    s.transaction(1, "K1", 200);
    s.system(300);
    s.transaction(1, "K1", 400);
    s.system(500);
    ExportRange r;
    r.startDate = 150;
    r.endDate = 450;
    EXPECT_EQ(counters(selectLogs(s.logs, r)), (std::vector<uint32_t>{2, 3, 4}));
    r.startDate = 300;
    r.endDate = 0xFFFFFFFFu; // open above
    EXPECT_EQ(counters(selectLogs(s.logs, r)), (std::vector<uint32_t>{3, 4, 5}));
    r.startDate = 301;
    r.endDate = 399;
    EXPECT_TRUE(selectLogs(s.logs, r).empty());
}
