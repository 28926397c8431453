#pragma once

#include <QRect>
#include <QString>
#include <QtGlobal>

// What every form's construction uses: its texts as UTF-16 literals and its placements in
// twips, 15 to a pixel, as the reference layout gives them.
namespace ztv::layout {

inline QString t(const char16_t* text)
{
    return QString::fromUtf16(text);
}

inline QRect tw(int left, int top, int width, int height)
{
    return QRect(qRound(left / 15.0), qRound(top / 15.0), qRound(width / 15.0), qRound(height / 15.0));
}

} // namespace ztv::layout
