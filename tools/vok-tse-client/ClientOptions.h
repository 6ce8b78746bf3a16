// The command line of vok-tse-client:
//   [--dir JOBDIR] [--name JOBNAME] [--timeout SECONDS] [--keep] [--json]
//   [--encoding utf-8|cp1252]
//   bon --kasid ID [--bonid N] --sigtext TEXT [--qr]
//   | text --kasid ID --sigtext TEXT
//   | export --kasid ID [--von N] [--bis N]
//   | status --kasid ID
// The general options may also follow the command. Values arrive as the raw
// bytes of argv: job texts reach the file as the user typed them.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

namespace vokclient {

enum class Command { None, Bon, Text, Export, Status };
enum class TextEncoding { Bytes, Cp1252 };

struct Options {
    QString dir = QStringLiteral("TSE");  // job directory, relative to the current directory
    QString name;                         // job name; empty: DefaultJobName()
    double timeoutSeconds = 30.0;
    bool keep = false;
    bool json = false;
    bool qr = false;
    bool help = false;
    TextEncoding encoding = TextEncoding::Bytes;

    Command command = Command::None;
    QByteArray kasid;
    std::optional<QByteArray> bonid;
    std::optional<QByteArray> sigtext;
    std::optional<QByteArray> von;
    std::optional<QByteArray> bis;
};

struct ParseResult {
    Options options;
    QString error;  // empty on success; one line otherwise
    bool ok() const { return error.isEmpty(); }
};

// args: argv without the program name.
ParseResult ParseArguments(const std::vector<QByteArray>& args);

// The longest values the service takes; it cuts longer ones, which would
// sign other data than the user gave, so the client refuses them.
constexpr int MaxKasIdBytes = 30;
constexpr int MaxBonIdBytes = 10;
constexpr int MaxSigTextBytes = 100;

// A job name that no other process on this machine uses at the same time.
QString DefaultJobName();

QString UsageText();

}  // namespace vokclient
