#pragma once

// Byte-level builders for hand-made picture files: the tests' hostile pictures and the
// benchmark's corpus write the same fields the same way.
#include <QByteArray>
#include <QSize>
#include <QtEndian>
#include <zlib.h>

namespace ztv::test {

inline QByteArray be32(quint32 v)
{
    char b[4];
    qToBigEndian(v, b);
    return QByteArray(b, 4);
}

// A PNG chunk: length, type, data and the CRC over type and data.
inline QByteArray pngChunk(const char* type, const QByteArray& data)
{
    const QByteArray body = QByteArray(type, 4) + data;
    return be32(quint32(data.size())) + body
        + be32(quint32(::crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))));
}

// A HEIF file with each image-size property that gives from (primary or thumbnail) rewritten
// to claim to; empty when none gives from.
inline QByteArray heifIspe(QByteArray bytes, QSize from, QSize to)
{
    const QByteArray was = be32(quint32(from.width())) + be32(quint32(from.height()));
    int found = 0;
    for (qsizetype at = bytes.indexOf("ispe"); at >= 0 && at + 16 <= bytes.size();
         at = bytes.indexOf("ispe", at + 4)) {
        if (bytes.mid(at + 8, 8) != was)
            continue;
        bytes.replace(at + 8, 8, be32(quint32(to.width())) + be32(quint32(to.height())));
        ++found;
    }
    return found ? bytes : QByteArray();
}

} // namespace ztv::test
