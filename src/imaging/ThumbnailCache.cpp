#include "ThumbnailCache.h"

#include "PngThumbnailer.h"
#include "ThumbnailEngine.h"
#include "platform/PathCodec.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>

#include <cstring>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace ztv {

namespace {

constexpr long IsoFsMagic = 0x9660;
// A 512 x 512 entry (the largest size read) of incompressible pixels, and its text.
constexpr qint64 CacheEntryBytesLimit = 2 * 1024 * 1024;
constexpr long UdfMagic = 0x15013346;
const QString UriKey = QStringLiteral("Thumb::URI");
const QString MTimeKey = QStringLiteral("Thumb::MTime");
const QString WidthKey = QStringLiteral("Thumb::Image::Width");
const QString HeightKey = QStringLiteral("Thumb::Image::Height");

bool uriSafe(unsigned char c)
{
    // The characters GLib leaves unescaped in a file URI's path.
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    return std::strchr("!$&'()*+,-./:=@_~", c) != nullptr && c != 0;
}

} // namespace

ThumbnailCache::ThumbnailCache(QString root)
    : m_root(std::move(root))
{
}

QString ThumbnailCache::defaultRoot()
{
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.cache");
    return base + QStringLiteral("/thumbnails");
}

QByteArray ThumbnailCache::fileUri(const QString& absolutePath)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray uri("file://");
    const QByteArray bytes = encodePath(absolutePath);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (uriSafe(c)) {
            uri.append(ch);
        } else {
            uri.append('%');
            uri.append(hex[c >> 4]);
            uri.append(hex[c & 15]);
        }
    }
    return uri;
}

QString ThumbnailCache::entryPath(const QString& absolutePath) const
{
    const QByteArray md5 = QCryptographicHash::hash(fileUri(absolutePath), QCryptographicHash::Md5).toHex();
    return m_root + QStringLiteral("/normal/") + QString::fromLatin1(md5) + QStringLiteral(".png");
}

bool ThumbnailCache::contains(const QString& absolutePath) const
{
    return absolutePath.startsWith(m_root + QLatin1Char('/'));
}

QImage ThumbnailCache::lookup(const QString& absolutePath, qint64 mtime, QSize* original) const
{
    int status = 0;
    const int fd = openRegularFile(entryPath(absolutePath), &status);
    if (fd < 0)
        return {};
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    // An entry is a small picture with a few lines of text; anything else is not read.
    if (file.size() > CacheEntryBytesLimit || !pngChunksFit(&file))
        return {};
    QImageReader reader(&file, "png");
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > 4 * NormalSize || size.height() > 4 * NormalSize)
        return {};
    QImage image = reader.read();
    if (image.isNull() || image.text(UriKey).toUtf8() != fileUri(absolutePath)
        || image.text(MTimeKey) != QString::number(mtime))
        return {};
    if (original) {
        // Programs differ in whether they record the stored or the upright size; take the one
        // that has the entry's shape.
        QSize recorded(image.text(WidthKey).toInt(), image.text(HeightKey).toInt());
        *original = image.size();
        if (!recorded.isEmpty()) {
            const bool entryWide = image.width() >= image.height();
            if ((recorded.width() >= recorded.height()) != entryWide && image.width() != image.height())
                recorded.transpose();
            if (recorded.width() >= image.width() && recorded.height() >= image.height())
                *original = recorded;
        }
    }
    return image;
}

bool ThumbnailCache::store(
    const QString& absolutePath, qint64 mtime, QSize original, const QImage& thumbnail) const
{
    const QString folder = m_root + QStringLiteral("/normal");
    if (!QDir().mkpath(folder))
        return false;
    ::chmod(encodePath(m_root).constData(), 0700);
    ::chmod(encodePath(folder).constData(), 0700);
    QImage image = thumbnail;
    image.setText(UriKey, QString::fromUtf8(fileUri(absolutePath)));
    image.setText(MTimeKey, QString::number(mtime));
    image.setText(WidthKey, QString::number(original.width()));
    image.setText(HeightKey, QString::number(original.height()));
    image.setText(QStringLiteral("Software"), QStringLiteral("zentovi"));
    QSaveFile file(entryPath(absolutePath));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QImageWriter writer(&file, "png");
    writer.setCompression(1); // PNG compression level 1: fast, entries are small anyway
    if (!writer.write(image)) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool isOnWritableStorage(const QString& path)
{
    const QByteArray encoded = encodePath(path);
    struct statvfs vfs;
    if (::statvfs(encoded.constData(), &vfs) != 0 || (vfs.f_flag & ST_RDONLY))
        return false;
    struct statfs fs;
    if (::statfs(encoded.constData(), &fs) != 0)
        return false;
    return long(fs.f_type) != IsoFsMagic && long(fs.f_type) != UdfMagic;
}

ThumbnailResult makeCachedThumbnail(
    const QString& path, QSize box, const ThumbnailCachePolicy& policy, const std::atomic<bool>* stop)
{
    const bool useCache = (policy.read || policy.write) && !policy.root.isEmpty();
    if (!useCache)
        return makeThumbnail(path, box, stop);
    ThumbnailResult result;
    result.path = path;
    int status = ThumbnailResult::Unreadable;
    qint64 mtime = 0;
    const int fd = openRegularFile(path, &status, &mtime);
    if (fd < 0) {
        result.status = status;
        return result;
    }
    const ThumbnailCache cache(policy.root);
    const QString absolute
        = QDir::isAbsolutePath(path) ? QDir::cleanPath(path) : QFileInfo(path).absoluteFilePath();
    const bool fitsEntry
        = box.width() <= ThumbnailCache::NormalSize && box.height() <= ThumbnailCache::NormalSize;
    if (policy.read && fitsEntry) {
        QSize original;
        const QImage entry = cache.lookup(absolute, mtime, &original);
        const QSize target = fitInto(original, box);
        if (!entry.isNull() && target.isValid() && entry.width() >= target.width()
            && entry.height() >= target.height()) {
            ::close(fd);
            result.image = compactThumbnail(entry.size() == target
                    ? entry
                    : entry.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
            result.status = ThumbnailResult::Made;
            return result;
        }
    }
    const bool write = policy.write && fitsEntry && !cache.contains(absolute)
        && (!policy.writableStorage || policy.writableStorage(absolute));
    if (!write) {
        result.image = decodeThumbnail(fd, box, nullptr, stop);
    } else {
        QSize upright;
        const QSize normal(ThumbnailCache::NormalSize, ThumbnailCache::NormalSize);
        const QImage entry = decodeThumbnail(fd, normal, &upright, stop);
        if (!entry.isNull() && !(stop && stop->load())) {
            if (!upright.isValid())
                upright = entry.size();
            cache.store(absolute, mtime, upright, entry);
            const QSize target = fitInto(upright, box);
            result.image = compactThumbnail(entry.size() == target
                    ? entry
                    : entry.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        }
    }
    result.status = result.image.isNull() ? ThumbnailResult::Unreadable : ThumbnailResult::Made;
    return result;
}

} // namespace ztv
