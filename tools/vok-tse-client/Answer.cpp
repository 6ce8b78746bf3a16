#include "vok-tse-client/Answer.h"

#include "vok-tse-client/ExitCodes.h"
#include "vok-tse-client/JobText.h"

namespace vokclient {

namespace {

QList<QByteArray> SplitLines(const QByteArray& bytes)
{
    QList<QByteArray> lines = bytes.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();  // after the final line end
    for (QByteArray& l : lines)
        if (l.endsWith('\r')) l.chop(1);
    return lines;
}

}  // namespace

bool IsCompleteAnswer(const QByteArray& bytes)
{
    const QList<QByteArray> lines = SplitLines(bytes);
    return !lines.isEmpty() && lines.last() == "*EOF*";
}

QByteArray Answer::value(const QByteArray& key) const
{
    for (const auto& [k, v] : fields)
        if (k == key) return v;
    return {};
}

bool Answer::has(const QByteArray& key) const
{
    for (const auto& f : fields)
        if (f.first == key) return true;
    return false;
}

Answer ParseAnswer(const QByteArray& bytes)
{
    Answer a;
    QList<QByteArray> lines = SplitLines(bytes);
    // Only the final "*EOF*" ends the answer: a notice may read the same.
    if (!lines.isEmpty() && lines.last() == "*EOF*") lines.removeLast();
    a.lines = lines;
    for (const QByteArray& line : lines) {
        if (a.hasNotices) {
            a.notices.append(line);  // notices may contain "=" themselves
            continue;
        }
        if (line == "MITTEILUNGEN") {
            a.hasNotices = true;
            continue;
        }
        const int eq = line.indexOf('=');
        if (eq <= 0) continue;
        const QByteArray key = line.left(eq);
        const QByteArray value = line.mid(eq + 1);
        bool replaced = false;
        for (auto& f : a.fields)
            if (f.first == key) {
                f.second = value;
                replaced = true;
            }
        if (!replaced) a.fields.emplace_back(key, value);
    }
    return a;
}

Verdict Judge(const Answer& answer, Command command)
{
    const QByteArray cmd = answer.value("CMD");
    const QByteArray word = CommandWord(command);
    const QString shown = QString::fromLatin1(answer.lines.value(0));
    if (cmd == word + " OK") {
        if (command == Command::Status && !answer.value("TSE").startsWith("ONLINE"))
            return {ExitRefused, QStringLiteral("TSE=%1").arg(QString::fromLatin1(answer.value("TSE")))};
        return {ExitOk, {}};
    }
    if (cmd.startsWith(word + " ERR")) return {ExitRefused, shown};
    return {ExitRefused, QStringLiteral("unexpected answer: %1").arg(shown)};
}

}  // namespace vokclient
