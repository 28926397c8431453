#pragma once

#include <QByteArray>
#include <QString>

namespace ztv {

// File names on disk are bytes; inside the program they are QString. Valid UTF-8 decodes as
// usual. A byte that is not part of valid UTF-8 (an old disc's Shift_JIS name) decodes to the
// lone surrogate U+DC00 + byte and encodes back to that byte, so any name read with
// decodePath() reaches the same file again through encodePath().
//
// Names that come from Qt's own listings (QDir, QFileInfo) carry U+FFFD for such bytes
// instead; they encode to the bytes of U+FFFD, which name no such file, so an operation on
// them fails with "not found" and never reaches another file.
QByteArray encodePath(const QString& path);
QString decodePath(const QByteArray& bytes);

} // namespace ztv
