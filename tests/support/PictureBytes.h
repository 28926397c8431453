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

inline QByteArray be16(quint16 v)
{
    char b[2];
    qToBigEndian(v, b);
    return QByteArray(b, 2);
}

// An ISO base media box; with large, its size is written in 64 bits (size field 1).
inline QByteArray bmffBox(const char* type, const QByteArray& body, bool large = false)
{
    if (large)
        return be32(1) + QByteArray(type, 4) + be32(0) + be32(quint32(body.size() + 16)) + body;
    return be32(quint32(body.size() + 8)) + QByteArray(type, 4) + body;
}

inline QByteArray bmffFullBox(
    const char* type, int version, quint32 flags, const QByteArray& body, bool large = false)
{
    return bmffBox(type, be32(quint32(version) << 24 | (flags & 0xFFFFFF)) + body, large);
}

// The body of the first box of type found in [from, to) of bytes, descending into the boxes
// named in path first; empty when there is none.
inline QByteArray bmffFind(
    const QByteArray& bytes, const std::vector<QByteArray>& path, qsizetype from = 0, qsizetype to = -1)
{
    if (to < 0)
        to = bytes.size();
    for (qsizetype at = from; at + 8 <= to;) {
        const qsizetype size = qFromBigEndian<quint32>(bytes.constData() + at);
        if (size < 8 || at + size > to)
            return {};
        if (bytes.mid(at + 4, 4) == path.front()) {
            if (path.size() == 1)
                return bytes.mid(at + 8, size - 8);
            // meta is a full box: its children follow its version and flags.
            const qsizetype body = at + 8 + (path.front() == "meta" ? 4 : 0);
            return bmffFind(bytes, std::vector<QByteArray>(path.begin() + 1, path.end()), body, at + size);
        }
        at += size;
    }
    return {};
}

// How a crafted grid is written: the meta box and its item boxes with 64-bit sizes, the item
// boxes' versions (iinf 0 or 1, iloc 1 or 2).
struct HeifGridLayout {
    bool largeSizes = false;
    int iinfVersion = 0;
    int ilocVersion = 1;
};

// A HEIF file whose primary image is a grid of columns x rows tiles, each the one coded image
// of single (a file as heif-enc writes it from a picture, without a thumbnail: its mdat holds
// that image alone), all tiles sharing its bytes; empty when single is not such a file.
inline QByteArray heifGrid(const QByteArray& single, int columns, int rows, HeifGridLayout layout = {})
{
    const QByteArray hvcC = bmffFind(single, { "meta", "iprp", "ipco", "hvcC" });
    const QByteArray ispe = bmffFind(single, { "meta", "iprp", "ipco", "ispe" });
    const QByteArray tile = bmffFind(single, { "mdat" });
    if (hvcC.isEmpty() || ispe.size() != 12 || tile.isEmpty() || columns < 1 || rows < 1 || columns > 256
        || rows > 256)
        return {};
    const quint32 tileWidth = qFromBigEndian<quint32>(ispe.constData() + 4);
    const quint32 tileHeight = qFromBigEndian<quint32>(ispe.constData() + 8);
    const int tiles = columns * rows;
    const bool large = layout.largeSizes;
    // Item 1 is the grid, items 2.. the tiles, hidden.
    QByteArray entries;
    for (int id = 1; id <= tiles + 1; ++id)
        entries += bmffFullBox("infe", 2, id == 1 ? 0 : 1,
            be16(quint16(id)) + be16(0) + QByteArray(id == 1 ? "grid" : "hvc1", 4) + QByteArray(1, '\0'));
    const QByteArray iinf = bmffFullBox("iinf", layout.iinfVersion, 0,
        (layout.iinfVersion == 0 ? be16(quint16(tiles + 1)) : be32(quint32(tiles + 1))) + entries, large);
    QByteArray dimg = be16(1) + be16(quint16(tiles));
    for (int id = 2; id <= tiles + 1; ++id)
        dimg += be16(quint16(id));
    const QByteArray iref = bmffFullBox("iref", 0, 0, bmffBox("dimg", dimg));
    const QByteArray ipco = bmffBox("ipco",
        bmffBox("hvcC", hvcC) + bmffFullBox("ispe", 0, 0, ispe.mid(4))
            + bmffFullBox(
                "ispe", 0, 0, be32(tileWidth * quint32(columns)) + be32(tileHeight * quint32(rows))));
    QByteArray associations = be32(quint32(tiles + 1)) + be16(1) + QByteArray(1, 1) + QByteArray(1, 3);
    for (int id = 2; id <= tiles + 1; ++id)
        associations += be16(quint16(id)) + QByteArray(1, 2) + QByteArray(1, char(0x81)) + QByteArray(1, 2);
    const QByteArray iprp = bmffBox("iprp", ipco + bmffFullBox("ipma", 0, 0, associations));
    const QByteArray gridData = QByteArray(1, 0) + QByteArray(1, 0) + QByteArray(1, char(rows - 1))
        + QByteArray(1, char(columns - 1)) + be16(quint16(tileWidth * quint32(columns)))
        + be16(quint16(tileHeight * quint32(rows)));
    const QByteArray ftyp = bmffBox("ftyp", QByteArray("heic") + be32(0) + "mif1heic");
    const QByteArray hdlr = bmffFullBox("hdlr", 0, 0, be32(0) + "pict" + QByteArray(13, '\0'));
    const QByteArray pitm = bmffFullBox("pitm", 0, 0, be16(1));
    auto meta = [&](quint32 mdatData) {
        QByteArray items = be16(quint16(tiles + 1));
        if (layout.ilocVersion == 2)
            items = be32(quint32(tiles + 1));
        for (int id = 1; id <= tiles + 1; ++id) {
            items += (layout.ilocVersion == 2 ? be32(quint32(id)) : be16(quint16(id))) + be16(0) + be16(0)
                + be16(1);
            items += id == 1 ? be32(mdatData) + be32(quint32(gridData.size()))
                             : be32(mdatData + quint32(gridData.size())) + be32(quint32(tile.size()));
        }
        const QByteArray iloc = bmffFullBox(
            "iloc", layout.ilocVersion, 0, QByteArray(1, 0x44) + QByteArray(1, 0) + items, large);
        return bmffFullBox("meta", 0, 0, hdlr + pitm + iloc + iinf + iref + iprp, large);
    };
    const qsizetype metaSize = meta(0).size();
    const quint32 mdatData = quint32(ftyp.size() + metaSize + 8);
    return ftyp + meta(mdatData) + bmffBox("mdat", gridData + tile);
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
