#include "imaging/PictureDisplay.h"

#include "imaging/FolderListing.h"

#include "imaging/ExtraFormats.h"
#include "imaging/JpegThumbnailer.h"
#include "imaging/PictureEncoder.h"
#include "imaging/PngThumbnailer.h"
#include "imaging/ThumbnailEngine.h"
#include "imaging/texts.h"
#include "platform/FileOps.h"
#include "platform/PathCodec.h"
#include "platform/WorkAside.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QMimeData>
#include <QPainter>
#include <QUrl>

#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace ztv {

namespace {

// Clipboard formats that are pictures this program can read, as offered by other programs.
QStringList readablePictureFormats(const QMimeData& mime)
{
    QStringList found;
    const QList<QByteArray> readable = QImageReader::supportedMimeTypes();
    const QStringList offered = mime.formats();
    for (const QString& format : offered)
        if (format.startsWith(QLatin1String("image/")) && readable.contains(format.toLatin1()))
            found << format;
    return found;
}

// The first offered picture format that reads; null when none does.
QImage pictureOfFormats(const QMimeData& mime)
{
    const QStringList formats = readablePictureFormats(mime);
    for (const QString& format : formats) {
        const QImage image = QImage::fromData(mime.data(format), format.mid(6).toLatin1().constData());
        if (!image.isNull())
            return image;
    }
    return {};
}

// The local files a drop names, read from its data alone.
QStringList droppedFiles(const QMimeData& mime)
{
    QStringList files;
    const QList<QUrl> urls = mime.urls();
    for (const QUrl& url : urls) {
        const QString path = localPathOf(url);
        if (!path.isEmpty())
            files << path;
    }
    return files;
}

QImage normalised(const QImage& image)
{
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
}

} // namespace

PictureDisplay::PictureDisplay(QWidget* parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setReaderAllocationLimitOnce();
}

int PictureDisplay::decodeBound() const
{
    const int longest = int(std::max(width(), height()) * devicePixelRatioF());
    return std::max(2048, 4 * longest);
}

// What a decode off the window's thread gives back: the picture, or why there is none (empty
// when the header alone refused it).
struct Decoded {
    QImage image;
    QString readerError;
    bool reduced = false; // decoded smaller than the picture is
    bool tooLarge = false; // the whole picture is over the limit
};

namespace {

// Everything after the open: header checks, then Qt's reader (with the formats of their own
// libraries named to it). Runs on a worker; closes fd. A bound > 0 lets a picture larger than
// that on either side be decoded scaled down where the format allows it; 0 asks for the whole
// picture, refused when it would take more than the limit as the program holds it.
Decoded decodeForDisplay(int fd, int bound, qint64 limitBytes)
{
    Decoded out;
    // A stream (a member of an archive a GVfs mount shows) is read once into memory, here
    // aside rather than on the window's thread.
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return out;
    }
    if ((fd = seekableOrCopy(fd, st.st_size)) < 0)
        return out;
    // Qt's JPEG reader would scan a 2 GB file of garbage for its next marker and keep all of a
    // huge progressive file's coefficients, scaled output or not; the header says so first.
    if (checkJpegForDecode(fd, limitBytes) == JpegOutcome::Unreadable || !pngChunksFit(fd)) {
        ::close(fd);
        return out;
    }
    // Formats read through their own libraries are named to the reader, so that no other
    // plugin claims a TIFF-based RAW file as a plain TIFF.
    const QByteArray extra = extraFormatKey(sniffExtraFormat(fd));
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return out;
    }
    QImageReader reader(&file, extra);
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    const bool scalable = reader.supportsOption(QImageIOHandler::ScaledSize);
    const bool whole = stored.isValid() && qint64(stored.width()) * stored.height() * 4 <= limitBytes;
    if (bound == 0 && stored.isValid() && !whole) {
        out.tooLarge = true;
        return out;
    }
    // The process-wide allocation limit is set once; this display's own is checked here.
    if (stored.isValid() && !decodesScaled(reader) && !whole)
        return out;
    if (bound > 0 && stored.isValid() && (stored.width() > bound || stored.height() > bound) && scalable) {
        reader.setScaledSize(stored.scaled(bound, bound, Qt::KeepAspectRatio));
        out.reduced = true;
    }
    out.image = reader.read();
    // A TIFF scan that looked like a camera's file but that LibRaw refuses is read as a TIFF.
    if (out.image.isNull() && extra == extraFormatKey(ExtraFormat::Raw) && file.seek(0)) {
        QImageReader tiff(&file, "tiff");
        tiff.setAutoTransform(true);
        const QSize size = tiff.size();
        if (size.isValid() && qint64(size.width()) * size.height() * 4 <= limitBytes)
            out.image = tiff.read();
    }
    if (out.image.isNull())
        out.readerError = reader.errorString();
    else
        out.image = normalised(out.image);
    return out;
}

// Opened by the name's exact bytes: a name that is not UTF-8 must show its own file, never
// one whose name Qt's lossy text happens to give. O_NONBLOCK keeps a FIFO from blocking the
// open; anything but a regular file is refused right after. -1 when refused.
int openRegularFile(const QString& path)
{
    const int fd = openPath(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

} // namespace

std::optional<Decoded> PictureDisplay::decodeFile(const QString& path, int bound)
{
    const int fd = openRegularFile(path);
    if (fd < 0)
        return std::nullopt;
    // The decode runs on a worker; the caller still gets the outcome before this returns.
    return waitAside<std::optional<Decoded>>(
        [fd, bound] { return decodeForDisplay(fd, bound, qint64(LoadAllocationLimitMb) * 1024 * 1024); });
}

bool PictureDisplay::LoadPicture(const QString& path)
{
    const std::optional<Decoded> decoded = decodeFile(path, decodeBound());
    if (!decoded || decoded->image.isNull()) {
        m_lastError = QString::fromUtf16(texts::imaging::NotAPicture)
            + (decoded && !decoded->readerError.isEmpty() ? decoded->readerError : displayName(path));
        return false;
    }
    // Text only: QFileInfo would take the name through its lossy encoding.
    const QString absolute
        = QDir::isAbsolutePath(path) ? QDir::cleanPath(path) : QDir::current().absoluteFilePath(path);
    replacePicture(decoded->image, absolute);
    m_reduced = decoded->reduced;
    return true;
}

void PictureDisplay::ClearPicture()
{
    replacePicture({}, {});
}

PictureDisplay::CopyResult PictureDisplay::CopyPictureToClipboard(ClipboardCopy what)
{
    if (m_image.isNull())
        return CopyResult::Nothing;
    QImage picture = m_image;
    // The display may hold a reduction; the clipboard gets the picture itself.
    if (m_reduced) {
        const std::optional<Decoded> decoded = decodeFile(m_sourcePath, 0);
        if (!decoded || decoded->image.isNull()) {
            const bool tooLarge = decoded && decoded->tooLarge;
            m_lastError = tooLarge
                ? QString::fromUtf16(texts::imaging::PictureTooLarge)
                : QString::fromUtf16(texts::imaging::NotAPicture) + displayName(m_sourcePath);
            return tooLarge ? CopyResult::TooLarge : CopyResult::Unreadable;
        }
        picture = decoded->image;
    }
    auto* mime = new QMimeData;
    mime->setImageData(picture);
    if (what == ClipboardCopy::PictureAndFile && !m_sourcePath.isEmpty()) {
        mime->setUrls({ fileUrl(m_sourcePath) });
        mime->setText(displayName(m_sourcePath));
    }
    QGuiApplication::clipboard()->setMimeData(mime);
    return CopyResult::Copied;
}

bool PictureDisplay::PastePicture(Paste what)
{
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    if (what == Paste::TestOnly)
        return mime && (mime->hasImage() || !readablePictureFormats(*mime).isEmpty());

    QImage image = QGuiApplication::clipboard()->image();
    if (image.isNull() && mime)
        image = pictureOfFormats(*mime);
    if (image.isNull()) {
        m_lastError = QString::fromUtf16(texts::imaging::NoClipboardPicture);
        return false;
    }
    replacePicture(normalised(image), {});
    return true;
}

bool PictureDisplay::pastable(const QMimeData& data)
{
    // Decided while the pointer passes over the tab: from what the data carries, never by
    // reading a file (a file on a share that stopped answering would hold the window).
    return data.hasImage() || !readablePictureFormats(data).isEmpty() || !droppedFiles(data).isEmpty();
}

std::optional<Decoded> PictureDisplay::openAndDecode(const QString& path, int bound)
{
    const int fd = openRegularFile(path);
    if (fd < 0)
        return std::nullopt;
    return decodeForDisplay(fd, bound, qint64(LoadAllocationLimitMb) * 1024 * 1024);
}

bool PictureDisplay::PasteDropped(const QMimeData& data)
{
    QImage image = qvariant_cast<QImage>(data.imageData());
    if (image.isNull())
        image = pictureOfFormats(data);
    if (image.isNull()) {
        // The files are looked at and read aside: the window paints and answers meanwhile,
        // however long a share takes.
        struct Found {
            QString path; // the first picture file named; "" for none
            std::optional<Decoded> decoded;
        };
        const QStringList files = droppedFiles(data);
        const Found found = files.isEmpty() ? Found {} : waitAside<Found>([files] {
            for (const QString& path : files)
                if (isPictureFile(path))
                    return Found { path, openAndDecode(path, 0) };
            return Found {};
        });
        if (found.path.isEmpty() && !files.isEmpty()) {
            m_lastError = QString::fromUtf16(texts::imaging::NotAPicture) + displayName(files.first());
            return false;
        }
        if (!found.path.isEmpty()) {
            if (!found.decoded || found.decoded->image.isNull()) {
                m_lastError = found.decoded && found.decoded->tooLarge
                    ? QString::fromUtf16(texts::imaging::PictureTooLarge)
                    : QString::fromUtf16(texts::imaging::NotAPicture) + displayName(found.path);
                return false;
            }
            image = found.decoded->image;
        }
    }
    if (image.isNull()) {
        m_lastError = QString::fromUtf16(texts::imaging::NoClipboardPicture);
        return false;
    }
    // Pasted, not loaded: it has no file of its own.
    replacePicture(normalised(image), {});
    return true;
}

void PictureDisplay::setColourOption(const QColor& colour)
{
    m_colour = colour;
}
QColor PictureDisplay::colourOption() const
{
    return m_colour;
}
void PictureDisplay::setColourOptionEnabled(bool on)
{
    m_colourEnabled = on;
}
bool PictureDisplay::colourOptionEnabled() const
{
    return m_colourEnabled;
}

void PictureDisplay::ApplyColourOption()
{
    if (!m_colourEnabled)
        return;
    m_colourShown = true;
    update();
}

bool PictureDisplay::SavePicture(
    const QString& path, int format, int bits, int quality, bool keepTransparency)
{
    return save(path, format, bits, quality, keepTransparency, {}, false);
}

bool PictureDisplay::SavePictureWithOptions(
    const QString& path, int format, int bits, int quality, float width, float height, int option)
{
    return save(path, format, bits, quality, option & SaveKeepTransparency, QSizeF(width, height),
        option & SaveInterlaced);
}

bool PictureDisplay::save(
    const QString& path, int format, int bits, int quality, bool keep, QSizeF box, bool interlaced)
{
    SaveOptions options;
    options.format = format;
    options.bits = bits;
    options.quality = quality;
    options.keepTransparency = keep;
    options.background = m_colour;
    options.box = box;
    options.interlaced = interlaced;
    // A large picture's GIF palette takes a few seconds; the pointer says it is busy.
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const EncodeResult encoded = encodePicture(m_image, options);
    QGuiApplication::restoreOverrideCursor();
    if (!encoded.ok()) {
        m_lastError = encoded.error;
        return false;
    }
    const FileResult written = (m_fileOps ? *m_fileOps : realFileOps()).writeFile(path, encoded.bytes, true);
    if (!written.ok()) {
        m_lastError = written.detail;
        return false;
    }
    return true;
}

void PictureDisplay::setDisplayScaleMode(int mode)
{
    m_scaleMode = mode;
    update();
}

int PictureDisplay::displayScaleMode() const
{
    return m_scaleMode;
}
bool PictureDisplay::hasPicture() const
{
    return !m_image.isNull();
}
QImage PictureDisplay::picture() const
{
    return m_image;
}
void PictureDisplay::setPicture(const QImage& image)
{
    replacePicture(image.isNull() ? image : normalised(image), {});
}
QString PictureDisplay::sourcePath() const
{
    return m_sourcePath;
}
QString PictureDisplay::lastError() const
{
    return m_lastError;
}
void PictureDisplay::setFileOps(FileOps* ops)
{
    m_fileOps = ops;
}

void PictureDisplay::replacePicture(const QImage& image, const QString& source)
{
    m_image = image;
    m_sourcePath = source;
    m_scaled = QPixmap();
    m_colourShown = false;
    update();
    Q_EMIT pictureChanged();
}

QRect PictureDisplay::pictureRect() const
{
    if (m_image.isNull())
        return {};
    if (m_scaleMode != 3)
        return QRect(QPoint(0, 0), m_image.deviceIndependentSize().toSize());
    const QSize target = m_image.size().scaled(size(), Qt::KeepAspectRatio);
    return QRect(QPoint((width() - target.width()) / 2, (height() - target.height()) / 2), target);
}

void PictureDisplay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    const QRect target = pictureRect();
    if (target.isEmpty())
        return;
    if (m_colourShown)
        painter.fillRect(target, m_colour);
    if (m_scaleMode != 3) {
        painter.drawImage(target.topLeft(), m_image);
        return;
    }
    // Scale once per size rather than on every repaint.
    const qreal dpr = devicePixelRatioF();
    const QSize device = (QSizeF(target.size()) * dpr).toSize();
    if (m_scaled.size() != device) {
        m_scaled
            = QPixmap::fromImage(m_image.scaled(device, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        m_scaled.setDevicePixelRatio(dpr);
    }
    painter.drawPixmap(target.topLeft(), m_scaled);
}

void PictureDisplay::mousePressEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    Q_EMIT mouseButton(event->button(), event->modifiers(), p);
}

void PictureDisplay::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Q_EMIT clicked();
}

// Keyboard users reach the same handlers: Enter or Space clicks, the menu key presses the
// right button at the centre.
void PictureDisplay::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        Q_EMIT clicked();
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

void PictureDisplay::contextMenuEvent(QContextMenuEvent* event)
{
    if (event->reason() == QContextMenuEvent::Mouse)
        return; // the press has been reported already
    Q_EMIT mouseButton(Qt::RightButton, event->modifiers(), QPoint(width() / 2, height() / 2));
}

} // namespace ztv
