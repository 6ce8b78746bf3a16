#include "vok-tse-client/ExportSeries.h"

#include <algorithm>

namespace vokclient {

namespace {

std::string Counters(uint64_t from, uint64_t to)
{
    return from == to ? "signature counter " + std::to_string(from)
                      : "signature counters " + std::to_string(from) + " to " + std::to_string(to);
}

}  // namespace

void ExportSeries::Add(const std::string& serialHex, const MessageRecord& record)
{
    series_[serialHex].push_back(record);
}

void ExportSeries::Check(uint64_t from, const std::vector<std::string>& archives, VerifyReport& report)
{
    for (auto& [serial, records] : series_) CheckOne(serial, records, from, archives, report);
    for (size_t i = 0; i < report.tses.size(); ++i) {
        const TseSummary& t = report.tses[i];
        report.logMessages += t.logMessages;
        report.transactions += t.transactions;
        report.firstCounter = i == 0 ? t.firstCounter : std::min(report.firstCounter, t.firstCounter);
        report.lastCounter = std::max(report.lastCounter, t.lastCounter);
    }
}

void ExportSeries::CheckOne(const std::string& serial, std::deque<MessageRecord>& records, uint64_t from,
                            const std::vector<std::string>& archives, VerifyReport& report)
{
    // With more than one TSE in the run, each finding names its TSE.
    const std::string tse = series_.size() > 1 ? "TSE " + serial.substr(0, 16) + ": " : std::string();
    const auto found = [&](const MessageRecord& at, const std::string& text) {
        report.findings.push_back({archives[at.archive], {}, tse + text});
    };

    std::sort(records.begin(), records.end(), [](const MessageRecord& a, const MessageRecord& b) {
        return a.counter != b.counter ? a.counter < b.counter : a.archive < b.archive;
    });
    // One record per counter: copies in several archives count once.
    size_t kept = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        if (kept > 0 && records[kept - 1].counter == records[i].counter) {
            const MessageRecord& first = records[kept - 1];
            if (first.digest != records[i].digest)
                found(records[i], Counters(first.counter, first.counter) + " also has a different message in " +
                                      archives[first.archive]);
            else if (first.archive == records[i].archive)
                found(records[i], Counters(first.counter, first.counter) + " stands twice in the archive");
            continue;
        }
        records[kept++] = records[i];
    }
    records.resize(kept);
    if (records.empty()) return;

    TseSummary summary;
    summary.serial = serial;
    summary.firstCounter = records.front().counter;
    summary.lastCounter = records.back().counter;
    summary.logMessages = records.size();
    if (summary.firstCounter > from)
        found(records.front(), from == 1 ? "the series starts at signature counter " +
                                               std::to_string(summary.firstCounter) +
                                               ", not at 1 (--from allows a later start)"
                                         : Counters(from, summary.firstCounter - 1) + " missing: the series starts at " +
                                               std::to_string(summary.firstCounter) + ", not at " + std::to_string(from));
    for (size_t i = 1; i < records.size(); ++i) {
        const MessageRecord& before = records[i - 1];
        const MessageRecord& now = records[i];
        if (now.counter > before.counter + 1)
            found(now, Counters(before.counter + 1, now.counter - 1) + " missing before signature counter " +
                           std::to_string(now.counter));
        if (now.logTime < before.logTime)
            found(now, "logTime goes back from " + std::to_string(before.logTime) + " at signature counter " +
                           std::to_string(before.counter) + " to " + std::to_string(now.logTime) +
                           " at signature counter " + std::to_string(now.counter));
    }

    // Transactions: each number's messages together, in counter order.
    const auto isTransaction = [](const MessageRecord& r) { return IsTransaction(r.kind); };
    const auto end = std::partition(records.begin(), records.end(), isTransaction);
    std::sort(records.begin(), end, [](const MessageRecord& a, const MessageRecord& b) {
        return a.transactionNumber != b.transactionNumber ? a.transactionNumber < b.transactionNumber
                                                          : a.counter < b.counter;
    });
    const bool wholeSeries = summary.firstCounter == 1;
    for (auto group = records.begin(); group != end;) {
        auto next = group;
        while (next != end && next->transactionNumber == group->transactionNumber) ++next;
        ++summary.transactions;
        const std::string n = "transaction " + std::to_string(group->transactionNumber);
        const MessageRecord* finish = nullptr;
        int starts = 0;
        for (auto r = group; r != next; ++r) {
            if (r->kind == LogKind::Start && ++starts == 2) found(*r, n + " started twice");
            if (r->kind == LogKind::Start && r != group) found(*r, n + " started after another of its messages");
            if (r->kind == LogKind::Finish) {
                if (finish) found(*r, n + " finished twice");
                else finish = &*r;
            } else if (finish) {
                found(*r, n + " has a message after its finish");
            }
        }
        if (starts == 0) {
            const std::string text = n + (finish ? " finished" : " updated") + " without its start";
            if (wholeSeries) found(*group, text);
            else report.information.push_back({archives[group->archive], {}, tse + text + " (it lies before the series)"});
        } else if (!finish) {
            report.information.push_back({archives[group->archive], {}, tse + n + " is still open"});
        }
        group = next;
    }
    report.tses.push_back(summary);
}

}  // namespace vokclient
