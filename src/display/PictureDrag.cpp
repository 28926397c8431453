#include "display/PictureDrag.h"

#include "platform/PathCodec.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QIODevice>
#include <QMimeData>
#include <QUrl>

namespace ztv {

namespace {
constexpr quint32 Version = 1;
}

void PictureDrag::writeTo(QMimeData& data) const
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    // Another instance of the program could read the same type; its files are not our choice.
    out << Version << qint64(QCoreApplication::applicationPid()) << qint32(source) << qint32(files.size());
    for (const PictureChoice& c : files)
        out << encodePath(c.path) << c.identity.device << c.identity.inode << c.identity.size
            << c.identity.modifiedNs;
    data.setData(QString::fromLatin1(MimeType), bytes);
}

std::optional<PictureDrag> PictureDrag::readFrom(const QMimeData& data)
{
    const QString type = QString::fromLatin1(MimeType);
    if (!data.hasFormat(type))
        return std::nullopt;
    QDataStream in(data.data(type));
    quint32 version = 0;
    qint64 pid = 0;
    qint32 area = -1;
    qint32 count = -1;
    in >> version >> pid >> area >> count;
    if (in.status() != QDataStream::Ok || version != Version || pid != QCoreApplication::applicationPid()
        || area < 0 || area >= kAreaCount || count < 0)
        return std::nullopt;
    PictureDrag drag;
    drag.source = Area(area);
    for (qint32 i = 0; i < count; ++i) {
        QByteArray path;
        PictureChoice c;
        in >> path >> c.identity.device >> c.identity.inode >> c.identity.size >> c.identity.modifiedNs;
        if (in.status() != QDataStream::Ok || path.isEmpty())
            return std::nullopt;
        c.path = decodePath(path);
        drag.files << c;
    }
    return drag;
}

QStringList droppedLocalFiles(const QMimeData& data)
{
    QStringList files;
    const QList<QUrl> urls = data.urls();
    for (const QUrl& url : urls) {
        const QString path = localPathOf(url);
        if (!path.isEmpty())
            files << path;
    }
    return files;
}

} // namespace ztv
