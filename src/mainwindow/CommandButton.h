#pragma once

#include <QToolButton>

namespace ztv {

// A picture button with its caption under the picture. The caption wraps onto as many
// lines as the button needs, since the buttons are only about 50 pixels wide.
class CommandButton : public QToolButton {
    Q_OBJECT
public:
    CommandButton(const QString& caption, const QIcon& icon, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace ztv
