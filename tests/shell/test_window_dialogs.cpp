// The real dialogs, offscreen: an end request closes the one that is open
// with its safe choice, and no later dialog is shown.
#include "platform/Dialogs.h"
#include "shell/WindowDialogs.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

using namespace plat;

namespace {

shell::WindowResponder& WindowBoxes()
{
    static shell::WindowResponder boxes;
    return boxes;
}

class WindowDialogs : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetDialogResponder(&WindowBoxes());
        ResumeDialogs();
    }
    void TearDown() override
    {
        ResumeDialogs();
        SetDialogResponder(nullptr);
    }

    // Calls act with the dialog as soon as one is shown (from inside its
    // own event loop, as a signal or a click would arrive).
    void WhenShown(std::function<void(QDialog*)> act)
    {
        auto* poll = new QTimer(qApp);
        QObject::connect(poll, &QTimer::timeout, poll, [poll, act] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                poll->deleteLater();
                poll->stop();
                act(dialog);
            }
        });
        poll->start(5);
    }
    void EndWhenShown()
    {
        WhenShown([this](QDialog* dialog) {
            shown << dialog->metaObject()->className();
            EndAllDialogs();
        });
    }

    QStringList shown;
};

}  // namespace

TEST_F(WindowDialogs, AnEndRequestTakesEachDialogsSafeChoice)
{
    EndWhenShown();
    EXPECT_FALSE(ConfirmYesNo("Soll der Export wirklich gestartet werden?"));  // Yes is the default; No stands
    ResumeDialogs();
    EndWhenShown();
    EXPECT_EQ(InputQuery("Manuelle Eingabe des TSE-Pfads", "Pfad der TSE:", "K:\\"), "K:\\");
    ResumeDialogs();
    EndWhenShown();
    ShowInfo("Die TSE wurde deaktiviert");
    EXPECT_EQ(shown, QStringList({"QMessageBox", "QInputDialog", "QMessageBox"}));
    EXPECT_FALSE(DialogOpen());
}

TEST_F(WindowDialogs, AfterTheEndNoDialogIsShown)
{
    ScriptedResponder script;
    script.confirmAnswers = {true};
    script.inputAnswers = {"E:\\"};
    SetDialogResponder(&script);
    EndAllDialogs();
    EXPECT_TRUE(DialogsEnded());
    EXPECT_FALSE(ConfirmYesNo("Wollen Sie die Anwendung wirklich schließen?"));
    EXPECT_EQ(InputQuery("Manuelle Eingabe des TSE-Pfads", "Pfad der TSE:", "K:\\"), "K:\\");
    ShowError("E/A-Fehler");
    Beep();
    EXPECT_TRUE(script.asked.isEmpty());
    EXPECT_EQ(script.beeps, 0);
    SetDialogResponder(&WindowBoxes());
}

TEST_F(WindowDialogs, AnAnswerGivenWhileTheEndIsRequestedIsNotTaken)
{
    // The responder answers Yes / a path, but the end came while it was open.
    ScriptedResponder script;
    script.confirmAnswers = {true};
    script.inputAnswers = {"E:\\"};
    script.onAsk = [](const QString&) {
        EXPECT_TRUE(DialogOpen());
        EndAllDialogs();
    };
    SetDialogResponder(&script);
    EXPECT_FALSE(ConfirmYesNo("ACHTUNG! Die TSE wurde bereits deaktiviert."));
    EXPECT_EQ(InputQuery("Manuelle Eingabe des TSE-Pfads", "Pfad der TSE:", "K:\\"), "K:\\");
    EXPECT_EQ(script.asked.size(), 1);  // the query came after the end
    SetDialogResponder(&WindowBoxes());
}

TEST_F(WindowDialogs, TheProgramsLineEndsBreakTheBoxText)
{
    // Lines end in CR LF in the program's texts; the box breaks only at LF.
    QString text;
    WhenShown([&text](QDialog* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        ASSERT_NE(box, nullptr);
        text = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))->text();
        box->button(QMessageBox::Yes)->click();
    });
    EXPECT_TRUE(ConfirmYesNo("Erste Zeile.\r\nZweite Zeile?"));
    EXPECT_TRUE(text.contains("Erste Zeile.\nZweite Zeile?")) << text.toStdString();
}

TEST_F(WindowDialogs, BoxesAnswerInGerman)
{
    ASSERT_TRUE(UseGermanToolkitTexts()) << "qtbase_de.qm (qt6-translations-l10n) is not installed";
    QStringList buttons;
    WhenShown([&buttons](QDialog* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        ASSERT_NE(box, nullptr);
        for (QAbstractButton* b : box->buttons()) buttons << b->text().remove(QLatin1Char('&'));
        box->button(QMessageBox::No)->click();
    });
    EXPECT_FALSE(ConfirmYesNo("Weiter?"));
    buttons.sort();
    EXPECT_EQ(buttons, QStringList({"Ja", "Nein"}));
}

TEST_F(WindowDialogs, ALongWarningKeepsItsOwnThreeLines)
{
    const QString warning =
        "ACHTUNG! Das Zertifikat der TSE ist ungültig. Das Programm läuft zwar trotzdem,\r\n"
        "das Finanzamt wird aber die TSE-Daten nicht anerkennen. Ersetzen Sie deshalb\r\n"
        "schnellstmöglich die TSE !!!";
    int height = 0;
    int lineHeight = 0;
    WhenShown([&](QDialog* dialog) {
        auto* label = dialog->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        ASSERT_NE(label, nullptr);
        height = label->sizeHint().height();
        lineHeight = label->fontMetrics().lineSpacing();
        qobject_cast<QMessageBox*>(dialog)->button(QMessageBox::Ok)->click();
    });
    ShowInfo(warning);
    ASSERT_GT(lineHeight, 0);
    EXPECT_GE(height, 3 * lineHeight);
    EXPECT_LT(height, 4 * lineHeight);
}
