#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace ztv {

// An Adam7-interlaced PNG through libpng (Qt's writer stores PNGs without interlacing).
// ARGB pictures are stored as RGBA, Indexed8 as a palette with its transparency, anything
// else as RGB, all with 8 bits per channel.
QByteArray writeInterlacedPng(const QImage& image, QString* error);

} // namespace ztv
