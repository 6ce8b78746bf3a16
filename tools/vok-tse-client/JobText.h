// The bytes of a job file. Lines end in CR LF and the last one is the
// completion mark "*EOF*"; values are written byte for byte.
#pragma once

#include "vok-tse-client/ClientOptions.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace vokclient {

struct Job {
    Command command = Command::None;
    QByteArray kasid;
    std::optional<QByteArray> bonid;
    std::optional<QByteArray> sigtext;
    std::optional<QByteArray> von;
    std::optional<QByteArray> bis;
};

struct JobResult {
    Job job;
    QString error;  // empty on success
    bool ok() const { return error.isEmpty(); }
};

// Converts a value from the terminal's UTF-8 when the client speaks
// Windows-1252; returns an error for text the code page cannot carry.
struct Encoded {
    QByteArray bytes;
    QString error;
};
Encoded EncodeValue(const QByteArray& raw, TextEncoding encoding);

// The job of `command` from the options' values: encoded, and checked for
// what the file format cannot carry (line breaks) or the service would cut.
JobResult MakeJob(const Options& options, Command command);

QByteArray JobFileBytes(const Job& job);

// The command word of the first answer line: "BON", "TEXT", ...
QByteArray CommandWord(Command command);

}  // namespace vokclient
