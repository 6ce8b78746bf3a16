#include "platform/Dialogs.h"

#include <QApplication>
#include <QFontMetrics>
#include <QInputDialog>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QTranslator>
#include <atomic>
#include <vector>

namespace plat {

namespace {

// The real dialogs that are open now, innermost last: an end request
// closes them all.
std::vector<QPointer<QDialog>>& OpenDialogs()
{
    static std::vector<QPointer<QDialog>> open;
    return open;
}

// Runs a real dialog, known to EndAllDialogs while it is open.
int RunDialog(QDialog& dialog)
{
    OpenDialogs().push_back(&dialog);
    const int result = dialog.exec();
    OpenDialogs().pop_back();
    return result;
}

// The program's texts end their lines with CR LF; a box shows only LF as a
// line break.
QString BoxText(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// A text that brings its own line breaks is laid out as written: the box
// wraps plain text at half the screen's width (at most 500 pixels), which
// would break each line of the certificate warning once more.
void KeepLineBreaks(QMessageBox& box)
{
    const QString text = box.text();
    if (!text.contains(QLatin1Char('\n'))) return;
    box.setTextFormat(Qt::RichText);
    box.setText(QStringLiteral("<p style=\"white-space:pre\">") + text.toHtmlEscaped() + QStringLiteral("</p>"));
}

// The real dialogs of the window system.
class WindowResponder : public DialogResponder {
public:
    bool Confirm(const QString& text) override
    {
        QMessageBox box(QMessageBox::Question, Title(), BoxText(text), QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        KeepLineBreaks(box);
        return RunDialog(box) == QMessageBox::Yes;
    }
    void Info(const QString& text) override { Box(QMessageBox::Information, text); }
    void Error(const QString& text) override { Box(QMessageBox::Critical, text); }
    QString InputQuery(const QString& caption, const QString& prompt, const QString& defaultText) override
    {
        QInputDialog dialog;
        dialog.setWindowTitle(caption);
        dialog.setLabelText(prompt);
        dialog.setTextValue(defaultText);
        // Wide enough for the whole caption in the title bar (with its
        // buttons), which the window system would otherwise cut.
        dialog.setMinimumWidth(QFontMetrics(QApplication::font()).horizontalAdvance(caption) + 160);
        return RunDialog(dialog) == QDialog::Accepted ? dialog.textValue() : defaultText;
    }
    void Beep() override { QApplication::beep(); }

private:
    static QString Title() { return QApplication::applicationDisplayName(); }
    static void Box(QMessageBox::Icon icon, const QString& text)
    {
        QMessageBox box(icon, Title(), BoxText(text), QMessageBox::Ok);
        KeepLineBreaks(box);
        RunDialog(box);
    }
};

WindowResponder& WindowDialogs()
{
    static WindowResponder responder;
    return responder;
}

std::atomic<DialogResponder*> g_responder{nullptr};
std::atomic<bool> g_ended{false};
std::atomic<int> g_depth{0};

// Counts the dialog call while it is on the stack.
template <class Ask>
auto Asked(Ask&& ask)
{
    struct Depth {
        Depth() { ++g_depth; }
        ~Depth() { --g_depth; }
    } depth;
    return ask();
}

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

// An answer given while the end was requested is not the operator's: the
// safe choice stands instead.
bool ConfirmYesNo(const QString& text)
{
    if (g_ended) return false;
    const bool yes = Asked([&] { return CurrentDialogResponder()->Confirm(text); });
    return yes && !g_ended;
}

void ShowInfo(const QString& text)
{
    if (!g_ended) Asked([&] { CurrentDialogResponder()->Info(text); });
}

void ShowError(const QString& text)
{
    if (!g_ended) Asked([&] { CurrentDialogResponder()->Error(text); });
}

QString InputQuery(const QString& caption, const QString& prompt, const QString& defaultText)
{
    if (g_ended) return defaultText;
    const QString answer = Asked([&] { return CurrentDialogResponder()->InputQuery(caption, prompt, defaultText); });
    return g_ended ? defaultText : answer;
}

void Beep()
{
    if (!g_ended) CurrentDialogResponder()->Beep();
}

void EndAllDialogs()
{
    g_ended = true;
    // Copied: a rejected dialog leaves the list when its exec returns.
    const std::vector<QPointer<QDialog>> open = OpenDialogs();
    for (const QPointer<QDialog>& dialog : open)
        if (dialog) dialog->reject();
}

bool DialogsEnded()
{
    return g_ended;
}

void ResumeDialogs()
{
    g_ended = false;
}

bool DialogOpen()
{
    return g_depth > 0;
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

bool UseGermanToolkitTexts()
{
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

}  // namespace plat
