// Every modal dialog and the beep pass through here, so that tests and an
// unattended run can answer them.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>

namespace plat {

class DialogResponder {
public:
    virtual ~DialogResponder() = default;
    virtual bool Confirm(const QString& text) = 0;  // Yes/No, Yes the default; true = Yes
    virtual void Info(const QString& text) = 0;     // OK
    virtual void Error(const QString& text) = 0;    // OK
    // Returns the edited text on OK, the default text on Cancel.
    virtual QString InputQuery(const QString& caption, const QString& prompt, const QString& defaultText) = 0;
    virtual void Beep() = 0;
    // The end is requested: dialogs that are open now are closed with
    // their safe choice.
    virtual void EndOpenDialogs() {}
};

// Not owned. With none set (nullptr), every dialog takes its default button
// and its text goes to the error output.
void SetDialogResponder(DialogResponder* responder);
DialogResponder* CurrentDialogResponder();

bool ConfirmYesNo(const QString& text);
void ShowInfo(const QString& text);
void ShowError(const QString& text);
QString InputQuery(const QString& caption, const QString& prompt, const QString& defaultText);
void Beep();

// The program is ending: the dialog that is open now is closed with its safe
// choice (No, Cancel, OK for a box), and every later dialog takes that choice
// without being shown, whatever the responder would have answered. Window
// thread only; the dialog's caller goes on once its handler has returned.
void EndAllDialogs();
bool DialogsEnded();
// Dialogs are shown again (a new window in the same process).
void ResumeDialogs();
// A dialog call is on the stack: its caller will go on when it returns.
bool DialogOpen();

// Qt's own texts (the boxes' buttons, the input field's menu) in German, as
// are the program's: from Debian's Qt translations. False when they are not
// installed; the boxes then say "Yes"/"No".
bool UseGermanToolkitTexts();

// Answers in order from a script and records every text asked.
// Unscripted confirmations answer Yes, input queries give the default.
class ScriptedResponder : public DialogResponder {
public:
    std::deque<bool> confirmAnswers;
    std::deque<QString> inputAnswers;  // a null QString stands for Cancel
    QStringList asked;                 // "confirm: ...", "info: ...", "error: ...", "input: caption|prompt|default"
    int beeps = 0;
    std::function<void(const QString&)> onAsk;  // called with each entry of asked

    bool Confirm(const QString& text) override;
    void Info(const QString& text) override;
    void Error(const QString& text) override;
    QString InputQuery(const QString& caption, const QString& prompt, const QString& defaultText) override;
    void Beep() override;

private:
    void Record(const QString& entry);
};

// Takes every dialog's default button and reports it through the callback.
class UnattendedResponder : public DialogResponder {
public:
    explicit UnattendedResponder(std::function<void(const QString&)> report) : report_(std::move(report)) {}
    bool Confirm(const QString& text) override;
    void Info(const QString& text) override;
    void Error(const QString& text) override;
    QString InputQuery(const QString& caption, const QString& prompt, const QString& defaultText) override;
    void Beep() override {}

private:
    std::function<void(const QString&)> report_;
};

}  // namespace plat
