#pragma once

#include "ThumbnailBrowser.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

namespace ztv {

// Largest image a decoder may allocate, in MiB. Pictures whose headers claim more are
// refused instead of taking the machine's memory.
inline constexpr int DecodeAllocationLimitMiB = 256;

// The size of a source picture fitted into box with its aspect ratio kept; never enlarged,
// never below 1 x 1.
QSize fitInto(QSize source, QSize box);

// Opens a file for decoding without ever blocking (a FIFO or device is refused before it
// is opened) and checks that it is a regular file. Gives the open descriptor, or -1 with
// status set to Unreadable or Vanished.
int openRegularFile(const QString& path, int* status);

// Makes one file's thumbnail. Safe to call from any thread; closes the file before it
// returns.
ThumbnailResult makeThumbnail(const QString& path, QSize box);

// The plain route: Qt's reader with a scaled size, orientation applied and the allocation
// limit set. Used for every format without a faster route, and as the reference.
QImage readScaledWithQt(QIODevice* device, QSize box);

// Thumbnails are kept in a compact 32-bit form at thumbnail size only.
QImage compactThumbnail(QImage image);

} // namespace ztv
