#include "vok-tse-client/ExportVerifier.h"

#include "vok-tse-client/ExportArchive.h"
#include "vok-tse-client/ExportCertificate.h"
#include "vok-tse-client/ExportLogMessage.h"

#include <algorithm>
#include <memory>

namespace vokclient {

namespace {

const std::string kCertificateSuffix = "_X509.cer";

bool IsCertificateName(const std::string& name)
{
    if (name.size() != 64 + kCertificateSuffix.size() || name.compare(64, std::string::npos, kCertificateSuffix) != 0)
        return false;
    return std::all_of(name.begin(), name.begin() + 64,
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

std::string HexOf(const ByteString& b)
{
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (uint8_t c : b) {
        s += digits[c >> 4];
        s += digits[c & 0x0F];
    }
    return s;
}

std::string TextOf(const ByteString& b) { return std::string(b.begin(), b.end()); }

// "key;value" lines of info.csv.
std::map<std::string, std::string> ReadInfo(const ByteString& csv)
{
    std::map<std::string, std::string> info;
    std::string line;
    for (size_t i = 0; i <= csv.size(); ++i) {
        if (i == csv.size() || csv[i] == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const size_t semi = line.find(';');
            if (semi != std::string::npos) info[line.substr(0, semi)] = line.substr(semi + 1);
            line.clear();
        } else {
            line += static_cast<char>(csv[i]);
        }
    }
    return info;
}

struct ChainCerts {
    std::vector<std::pair<std::string, std::unique_ptr<ExportCertificate>>> all;  // member name, certificate
    const ExportCertificate* root = nullptr;
    const ExportCertificate* subCa = nullptr;
    const ExportCertificate* tse = nullptr;
};

}  // namespace

void ExportVerifier::Found(const std::string& archive, const std::string& member, const std::string& text)
{
    report_.findings.push_back({archive, member, text});
}

void ExportVerifier::AddArchive(const std::string& path)
{
    ++report_.archives;
    const ArchiveContents contents = ReadExportArchive(path);
    if (!contents.readable) {
        report_.unreadable = true;
        Found(path, {}, "cannot be read as a TAR archive: " + contents.error);
        return;
    }

    // Sort the members out by their names first: the certificates are
    // needed before any log message can be checked.
    const ArchiveMember* info = nullptr;
    ChainCerts chain;
    std::vector<const ArchiveMember*> logs;
    std::map<std::string, int> names;
    for (const ArchiveMember& m : contents.members) {
        if (++names[m.name] == 2) Found(path, m.name, "member appears more than once");
        if (!m.regular) {
            Found(path, m.name, "member is not a plain file");
            continue;
        }
        if (m.name == "info.csv") {
            info = &m;
        } else if (IsCertificateName(m.name)) {
            auto cert = ExportCertificate::FromDer(m.data);
            if (!cert) {
                Found(path, m.name, "not a DER X.509 certificate");
                continue;
            }
            if (cert->KeyHashHex() + kCertificateSuffix != m.name)
                Found(path, m.name, "name is not the SHA-256 of the certificate's key");
            chain.all.emplace_back(m.name, std::move(cert));
        } else if (m.name.size() > 4 && m.name.compare(m.name.size() - 4, 4, ".log") == 0) {
            logs.push_back(&m);
        } else {
            Found(path, m.name, "member does not follow the export naming");
        }
    }
    if (!info) Found(path, "info.csv", "member missing");

    // Root: self-signed; sub-CA: signed by the root; TSE: signed by the sub-CA.
    for (const auto& [name, cert] : chain.all)
        if (!chain.root && cert->SelfSigned()) chain.root = cert.get();
    for (const auto& [name, cert] : chain.all)
        if (!chain.subCa && chain.root && cert.get() != chain.root && cert->SignedBy(*chain.root))
            chain.subCa = cert.get();
    for (const auto& [name, cert] : chain.all)
        if (!chain.tse && chain.subCa && cert.get() != chain.subCa && cert.get() != chain.root &&
            cert->SignedBy(*chain.subCa))
            chain.tse = cert.get();
    if (chain.all.size() != 3) Found(path, {}, std::to_string(chain.all.size()) + " certificates, not 3");
    if (!chain.root) Found(path, {}, "no self-signed root certificate");
    else if (!chain.subCa) Found(path, {}, "no sub-CA certificate signed by the root");
    else if (!chain.tse) Found(path, {}, "no TSE certificate signed by the sub-CA");
    for (const auto& [name, cert] : chain.all)
        if (cert.get() != chain.root && cert.get() != chain.subCa && cert.get() != chain.tse)
            Found(path, name, "certificate is not part of the chain root - sub-CA - TSE");
    const std::string serialHex = chain.tse ? chain.tse->KeyHashHex() : std::string();
    if (info) {
        const auto fields = ReadInfo(info->data);
        const auto serial = fields.find("serialNumber");
        if (serial == fields.end()) Found(path, info->name, "no serialNumber");
        else if (chain.tse && serial->second != serialHex)
            Found(path, info->name, "serialNumber is not the TSE certificate's key hash");
        const auto count = fields.find("logMessages");
        if (count != fields.end() && count->second != std::to_string(logs.size()))
            Found(path, info->name, "logMessages " + count->second + " but the archive holds " +
                                        std::to_string(logs.size()));
    }

    uint64_t earliest = UINT64_MAX;
    uint64_t latest = 0;
    for (const ArchiveMember* m : logs) {
        LogFileName name;
        if (!ParseLogFileName(m->name, name)) {
            Found(path, m->name, "name does not follow the export naming");
            continue;
        }
        LogMessageFields f;
        std::string why;
        if (!ParseLogMessage(m->data, f, why)) {
            Found(path, m->name, "not a TR-03151 log message: " + why);
            continue;
        }
        earliest = std::min(earliest, f.logTime);
        latest = std::max(latest, f.logTime);
        if (f.signatureCounter != name.signatureCounter)
            Found(path, m->name, "signature counter in the message is " + std::to_string(f.signatureCounter));
        if (f.logTime != name.logTime)
            Found(path, m->name, "logTime in the message is " + std::to_string(f.logTime));
        if (f.transaction != name.transaction) {
            Found(path, m->name, "named a " + std::string(name.transaction ? "transaction" : "system") +
                                     " log but holds the other kind");
        } else if (f.transaction) {
            if (f.transactionNumber != name.transactionNumber)
                Found(path, m->name, "transaction number in the message is " + std::to_string(f.transactionNumber));
            if (f.operationType != (name.start ? "StartTransaction" : "FinishTransaction"))
                Found(path, m->name, "operation in the message is " + f.operationType);
            if (f.clientId != name.clientId) Found(path, m->name, "client id in the message is " + TextOf(f.clientId));
        } else if (f.operationType != name.operation) {
            Found(path, m->name, "operation in the message is " + f.operationType);
        }
        if (!f.ecdsaPlainSha384) Found(path, m->name, "signature algorithm is not ecdsa-plain-SHA384");
        if (chain.tse && HexOf(f.serialNumber) != serialHex)
            Found(path, m->name, "serial number is not the TSE certificate's key hash");
        if (chain.tse && !chain.tse->VerifiesPlainSignature(f.signedData, f.signature))
            Found(path, m->name, "signature does not verify with the TSE certificate's key");

        const Seen seen{path, m->name, Sha256Hex(m->data)};
        const auto [it, added] = counters_.emplace(f.signatureCounter, seen);
        if (!added && it->second.digest != seen.digest)
            Found(path, m->name, "signature counter " + std::to_string(f.signatureCounter) +
                                     " also has a different message in " + it->second.archive + ": " +
                                     it->second.member);
        if (f.transaction && (added || it->second.digest != seen.digest)) {
            Transaction& t = transactions_[f.transactionNumber];
            (f.operationType == "StartTransaction" ? t.starts : t.finishes).push_back(seen);
        }
    }
    // Validity of the chain at the log messages' times: the periods are
    // intervals, so the earliest and the latest time decide.
    if (earliest <= latest) {
        for (const ExportCertificate* c : {chain.root, chain.subCa, chain.tse}) {
            if (!c) continue;
            const char* which = c == chain.root ? "root" : c == chain.subCa ? "sub-CA" : "TSE";
            for (uint64_t t : {earliest, latest})
                if (!c->ValidAt(t))
                    Found(path, {}, std::string(which) + " certificate is not valid at logTime " + std::to_string(t));
        }
    }
}

VerifyReport ExportVerifier::Finish()
{
    VerifyReport r = report_;
    r.logMessages = counters_.size();
    r.transactions = transactions_.size();
    if (!counters_.empty()) {
        r.firstCounter = counters_.begin()->first;
        r.lastCounter = counters_.rbegin()->first;
        uint64_t expected = r.firstCounter;
        for (const auto& [counter, seen] : counters_) {
            if (counter > expected) {
                const std::string gap = counter - 1 == expected
                                            ? "signature counter " + std::to_string(expected)
                                            : "signature counters " + std::to_string(expected) + " to " +
                                                  std::to_string(counter - 1);
                r.findings.push_back({seen.archive, seen.member, gap + " missing before this message"});
            }
            expected = counter + 1;
        }
    }
    for (const auto& [number, t] : transactions_) {
        const std::string n = std::to_string(number);
        if (t.starts.size() > 1)
            r.findings.push_back({t.starts[1].archive, t.starts[1].member, "transaction " + n + " started twice"});
        if (t.finishes.size() > 1)
            r.findings.push_back(
                {t.finishes[1].archive, t.finishes[1].member, "transaction " + n + " finished twice"});
        if (t.starts.empty())
            r.findings.push_back(
                {t.finishes.front().archive, t.finishes.front().member, "transaction " + n + " finished without its start"});
        else if (t.finishes.empty())
            r.information.push_back(
                {t.starts.front().archive, t.starts.front().member, "transaction " + n + " is still open"});
    }
    return r;
}

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
    s += std::to_string(r.archives) + " archives, " + std::to_string(r.logMessages) + " log messages, " +
         std::to_string(r.transactions) + " transactions, signature counters ";
    s += r.logMessages ? std::to_string(r.firstCounter) + " to " + std::to_string(r.lastCounter) : "none";
    s += r.findings.empty() ? ": OK\n" : ": " + std::to_string(r.findings.size()) + " findings\n";
    return s;
}

std::string VerifyReportJson(const VerifyReport& r)
{
    return "{\"ok\":" + std::string(r.findings.empty() ? "true" : "false") +
           ",\"archives\":" + std::to_string(r.archives) + ",\"logMessages\":" + std::to_string(r.logMessages) +
           ",\"transactions\":" + std::to_string(r.transactions) +
           ",\"firstSignatureCounter\":" + std::to_string(r.firstCounter) +
           ",\"lastSignatureCounter\":" + std::to_string(r.lastCounter) + ",\"findings\":" + JsonList(r.findings) +
           ",\"information\":" + JsonList(r.information) + "}\n";
}

}  // namespace vokclient
