#include "core/ShownState.h"

void TShownState::AddClient(const QString& id)
{
    clients_ << id;
    Emit(Part::Clients);
}

void TShownState::SetClients(const QStringList& ids)
{
    clients_ = ids;
    Emit(Part::Clients);
}

void TShownState::AddNotice(const QString& line)
{
    notices_ << line;
    Emit(Part::Notices);
}

void TShownState::AddNoticeFirst(const QString& line)
{
    notices_.prepend(line);
    Emit(Part::Notices);
}

void TShownState::RemoveNotices(const QString& prefix)
{
    if (notices_.removeIf([&](const QString& n) { return n.startsWith(prefix); }) > 0) Emit(Part::Notices);
}

void TShownState::AddOperation(const QString& line)
{
    operations_ << line;
    while (operations_.size() > kOperationLines) operations_.removeFirst();
    Emit(Part::Operations);
}

void TShownState::SetTechData(const QStringList& lines)
{
    techData_ = lines;
    Emit(Part::TechData);
}

void TShownState::SetSigNr(uint32_t value)
{
    sigNr_ = QString::number(value);
    sigNrValue_ = value;
    sigKnown_ = true;
    Emit(Part::Counters);
}

void TShownState::SetTaNr(uint32_t value)
{
    taNr_ = QString::number(value);
    taNrValue_ = value;
    taKnown_ = true;
    Emit(Part::Counters);
}

void TShownState::Enable(Button b, bool on)
{
    if (buttons_[int(b)] == on) return;
    buttons_[int(b)] = on;
    Emit(Part::Buttons);
}

void TShownState::EnableTseButtons(bool on)
{
    for (Button b : {Button::Export, Button::Certificates, Button::Deactivate}) buttons_[int(b)] = on;
    Emit(Part::Buttons);
}

void TShownState::EnableAll(bool on)
{
    for (bool& b : buttons_) b = on;
    Emit(Part::Buttons);
}

void TShownState::SetSplashShown(bool on)
{
    splash_ = on;
    Emit(Part::Panels);
}

void TShownState::SetExportRunning(bool on)
{
    exportRunning_ = on;
    Emit(Part::Panels);
}

void TShownState::Clear()
{
    clients_.clear();
    notices_.clear();
    operations_.clear();
    techData_.clear();
    for (Part p : {Part::Clients, Part::Notices, Part::Operations, Part::TechData}) Emit(p);
}
