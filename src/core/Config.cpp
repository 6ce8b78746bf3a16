// The configuration file: where the TSE is, how far the last export went,
// which client ids may sign, and whether the TSE's clock runs on local time.
// The program owns three of its lines; an administrator's own lines
// (KASSEN=, TSE_ZEIT=, comments) stay as they are.
#include "core/Core.h"

#include "platform/Ansi.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "platform/Version.h"
#include "tse/TseLib.h"

#include <QPointer>

#include <algorithm>
#include <utility>

#include <cerrno>
#include <limits>
#include <stdexcept>

namespace {

constexpr int kErrNotOpenForInput = 104;
constexpr int kDriveWaits = 5;
constexpr int kDriveWaitMs = 10000;
const QString kMarker = QStringLiteral("TSE-IO.bin");

QString IniPath(const QString& aktVerz)
{
    return aktVerz + "\\Vok_TSE.INI";
}

[[noreturn]] void RaiseIoError(int err)
{
    throw std::runtime_error(QStringLiteral("E/A-Fehler %1").arg(err).toStdString());
}

// A signed 32-bit decimal number: optional sign and digits, nothing else.
int32_t StrToInt(const QString& text)
{
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok, 10);
    bool plainDigits = !text.isEmpty();
    for (int i = 0; i < text.size() && plainDigits; ++i) {
        const QChar c = text.at(i);
        plainDigits = (c >= u'0' && c <= u'9') || (i == 0 && (c == u'-' || c == u'+') && text.size() > 1);
    }
    if (!ok || !plainDigits || value < std::numeric_limits<int32_t>::min() ||
        value > std::numeric_limits<int32_t>::max()) {
        throw std::runtime_error(QStringLiteral("'%1' ist kein gültiger Integerwert").arg(text).toUtf8().toStdString());
    }
    return static_cast<int32_t>(value);
}

const QString kSection = QStringLiteral("[VOKTAR-TSE]");

// The lines the program writes, each with its key.
QList<std::pair<QString, QString>> OwnLines(const QString& tsePfad, uint32_t lastSavedTaNr)
{
    return {
        {QStringLiteral("VERSION="), QStringLiteral("VERSION=") + plat::ProgramVersion()},
        {QStringLiteral("TSE_PFAD="), QStringLiteral("TSE_PFAD=") + tsePfad},
        {QStringLiteral("EXP_TANR="), QStringLiteral("EXP_TANR=") + QString::number(lastSavedTaNr)},
    };
}

// The four lines of a new file; 0 or the first write's error.
int WriteIni(plat::File& file, const QString& tsePfad, uint32_t lastSavedTaNr)
{
    if (const int err = file.WriteLine(plat::QToAnsi(kSection))) return err;
    for (const auto& own : OwnLines(tsePfad, lastSavedTaNr))
        if (const int err = file.WriteLine(plat::QToAnsi(own.second))) return err;
    return 0;
}

// The file's lines with the program's own values: each key's first line
// takes the new value and its later lines (which would win at the next
// read) go; a key not there yet follows the last of the program's lines,
// or the section line. Every other line stays where it is.
QStringList MergeIni(QStringList lines, const QString& tsePfad, uint32_t lastSavedTaNr)
{
    if (!lines.contains(kSection)) lines.prepend(kSection);
    int insertAt = int(lines.indexOf(kSection)) + 1;
    QStringList missing;
    for (const auto& [key, line] : OwnLines(tsePfad, lastSavedTaNr)) {
        bool found = false;
        for (int i = 0; i < lines.size();) {
            if (!lines[i].startsWith(key)) {
                ++i;
            } else if (!found) {
                found = true;
                lines[i] = line;
                insertAt = std::max(insertAt, i + 1);
                ++i;
            } else {
                lines.removeAt(i);
                if (i < insertAt) --insertAt;
            }
        }
        if (!found) missing << line;
    }
    for (const QString& line : missing) lines.insert(insertAt++, line);
    return lines;
}

// "A,B ,Kasse*": the entries without blanks around them, empty ones dropped.
QStringList ParseClientList(const QString& value)
{
    QStringList entries;
    for (const QString& part : value.split(u','))
        if (const QString entry = part.trimmed(); !entry.isEmpty()) entries << entry;
    return entries;
}

}  // namespace

// The HTTP door's keys. A value that is no number leaves the default and
// is logged: the door is an addition, it never stops the start.
void TCore::ReadHttpSetting(const QString& line)
{
    const int eq = line.indexOf(u'=');
    if (eq <= 0) return;
    const QString key = line.left(eq).trimmed();
    const QString value = line.mid(eq + 1).trimmed();
    auto number = [&](int64_t low, int64_t high, int64_t& out) {
        bool ok = false;
        const qlonglong v = value.toLongLong(&ok, 10);
        if (ok && v >= low && v <= high) {
            out = v;
            return;
        }
        Log(key + "=" + value + QStringLiteral(" ist ungültig, es bleibt ") + QString::number(out));
    };
    int64_t n = 0;
    if (key == QStringLiteral("HTTP_PORT")) {
        n = HttpPort;
        number(0, 65535, n);
        HttpPort = int(n);
    } else if (key == QStringLiteral("HTTP_BIND")) {
        if (!value.isEmpty()) HttpBind = value;
    } else if (key == QStringLiteral("HTTP_TOKEN_FILE")) {
        HttpTokenFile = value;
    } else if (key == QStringLiteral("HTTP_WAIT_S")) {
        n = HttpWaitS;
        number(0, 60, n);
        HttpWaitS = int(n);
    } else if (key == QStringLiteral("HTTP_MAX_BODY")) {
        number(64, 1024 * 1024, HttpMaxBody);
    }
}

void TCore::LoadConfig()
{
    TSE_Pfad.clear();
    LastSavedTANr = 0;
    AllowedClients.clear();
    TseLocalClock = false;
    HttpPort = 0;
    HttpBind = QStringLiteral("127.0.0.1");
    HttpTokenFile.clear();
    HttpWaitS = 5;
    HttpMaxBody = 4096;
    const QString path = IniPath(AktVerz);
    const QPointer<TCore> self(this);

    plat::File ini;
    if (ini.OpenRead(path) == ENOENT) {
        plat::File created;
        if (created.Create(path, plat::Visibility::OwnerOnly) == 0) {
            for (char letter = 'D'; letter <= 'K' && TSE_Pfad.isEmpty(); ++letter) {
                if (plat::FileExists(QString(QChar(letter)) + ":\\" + kMarker))
                    TSE_Pfad = QString(QChar(letter)) + ":\\";
            }
            if (TSE_Pfad.isEmpty()) {
                const QString answer = plat::InputQuery(QStringLiteral("Manuelle Eingabe des TSE-Pfads"),
                                                        QStringLiteral("Pfad der TSE:"), QStringLiteral("K:\\"));
                if (!self) return;
                TSE_Pfad = answer.isNull() ? QStringLiteral("K:\\") : answer;
            }
            if (const int err = WriteIni(created, TSE_Pfad, LastSavedTANr)) RaiseIoError(err);
            if (const int err = created.Close()) RaiseIoError(err);
            ini.OpenRead(path);  // a failure shows at the first read
        }
    }

    // The file that could not be created or opened stops the start-up here.
    if (!ini.IsOpen()) RaiseIoError(kErrNotOpenForInput);
    for (;;) {
        std::string bytes;
        bool atEnd = false;
        if (const int err = ini.ReadLine(bytes, atEnd)) RaiseIoError(err);
        if (atEnd) break;
        const QString line = plat::AnsiToQ(bytes);
        if (line.startsWith(QStringLiteral("VERSION=")) && line.mid(8) != plat::ProgramVersion()) NewVers = true;
        if (line.startsWith(QStringLiteral("TSE_PFAD="))) TSE_Pfad = line.mid(9);
        if (line.startsWith(QStringLiteral("EXP_TANR="))) LastSavedTANr = static_cast<uint32_t>(StrToInt(line.mid(9)));
        if (line.startsWith(QStringLiteral("KASSEN="))) AllowedClients = ParseClientList(line.mid(7));
        ReadHttpSetting(line);
        if (line.startsWith(QStringLiteral("TSE_ZEIT=")))
            TseLocalClock = line.mid(9).trimmed().compare(QStringLiteral("LOKAL"), Qt::CaseInsensitive) == 0;
    }
    ini.Close();  // read only: everything it held has been read

    if (NewVers) SaveConfig();
    if (TSE_Pfad.isEmpty()) Log(QStringLiteral("Kein TSE-Pfad in Ini-Datei gefunden"));
    if (TseLocalClock) Log(QStringLiteral("TSE-Uhr auf Ortszeit (TSE_ZEIT=LOKAL)"));

    // The stick may be plugged in late; the start-up goes on either way,
    // unless the program is to end: then nothing is waited for.
    const QString marker = TSE_Pfad + kMarker;
    bool present = plat::FileExists(marker);
    for (int attempt = 1; !present && attempt <= kDriveWaits && !EndRequested(); ++attempt) {
        Log(QStringLiteral("|TSE-Pfad noch nicht verfügbar (%1)").arg(attempt));
        Delay(kDriveWaitMs);
        if (!self || EndRequested()) return;  // a close granted during the pause destroyed the window
        present = plat::FileExists(marker);
    }
    if (!present && !EndRequested()) Log(QStringLiteral("TSE-Pfad (USB-Stick) ist nicht verfügbar"));
}

void TCore::SaveConfig()
{
    if (TseDebug) Log(QStringLiteral("°Speichern Ini-Datei"));
    const QString path = IniPath(AktVerz);
    // Read under the file's sharing rule: a writer holding it keeps it.
    QStringList lines;
    plat::File ini;
    int err = ini.OpenRead(path);
    for (bool atEnd = false; err == 0 && !atEnd;) {
        std::string bytes;
        err = ini.ReadLine(bytes, atEnd);
        if (err == 0 && !atEnd) lines << plat::AnsiToQ(bytes);
    }
    ini.Close();
    if (err != 0 && err != ENOENT) {
        Log(QStringLiteral("Ini-Datei konnte nicht gespeichert werden, Err=%1").arg(err));
        return;
    }
    // Written beside and renamed over it: a crash in between leaves the old
    // file whole, never an empty one.
    std::string bytes;
    for (const QString& line : MergeIni(lines, TSE_Pfad, LastSavedTANr)) bytes += plat::QToAnsi(line) + "\r\n";
    if ((err = plat::ReplaceFileBytes(path, bytes, plat::Visibility::OwnerOnly)) != 0)
        Log(QStringLiteral("Ini-Datei konnte nicht gespeichert werden, Err=%1").arg(err));
}
