#pragma once

#include <QScrollArea>

namespace ztv {

class PictureDisplay;

// Holds a display that shows its picture at its own size from the top-left corner: the
// display grows to the picture, so scroll bars reach the rest of a picture larger than the
// area, and it fills the area when the picture is smaller. Nothing is scaled. The area takes
// no focus; the arrow and page keys pressed on the display scroll it.
class PictureScrollArea : public QScrollArea {
    Q_OBJECT
public:
    explicit PictureScrollArea(PictureDisplay* display, QWidget* parent = nullptr);

    PictureDisplay* display() const { return m_display; }

private:
    void fitDisplay();

    PictureDisplay* m_display;
};

} // namespace ztv
