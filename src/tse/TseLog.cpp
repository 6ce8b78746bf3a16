// The TSE layer's own lines in the program's log file.
#include "tse/TseLib.h"

#include "platform/Ansi.h"
#include "platform/DateTime.h"
#include "platform/Files.h"
#include "platform/LogText.h"
#include "platform/Paths.h"
#include "tse/ProcLib.h"

// The program log writes the same file in the same form. A line that cannot
// be written is lost rather than raised: the callers are in the middle of a
// TSE operation (a status job, the technical data) that must not break off
// because of the log.
void tse_Log(const std::string& Msg)
{
    const std::string stamp = plat::QToAnsi(plat::FormatDateTime(QStringLiteral("dd.mm.yy hh:nn:ss  "), plat::Now()));
    const QString path = plat::NativePath(GetAktVerz() + QStringLiteral("\\") + QString::fromLatin1(TseLogFileName));

    plat::File file;
    const int err = file.OpenAppend(path);
    if (err == ENOENT && file.Create(path, plat::Visibility::OwnerOnly) == 0) file.WriteLine(stamp + "Log-Datei erstellt");
    // Write and close errors lose the line, like an open that fails: the log
    // has no place of its own to report them.
    if (file.IsOpen()) {
        file.WriteLine(stamp + plat::VisibleControlBytes(Msg));
        file.Close();
    }
}
