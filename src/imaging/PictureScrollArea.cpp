#include "imaging/PictureScrollArea.h"

#include "imaging/PictureDisplay.h"

#include <QScrollBar>

namespace ztv {

PictureScrollArea::PictureScrollArea(PictureDisplay* display, QWidget* parent)
    : QScrollArea(parent)
    , m_display(display)
{
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::NoFocus);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setWidgetResizable(true);
    setWidget(display);
    connect(display, &PictureDisplay::pictureChanged, this, &PictureScrollArea::fitDisplay);
    fitDisplay();
}

void PictureScrollArea::fitDisplay()
{
    const QRect picture = m_display->pictureRect();
    // In the fitted mode the picture follows the display, which then needs no size of its own.
    const bool ownSize = m_display->displayScaleMode() != 3;
    m_display->setMinimumSize(ownSize && !picture.isEmpty() ? picture.size() : QSize(0, 0));
    // Setting the mode again lays the display out and sets the scroll bars at once.
    setWidgetResizable(true);
    // A new picture is seen from its top-left corner.
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
}

} // namespace ztv
