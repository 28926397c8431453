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
const QString SizeKey = QStringLiteral("Thumb::Size");
const QString WidthKey = QStringLiteral("Thumb::Image::Width");
const QString HeightKey = QStringLiteral("Thumb::Image::Height");

bool uriSafe(unsigned char c)
{
    // The characters GLib leaves unescaped in a file URI's path.
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    return std::strchr("!$&'()*+,-./:=@_~", c) != nullptr && c != 0;
}

// The standard's folders of entries by size; this program writes only the first.
const char* const SizeFolders[] = { "normal", "large", "x-large", "xx-large" };
// Sides beyond the largest size an entry has (xx-large: 1024) mark a file that is no entry.
constexpr int MaxEntrySide = 1024;

// An entry read through its descriptor, refused when it is no regular file or larger than an
// entry can be; null when missing or unreadable.
QImage readEntry(const QString& path, int maxSide)
{
    int status = 0;
    const int fd = openRegularFile(path, &status);
    if (fd < 0)
        return {};
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    // An entry is a small picture with a few lines of text; anything else is not read. The
    // allocation limit is the process's, set once: a reader never changes it.
    if (file.size() > CacheEntryBytesLimit || !pngChunksFit(&file))
        return {};
    QImageReader reader(&file, "png");
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > maxSide || size.height() > maxSide)
        return {};
    return reader.read();
}

// Whether the entry was made for that URI from the file as it is now. Thumb::Size is
// optional in the standard: an entry without it is judged by the time alone.
bool describes(const QImage& entry, const QByteArray& uri, qint64 mtime, qint64 size)
{
    if (entry.isNull() || entry.text(UriKey).toUtf8() != uri
        || entry.text(MTimeKey) != QString::number(mtime))
        return false;
    const QString recorded = entry.text(SizeKey);
    return recorded.isEmpty() || size < 0 || recorded == QString::number(size);
}

// Written atomically (a temporary file renamed over it), readable by the user alone.
bool writeEntry(const QString& path, const QImage& entry)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QImageWriter writer(&file, "png");
    writer.setCompression(1); // PNG compression level 1: fast, entries are small anyway
    if (!writer.write(entry)) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

void removeEntry(const QString& path)
{
    ::unlink(encodePath(path).constData());
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
    return entryIn(QStringLiteral("normal"), absolutePath);
}

QString ThumbnailCache::entryIn(const QString& folder, const QString& absolutePath) const
{
    const QByteArray md5 = QCryptographicHash::hash(fileUri(absolutePath), QCryptographicHash::Md5).toHex();
    return m_root + u'/' + folder + u'/' + QString::fromLatin1(md5) + QStringLiteral(".png");
}

QStringList ThumbnailCache::failureFolders() const
{
    QStringList folders;
    const QStringList programs
        = QDir(m_root + QStringLiteral("/fail")).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString& program : programs)
        folders << QStringLiteral("fail/") + program;
    return folders;
}

void ThumbnailCache::forget(const QString& absolutePath) const
{
    if (m_root.isEmpty())
        return;
    for (const char* folder : SizeFolders)
        removeEntry(entryIn(QLatin1String(folder), absolutePath));
    for (const QString& folder : failureFolders())
        removeEntry(entryIn(folder, absolutePath));
}

void ThumbnailCache::carry(const QString& from, const QString& to) const
{
    if (m_root.isEmpty() || from == to)
        return;
    forget(to);
    // Entries describe the file by its time and size, which a rename keeps; a move that
    // copied the file may not, and then nothing is carried.
    struct stat st { };
    const bool present = ::stat(encodePath(to).constData(), &st) == 0 && S_ISREG(st.st_mode);
    const QByteArray fromUri = fileUri(from);
    for (const char* folder : SizeFolders) {
        const QString old = entryIn(QLatin1String(folder), from);
        QImage entry = present ? readEntry(old, MaxEntrySide) : QImage();
        if (describes(entry, fromUri, qint64(st.st_mtime), qint64(st.st_size))) {
            entry.setText(UriKey, QString::fromUtf8(fileUri(to)));
            writeEntry(entryIn(QLatin1String(folder), to), entry);
        }
        removeEntry(old);
    }
    for (const QString& folder : failureFolders())
        removeEntry(entryIn(folder, from));
}

bool ThumbnailCache::contains(const QString& absolutePath) const
{
    return absolutePath.startsWith(m_root + QLatin1Char('/'));
}

QImage ThumbnailCache::lookup(const QString& absolutePath, qint64 mtime, qint64 size, QSize* original) const
{
    QImage image = readEntry(entryPath(absolutePath), 4 * NormalSize);
    if (!describes(image, fileUri(absolutePath), mtime, size))
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
    const QString& absolutePath, qint64 mtime, qint64 size, QSize original, const QImage& thumbnail) const
{
    const QString folder = m_root + QStringLiteral("/normal");
    if (!QDir().mkpath(folder))
        return false;
    ::chmod(encodePath(m_root).constData(), 0700);
    ::chmod(encodePath(folder).constData(), 0700);
    QImage image = thumbnail;
    image.setText(UriKey, QString::fromUtf8(fileUri(absolutePath)));
    image.setText(MTimeKey, QString::number(mtime));
    if (size >= 0)
        image.setText(SizeKey, QString::number(size));
    image.setText(WidthKey, QString::number(original.width()));
    image.setText(HeightKey, QString::number(original.height()));
    image.setText(QStringLiteral("Software"), QStringLiteral("zentovi"));
    return writeEntry(entryPath(absolutePath), image);
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
    struct stat st;
    const qint64 size = ::fstat(fd, &st) == 0 ? qint64(st.st_size) : -1;
    const ThumbnailCache cache(policy.root);
    const QString absolute
        = QDir::isAbsolutePath(path) ? QDir::cleanPath(path) : QFileInfo(path).absoluteFilePath();
    const bool fitsEntry
        = box.width() <= ThumbnailCache::NormalSize && box.height() <= ThumbnailCache::NormalSize;
    if (policy.read && fitsEntry) {
        QSize original;
        const QImage entry = cache.lookup(absolute, mtime, size, &original);
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
            cache.store(absolute, mtime, size, upright, entry);
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
