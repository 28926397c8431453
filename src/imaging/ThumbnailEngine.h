#pragma once

#include "ThumbnailBrowser.h"

#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QSize>
#include <QString>

#include <atomic>
#include <mutex>

namespace ztv {

// Largest image a decoder may allocate, in MiB. Pictures whose headers claim more are
// refused instead of taking the machine's memory.
inline constexpr int DecodeAllocationLimitMiB = 256;

// Pixels a thumbnail decode may hold at full size: the limit above at about 6 bytes a pixel
// (a library's planes, the conversion and the QImage), some 44 M pixels. A picture over it
// is made from its embedded thumbnail or preview when it has one, else refused.
inline constexpr qint64 ThumbnailPixelBudget = qint64(DecodeAllocationLimitMiB) * 1024 * 1024 / 6;

// The most items (images, tiles, metadata) a HEIF file may declare. libheif 1.15 reads and
// links every item before the primary image can be asked for, in time that grows faster than
// their count (a grid of 16,384 tiles costs 10 s and more), so the count is read from the
// boxes first. A picture within the budget above, coded in tiles no smaller than 256 x 256
// (the smallest cameras and encoders write; phones write 512 x 512), has at most
// budget / 65,536 tiles, some 680; its alpha, depth and thumbnail images may each be a grid
// as large again, and its metadata and the grids themselves are a few dozen items more. A
// larger picture is shown only through its thumbnail, and its tiles are of the usual sizes.
inline constexpr qint64 HeifTileSideMin = 256;
inline constexpr qint64 HeifItemLimit
    = 4 * (ThumbnailPixelBudget / (HeifTileSideMin * HeifTileSideMin) + 1) + 64;

// QImageReader's allocation limit is one value for the whole process, so it is set once, to
// the largest any reader here needs (the display's), and never changed while readers run;
// each reader checks its own budget from the picture's header before it reads.
inline constexpr int ReaderAllocationLimitMiB = 512;
void setReaderAllocationLimitOnce();

// Writes to the log why a picture was refused (what: the reason; size: what it claims).
void logRefusal(const char* what, QSize size);

// Decodes whose working memory exceeds this reserve it from a budget shared by every worker.
inline constexpr qint64 LargeDecodeBytes = 64LL * 1024 * 1024;
// What large decodes running at once may reserve together: room for the largest decode the
// readers allow, so two middling pictures decode side by side while the largest decodes
// alone, and the peak stays that of one largest decode.
inline constexpr qint64 LargeDecodeBudgetBytes = qint64(DecodeAllocationLimitMiB) * 1024 * 1024;

// A share of the budget above, held for the length of one decode (released when destroyed).
class DecodeReservation {
public:
    DecodeReservation() = default;
    DecodeReservation(DecodeReservation&& other) noexcept;
    DecodeReservation& operator=(DecodeReservation&& other) noexcept;
    ~DecodeReservation();
    qint64 bytes() const { return m_bytes; }

private:
    friend DecodeReservation reserveDecodeMemory(qint64 bytes);
    qint64 m_bytes = 0;
};
// Waits until a decode estimated to need `bytes` fits into the budget, and reserves it; an
// estimate over the budget waits for the whole of it. Small decodes reserve nothing.
DecodeReservation reserveDecodeMemory(qint64 bytes);
// The bytes reserved now, and the decodes waiting for their share (for tests).
qint64 reservedDecodeBytes();
int decodesWaitingForMemory();

// Thumbnails decoded from files since the program started (cache reads not counted).
qint64 thumbnailDecodeCount();

// The size of a source picture fitted into box with its aspect ratio kept; never enlarged,
// never below 1 x 1.
QSize fitInto(QSize source, QSize box);

// Opens a file for decoding without ever blocking (a FIFO or device is refused before it
// is opened) and checks that it is a regular file. Gives the open descriptor, or -1 with
// status set to Unreadable or Vanished.
// mtime, when given, receives the file's modification time in seconds.
int openRegularFile(const QString& path, int* status, qint64* mtime = nullptr);

// The readers seek. An open file that cannot be sought (a GVfs archive's member, seen through
// its FUSE view as a stream) is read once from its start into memory, of at most 256 MiB, and
// that copy is given instead; a file that can is given back as it is. Takes fd (closed when
// copied); -1 when the stream fails, holds other than size bytes, or is larger.
int seekableOrCopy(int fd, qint64 size);

// Decodes the open file's thumbnail, fitted into box, and closes the descriptor. *upright,
// when given, receives the picture's own size as it stands upright. Null when unreadable.
QImage decodeThumbnail(int fd, QSize box, QSize* upright = nullptr, const std::atomic<bool>* stop = nullptr);

// HEIF/AVIF, JPEG XL and camera RAW files (format from sniffExtraFormat): the file read whole,
// an embedded thumbnail or preview used when large enough, else a (half-size) decode.
enum class ExtraFormat;
QImage decodeExtraThumbnail(
    ExtraFormat format, int fd, QSize box, QSize* upright = nullptr, const std::atomic<bool>* stop = nullptr);

// Makes one file's thumbnail: JPEG and large PNG through their fast routes, the formats above
// through their libraries, everything else through Qt.
// Safe to call from any thread; closes the file before it returns. stop, when set, may cut
// a long decode short (the result is then of no use).
ThumbnailResult makeThumbnail(const QString& path, QSize box, const std::atomic<bool>* stop = nullptr);

// The same for bytes in memory, without the file checks (used by the fuzz target).
QImage makeThumbnailFromBytes(const QByteArray& bytes, QSize box);

// The plain route: Qt's reader with a scaled size, orientation applied and the allocation
// limit set. Used for every format without a faster route, and as the reference.
// format, when given, names the reader (else it is told from the content).
QImage readScaledWithQt(
    QIODevice* device, QSize box, QSize* upright = nullptr, const QByteArray& format = QByteArray());

// Whether the reader decodes a picture at a scaled size (else it decodes it whole first).
bool decodesScaled(QImageReader& reader);

// Whether the open file starts as a TIFF does (read from offset 0, the offset kept).
bool isTiff(int fd);

// Thumbnails are kept in a compact 32-bit form at thumbnail size only.
QImage compactThumbnail(QImage image);

} // namespace ztv
