#include "QtPrompts.h"

#include <QInputDialog>
#include <QMessageBox>

namespace ztv {

QString QtPrompts::displayText(const QString& text)
{
    QString t = text;
    t.replace(u"\r\n"_qs, u"\n"_qs);
    t.replace(u'\r', u'\n');
    return t;
}

PromptAnswer QtPrompts::message(
    const QString& text, const QString& title, PromptIcon icon, PromptButtons buttons)
{
    QMessageBox box(m_parent);
    box.setWindowTitle(effectiveTitle(title));
    box.setTextFormat(Qt::PlainText); // a file name such as "<b>.jpg" is shown as it is
    box.setText(displayText(text));
    switch (icon) {
    case PromptIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case PromptIcon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case PromptIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case PromptIcon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case PromptIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    }
    if (buttons != PromptButtons::Ok) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    box.setDefaultButton(
        buttons == PromptButtons::OkCancelDefaultCancel ? QMessageBox::Cancel : QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok ? PromptAnswer::Ok : PromptAnswer::Cancel;
}

QString QtPrompts::input(const QString& prompt, const QString& title, const QString& defaultText)
{
    bool ok = false;
    const QString text = QInputDialog::getText(
        m_parent, effectiveTitle(title), displayText(prompt), QLineEdit::Normal, defaultText, &ok);
    return ok ? text : QString();
}

} // namespace ztv
