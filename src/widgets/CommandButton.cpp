#include "widgets/CommandButton.h"

#include <QAction>
#include <QPainter>
#include <QStyleOptionToolButton>
#include <QStylePainter>

namespace ztv {

CommandButton::CommandButton(QAction* action, QWidget* parent)
    : QToolButton(parent)
{
    setDefaultAction(action);
    setAccessibleName(action->iconText());
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    setAutoRaise(false);
    setFocusPolicy(Qt::StrongFocus);
}

void CommandButton::paintEvent(QPaintEvent*)
{
    QStylePainter p(this);
    QStyleOptionToolButton opt;
    initStyleOption(&opt);
    const QString caption = opt.text;
    opt.text.clear();
    opt.icon = QIcon();
    // The bevel only; picture and caption are laid out here.
    p.drawComplexControl(QStyle::CC_ToolButton, opt);

    const QRect area = rect().adjusted(3, 3, -3, -3);
    QFont f = font();
    int iconSide = qMin(24, area.height() / 2);
    QRect textRect;
    int flags = Qt::AlignHCenter | Qt::AlignTop | Qt::TextWrapAnywhere;
    // Shrink the caption until it fits below the picture, then the picture if need be.
    for (int px = qMax(9, f.pixelSize() > 0 ? f.pixelSize() : 12); px >= 7; --px) {
        f.setPixelSize(px);
        const QFontMetrics fm(f);
        const QRect need = fm.boundingRect(QRect(0, 0, area.width(), 1000), flags, caption);
        if (need.height() + iconSide + 1 <= area.height() || px == 7) {
            iconSide = qMax(12, qMin(iconSide, area.height() - need.height() - 1));
            textRect
                = QRect(area.left(), area.top() + iconSide + 1, area.width(), area.height() - iconSide - 1);
            break;
        }
    }
    const QIcon::Mode mode = isEnabled() ? QIcon::Normal : QIcon::Disabled;
    const int down = isDown() ? 1 : 0;
    icon().paint(&p,
        QRect(area.left() + (area.width() - iconSide) / 2 + down, area.top() + down, iconSide, iconSide),
        Qt::AlignCenter, mode);
    p.setFont(f);
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    p.drawText(textRect.translated(down, down), flags, caption);
}

} // namespace ztv
