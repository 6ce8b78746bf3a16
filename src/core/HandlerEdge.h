// The general error handling at the edge of every event handler: whatever
// escapes it is shown (or, unattended, logged through the dialog seam) and
// the program goes on. Qt itself must never see an exception.
#pragma once

#include "platform/Dialogs.h"

#include <QString>
#include <exception>

template <class Handler>
void AtHandlerEdge(Handler&& handler)
{
    try {
        handler();
    } catch (const std::exception& e) {
        plat::ShowError(QString::fromUtf8(e.what()));
    } catch (...) {
        plat::ShowError(QStringLiteral("Unbekannter Fehler"));
    }
}
