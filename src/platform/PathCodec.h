#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

struct stat;

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

// True when the text carries a byte that is not valid UTF-8 (a name read with decodePath).
bool hasRawBytes(const QString& path);

// The text to show for a name or a path. Each "/"-separated part that is valid UTF-8 stays
// as it is; a part that is not reads as Shift_JIS when it is valid Shift_JIS, otherwise its
// stray bytes show as U+FFFD. Two different names may show alike, so this text never goes
// back to the disk: keep the decodePath() text for that.
QString displayName(const QString& path);

// A file: URL that names exactly these bytes (percent-encoded), for handing a file to the
// desktop or the clipboard. QUrl::fromLocalFile would send stray bytes as U+FFFD.
QUrl fileUrl(const QString& path);
// The path of a local file: URL with its bytes as the URL encodes them (fileUrl's inverse);
// "" for any other URL.
QString localPathOf(const QUrl& url);

// open(2), stat(2) and lstat(2) on the path's exact bytes; the results as those calls give.
int openPath(const QString& path, int flags, unsigned mode = 0);
bool statPath(const QString& path, struct stat* st);
bool lstatPath(const QString& path, struct stat* st);

} // namespace ztv
