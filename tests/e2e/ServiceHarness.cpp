#include "ServiceHarness.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcessEnvironment>
#include <QThread>

namespace e2e {

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QProcessEnvironment ServiceEnvironment(const QString& drives)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // A test run by a systemd unit must not speak to that unit's manager.
    for (const char* name : {"NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID"}) env.remove(name);
    env.insert("VOK_TSE_DRIVES", drives);
    // The unattended service needs no window system: none is named.
    env.remove("QT_QPA_PLATFORM");
    // The splash and the fixed pauses, shortened.
    env.insert("VOK_TSE_DELAY_FACTOR", "0.05");
    return env;
}

}  // namespace

QJsonObject ClientResult::json() const
{
    return QJsonDocument::fromJson(out).object();
}

Service::Service()
{
    prog_ = tmp_.path() + "/prog";
    drives_ = tmp_.path() + "/drives";
    drive_ = drives_ + "/e";
    QDir().mkpath(prog_);
    QDir().mkpath(drive_);
    QFile marker(drive_ + "/TSE-IO.bin");
    if (marker.open(QIODevice::WriteOnly)) marker.write("\n");
    QFile ini(prog_ + "/Vok_TSE.INI");
    if (ini.open(QIODevice::WriteOnly)) ini.write("[VOKTAR-TSE]\r\nVERSION=2.1\r\nTSE_PFAD=E:\\\r\nEXP_TANR=0\r\n");
}

Service::~Service()
{
    if (Running()) Terminate(10000);
    if (Running()) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

void Service::SetEnv(const QString& key, const QString& value)
{
    extraEnv_.remove(key);
    removedEnv_.removeAll(key);
    if (value.isEmpty())
        removedEnv_ << key;
    else
        extraEnv_.insert(key, value);
}

bool Service::Start(QString* why, const QStringList& switches)
{
    process_.setWorkingDirectory(prog_);
    QProcessEnvironment env = ServiceEnvironment(drives_);
    env.insert(extraEnv_);
    for (const QString& key : removedEnv_) env.remove(key);
    process_.setProcessEnvironment(env);
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.setStandardOutputFile(tmp_.path() + "/service.out");  // never blocks on a full pipe
    process_.start(QStringLiteral(VOK_TSE_PROGRAM), switches + QStringList{QStringLiteral("--unattended")});
    if (!process_.waitForStarted(10000)) {
        if (why) *why = QStringLiteral("the program did not start: ") + process_.errorString();
        return false;
    }
    QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
        if (process_.state() != QProcess::Running) break;
        if (QDir(JobDir()).exists() &&
            Client({"--name", "READY", "--timeout", "2", "status", "--kasid", "E2E-READY"}).exitCode == 0)
            return true;
        QThread::msleep(100);
    }
    if (why)
        *why = QStringLiteral("the service did not answer a STATUS job with the TSE online; output:\n") +
               QString::fromLocal8Bit(ReadAll(tmp_.path() + "/service.out")) + QStringLiteral("\nlog:\n") +
               QString::fromLatin1(ReadLog());
    return false;
}

int Service::Terminate(int waitMs)
{
    if (process_.state() == QProcess::NotRunning) return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    process_.terminate();  // SIGTERM
    if (!process_.waitForFinished(waitMs)) return -1;
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

bool Service::WaitForEnd(int waitMs)
{
    if (process_.state() == QProcess::NotRunning) return true;
    return process_.waitForFinished(waitMs);
}

void Service::Kill()
{
    if (process_.state() == QProcess::NotRunning) return;
    process_.kill();
    process_.waitForFinished(10000);
}

int Service::RunAnother(int waitMs, QByteArray* output) const
{
    QProcess other;
    other.setWorkingDirectory(prog_);
    other.setProcessEnvironment(ServiceEnvironment(drives_));
    other.setProcessChannelMode(QProcess::MergedChannels);
    other.start(QStringLiteral(VOK_TSE_PROGRAM), {QStringLiteral("--unattended")});
    if (!other.waitForFinished(waitMs)) {
        other.kill();
        other.waitForFinished();
        return -1;
    }
    if (output) *output = other.readAll();
    return other.exitStatus() == QProcess::NormalExit ? other.exitCode() : -1;
}

long Service::PeakMemoryKiB() const
{
    const QByteArray status = ReadAll(QStringLiteral("/proc/%1/status").arg(process_.processId()));
    for (const QByteArray& line : status.split('\n'))
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

qint64 Service::Pid() const { return process_.processId(); }
bool Service::Running() const { return process_.state() != QProcess::NotRunning; }

QByteArray Service::ReadLog() const { return ReadAll(prog_ + "/Vok_TSE.LOG"); }
QByteArray Service::ReadConfig() const { return ReadAll(prog_ + "/Vok_TSE.INI"); }

std::unique_ptr<QProcess> Service::StartClient(const QStringList& args) const
{
    auto p = std::make_unique<QProcess>();
    p->start(QStringLiteral(VOK_TSE_CLIENT), QStringList{"--dir", JobDir()} + args);
    return p;
}

ClientResult Service::Client(const QStringList& args, int waitMs) const
{
    std::unique_ptr<QProcess> p = StartClient(args);
    ClientResult r;
    if (!p->waitForFinished(waitMs)) {
        p->kill();
        p->waitForFinished();
        r.err = "the client did not end";
        return r;
    }
    r.exitCode = p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1;
    r.out = p->readAllStandardOutput();
    r.err = p->readAllStandardError();
    return r;
}

QStringList TarList(const QString& tarFile)
{
    QProcess tar;
    tar.start("tar", {"-tf", tarFile});
    if (!tar.waitForFinished(30000) || tar.exitStatus() != QProcess::NormalExit || tar.exitCode() != 0) return {};
    return QString::fromLocal8Bit(tar.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

bool TarExtract(const QString& tarFile, const QString& dir)
{
    QProcess tar;
    tar.start("tar", {"-xf", tarFile, "-C", dir});
    return tar.waitForFinished(30000) && tar.exitStatus() == QProcess::NormalExit && tar.exitCode() == 0;
}

bool DropReceipts(const QString& dir, const QString& prefix, const QByteArray& kasid, int count)
{
    const auto path = [&](int i) { return QStringLiteral("%1/%2_%3").arg(dir, prefix).arg(i, 4, 10, QChar('0')); };
    for (int i = 1; i <= count; ++i) {
        const QByteArray text = "CMD=BON\r\nKASID=" + kasid + "\r\nBONID=" + QByteArray::number(i) +
                                "\r\nSIGTEXT=Beleg^1.00_0.00_0.00_0.00_0.00^1.00:Bar\r\n*EOF*\r\n";
        QFile f(path(i) + ".tmp");
        if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size()) return false;
    }
    for (int i = 1; i <= count; ++i)
        if (!QFile::rename(path(i) + ".tmp", path(i) + ".TSE")) return false;
    return true;
}

int CompleteAnswers(const QString& dir, const QString& prefix)
{
    int n = 0;
    for (const QString& sig : QDir(dir).entryList({prefix + "_*.SIG"}, QDir::Files)) {
        QFile f(dir + "/" + sig);
        if (f.open(QIODevice::ReadOnly) && f.readAll().endsWith("*EOF*\r\n")) ++n;
    }
    return n;
}

}  // namespace e2e
