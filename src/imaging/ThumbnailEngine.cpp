#include "ThumbnailEngine.h"

#include <QFile>
#include <QImageReader>

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ztv {

QSize fitInto(QSize source, QSize box)
{
    if (source.isEmpty() || box.isEmpty())
        return {};
    if (source.width() <= box.width() && source.height() <= box.height())
        return source;
    const double scale = std::min(double(box.width()) / source.width(), double(box.height()) / source.height());
    const int w = std::clamp(int(std::lround(source.width() * scale)), 1, box.width());
    const int h = std::clamp(int(std::lround(source.height() * scale)), 1, box.height());
    return { w, h };
}

int openRegularFile(const QString& path, int* status)
{
    const QByteArray encoded = QFile::encodeName(path);
    struct stat st;
    if (::stat(encoded.constData(), &st) != 0) {
        // A name still in the folder (a dangling or looping link) is unreadable; a name that
        // is gone altogether has vanished.
        struct stat lst;
        *status = (errno == ENOENT && ::lstat(encoded.constData(), &lst) != 0) ? ThumbnailResult::Vanished
                                                                               : ThumbnailResult::Unreadable;
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        *status = ThumbnailResult::Unreadable;
        return -1;
    }
    // O_NONBLOCK: should the name have become a FIFO since the check, opening must not wait.
    const int fd = ::open(encoded.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *status = errno == ENOENT ? ThumbnailResult::Vanished : ThumbnailResult::Unreadable;
        return -1;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *status = ThumbnailResult::Unreadable;
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

QImage compactThumbnail(QImage image)
{
    if (image.isNull())
        return image;
    const QImage::Format target = image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    if (image.format() != target)
        image.convertTo(target);
    return image;
}

QImage readScaledWithQt(QIODevice* device, QSize box)
{
    QImageReader reader(device);
    reader.setAllocationLimit(DecodeAllocationLimitMiB);
    reader.setAutoTransform(true);
    const QSize raw = reader.size();
    if (raw.isValid()) {
        // The scaled size applies before the orientation is, so a quarter turn swaps the box.
        const bool turned = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
        const QSize rawBox = turned ? box.transposed() : box;
        const QSize fitted = fitInto(raw, rawBox);
        if (fitted != raw)
            reader.setScaledSize(fitted);
    }
    QImage image = reader.read();
    if (image.isNull())
        return {};
    if (image.width() > box.width() || image.height() > box.height())
        image = image.scaled(fitInto(image.size(), box), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

ThumbnailResult makeThumbnail(const QString& path, QSize box)
{
    ThumbnailResult result;
    result.path = path;
    int status = ThumbnailResult::Unreadable;
    const int fd = openRegularFile(path, &status);
    if (fd < 0) {
        result.status = status;
        return result;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return result;
    }
    QImage image = readScaledWithQt(&file, box);
    file.close();
    if (!image.isNull()) {
        result.image = compactThumbnail(std::move(image));
        result.status = ThumbnailResult::Made;
    }
    return result;
}

} // namespace ztv
