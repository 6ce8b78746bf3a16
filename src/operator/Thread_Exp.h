// The manual-export worker: the one piece of the program that runs outside
// the core's thread. It touches only what is safe from a second thread: the
// TSE (the core's thread keeps off it meanwhile), ReOpenTSE, Log and
// Exp_running.
#pragma once

#include <QThread>

class TCore;

class TThread_Exp : public QThread {
public:
    // Created idle; start() runs Execute. The object frees itself once
    // Execute has returned.
    explicit TThread_Exp(TCore& core);

    // Reopens the TSE for a long export, exports transactions 1 up to the
    // current counter into the export directory, reopens it for normal
    // operation and, as its last act, clears Exp_running.
    void Execute();

protected:
    void run() override;

private:
    TCore& core_;
};
