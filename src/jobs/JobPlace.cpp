#include "jobs/JobPlace.h"

namespace {

const QByteArray kPrefix(kSpoolPrefix);

}  // namespace

bool IsSpooled(const QByteArray& name)
{
    return name.startsWith(kPrefix);
}

QByteArray SpooledName(const QByteArray& file)
{
    return kPrefix + file;
}

QString DirOf(const TJobDirs& dirs, const QByteArray& name)
{
    return IsSpooled(name) ? dirs.spoolDir : dirs.jobDir;
}

QByteArray FileOf(const QByteArray& name)
{
    return IsSpooled(name) ? name.mid(kPrefix.size()) : name;
}

plat::FsPath PathOf(const TJobDirs& dirs, const QByteArray& name)
{
    return plat::FsPath(DirOf(dirs, name), FileOf(name));
}
