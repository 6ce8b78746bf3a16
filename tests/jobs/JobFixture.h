// The running service on a fresh software TSE, with helpers to drop jobs
// into its job directory and read the answers back.
#pragma once

#include "support/AppFixture.h"

#include <QDir>
#include <QFile>
#include <QMap>

namespace jobtest {

using namespace testenv;

// Job file text from key lines, each ended CR LF.
inline QByteArray Job(std::initializer_list<QByteArray> lines)
{
    QByteArray text;
    for (const QByteArray& l : lines) text += l + "\r\n";
    return text;
}

inline QByteArray Bon(const QByteArray& kasId, const QByteArray& bonId, const QByteArray& text)
{
    return Job({"CMD=BON", "KASID=" + kasId, "BONID=" + bonId, "SIGTEXT=" + text, "*EOF*"});
}

class JobFixture : public AppFixture {
protected:
    void TearDown() override
    {
        plat::SetDeleteFailureForTest(0);
        AppFixture::TearDown();
    }

    // The service running on a plugged, new software TSE.
    void StartService(const QStringList& args = {})
    {
        WriteIni();
        PlugTse();
        ASSERT_TRUE(StartAndWaitRunning(args));
    }

    QString JobPath(const QString& name) const { return JobDir() + "/" + name + ".TSE"; }
    QString SigPath(const QString& name) const { return JobDir() + "/" + name + ".SIG"; }

    // Written under another name and renamed, so no pass sees half a job.
    void PutJob(const QString& name, const QByteArray& content)
    {
        const QString tmpName = JobDir() + "/" + name + ".part";
        WriteFile(tmpName, content);
        ASSERT_TRUE(QFile::rename(tmpName, JobPath(name)));
    }

    // Answer lines without their CR LF; empty while there is no file.
    QList<QByteArray> SigLines(const QString& name) const
    {
        QList<QByteArray> lines = ReadFile(SigPath(name)).split('\n');
        if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
        for (QByteArray& l : lines)
            if (l.endsWith('\r')) l.chop(1);
        return lines;
    }

    QMap<QByteArray, QByteArray> SigValues(const QString& name) const
    {
        QMap<QByteArray, QByteArray> values;
        for (const QByteArray& l : SigLines(name)) {
            const int eq = l.indexOf('=');
            if (eq > 0) values[l.left(eq)] = l.mid(eq + 1);
        }
        return values;
    }

    bool Answered(const QString& name) const
    {
        const QList<QByteArray> lines = SigLines(name);
        return !QFile::exists(JobPath(name)) && !lines.isEmpty() && lines.last() == "*EOF*";
    }

    // Drops the job and waits for its complete answer.
    QList<QByteArray> Run(const QString& name, const QByteArray& content)
    {
        QFile::remove(SigPath(name));
        PutJob(name, content);
        EXPECT_TRUE(RunUntil([&] { return Answered(name); })) << name.toStdString();
        return SigLines(name);
    }

    // Waits until the job file is gone (answered or not).
    bool Taken(const QString& name) const
    {
        return RunUntil([&] { return !QFile::exists(JobPath(name)); });
    }

    // Lets a few passes run.
    void Passes(int n = 4) { RunFor(n * 260); }

    QString StateFolder() const { return tseDrive + "/.softtse"; }
};

}  // namespace jobtest
