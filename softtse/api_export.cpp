// SE-API: data export and certificate export as TAR archives.
#include "atomic_file.h"
#include "export_selection.h"
#include "printable_string.h"
#include "session.h"
#include "tar_writer.h"

#include <cstdio>
#include <ctime>
#include <unistd.h>

using namespace softtse;

namespace {

// "<SHA-256 of the certificate's public key, upper-case hex>_X509.cer"
bool certificateName(const Bytes &certificate, std::string &name)
{
    Bytes point;
    if (!certificatePublicPoint(certificate, point))
        return false;
    name = toHex(sha256(point)) + "_X509.cer";
    return true;
}

bool addCertificates(TarWriter &tar, const CertificateChain &chain, time_t now)
{
    for (const Bytes *cert : {&chain.root, &chain.subCa, &chain.tse}) {
        std::string name;
        if (!certificateName(*cert, name) || !tar.add(name, *cert, now))
            return false;
    }
    return true;
}

std::string infoCsv(const Device &d, const std::vector<LogFileInfo> &logs, uint64_t exportTime)
{
    const DeviceState &s = d.state();
    std::string csv = "key;value\n";
    csv += "serialNumber;" + s.serialHex + "\n";
    csv += "certificationId;" + s.certificationId + "\n";
    csv += "signatureAlgorithm;ecdsa-plain-SHA384\n";
    csv += "exportTime;" + std::to_string(exportTime) + "\n";
    csv += "logMessages;" + std::to_string(logs.size()) + "\n";
    csv += "firstSignatureCounter;" + std::to_string(logs.front().signatureCounter) + "\n";
    csv += "lastSignatureCounter;" + std::to_string(logs.back().signatureCounter) + "\n";
    return csv;
}

// Writes the archive beside its final name and renames it into place, so a
// failed export never leaves a half archive under the caller's name.
se_result_t writeExport(const Device &d, const std::vector<LogFileInfo> &logs, const std::string &fileName)
{
    const std::string partial = fileName + ".part";
    const time_t now = ::time(nullptr);
    bool ok = false;
    {
        TarWriter tar;
        ok = tar.openFile(partial);
        const std::string csv = infoCsv(d, logs, d.clockNow());
        ok = ok && tar.add("info.csv", reinterpret_cast<const uint8_t *>(csv.data()), csv.size(), now);
        for (size_t i = 0; ok && i < logs.size(); ++i) {
            Bytes message;
            ok = readFile(d.stateFolder() + "/" + logs[i].name, message) &&
                 tar.add(logs[i].name, message, static_cast<time_t>(logs[i].logTime));
        }
        ok = ok && addCertificates(tar, d.certificates(), now) && tar.finish();
    }
    if (!ok || std::rename(partial.c_str(), fileName.c_str()) != 0) {
        ::unlink(partial.c_str());
        return ErrorIO;
    }
    return ExecutionOk;
}

} // namespace

extern "C" {

se_result_t se_exportDataToFile(const char *clientId, uint32_t clientIdLength, uint32_t transactionNumber,
                                uint32_t startTransactionNumber, uint32_t endTransactionNumber, uint64_t startDate,
                                uint64_t endDate, uint32_t maximumNumberRecords, const char *fileName)
{
    Call call("se_exportDataToFile");
    if (call.failing())
        return call.fault().code;
    if (fileName == nullptr || fileName[0] == '\0' || (clientId == nullptr && clientIdLength > 0))
        return ErrorMissingParameter;
    // No client id means every client; a given one must be one a TSE could hold.
    if (clientIdLength > 0 && !isValidClientId(clientId, clientIdLength))
        return ErrorParameterMismatch;
    se_result_t rc = call.enter();
    if (rc != ExecutionOk)
        return rc;
    Device &d = call.device();
    if ((rc = checkInitialised(d.state())) != ExecutionOk)
        return rc;
    if (transactionNumber == SE_MAX_UINT32 && endTransactionNumber != SE_MAX_UINT32 &&
        startTransactionNumber > endTransactionNumber)
        return ErrorParameterMismatch;
    if (endDate != SE_MAX_TIME && startDate > endDate)
        return ErrorParameterMismatch;
    ExportRange range;
    range.allClients = clientIdLength == 0;
    range.clientId = bytesOf(clientId, clientIdLength);
    range.transactionNumber = transactionNumber;
    range.startTransactionNumber = startTransactionNumber;
    range.endTransactionNumber = endTransactionNumber;
    range.startDate = startDate;
    range.endDate = endDate;
    const std::vector<LogFileInfo> logs = selectLogs(listStoredLogs(d.stateFolder()), range);
    if (logs.empty())
        return ErrorNoDataAvailable;
    if (maximumNumberRecords != 0 && logs.size() > maximumNumberRecords)
        return ErrorTooManyRecords;
    return writeExport(d, logs, fileName);
}

se_result_t se_exportCertificates(uint8_t **certificates, uint32_t *certificatesLength)
{
    Call call("se_exportCertificates");
    if (call.failing())
        return call.fault().code;
    if (certificates == nullptr || certificatesLength == nullptr)
        return ErrorMissingParameter;
    const se_result_t rc = call.enter();
    if (rc != ExecutionOk)
        return rc;
    TarWriter tar;
    if (!tar.openMemory() || !addCertificates(tar, call.device().certificates(), ::time(nullptr)) || !tar.finish())
        return ErrorExportCertFailed;
    uint8_t *buffer = copyOut(tar.memory());
    if (buffer == nullptr)
        return ErrorAllocationfailed;
    *certificates = buffer;
    *certificatesLength = static_cast<uint32_t>(tar.memory().size());
    return ExecutionOk;
}

} // extern "C"
