#include "platform/Files.h"

#include "platform/Paths.h"

#include <QFile>
#include <cstring>
#include <dirent.h>
#include <memory>

namespace plat {

namespace {

// "*" any run of characters, "?" exactly one; letter case ignored in every
// script, not only in ASCII.
bool WildcardMatch(const QString& pattern, const QString& name)
{
    const QString p = pattern.toCaseFolded();
    const QString n = name.toCaseFolded();
    qsizetype pi = 0, ni = 0;
    qsizetype starP = -1, starN = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p.at(pi) == QLatin1Char('?') || p.at(pi) == n.at(ni))) {
            ++pi;
            ++ni;
        } else if (pi < p.size() && p.at(pi) == QLatin1Char('*')) {
            starP = pi++;
            starN = ni;
        } else if (starP >= 0) {
            pi = starP + 1;
            ni = ++starN;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p.at(pi) == QLatin1Char('*'))
        ++pi;
    return pi == p.size();
}

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};

}  // namespace

int FindFiles(const QString& dir, const QString& pattern, QStringList& names)
{
    names.clear();
    QList<QByteArray> entries;
    const int err = FindEntries(dir, pattern, entries);
    for (const QByteArray& e : entries)
        names.append(QFile::decodeName(e));
    return err;
}

int FindEntries(const QString& dir, const QString& pattern, QList<QByteArray>& names)
{
    names.clear();
    std::unique_ptr<DIR, DirCloser> d(::opendir(QFile::encodeName(NativePath(dir)).constData()));
    if (!d)
        return errno;
    // "*.*" means every name on the system's home platform, also one without
    // a dot.
    const bool everything = pattern == QLatin1String("*.*");
    for (;;) {
        errno = 0;
        const dirent* e = ::readdir(d.get());
        if (!e) {
            // A scan that breaks off keeps what it found before.
            return errno;
        }
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        const QByteArray raw(e->d_name);
        if (everything || WildcardMatch(pattern, DisplayName(raw)))
            names.append(raw);
    }
}

}  // namespace plat
