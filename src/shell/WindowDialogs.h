// The real dialogs of the window system, behind the program's one dialog
// seam (platform/Dialogs.h). Installed by the window program only.
#pragma once

#include "platform/Dialogs.h"

namespace shell {

class WindowResponder : public plat::DialogResponder {
public:
    bool Confirm(const QString& text) override;
    void Info(const QString& text) override;
    void Error(const QString& text) override;
    QString InputQuery(const QString& caption, const QString& prompt, const QString& defaultText) override;
    void Beep() override;
    void EndOpenDialogs() override;
};

}  // namespace shell
