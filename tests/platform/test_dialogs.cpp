#include "platform/Dialogs.h"

#include <gtest/gtest.h>

using namespace plat;

namespace {

// Installs a responder for one test and restores the real dialogs.
struct ResponderScope {
    explicit ResponderScope(DialogResponder* r) { SetDialogResponder(r); }
    ~ResponderScope() { SetDialogResponder(nullptr); }
};

}  // namespace

TEST(ScriptedResponder, AnswersInOrderThenWithTheDefaults)
{
    ScriptedResponder script;
    script.confirmAnswers = {false, true};
    script.inputAnswers = {"E:\\", QString(), QString("")};
    ResponderScope scope(&script);

    EXPECT_FALSE(ConfirmYesNo("Export?"));
    EXPECT_TRUE(ConfirmYesNo("Beenden?"));
    EXPECT_TRUE(ConfirmYesNo("Reaktivieren?"));  // unscripted: Yes

    EXPECT_EQ(InputQuery("TSE", "Laufwerk:", "D:\\"), "E:\\");
    EXPECT_EQ(InputQuery("TSE", "Laufwerk:", "D:\\"), "D:\\");  // null = Cancel
    EXPECT_EQ(InputQuery("TSE", "Laufwerk:", "D:\\"), "");      // an emptied field is no Cancel
    EXPECT_EQ(InputQuery("TSE", "Laufwerk:", "D:\\"), "D:\\");  // unscripted
}

TEST(ScriptedResponder, RecordsEveryTextAskedAndCountsBeeps)
{
    ScriptedResponder script;
    QStringList seen;
    script.onAsk = [&seen](const QString& entry) { seen.append(entry); };
    ResponderScope scope(&script);

    Beep();
    ConfirmYesNo("Export starten?");
    ShowInfo("Fertig");
    ShowError("Fehler");
    InputQuery("Cap", "Prompt", "Def");

    const QStringList expected{"confirm: Export starten?", "info: Fertig", "error: Fehler", "input: Cap|Prompt|Def"};
    EXPECT_EQ(script.asked, expected);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(script.beeps, 1);
}

TEST(UnattendedResponder, TakesTheDefaultsAndReportsEachDialog)
{
    QStringList reports;
    UnattendedResponder unattended([&reports](const QString& line) { reports.append(line); });
    ResponderScope scope(&unattended);

    EXPECT_TRUE(ConfirmYesNo("Beenden?"));
    EXPECT_EQ(InputQuery("TSE", "Laufwerk:", "D:\\"), "D:\\");
    ShowInfo("Fertig");
    ASSERT_EQ(reports.size(), 3);
    EXPECT_TRUE(reports[0].contains("Beenden?"));
    EXPECT_TRUE(reports[1].contains("D:\\"));
}

TEST(DialogSeam, NullRestoresTheWindowDialogs)
{
    ScriptedResponder script;
    SetDialogResponder(&script);
    EXPECT_EQ(CurrentDialogResponder(), &script);
    SetDialogResponder(nullptr);
    EXPECT_NE(CurrentDialogResponder(), nullptr);
    EXPECT_NE(CurrentDialogResponder(), &script);
}
