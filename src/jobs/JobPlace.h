// Where a job's file lies. A job of the job directory is named by its file
// name; a job that the HTTP door spooled into the service's own spool
// directory by "HTTP/" and its file name there. No file of the job
// directory has a "/" in its name, so the journal, the pending answers and
// the repeated errors never take the one for the other.
#pragma once

#include "platform/Files.h"

#include <QByteArray>
#include <QString>

inline constexpr char kSpoolPrefix[] = "HTTP/";

// The directories a name is resolved in; spoolDir empty: no spool.
struct TJobDirs {
    QString jobDir;
    QString spoolDir;
};

bool IsSpooled(const QByteArray& name);
// The spooled name of a file of the spool directory.
QByteArray SpooledName(const QByteArray& file);
// The directory the named file lies in, and its name there.
QString DirOf(const TJobDirs& dirs, const QByteArray& name);
QByteArray FileOf(const QByteArray& name);
plat::FsPath PathOf(const TJobDirs& dirs, const QByteArray& name);
