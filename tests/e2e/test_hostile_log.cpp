// A register that writes line breaks into a job's name or values cannot put
// a line into Vok_TSE.LOG that looks like the service's own: the log is what
// an operator and an auditor read.
#include "ServiceHarness.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QThread>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

namespace {

const QByteArray kForged = "TSE wieder verbunden (FORGED)";

// A forged entry as the service would write it now: stamp, two blanks, text.
QByteArray ForgedLine()
{
    return QDateTime::currentDateTime().toString("dd.MM.yy hh:mm:ss").toLatin1() + "  " + kForged;
}

// Written under another name and renamed, as a register does, so the service
// never reads half a job. The name is taken as the bytes it is.
bool PutJob(const QString& dir, const QByteArray& name, const QByteArray& content)
{
    const QByteArray base = QFile::encodeName(dir) + '/';
    const QByteArray temp = base + "job.tmp";
    FILE* fp = std::fopen(temp.constData(), "wb");
    if (!fp) return false;
    const bool written = std::fwrite(content.constData(), 1, size_t(content.size()), fp) == size_t(content.size());
    if (std::fclose(fp) != 0 || !written) return false;
    return std::rename(temp.constData(), (base + name).constData()) == 0;
}

bool Exists(const QString& dir, const QByteArray& name)
{
    return QFile::exists(QFile::decodeName(QFile::encodeName(dir) + '/' + name));
}

bool WaitFor(const std::function<bool()>& done, int ms = 30000)
{
    for (int waited = 0; waited < ms; waited += 20) {
        if (done()) return true;
        QThread::msleep(20);
    }
    return done();
}

// The log's only control bytes are the CR LF that end its lines.
QString StrayControls(const QByteArray& log)
{
    QString found;
    for (qsizetype i = 0; i < log.size(); ++i) {
        const auto b = static_cast<unsigned char>(log[i]);
        if (b >= 0x20 && b != 0x7F) continue;
        if (b == '\r' && i + 1 < log.size() && log[i + 1] == '\n') continue;
        if (b == '\n' && i > 0 && log[i - 1] == '\r') continue;
        found += QStringLiteral("0x%1 at %2; ").arg(b, 2, 16, QLatin1Char('0')).arg(i);
    }
    return found;
}

}  // namespace

TEST(HostileLog, LineBreaksInANameOrValueNeverStartALineOfTheirOwn)
{
    e2e::Service svc;
    QString why;
    // /D: the job names go into the log as well.
    ASSERT_TRUE(svc.Start(&why, {"/D"})) << why.toStdString();

    const QByteArray forged = ForgedLine();
    const QByteArray evilName = "Evil\n" + forged + ".TSE";
    const QByteArray crKasid = "K2\r" + forged;
    ASSERT_TRUE(PutJob(svc.JobDir(), evilName,
                       "CMD=BON\r\nKASID=Kasse01\r\nBONID=1\r\nSIGTEXT=Beleg^1.00:Bar\r\n*EOF*\r\n"));
    ASSERT_TRUE(PutJob(svc.JobDir(), "CrKasid.TSE",
                       "CMD=BON\r\nKASID=" + crKasid + "\r\nBONID=2\r\nSIGTEXT=Beleg^1.00:Bar\r\n*EOF*\r\n"));
    ASSERT_TRUE(PutJob(svc.JobDir(), "CrText.TSE",
                       "CMD=TEXT\r\nKASID=Kasse01\r\nSIGTEXT=Hallo\r" + forged + QByteArray("\0\x1b\x7f", 3) +
                           "\r\n*EOF*\r\n"));

    const QString dir = svc.JobDir();
    ASSERT_TRUE(WaitFor([&] {
        return Exists(dir, "Evil\n" + forged + ".SIG") && Exists(dir, "CrKasid.SIG") && Exists(dir, "CrText.SIG");
    })) << QDir(dir).entryList().join(", ").toStdString();
    EXPECT_EQ(svc.Terminate(), 0);

    const QByteArray log = svc.ReadLog();
    EXPECT_EQ(StrayControls(log).toStdString(), "") << log.toStdString();
    int forgedLines = 0;
    for (const QByteArray& line : log.split('\n')) {
        if (!line.contains(kForged)) continue;
        ++forgedLines;
        // Each forged text stands behind the visible code of what was to end
        // the line before it, never at a line's beginning.
        const qsizetype at = line.indexOf(kForged);
        EXPECT_TRUE(line.left(at).contains("<0A>") || line.left(at).contains("<0D>")) << line.toStdString();
        EXPECT_FALSE(line.startsWith(forged)) << line.toStdString();
    }
    EXPECT_GE(forgedLines, 3) << log.toStdString();
    EXPECT_TRUE(log.contains("Evil<0A>" + forged)) << log.toStdString();
    // A client id is cut to the TSE's 30 bytes (and refused by it: a CR is
    // no PrintableString).
    EXPECT_TRUE(log.contains("K2<0D>" + forged.left(27) + "  TA=0")) << log.toStdString();
    EXPECT_TRUE(log.contains("Hallo<0D>" + forged + "<00><1B><7F>")) << log.toStdString();
}
