#include "platform/Dialogs.h"

#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <atomic>

namespace plat {

namespace {

// The real dialogs of the window system.
class WindowResponder : public DialogResponder {
public:
    bool Confirm(const QString& text) override
    {
        return QMessageBox::question(nullptr, Title(), text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) ==
               QMessageBox::Yes;
    }
    void Info(const QString& text) override { QMessageBox::information(nullptr, Title(), text); }
    void Error(const QString& text) override { QMessageBox::critical(nullptr, Title(), text); }
    QString InputQuery(const QString& caption, const QString& prompt, const QString& defaultText) override
    {
        bool ok = false;
        const QString answer = QInputDialog::getText(nullptr, caption, prompt, QLineEdit::Normal, defaultText, &ok);
        return ok ? answer : defaultText;
    }
    void Beep() override { QApplication::beep(); }

private:
    static QString Title() { return QApplication::applicationDisplayName(); }
};

WindowResponder& WindowDialogs()
{
    static WindowResponder responder;
    return responder;
}

std::atomic<DialogResponder*> g_responder{nullptr};

}  // namespace

void SetDialogResponder(DialogResponder* responder)
{
    g_responder.store(responder);
}

DialogResponder* CurrentDialogResponder()
{
    DialogResponder* r = g_responder.load();
    return r ? r : &WindowDialogs();
}

bool ConfirmYesNo(const QString& text)
{
    return CurrentDialogResponder()->Confirm(text);
}

void ShowInfo(const QString& text)
{
    CurrentDialogResponder()->Info(text);
}

void ShowError(const QString& text)
{
    CurrentDialogResponder()->Error(text);
}

QString InputQuery(const QString& caption, const QString& prompt, const QString& defaultText)
{
    return CurrentDialogResponder()->InputQuery(caption, prompt, defaultText);
}

void Beep()
{
    CurrentDialogResponder()->Beep();
}

// ---- ScriptedResponder ---------------------------------------------------

void ScriptedResponder::Record(const QString& entry)
{
    asked.append(entry);
    if (onAsk)
        onAsk(entry);
}

bool ScriptedResponder::Confirm(const QString& text)
{
    Record(QStringLiteral("confirm: ") + text);
    if (confirmAnswers.empty())
        return true;
    const bool answer = confirmAnswers.front();
    confirmAnswers.pop_front();
    return answer;
}

void ScriptedResponder::Info(const QString& text)
{
    Record(QStringLiteral("info: ") + text);
}

void ScriptedResponder::Error(const QString& text)
{
    Record(QStringLiteral("error: ") + text);
}

QString ScriptedResponder::InputQuery(const QString& caption, const QString& prompt, const QString& defaultText)
{
    Record(QStringLiteral("input: ") + caption + QLatin1Char('|') + prompt + QLatin1Char('|') + defaultText);
    if (inputAnswers.empty())
        return defaultText;
    const QString answer = inputAnswers.front();
    inputAnswers.pop_front();
    return answer.isNull() ? defaultText : answer;
}

void ScriptedResponder::Beep()
{
    ++beeps;
}

// ---- UnattendedResponder -------------------------------------------------

bool UnattendedResponder::Confirm(const QString& text)
{
    if (report_)
        report_(QStringLiteral("Dialog (unbeaufsichtigt): ") + text + QStringLiteral(" -> Ja"));
    return true;
}

void UnattendedResponder::Info(const QString& text)
{
    if (report_)
        report_(QStringLiteral("Dialog (unbeaufsichtigt): ") + text + QStringLiteral(" -> OK"));
}

void UnattendedResponder::Error(const QString& text)
{
    if (report_)
        report_(QStringLiteral("Dialog (unbeaufsichtigt): ") + text + QStringLiteral(" -> OK"));
}

QString UnattendedResponder::InputQuery(const QString& caption, const QString& prompt, const QString& defaultText)
{
    if (report_)
        report_(QStringLiteral("Dialog (unbeaufsichtigt): ") + caption + QStringLiteral(" / ") + prompt +
                QStringLiteral(" -> \"") + defaultText + QLatin1Char('"'));
    return defaultText;
}

}  // namespace plat
