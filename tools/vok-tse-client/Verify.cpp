#include "vok-tse-client/Verify.h"

#include "vok-tse-client/ExitCodes.h"
#include "vok-tse-client/ExportVerifier.h"

namespace vokclient {

namespace {

// A whole positive decimal number, as --from and --threads take.
bool Number(const QByteArray& text, uint64_t max, uint64_t& value)
{
    bool ok = false;
    value = text.toULongLong(&ok);
    return ok && !text.startsWith('+') && value >= 1 && value <= max;
}

RunResult Usage(const QString& text) { return {ExitUsage, {}, QStringLiteral("verify: ") + text + QStringLiteral(" (see --help)")}; }

}  // namespace

RunResult RunVerify(const std::vector<QByteArray>& args)
{
    bool json = false;
    bool optionsEnd = false;
    VerifyOptions options;
    std::vector<std::string> files;
    for (size_t i = 0; i < args.size(); ++i) {
        const QByteArray& a = args[i];
        if (!optionsEnd && a == "--json") {
            json = true;
        } else if (!optionsEnd && (a == "--from" || a == "--threads")) {
            uint64_t n = 0;
            if (i + 1 == args.size() || !Number(args[i + 1], a == "--from" ? UINT64_MAX : 256, n))
                return Usage(QString::fromLatin1(a) + QStringLiteral(" takes a whole number from 1"));
            if (a == "--from") options.from = n;
            else options.threads = static_cast<unsigned>(n);
            ++i;
        } else if (!optionsEnd && a == "--") {
            optionsEnd = true;
        } else if (!optionsEnd && a.startsWith('-') && a.size() > 1) {
            return Usage(QStringLiteral("unknown option ") + QString::fromLocal8Bit(a));
        } else {
            files.push_back(a.toStdString());
        }
    }
    if (files.empty()) return Usage(QStringLiteral("no archive given"));

    ExportVerifier verifier(options);
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
