// The core's waits, deferred requests and the end request.
#include "core/Core.h"

#include "core/HandlerEdge.h"

#include "platform/Files.h"
#include "tse/TseLib.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <exception>

std::atomic<bool> SessionEndPending{false};

TCore::TCore(QObject* parent) : QObject(parent) {}

TCore::~TCore() = default;

// ---- Pauses and waits ---------------------------------------------------------

void TCore::Delay(int32_t ms)
{
    // Measured on a monotonic clock, so a change of the system time neither
    // stretches nor cuts a pause.
    QElapsedTimer clock;
    clock.start();
    const qint64 deadlineNs = static_cast<qint64>(double(ms) * 0.9936 * DelayFactor * 1e6);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    for (;;) {
        const qint64 remainingNs = deadlineNs - clock.nsecsElapsed();
        if (remainingNs <= 0) break;
        // The nested loop handles events as they come and sleeps in between.
        QEventLoop loop;
        QTimer deadline;
        deadline.setSingleShot(true);
        deadline.setTimerType(Qt::PreciseTimer);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        deadline.start(static_cast<int>(std::min<qint64>((remainingNs + 999999) / 1000000, INT32_MAX)));
        loop.exec();
    }
}

void TCore::WaitWhile(const std::function<bool()>& busy)
{
    if (!busy()) return;
    QEventLoop loop;
    auto test = [&] {
        if (!busy()) loop.quit();
    };
    // A wake-up may come before the loop runs; the safety timer catches it.
    QTimer safety;
    safety.setInterval(50);
    QObject::connect(&safety, &QTimer::timeout, &loop, test);
    const QMetaObject::Connection woken = connect(this, &TCore::WakeRequested, &loop, test);
    safety.start();
    while (busy()) loop.exec();
    disconnect(woken);
}

void TCore::WakeWaits()
{
    QMetaObject::invokeMethod(this, [this] { emit WakeRequested(); }, Qt::QueuedConnection);
}

// ---- Deferred requests ---------------------------------------------------------

void TCore::RunWhenTseIdle(std::function<void()> request)
{
    if (TSE_running) {
        deferred_.push_back(std::move(request));
        return;
    }
    request();
}

void TCore::SetTseRunning(bool on)
{
    TSE_running = on;
    WakeWaits();
    if (on || deferred_.empty()) return;
    // The operation that held the flag is still on the stack: the requests
    // run once it has returned to the event loop.
    QTimer::singleShot(0, this, [this] {
        std::vector<std::function<void()>> requests;
        requests.swap(deferred_);
        const QPointer<TCore> self(this);
        for (auto& request : requests) {
            if (!self) return;  // an earlier request ended the program
            AtHandlerEdge([this, &request] { RunWhenTseIdle(std::move(request)); });
        }
    });
}

void TCore::RequestEnd()
{
    endRequested_ = true;
    WakeWaits();
}

// ---- The TSE ----------------------------------------------------------------------

QString TCore::ErgStr() const
{
    return QString::fromStdString(::ErgStr());
}

void TCore::LongTseCallBegins(int allowedSeconds)
{
    if (OnLongTseCallBegins) OnLongTseCallBegins(allowedSeconds);
}

void TCore::LongTseCallEnds()
{
    if (OnLongTseCallEnds) OnLongTseCallEnds();
}
