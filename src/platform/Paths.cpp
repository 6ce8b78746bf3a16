#include "platform/Paths.h"

#include <QFile>
#include <cerrno>
#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace plat {

QString DriveRoot()
{
    // Read on every call: tests point it at a scratch directory.
    const char* env = std::getenv("VOK_TSE_DRIVES");
    QString root = (env && *env) ? QFile::decodeName(env) : QStringLiteral("/mnt");
    while (root.size() > 1 && root.endsWith(QLatin1Char('/')))
        root.chop(1);
    return root;
}

QString NativePath(const QString& systemPath)
{
    QString p = systemPath;
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (p.size() >= 2 && p.at(1) == QLatin1Char(':')) {
        const QChar d = p.at(0);
        const bool letter = (d >= QLatin1Char('a') && d <= QLatin1Char('z')) ||
                            (d >= QLatin1Char('A') && d <= QLatin1Char('Z'));
        if (letter) {
            QString rest = p.mid(2);
            if (rest.startsWith(QLatin1Char('/')))
                rest.remove(0, 1);
            const QString root = DriveRoot();
            const QString sep = root.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/");
            return root + sep + d.toLower() + QLatin1Char('/') + rest;
        }
    }
    return p;
}

QString CurrentDirectory()
{
    std::vector<char> buf(4096);
    for (;;) {
        if (::getcwd(buf.data(), buf.size()) != nullptr)
            break;
        if (errno != ERANGE || buf.size() > (1u << 20))
            return QString();  // removed or unreachable: no directory to name
        buf.resize(buf.size() * 2);
    }
    QString dir = QFile::decodeName(buf.data());
    while (dir.size() > 1 && dir.endsWith(QLatin1Char('/')))
        dir.chop(1);
    return dir;
}

}  // namespace plat
