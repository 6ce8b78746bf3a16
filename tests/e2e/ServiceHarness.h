// The service as the end-to-end tests see it: a program directory with a
// software-TSE drive, the real program running in it as its own process, and
// vok-tse-client as the only way to talk to it.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

namespace e2e {

struct ClientResult {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    QJsonObject json() const;  // the output as the JSON object --json prints
};

class Service {
public:
    Service();   // a fresh program directory and drive; not started
    ~Service();  // ends a running service (SIGTERM, then kill)
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // Starts the program and waits until it answers a STATUS job with the
    // TSE online. False (with the log appended to `why`) when it does not.
    bool Start(QString* why, const QStringList& switches = {});
    // An environment variable for the next starts (an empty value removes it).
    void SetEnv(const QString& key, const QString& value);
    void SetEnvironment(const QString& name, const QString& value) { SetEnv(name, value); }
    // Runs a second instance of the program in the same program directory
    // and waits for its end: its exit code (-1: crashed or still running).
    int RunAnother(int waitMs, QByteArray* output = nullptr) const;
    // Highest resident memory of the running service in KiB (VmHWM), or -1.
    long PeakMemoryKiB() const;
    // SIGTERM, then waits for the end; returns the exit code (-1: crashed or hung).
    int Terminate(int waitMs = 30000);
    // SIGKILL: the service dies wherever it is, as in a crash.
    void Kill();
    // Waits until the service ends by itself; false when it still runs.
    bool WaitForEnd(int waitMs);
    qint64 Pid() const;
    bool Running() const;

    QString ProgramDir() const { return prog_; }
    QString JobDir() const { return prog_ + "/TSE"; }
    QString ExportDir() const { return prog_ + "/TSE_EXPO"; }
    QString DriveDir() const { return drive_; }  // the TSE's drive root (letter E)

    QByteArray ReadLog() const;          // Vok_TSE.LOG
    QByteArray ReadConfig() const;       // Vok_TSE.INI

    // Runs vok-tse-client on this service's job directory.
    ClientResult Client(const QStringList& args, int waitMs = 60000) const;
    // Starts one without waiting (for bursts).
    std::unique_ptr<QProcess> StartClient(const QStringList& args) const;

private:
    QTemporaryDir tmp_;
    QString prog_;
    QString drives_;
    QString drive_;
    QProcess process_;
    QProcessEnvironment extraEnv_;
    QStringList removedEnv_;
};

// BON jobs of one register (KASID `kasid`) named <prefix>_0001.TSE and on,
// written beside first and then renamed in, all in a row, as a register that
// was offline drops them: one scan sees them all. False when one failed.
bool DropReceipts(const QString& dir, const QString& prefix, const QByteArray& kasid, int count);
// How many answers <prefix>_*.SIG are complete (last line "*EOF*").
int CompleteAnswers(const QString& dir, const QString& prefix);

// `tar -tf`; empty when tar fails.
QStringList TarList(const QString& tarFile);
// `tar -xf` into dir; false when tar fails.
bool TarExtract(const QString& tarFile, const QString& dir);

}  // namespace e2e
