#include "jobs/JobOrder.h"

#include <map>
#include <vector>

namespace {

bool IsSeparator(char c)
{
    return c == '_' || c == '-' || c == '.' || c == ' ' || c == '#';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

}  // namespace

QByteArray RegisterOfJob(const QByteArray& jobFile)
{
    // Every job file of a scan ends in its four-character extension.
    const QByteArray name = jobFile.size() > 4 ? jobFile.left(jobFile.size() - 4) : jobFile;
    qsizetype end = name.size();
    while (end > 0 && IsDigit(name[end - 1])) --end;
    if (end == name.size()) return name;  // no number at the end
    const qsizetype digitsStart = end;
    while (end > 0 && IsSeparator(name[end - 1])) --end;
    // A number without a separator before it is part of the register's
    // name ("KASSE01"), and a name that is nothing but a number is its own.
    if (end == digitsStart || end == 0) return name;
    return name.left(end);
}

QList<QByteArray> FairOrder(const QList<QByteArray>& jobFiles)
{
    std::vector<std::vector<qsizetype>> registers;  // indexes into jobFiles, by first appearance
    std::map<QByteArray, size_t> registerIndex;
    for (qsizetype i = 0; i < jobFiles.size(); ++i) {
        const auto [it, isNew] = registerIndex.try_emplace(RegisterOfJob(jobFiles[i]), registers.size());
        if (isNew) registers.emplace_back();
        registers[it->second].push_back(i);
    }
    // Each round takes one job of every register that has one left; a
    // register with none left drops out, so the work stays linear however
    // unevenly the jobs are spread.
    std::vector<size_t> active(registers.size());
    for (size_t r = 0; r < registers.size(); ++r) active[r] = r;
    QList<QByteArray> order;
    order.reserve(jobFiles.size());
    for (size_t round = 0; !active.empty(); ++round) {
        std::vector<size_t> next;
        for (size_t r : active) {
            order << jobFiles[registers[r][round]];
            if (round + 1 < registers[r].size()) next.push_back(r);
        }
        active.swap(next);
    }
    return order;
}
