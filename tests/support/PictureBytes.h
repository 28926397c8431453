#pragma once

// Byte-level builders for hand-made picture files: the tests' hostile pictures and the
// benchmark's corpus write the same fields the same way.
#include <QByteArray>
#include <QSize>
#include <QtEndian>
#include <algorithm>
#include <vector>
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

// One zlib stream at level 9, fed piece by piece; zeros(n) adds n zero bytes without holding them.
class Deflater {
public:
    Deflater() { deflateInit(&m_z, 9); }
    ~Deflater() { deflateEnd(&m_z); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    void feed(const void* data, size_t size, int flush = Z_NO_FLUSH)
    {
        m_z.next_in = static_cast<Bytef*>(const_cast<void*>(data));
        m_z.avail_in = uInt(size);
        do {
            m_z.next_out = m_buffer.data();
            m_z.avail_out = uInt(m_buffer.size());
            deflate(&m_z, flush);
            m_out.append(
                reinterpret_cast<const char*>(m_buffer.data()), qsizetype(m_buffer.size() - m_z.avail_out));
        } while (m_z.avail_out == 0);
    }
    void zeros(qint64 count)
    {
        const std::vector<unsigned char> block(1 << 20, 0);
        for (qint64 left = count; left > 0; left -= qint64(block.size()))
            feed(block.data(), size_t(std::min<qint64>(left, qint64(block.size()))));
    }
    // Ends the stream and gives all of it.
    QByteArray finish()
    {
        feed(nullptr, 0, Z_FINISH);
        return m_out;
    }

private:
    z_stream m_z {};
    std::vector<unsigned char> m_buffer = std::vector<unsigned char>(1 << 20);
    QByteArray m_out;
};

} // namespace ztv::test
