#pragma once

#include "ThumbnailBrowser.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

namespace ztv {

// The shared thumbnail cache of the freedesktop Thumbnail Managing Standard: 128-pixel PNGs
// in <root>/normal named by the MD5 of the file's URI, carrying Thumb::URI, Thumb::MTime and
// Thumb::Size. Other programs also keep larger entries (large, x-large, xx-large) and records
// of failures (fail/<program>) under the same name.
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
    // same modification time in whole seconds, and the same size in bytes where the entry
    // records one); else a null image. *original receives the picture's size when the entry
    // records it, else the entry's own size.
    QImage lookup(const QString& absolutePath, qint64 mtime, qint64 size, QSize* original = nullptr) const;

    // Writes the entry atomically (a temporary file renamed over it). False on any failure.
    bool store(const QString& absolutePath, qint64 mtime, qint64 size, QSize original,
        const QImage& thumbnail) const;

    // The file is gone: its entries of every size and every program's failure record go too.
    void forget(const QString& absolutePath) const;
    // The file now lives at `to`: whatever was kept for `to` goes (it showed another file),
    // and each entry of `from` that still describes the file moves to `to` with its
    // Thumb::URI rewritten; the rest of `from`'s entries go.
    void carry(const QString& from, const QString& to) const;

    // True when path lies inside the cache itself (never made into an entry).
    bool contains(const QString& absolutePath) const;

private:
    QString entryIn(const QString& folder, const QString& absolutePath) const;
    QStringList failureFolders() const;

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
