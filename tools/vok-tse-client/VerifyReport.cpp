#include "vok-tse-client/VerifyReport.h"

namespace vokclient {

namespace {

std::string Line(const VerifyFinding& f, const char* prefix)
{
    std::string s = prefix + f.archive;
    if (!f.member.empty()) s += ": " + f.member;
    return s + ": " + f.text + "\n";
}

std::string JsonString(const std::string& s)
{
    static const char* digits = "0123456789abcdef";
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            // Names may hold any bytes; each stands for itself (Latin-1).
            out += "\\u00";
            out += digits[c >> 4];
            out += digits[c & 0x0F];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string JsonList(const std::vector<VerifyFinding>& list)
{
    std::string s = "[";
    for (size_t i = 0; i < list.size(); ++i) {
        if (i) s += ",";
        s += "{\"archive\":" + JsonString(list[i].archive) + ",\"member\":" + JsonString(list[i].member) +
             ",\"text\":" + JsonString(list[i].text) + "}";
    }
    return s + "]";
}

}  // namespace

std::string VerifyReportText(const VerifyReport& r)
{
    std::string s;
    for (const VerifyFinding& f : r.findings) s += Line(f, "");
    for (const VerifyFinding& f : r.information) s += Line(f, "info: ");
    if (r.tses.size() > 1)
        for (const TseSummary& t : r.tses)
            s += "TSE " + t.serial + ": " + std::to_string(t.logMessages) + " log messages, " +
                 std::to_string(t.transactions) + " transactions, signature counters " +
                 std::to_string(t.firstCounter) + " to " + std::to_string(t.lastCounter) + "\n";
    s += std::to_string(r.archives) + " archives, " + std::to_string(r.logMessages) + " log messages, " +
         std::to_string(r.transactions) + " transactions, ";
    if (r.tses.size() > 1) s += std::to_string(r.tses.size()) + " TSEs";
    else if (r.logMessages) s += "signature counters " + std::to_string(r.firstCounter) + " to " + std::to_string(r.lastCounter);
    else s += "signature counters none";
    s += r.findings.empty() ? ": OK\n" : ": " + std::to_string(r.findings.size()) + " findings\n";
    return s;
}

std::string VerifyReportJson(const VerifyReport& r)
{
    std::string tses = "[";
    for (size_t i = 0; i < r.tses.size(); ++i) {
        const TseSummary& t = r.tses[i];
        if (i) tses += ",";
        tses += "{\"serial\":" + JsonString(t.serial) + ",\"logMessages\":" + std::to_string(t.logMessages) +
                ",\"transactions\":" + std::to_string(t.transactions) +
                ",\"firstSignatureCounter\":" + std::to_string(t.firstCounter) +
                ",\"lastSignatureCounter\":" + std::to_string(t.lastCounter) + "}";
    }
    tses += "]";
    return "{\"ok\":" + std::string(r.findings.empty() ? "true" : "false") +
           ",\"archives\":" + std::to_string(r.archives) + ",\"logMessages\":" + std::to_string(r.logMessages) +
           ",\"transactions\":" + std::to_string(r.transactions) +
           ",\"firstSignatureCounter\":" + std::to_string(r.firstCounter) +
           ",\"lastSignatureCounter\":" + std::to_string(r.lastCounter) + ",\"tses\":" + tses +
           ",\"findings\":" + JsonList(r.findings) + ",\"information\":" + JsonList(r.information) + "}\n";
}

}  // namespace vokclient
