#include "ThumbnailCache.h"

#include "PngThumbnailer.h"
#include "ThumbnailEngine.h"
#include "platform/PathCodec.h"
#include "platform/RetryingIo.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>

#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <zlib.h>

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

// Whether the entry's texts say it was made for that URI from the file as it is now.
// Thumb::Size is optional in the standard: an entry without it is judged by the time alone.
template <typename Text> bool describes(const Text& text, const QByteArray& uri, qint64 mtime, qint64 size)
{
    if (text(UriKey).toUtf8() != uri || text(MTimeKey) != QString::number(mtime))
        return false;
    const QString recorded = text(SizeKey);
    return recorded.isEmpty() || size < 0 || recorded == QString::number(size);
}

bool describes(const QImage& entry, const QByteArray& uri, qint64 mtime, qint64 size)
{
    return !entry.isNull()
        && describes([&](const QString& key) { return entry.text(key); }, uri, mtime, size);
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

quint32 bigEndian32(const char* p)
{
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return (quint32(b[0]) << 24) | (quint32(b[1]) << 16) | (quint32(b[2]) << 8) | quint32(b[3]);
}

void appendBigEndian32(QByteArray& out, quint32 v)
{
    const char b[4] = { char(v >> 24), char(v >> 16), char(v >> 8), char(v) };
    out.append(b, 4);
}

quint32 chunkCrc(QByteArrayView typeAndData)
{
    return quint32(crc32(0, reinterpret_cast<const Bytef*>(typeAndData.data()), uInt(typeAndData.size())));
}

// Calls chunk(type, data, whole chunk) for each chunk of the PNG; false when it is no whole PNG
// (no header first, a chunk past the end or with a wrong CRC, no end chunk).
template <typename Chunk> bool forEachChunk(const QByteArray& png, Chunk chunk)
{
    if (!png.startsWith(QByteArrayView("\x89PNG\r\n\x1a\n", 8)))
        return false;
    const qsizetype size = png.size();
    for (qsizetype at = 8; size - at >= 12;) {
        const quint32 length = bigEndian32(png.constData() + at);
        if (length > quint32(size - at - 12)
            || chunkCrc(QByteArrayView(png.constData() + at + 4, 4 + length))
                != bigEndian32(png.constData() + at + 8 + length))
            return false;
        const QByteArrayView type(png.constData() + at + 4, 4);
        if ((at == 8) != (type == "IHDR"))
            return false;
        chunk(type, QByteArrayView(png.constData() + at + 8, length),
            QByteArrayView(png.constData() + at, 12 + length));
        at += 12 + length;
        if (type == "IEND")
            return true;
    }
    return false;
}

// Inflated text of a compressed text chunk, up to a size no entry's text reaches.
std::optional<QByteArray> inflated(QByteArrayView data)
{
    constexpr qsizetype limit = 64 * 1024;
    z_stream z {};
    if (inflateInit(&z) != Z_OK)
        return std::nullopt;
    QByteArray out(limit, Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(limit);
    const int r = inflate(&z, Z_FINISH);
    inflateEnd(&z);
    if (r != Z_STREAM_END)
        return std::nullopt;
    out.truncate(limit - qsizetype(z.avail_out));
    return out;
}

// What carrying an entry needs of it: its size and its texts (plain, compressed or
// international), read from the chunks without decoding the picture.
struct EntryHead {
    QSize size;
    QHash<QString, QString> texts;
};

std::optional<EntryHead> readEntryHead(const QByteArray& png)
{
    EntryHead head;
    bool readable = true;
    const bool whole = forEachChunk(png, [&](QByteArrayView type, QByteArrayView data, QByteArrayView) {
        if (type == "IHDR" && data.size() >= 8) {
            head.size = QSize(int(qMin(bigEndian32(data.data()), 1u << 30)),
                int(qMin(bigEndian32(data.data() + 4), 1u << 30)));
            return;
        }
        const bool plain = type == "tEXt", compressed = type == "zTXt", international = type == "iTXt";
        const qsizetype nul = data.indexOf('\0');
        if (!(plain || compressed || international) || nul <= 0)
            return;
        const QString key = QString::fromLatin1(data.first(nul));
        QByteArrayView rest = data.sliced(nul + 1);
        if (plain) {
            head.texts.insert(key, QString::fromLatin1(rest));
        } else if (compressed) {
            const std::optional<QByteArray> text = rest.isEmpty() ? std::nullopt : inflated(rest.sliced(1));
            readable = readable && text.has_value();
            if (text)
                head.texts.insert(key, QString::fromLatin1(*text));
        } else {
            // Compression flag and method, then the language and the translated keyword.
            const qsizetype language = rest.size() >= 2 ? rest.indexOf('\0', 2) : -1;
            const qsizetype translated = language < 0 ? -1 : rest.indexOf('\0', language + 1);
            if (translated < 0) {
                readable = false;
                return;
            }
            const QByteArrayView text = rest.sliced(translated + 1);
            if (rest[0] == 0) {
                head.texts.insert(key, QString::fromUtf8(text));
            } else {
                const std::optional<QByteArray> unpacked = inflated(text);
                readable = readable && unpacked.has_value();
                if (unpacked)
                    head.texts.insert(key, QString::fromUtf8(*unpacked));
            }
        }
    });
    if (!whole || !readable)
        return std::nullopt;
    return head;
}

// The PNG with every Thumb::URI text chunk left out and one plain text chunk naming uri put
// right after the header, so that readers stopping at the picture data find it; the other
// chunks are copied byte for byte. Empty when it is no whole PNG.
QByteArray withUri(const QByteArray& png, const QByteArray& uri)
{
    const QByteArray keyword = UriKey.toLatin1() + '\0';
    QByteArray out = png.first(8);
    out.reserve(png.size() + uri.size() + 32);
    const bool whole = forEachChunk(png, [&](QByteArrayView type, QByteArrayView data, QByteArrayView chunk) {
        const bool text = type == "tEXt" || type == "zTXt" || type == "iTXt";
        if (!(text && data.startsWith(keyword)))
            out.append(chunk);
        if (type == "IHDR") {
            const QByteArray added = "tEXt" + keyword + uri;
            appendBigEndian32(out, quint32(added.size() - 4));
            out.append(added);
            appendBigEndian32(out, chunkCrc(added));
        }
    });
    return whole ? out : QByteArray();
}

// Carries one entry that describes the moved file (uri, st) to its new name, rewriting its
// Thumb::URI in its own file, which is then renamed: no file is made or freed. On some file
// systems (ext4 without a journal) each new file costs a search past every recently freed one,
// which made moving a thousand files take many seconds. False when the entry is missing,
// describes another file or cannot be rewritten; the caller then removes it.
bool carryEntry(const QString& entry, const QString& destination, const QByteArray& fromUri,
    const QByteArray& toUri, const struct stat& file)
{
    const QByteArray path = encodePath(entry);
    const int fd = ::open(path.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer { fd };
    struct stat st;
    // An entry linked elsewhere too is not rewritten: the other name would change with it.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1
        || st.st_size > CacheEntryBytesLimit)
        return false;
    QByteArray bytes(qsizetype(st.st_size), Qt::Uninitialized);
    if (preadRetrying(fd, bytes.data(), size_t(bytes.size()), 0) != bytes.size())
        return false;
    const std::optional<EntryHead> head = readEntryHead(bytes);
    if (!head || head->size.isEmpty() || head->size.width() > MaxEntrySide
        || head->size.height() > MaxEntrySide
        || !describes([&](const QString& key) { return head->texts.value(key); }, fromUri,
            qint64(file.st_mtime), qint64(file.st_size)))
        return false;
    const QByteArray rewritten = withUri(bytes, toUri);
    if (rewritten.isEmpty()
        || ::pwrite(fd, rewritten.constData(), size_t(rewritten.size()), 0) != rewritten.size()
        || ::ftruncate(fd, off_t(rewritten.size())) != 0)
        return false;
    ::fchmod(fd, S_IRUSR | S_IWUSR);
    // Until the rename only the old name, whose URI no longer matches, shows the entry.
    return ::rename(path.constData(), encodePath(destination).constData()) == 0;
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
    const QByteArray toUri = fileUri(to);
    for (const char* folder : SizeFolders) {
        const QString old = entryIn(QLatin1String(folder), from);
        if (!present || !carryEntry(old, entryIn(QLatin1String(folder), to), fromUri, toUri, st))
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
