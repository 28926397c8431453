#pragma once

#include "ThumbnailBrowser.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <atomic>
#include <functional>

namespace ztv {

// The shared thumbnail cache of the freedesktop Thumbnail Managing Standard: 128-pixel PNGs
// in <root>/normal named by the MD5 of the file's URI, carrying Thumb::URI and Thumb::MTime.
class ThumbnailCache {
public:
    static constexpr int NormalSize = 128;

    explicit ThumbnailCache(QString root = defaultRoot());

    // $XDG_CACHE_HOME/thumbnails, or ~/.cache/thumbnails.
    static QString defaultRoot();
    // The file's URI as GLib writes it, so entries made by other programs are found.
    static QByteArray fileUri(const QString& absolutePath);

    QString root() const { return m_root; }
    QString entryPath(const QString& absolutePath) const;

    // The entry for the file when it exists and was made from this version of it (same URI,
    // same modification time); else a null image. *original receives the picture's size when
    // the entry records it, else the entry's own size.
    QImage lookup(const QString& absolutePath, qint64 mtime, QSize* original = nullptr) const;

    // Writes the entry atomically (a temporary file renamed over it). False on any failure.
    bool store(const QString& absolutePath, qint64 mtime, QSize original, const QImage& thumbnail) const;

    // True when path lies inside the cache itself (never made into an entry).
    bool contains(const QString& absolutePath) const;

private:
    QString m_root;
};

// Whether files at path sit on storage the program may treat as writable: not a read-only
// mount and not an optical disc's file system.
bool isOnWritableStorage(const QString& path);

// How a browse uses the cache.
struct ThumbnailCachePolicy {
    bool read = true;
    bool write = true;
    QString root = ThumbnailCache::defaultRoot();
    std::function<bool(const QString& path)> writableStorage = isOnWritableStorage;
};

// One file's thumbnail with the cache: a valid entry is used as it is; otherwise the picture
// is decoded and, for files on writable storage, a fresh entry is written.
ThumbnailResult makeCachedThumbnail(const QString& path, QSize box, const ThumbnailCachePolicy& policy,
    const std::atomic<bool>* stop = nullptr);

} // namespace ztv
