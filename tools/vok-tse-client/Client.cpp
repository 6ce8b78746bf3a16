#include "vok-tse-client/Client.h"

#include "vok-tse-client/Answer.h"
#include "vok-tse-client/AnswerJson.h"
#include "vok-tse-client/ExitCodes.h"
#include "vok-tse-client/Health.h"
#include "vok-tse-client/JobExchange.h"
#include "vok-tse-client/JobText.h"
#include "vok-tse-client/QrText.h"
#include "vok-tse-client/Verify.h"

#include <QDir>
#include <chrono>

namespace vokclient {

namespace {

struct Exchanged {
    int exitCode = ExitOk;
    QString error;
    Answer answer;
};

Exchanged Exchange(const Options& o, const JobFiles& files, Command command)
{
    const JobResult job = MakeJob(o, command);
    if (!job.ok()) return {ExitUsage, job.error, {}};
    const auto timeout = std::chrono::milliseconds(static_cast<long long>(o.timeoutSeconds * 1000.0));
    const SubmitResult submitted = SubmitJob(files, JobFileBytes(job.job), timeout);
    if (submitted.exitCode != ExitOk) return {submitted.exitCode, submitted.error, {}};
    AwaitResult awaited = AwaitAnswer(files, timeout);
    if (awaited.exitCode != ExitOk) return {awaited.exitCode, awaited.error, {}};
    Exchanged r;
    r.answer = ParseAnswer(awaited.answer);
    if (!o.keep) {
        if (QString e = RemoveAnswer(files); !e.isEmpty()) return {ExitIoError, e, r.answer};
    }
    const Verdict v = Judge(r.answer, command);
    r.exitCode = v.exitCode;
    r.error = v.message;
    return r;
}

}  // namespace

RunResult Run(const Options& o)
{
    JobFiles files;
    files.dir = QDir::cleanPath(QDir::current().absoluteFilePath(o.dir));
    files.name = o.name.isEmpty() ? DefaultJobName() : o.name;

    // A job the service cannot take is refused before anything is sent.
    if (const JobResult job = MakeJob(o, o.command); !job.ok()) return {ExitUsage, {}, job.error};

    QByteArray qr;
    if (o.qr) {
        // The QR text needs the TSE's public key and algorithm.
        const Exchanged status = Exchange(o, files, Command::Status);
        if (status.exitCode != ExitOk) return {status.exitCode, {}, QStringLiteral("status: ") + status.error};
        const Exchanged bon = Exchange(o, files, Command::Bon);
        RunResult r{bon.exitCode, {}, bon.error};
        if (bon.exitCode == ExitIoError || bon.exitCode == ExitNoAnswer || bon.exitCode == ExitUsage) return r;
        if (bon.exitCode == ExitOk) {
            const QrResult q = BuildQrText(bon.answer, status.answer);
            if (!q.ok()) {
                r.exitCode = ExitRefused;
                r.error = q.error;
            } else {
                qr = q.text;
            }
        }
        if (o.json) {
            std::vector<std::pair<QByteArray, QByteArray>> extra;
            if (!qr.isEmpty()) extra.emplace_back("QR", qr);
            r.out = AnswerToJson(bon.answer, o.encoding, extra);
        } else {
            r.out = AnswerToLines(bon.answer, o.encoding);
            if (!qr.isEmpty()) r.out += DecodeText(qr, o.encoding).toUtf8() + '\n';
        }
        return r;
    }

    const Exchanged ex = Exchange(o, files, o.command);
    RunResult r{ex.exitCode, {}, ex.error};
    if (ex.exitCode == ExitOk || ex.exitCode == ExitRefused)
        r.out = o.json ? AnswerToJson(ex.answer, o.encoding) : AnswerToLines(ex.answer, o.encoding);
    return r;
}

RunResult RunCommandLine(const std::vector<QByteArray>& args)
{
    if (!args.empty() && args.front() == "verify") return RunVerify({args.begin() + 1, args.end()});
    if (IsHealthCommand(args)) return RunHealth(args);
    const ParseResult parsed = ParseArguments(args);
    if (parsed.options.help) return {ExitOk, UsageText().toUtf8(), {}};
    if (!parsed.ok()) return {ExitUsage, {}, parsed.error + QStringLiteral(" (see --help)")};
    return Run(parsed.options);
}

}  // namespace vokclient
