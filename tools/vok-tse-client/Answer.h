// A signature file as the service writes it: KEY=VALUE lines, an optional
// "MITTEILUNGEN" block of notices, and the end mark "*EOF*".
#pragma once

#include "vok-tse-client/ClientOptions.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <utility>
#include <vector>

namespace vokclient {

// True when the last line is exactly "*EOF*" (with or without its line
// end): the service has written the whole answer.
bool IsCompleteAnswer(const QByteArray& bytes);

struct Answer {
    QList<QByteArray> lines;  // every line before "*EOF*", without line ends
    // KEY=VALUE lines in file order, split at the first "="; a key written
    // twice keeps its place and takes the later value.
    std::vector<std::pair<QByteArray, QByteArray>> fields;
    bool hasNotices = false;      // the "MITTEILUNGEN" heading was present
    QList<QByteArray> notices;    // the lines after that heading

    QByteArray value(const QByteArray& key) const;
    bool has(const QByteArray& key) const;
};

Answer ParseAnswer(const QByteArray& bytes);

struct Verdict {
    int exitCode = 0;
    QString message;  // one line for standard error; empty when OK
};

// Exit code and message for the answer to a job of `command`.
Verdict Judge(const Answer& answer, Command command);

}  // namespace vokclient
