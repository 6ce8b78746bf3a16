#include "platform/Dialogs.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <atomic>
#include <cstdio>

namespace plat {

namespace {

// With no responder set, nobody can answer: every dialog takes its default
// and its text goes to the error output.
UnattendedResponder& NobodyAnswers()
{
    static UnattendedResponder responder([](const QString& text) {
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    });
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
    return r ? r : &NobodyAnswers();
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
    CurrentDialogResponder()->EndOpenDialogs();
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
