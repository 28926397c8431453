#pragma once

#include "ThumbnailBrowser.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QSize>
#include <QString>

#include <memory>

namespace ztv {

// Where a browse's thumbnail came from: enough to make the same file's thumbnail again once
// a list has let the image go. cacheRoot is empty where the browse did not read the cache.
struct ThumbnailSource {
    QString path;
    QSize box;
    QString cacheRoot;
    bool isValid() const { return !path.isEmpty() && box.isValid(); }
};

// A browse marks every thumbnail it hands out with its source (in the image's text), so that
// whoever keeps the image may drop it and make it again; copies and ratio changes keep it.
void markThumbnailSource(QImage* image, const ThumbnailSource& source);
ThumbnailSource thumbnailSourceOf(const QImage& image);

// The thumbnail of the file named by source as it is now: from the cache where an entry
// describes this version of the file (its modification time and size), else decoded again.
// Never writes the cache.
ThumbnailResult remakeThumbnail(const ThumbnailSource& source, const std::atomic<bool>* stop = nullptr);

// Makes thumbnails again on two background threads, in the order asked; restored is emitted
// on the restorer's thread. A new request replaces whatever was waiting.
class ThumbnailRestorer : public QObject {
    Q_OBJECT
public:
    struct Request {
        int row = -1;
        quint64 generation = 0;
        ThumbnailSource source;
    };

    explicit ThumbnailRestorer(QObject* parent = nullptr);
    ~ThumbnailRestorer() override; // never waits for a decode under way
    void request(QList<Request> wanted);
    bool busy() const; // requests waiting or under way

Q_SIGNALS:
    // image is null where the file could not be read again.
    void restored(int row, quint64 generation, const QString& path, const QImage& image);

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    int m_threads = 0;
};

} // namespace ztv
