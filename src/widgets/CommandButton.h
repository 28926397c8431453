#pragma once

#include <QToolButton>

namespace ztv {

// A picture button with its caption under the picture. The caption wraps onto as many
// lines as the button needs, since the buttons are only about 50 pixels wide.
class CommandButton : public QToolButton {
    Q_OBJECT
public:
    // Shows action: its text, icon and enabled state, and a click triggers it.
    CommandButton(QAction* action, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace ztv
