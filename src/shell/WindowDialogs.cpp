#include "shell/WindowDialogs.h"

#include <QApplication>
#include <QFontMetrics>
#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>
#include <vector>

namespace shell {

namespace {

// The real dialogs that are open now, innermost last: an end request
// closes them all.
std::vector<QPointer<QDialog>>& OpenDialogs()
{
    static std::vector<QPointer<QDialog>> open;
    return open;
}

// Runs a real dialog, known to EndOpenDialogs while it is open.
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

QString Title()
{
    return QApplication::applicationDisplayName();
}

void Box(QMessageBox::Icon icon, const QString& text)
{
    QMessageBox box(icon, Title(), BoxText(text), QMessageBox::Ok);
    KeepLineBreaks(box);
    RunDialog(box);
}

}  // namespace

bool WindowResponder::Confirm(const QString& text)
{
    QMessageBox box(QMessageBox::Question, Title(), BoxText(text), QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    KeepLineBreaks(box);
    return RunDialog(box) == QMessageBox::Yes;
}

void WindowResponder::Info(const QString& text)
{
    Box(QMessageBox::Information, text);
}

void WindowResponder::Error(const QString& text)
{
    Box(QMessageBox::Critical, text);
}

QString WindowResponder::InputQuery(const QString& caption, const QString& prompt, const QString& defaultText)
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

void WindowResponder::Beep()
{
    QApplication::beep();
}

void WindowResponder::EndOpenDialogs()
{
    // Copied: a rejected dialog leaves the list when its exec returns.
    const std::vector<QPointer<QDialog>> open = OpenDialogs();
    for (const QPointer<QDialog>& dialog : open)
        if (dialog) dialog->reject();
}

}  // namespace shell
