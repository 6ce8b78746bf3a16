// A program directory of its own for each test, with a software-TSE drive
// mapped to a drive letter, scripted dialogs and helpers to run the service
// (with no window) or, for the window's own tests, the window on top of it.
#pragma once

#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "platform/Monotonic.h"
#include "core/Core.h"
#include "service/Service.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace testenv {

// Handles events until pred() holds or the time is up; returns pred().
inline bool RunUntil(const std::function<bool()>& pred, int timeoutMs = 10000)
{
    QDeadlineTimer dl(timeoutMs);
    while (!pred()) {
        if (dl.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

inline void RunFor(int ms)
{
    RunUntil([] { return false; }, ms);
}

inline QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

inline void WriteFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(data);
}

class AppFixture : public ::testing::Test {
protected:
    QTemporaryDir tmp;
    QString progDir;    // the program directory (current directory of the test)
    QString drives;     // root of the drive letters
    QString tseDrive;   // the TSE's drive root (letter E)
    QString savedCwd;
    plat::ScriptedResponder dialogs;
    std::unique_ptr<TService> service;
    bool closed = false;     // the service's close has been carried out
    bool minimized = false;  // the start-up sent the window to the background

    TCore& core() { return service->Core(); }
    const TCore& core() const { return service->Core(); }

    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        progDir = tmp.path() + "/prog";
        drives = tmp.path() + "/drives";
        tseDrive = drives + "/e";
        QDir().mkpath(progDir);
        QDir().mkpath(tseDrive);
        savedCwd = QDir::currentPath();
        QDir::setCurrent(progDir);
        qputenv("VOK_TSE_DRIVES", drives.toLocal8Bit());
        plat::SetDialogResponder(&dialogs);
        plat::ResumeDialogs();  // an earlier test may have ended them
    }

    void TearDown() override
    {
        DeleteWindow();
        service.reset();
        plat::SetDialogResponder(nullptr);
        plat::SetNowOverride(nullptr);
        plat::SetMonotonicOverride(nullptr);
        QDir::setCurrent(savedCwd);
    }

    // The marker file that makes the directory a TSE drive.
    void PlugTse() { WriteFile(tseDrive + "/TSE-IO.bin", {}); }

    void WriteIni(const QByteArray& path = "E:\\", uint32_t expTaNr = 0)
    {
        WriteFile(progDir + "/Vok_TSE.INI",
                  "[VOKTAR-TSE]\r\nVERSION=2.1\r\nTSE_PFAD=" + path + "\r\nEXP_TANR=" +
                      QByteArray::number(expTaNr) + "\r\n");
    }

    // A window fixture deletes its window before the service.
    virtual void DeleteWindow() {}

    // Creates the service; its start-up runs from the event loop. Pauses are
    // shortened by delayFactor.
    TService* Start(const QStringList& args = {}, double delayFactor = 0.001)
    {
        Create(args, delayFactor);
        service->Start();
        return service.get();
    }

    // Starts and waits until job passes run (or the start-up stopped).
    bool StartAndWaitRunning(const QStringList& args = {}, int timeoutMs = 20000)
    {
        Start(args);
        return RunUntil([this] { return core().StartupFinished; }, timeoutMs) && service->Polling();
    }

    // Asks the service to close as the headless program does; true once it
    // has closed.
    bool CloseService(int timeoutMs = 10000)
    {
        service->TryClose();
        return RunUntil([this] { return closed; }, timeoutMs);
    }

    // The software TSE's fault file, read at every library call. Replaced,
    // not rewritten: a new file is seen even within the clock's granularity.
    void WriteTseFaults(const QByteArray& lines)
    {
        QDir().mkpath(tseDrive + "/.softtse");
        QSaveFile f(tseDrive + "/.softtse/faults");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(lines);
        ASSERT_TRUE(f.commit());
    }

    // The software TSE's factory settings, read when the device is first made
    // (so before the first start on a fresh drive).
    void WriteTseSettings(const QByteArray& lines) { WriteFile(tseDrive + "/softtse.ini", lines); }

    // Creates the service without its start-up, so its parts can be driven
    // one by one.
    TService* Create(const QStringList& args = {}, double delayFactor = 0.001)
    {
        closed = false;
        minimized = false;
        service = std::make_unique<TService>(args, false);
        service->Core().DelayFactor = delayFactor;
        QObject::connect(service.get(), &TService::Closed, [this] { closed = true; });
        QObject::connect(&service->Core().Shown, &TShownState::MinimizeRequested, [this] { minimized = true; });
        return service.get();
    }

    // The log file's lines without their CR LF endings.
    QStringList LogLines() const
    {
        QStringList lines = LogText().split(QStringLiteral("\r\n"));
        if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
        return lines;
    }

    QString LogText() const { return QString::fromLatin1(ReadFile(progDir + "/Vok_TSE.LOG")); }
    QString JobDir() const { return progDir + "/TSE"; }
    QString ExpDir() const { return progDir + "/TSE_EXPO"; }
};

}  // namespace testenv
