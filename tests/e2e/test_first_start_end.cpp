// The real program with its real dialogs (offscreen, not unattended): a stop
// while the first start asks for the TSE's path ends the program cleanly.
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

TEST(FirstStart, SigtermWhileThePathQueryIsOpenEndsWithExitZero)
{
    // No configuration file and no TSE on any drive letter: the start asks
    // for the path in an input box that nobody answers.
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString prog = tmp.path() + "/prog";
    const QString drives = tmp.path() + "/drives";
    ASSERT_TRUE(QDir().mkpath(prog));
    ASSERT_TRUE(QDir().mkpath(drives));

    QProcess service;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VOK_TSE_DRIVES", drives);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("VOK_TSE_DELAY_FACTOR", "0.05");
    service.setProcessEnvironment(env);
    service.setWorkingDirectory(prog);
    service.setProcessChannelMode(QProcess::MergedChannels);
    service.setStandardOutputFile(tmp.path() + "/service.out");
    service.start(QStringLiteral(VOK_TSE_PROGRAM), QStringList{});
    ASSERT_TRUE(service.waitForStarted(10000));

    // The configuration file is made just before the query is shown; the
    // signal is read by the query's own event loop either way.
    const QString ini = prog + "/Vok_TSE.INI";
    QDeadlineTimer deadline(60000);
    while (!QFile::exists(ini) && !deadline.hasExpired() && service.state() == QProcess::Running)
        QThread::msleep(20);
    ASSERT_TRUE(QFile::exists(ini)) << ReadAll(tmp.path() + "/service.out").toStdString();

    service.terminate();
    const bool ended = service.waitForFinished(30000);
    if (!ended) {
        service.kill();
        service.waitForFinished(5000);
    }
    ASSERT_TRUE(ended) << "still running 30 s after SIGTERM";
    EXPECT_EQ(service.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(service.exitCode(), 0) << ReadAll(tmp.path() + "/service.out").toStdString();

    // The query was cancelled (its default path is kept) and the close
    // protocol ran.
    EXPECT_TRUE(ReadAll(ini).contains("TSE_PFAD=K:\\\r\n")) << ReadAll(ini).toStdString();
    const QByteArray log = ReadAll(prog + "/Vok_TSE.LOG");
    EXPECT_TRUE(log.contains("Vok_TSE gestartet auf ")) << log.toStdString();
    EXPECT_TRUE(log.trimmed().endsWith("Vok_TSE beendet")) << log.toStdString();
}
