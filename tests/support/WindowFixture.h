// The window on top of the test's service, for the window's own tests.
#pragma once

#include "shell/MainForm.h"
#include "support/AppFixture.h"

#include <QListWidget>
#include <QPointer>

namespace testenv {

class WindowFixture : public AppFixture {
protected:
    QPointer<TMainForm> form;

    void DeleteWindow() override { delete form.data(); }

    // The service with the window on top; the start-up runs from the event loop.
    TMainForm* StartWindow(const QStringList& args = {}, double delayFactor = 0.001)
    {
        CreateWindow(args, delayFactor);
        service->Start();
        return form;
    }

    // The window on a service whose start-up has not run.
    TMainForm* CreateWindow(const QStringList& args = {}, double delayFactor = 0.001)
    {
        Create(args, delayFactor);
        form = new TMainForm(*service);
        form->show();
        return form;
    }

    bool StartWindowAndWaitRunning(const QStringList& args = {}, int timeoutMs = 20000)
    {
        StartWindow(args);
        return RunUntil([this] { return core().StartupFinished; }, timeoutMs) && service->Polling();
    }
};

}  // namespace testenv
