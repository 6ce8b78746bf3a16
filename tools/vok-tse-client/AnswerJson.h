// The answer as the terminal shows it: plain lines or one JSON object.
#pragma once

#include "vok-tse-client/Answer.h"

#include <QByteArray>
#include <QString>
#include <utility>
#include <vector>

namespace vokclient {

// Answer bytes as text. A Windows-1252 client's answer is decoded as such;
// otherwise the bytes are taken as UTF-8 when they are valid UTF-8 and as
// the service's own code page, Windows-1252, when they are not.
QString DecodeText(const QByteArray& bytes, TextEncoding encoding);

// A JSON string literal, quotes included.
QByteArray JsonString(const QString& text);

// One object: the answer's keys in file order, "MITTEILUNGEN" as an array of
// the notices when the answer has them, then the extra entries.
QByteArray AnswerToJson(const Answer& answer, TextEncoding encoding,
                        const std::vector<std::pair<QByteArray, QByteArray>>& extra = {});

// The answer's lines (without "*EOF*"), each ending in "\n"; re-encoded to
// UTF-8 for a Windows-1252 client, otherwise the bytes as they are.
QByteArray AnswerToLines(const Answer& answer, TextEncoding encoding);

}  // namespace vokclient
