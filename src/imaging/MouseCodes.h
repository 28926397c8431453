#pragma once

#include <Qt>

namespace ztv {

// Button and shift codes of the imaging controls' mouse events: button 1 left, 2 right,
// 4 middle; shift bits 1 Shift, 2 Ctrl, 4 Alt.
inline int mouseButtonCode(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton:
        return 1;
    case Qt::RightButton:
        return 2;
    case Qt::MiddleButton:
        return 4;
    default:
        return 0;
    }
}

inline int shiftCode(Qt::KeyboardModifiers modifiers)
{
    return (modifiers & Qt::ShiftModifier ? 1 : 0) | (modifiers & Qt::ControlModifier ? 2 : 0)
        | (modifiers & Qt::AltModifier ? 4 : 0);
}

} // namespace ztv
