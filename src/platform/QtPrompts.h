#pragma once

#include "platform/Prompts.h"

#include <QPointer>
#include <QWidget>

namespace ztv {

// Message and input boxes of the desktop, owned by the given window.
class QtPrompts : public Prompts {
public:
    void setParentWindow(QWidget* parent) { m_parent = parent; }
    PromptAnswer message(
        const QString& text, const QString& title, PromptIcon icon, PromptButtons buttons) override;
    QString input(const QString& prompt, const QString& title, const QString& defaultText) override;

    // The texts carry Windows line breaks, some a lone "\r"; the boxes show each as one break.
    static QString displayText(const QString& text);

private:
    QPointer<QWidget> m_parent;
};

} // namespace ztv
