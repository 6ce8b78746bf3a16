#include "platform/Files.h"

#include "platform/Paths.h"

#include <QFile>
#include <QStringView>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <memory>

namespace plat {

namespace {

// "*" any run of characters, "?" exactly one, on a pattern and a name that
// are both case folded already.
template <typename C>
bool FoldedMatch(const C* p, qsizetype pn, const C* n, qsizetype nn)
{
    qsizetype pi = 0, ni = 0;
    qsizetype starP = -1, starN = 0;
    while (ni < nn) {
        if (pi < pn && (p[pi] == C('?') || p[pi] == n[ni])) {
            ++pi;
            ++ni;
        } else if (pi < pn && p[pi] == C('*')) {
            starP = pi++;
            starN = ni;
        } else if (starP >= 0) {
            pi = starP + 1;
            ni = ++starN;
        } else {
            return false;
        }
    }
    while (pi < pn && p[pi] == C('*'))
        ++pi;
    return pi == pn;
}

// Letter case ignored in every script, not only in ASCII.
bool WildcardMatch(const QString& foldedPattern, const QString& name)
{
    const QString n = name.toCaseFolded();
    return FoldedMatch(QStringView(foldedPattern).utf16(), foldedPattern.size(), QStringView(n).utf16(), n.size());
}

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};

bool IsAscii(const char* text)
{
    for (; *text; ++text)
        if (static_cast<unsigned char>(*text) >= 0x80) return false;
    return true;
}

// For an ASCII pattern and an ASCII name case folding is only A-Z to a-z:
// no decoding and no allocation per entry.
bool AsciiWildcardMatch(const QByteArray& foldedPattern, const char* name)
{
    char folded[NAME_MAX + 1];
    qsizetype n = 0;
    for (; name[n] != '\0'; ++n) {
        if (n == NAME_MAX) return false;  // no longer entry name exists
        const char c = name[n];
        folded[n] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return FoldedMatch(foldedPattern.constData(), foldedPattern.size(), folded, n);
}

// A pattern prepared once for a whole scan. A directory with thousands of
// answers nobody collects is scanned four times a second: each name is
// decided from the directory listing alone, and the names of the usual
// kind (ASCII) without building a string for them.
class NamePattern {
public:
    explicit NamePattern(const QString& pattern)
        : everything_(pattern == QLatin1String("*.*")),
          ascii_(IsAscii(pattern.toUtf8().constData())),
          folded_(pattern.toCaseFolded()),
          foldedBytes_(ascii_ ? folded_.toLatin1() : QByteArray())
    {
    }

    bool Matches(const char* name) const
    {
        // "*.*" means every name on the system's home platform, also one
        // without a dot.
        if (everything_) return true;
        if (ascii_ && IsAscii(name)) return AsciiWildcardMatch(foldedBytes_, name);
        // Other scripts fold in more ways (U+017F folds to "s"): the full rule.
        return WildcardMatch(folded_, DisplayName(QByteArray(name)));
    }

private:
    bool everything_;
    bool ascii_;
    QString folded_;
    QByteArray foldedBytes_;
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
    const NamePattern wanted(pattern);
    for (;;) {
        errno = 0;
        const dirent* e = ::readdir(d.get());
        if (!e) {
            // A scan that breaks off keeps what it found before.
            return errno;
        }
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        // Only the name the directory lists is looked at: no entry is
        // opened or stat'ed to decide.
        if (wanted.Matches(e->d_name))
            names.append(QByteArray(e->d_name));
    }
}

}  // namespace plat
