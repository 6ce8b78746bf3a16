#include "vok-tse-client/Verify.h"

#include "vok-tse-client/ExitCodes.h"
#include "vok-tse-client/ExportVerifier.h"

namespace vokclient {

RunResult RunVerify(const std::vector<QByteArray>& args)
{
    bool json = false;
    bool optionsEnd = false;
    std::vector<std::string> files;
    for (const QByteArray& a : args) {
        if (!optionsEnd && a == "--json") json = true;
        else if (!optionsEnd && a == "--") optionsEnd = true;
        else if (!optionsEnd && a.startsWith('-') && a.size() > 1)
            return {ExitUsage, {}, QStringLiteral("verify: unknown option ") + QString::fromLocal8Bit(a) +
                                       QStringLiteral(" (see --help)")};
        else files.push_back(a.toStdString());
    }
    if (files.empty()) return {ExitUsage, {}, QStringLiteral("verify: no archive given (see --help)")};

    ExportVerifier verifier;
    for (const std::string& f : files) verifier.AddArchive(f);
    const VerifyReport report = verifier.Finish();
    RunResult r;
    const std::string out = json ? VerifyReportJson(report) : VerifyReportText(report);
    r.out = QByteArray(out.data(), static_cast<qsizetype>(out.size()));
    if (report.unreadable) {
        r.exitCode = ExitIoError;
        r.error = QStringLiteral("verify: an archive cannot be read");
    } else if (!report.findings.empty()) {
        r.exitCode = ExitRefused;
        r.error = QStringLiteral("verify: %1 findings").arg(report.findings.size());
    }
    return r;
}

}  // namespace vokclient
