#include "vok-tse-client/ExportVerifier.h"

#include "vok-tse-client/CertificateChain.h"
#include "vok-tse-client/CheckPool.h"
#include "vok-tse-client/ExportArchive.h"
#include "vok-tse-client/ExportSeries.h"
#include "vok-tse-client/LogMemberCheck.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <set>

namespace vokclient {

namespace {

const std::string kCertificateSuffix = "_X509.cer";
// Log messages are small; a larger member is not read into memory.
constexpr uint64_t kLargestLogMessage = 16 * 1024 * 1024;
constexpr size_t kBatchSize = 64;

bool EndsWith(const std::string& s, const std::string& end)
{
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// <SHA-256 of the key in hex, either case>_X509.cer
bool IsCertificateName(const std::string& name)
{
    return name.size() == 64 + kCertificateSuffix.size() && EndsWith(name, kCertificateSuffix) &&
           std::all_of(name.begin(), name.begin() + 64, [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

std::string Upper(std::string s)
{
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// What one archive holds besides its log messages, from the first reading.
struct ArchiveCertificates {
    bool readable = false;
    std::vector<CertificateFile> certificates;
};

// Per archive and serial number: how many messages, their time span, and
// how many could not be checked for want of a key.
struct SerialUse {
    size_t messages = 0;
    int64_t earliest = INT64_MAX;
    int64_t latest = INT64_MIN;
    std::string firstMember;  // by name: the finding names one of them
};

class Run {
public:
    Run(const VerifyOptions& options, const std::vector<std::string>& archives)
        : options_(options), archives_(archives)
    {
    }

    VerifyReport Check()
    {
        report_.archives = archives_.size();
        std::vector<ArchiveCertificates> certificates(archives_.size());
        for (size_t i = 0; i < archives_.size(); ++i) certificates[i] = ReadCertificates(archives_[i]);
        for (const ArchiveCertificates& a : certificates)
            for (const CertificateFile& c : a.certificates) keys_.emplace(c.keyHash, c.certificate.get());

        CheckPool pool(options_.threads, [this](const MemberBatch& b, PlainSignatureChecker& c) { CheckBatch(b, c); });
        for (size_t i = 0; i < archives_.size(); ++i) {
            if (!certificates[i].readable) continue;
            uses_.clear();
            memberFindings_.clear();
            ReadLogMessages(static_cast<uint32_t>(i), pool);
            pool.Drain();
            std::sort(memberFindings_.begin(), memberFindings_.end(),
                      [](const VerifyFinding& a, const VerifyFinding& b) { return a.member < b.member; });
            report_.findings.insert(report_.findings.end(), memberFindings_.begin(), memberFindings_.end());
            CheckCertificates(archives_[i], certificates[i]);
        }
        series_.Check(options_.from, archives_, report_);
        return std::move(report_);
    }

private:
    void Found(const std::string& archive, const std::string& member, const std::string& text)
    {
        report_.findings.push_back({archive, member, text});
    }

    void Unreadable(const std::string& archive, const std::string& why)
    {
        report_.unreadable = true;
        Found(archive, {}, "cannot be read as a TAR archive: " + why);
    }

    // First reading: the certificates, the names of everything else.
    ArchiveCertificates ReadCertificates(const std::string& path)
    {
        ArchiveCertificates r;
        ExportArchiveReader reader;
        if (!reader.Open(path)) {
            Unreadable(path, reader.Error());
            return r;
        }
        bool info = false;
        std::set<std::string> names;  // of the few members that are no log messages
        for (;;) {
            std::string name;
            bool regular = true;
            uint64_t size = 0;
            const ExportArchiveReader::Step step = reader.Next(name, regular, size);
            if (step == ExportArchiveReader::Step::End) break;
            if (step == ExportArchiveReader::Step::Failed) {
                Unreadable(path, reader.Error());
                return r;
            }
            const bool log = EndsWith(name, ".log");
            if (!log && !names.insert(name).second) Found(path, name, "member appears more than once");
            if (!regular) {
                Found(path, name, "member is not a plain file");
            } else if (name == "info.csv") {
                info = true;  // its layout differs between makers: present is all that is asked
            } else if (IsCertificateName(name)) {
                std::vector<uint8_t> der;
                if (size > kLargestLogMessage || !reader.ReadData(der, size)) {
                    Found(path, name, "certificate cannot be read");
                    continue;
                }
                CertificateFile c;
                c.member = name;
                c.certificate = ExportCertificate::FromDer(der);
                if (!c.certificate) {
                    Found(path, name, "not a DER X.509 certificate");
                    continue;
                }
                c.keyHash = c.certificate->KeyHashHex();
                if (Upper(name.substr(0, 64)) != c.keyHash)
                    Found(path, name, "name is not the SHA-256 of the certificate's key");
                r.certificates.push_back(std::move(c));
                continue;
            } else if (!log) {
                Found(path, name, "member does not follow the export naming");
            }
            if (!reader.Skip()) {
                Unreadable(path, reader.Error());
                return r;
            }
        }
        if (!info) Found(path, "info.csv", "member missing");
        r.readable = true;
        return r;
    }

    // Second reading: the log messages, in batches to the pool.
    void ReadLogMessages(uint32_t archive, CheckPool& pool)
    {
        const std::string& path = archives_[archive];
        ExportArchiveReader reader;
        if (!reader.Open(path)) {
            Unreadable(path, reader.Error());
            return;
        }
        MemberBatch batch;
        batch.archive = archive;
        for (;;) {
            std::string name;
            bool regular = true;
            uint64_t size = 0;
            const ExportArchiveReader::Step step = reader.Next(name, regular, size);
            if (step == ExportArchiveReader::Step::End) break;
            if (step == ExportArchiveReader::Step::Failed) {
                Unreadable(path, reader.Error());
                break;
            }
            if (!regular || !EndsWith(name, ".log")) continue;
            if (size > kLargestLogMessage) {
                std::lock_guard<std::mutex> lock(mutex_);
                memberFindings_.push_back({path, name, "too large for a log message"});
                continue;
            }
            ByteString data;
            if (!reader.ReadData(data, size)) {
                Unreadable(path, reader.Error() + " (" + name + ")");
                break;
            }
            batch.members.emplace_back(std::move(name), std::move(data));
            if (batch.members.size() == kBatchSize) {
                pool.Submit(std::move(batch));
                batch = MemberBatch();
                batch.archive = archive;
            }
        }
        if (!batch.members.empty()) pool.Submit(std::move(batch));
    }

    // On a pool thread.
    void CheckBatch(const MemberBatch& batch, PlainSignatureChecker& checker)
    {
        std::vector<std::pair<const std::string*, LogMemberResult>> results;
        results.reserve(batch.members.size());
        for (const auto& [name, data] : batch.members)
            results.emplace_back(&name, CheckLogMember(name, data, keys_, checker));
        const std::string& path = archives_[batch.archive];
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& [name, r] : results) {
            for (const std::string& text : r.findings) memberFindings_.push_back({path, *name, text});
            if (!r.parsed) continue;
            r.record.archive = batch.archive;
            series_.Add(r.serialHex, r.record);
            SerialUse& use = uses_[r.serialHex];
            ++use.messages;
            use.earliest = std::min(use.earliest, r.record.logTime);
            use.latest = std::max(use.latest, r.record.logTime);
            if (use.firstMember.empty() || *name < use.firstMember) use.firstMember = *name;
        }
    }

    // After the log messages: the chain of every key they name.
    void CheckCertificates(const std::string& path, const ArchiveCertificates& a)
    {
        std::vector<bool> used(a.certificates.size(), false);
        std::vector<ChainFinding> chainFindings;
        bool keyMissing = false;
        for (const auto& [serial, use] : uses_) {
            const auto own = std::find_if(a.certificates.begin(), a.certificates.end(),
                                          [&](const CertificateFile& c) { return c.keyHash == serial; });
            if (own == a.certificates.end()) {
                keyMissing = true;
                const std::string n = std::to_string(use.messages) + " log message(s) from this one on name serial number " + serial;
                Found(path, use.firstMember, keys_.count(serial) ? n + ", whose certificate is not in this archive"
                                                    : n + ", whose certificate is in no archive: their signatures "
                                                          "cannot be checked");
                continue;
            }
            CheckChain(a.certificates, static_cast<size_t>(own - a.certificates.begin()), true, use.earliest,
                       use.latest, used, chainFindings);
        }
        if (uses_.empty())
            for (size_t leaf : LeafCertificates(a.certificates))
                CheckChain(a.certificates, leaf, false, 0, 0, used, chainFindings);
        if (a.certificates.empty()) Found(path, {}, "no certificate");
        for (const ChainFinding& f : chainFindings) Found(path, f.member, f.text);
        // With a TSE certificate missing, its CA certificates are on no chain
        // either; the missing one is the finding then.
        for (size_t i = 0; i < a.certificates.size(); ++i) {
            if (used[i]) continue;
            if (!a.certificates[i].certificate->IsCa())
                Found(path, a.certificates[i].member, "certificate of a key that no log message names");
            else if (!keyMissing)
                Found(path, a.certificates[i].member,
                      "certificate is not part of the chain of a key the log messages name");
        }
    }

    const VerifyOptions& options_;
    const std::vector<std::string>& archives_;
    VerifyReport report_;
    KeyRing keys_;  // read-only once the pool runs

    std::mutex mutex_;  // guards the three below while the pool runs
    ExportSeries series_;
    std::map<std::string, SerialUse> uses_;
    std::vector<VerifyFinding> memberFindings_;
};

}  // namespace

void ExportVerifier::AddArchive(const std::string& path) { archives_.push_back(path); }

VerifyReport ExportVerifier::Finish() { return Run(options_, archives_).Check(); }

}  // namespace vokclient
