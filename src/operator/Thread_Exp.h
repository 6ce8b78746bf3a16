// The manual-export worker: the one piece of the program that runs outside
// the window thread. It reaches the window through the global MainForm and
// touches only what is safe from a second thread: the TSE (the window thread
// keeps off it meanwhile), ReOpenTSE, Log and Exp_running.
#pragma once

#include <QThread>

class TThread_Exp : public QThread {
public:
    // Created idle; start() runs Execute. The object frees itself once
    // Execute has returned.
    TThread_Exp();

    // Reopens the TSE for a long export, exports transactions 1 up to the
    // current counter into the export directory, reopens it for normal
    // operation and, as its last act, clears Exp_running.
    void Execute();

protected:
    void run() override;
};
