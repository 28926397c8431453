#include "RawBuilder.h"

#include <QtEndian>

#include <algorithm>
#include <vector>

namespace ztv::test {

namespace {

struct Entry {
    quint16 tag;
    quint16 type; // 1 BYTE, 2 ASCII, 3 SHORT, 4 LONG, 5 RATIONAL, 10 SRATIONAL
    quint32 count;
    QByteArray value; // little-endian bytes; placed inline when 4 bytes or fewer
};

Entry shortEntry(quint16 tag, std::initializer_list<quint16> values)
{
    QByteArray v;
    for (quint16 x : values) {
        char b[2];
        qToLittleEndian(x, b);
        v.append(b, 2);
    }
    return { tag, 3, quint32(values.size()), v };
}

Entry longEntry(quint16 tag, quint32 value)
{
    char b[4];
    qToLittleEndian(value, b);
    return { tag, 4, 1, QByteArray(b, 4) };
}

Entry asciiEntry(quint16 tag, const char* text)
{
    const QByteArray v = QByteArray(text) + '\0';
    return { tag, 2, quint32(v.size()), v };
}

Entry bytesEntry(quint16 tag, std::initializer_list<quint8> values)
{
    QByteArray v;
    for (quint8 x : values)
        v.append(char(x));
    return { tag, 1, quint32(values.size()), v };
}

Entry rationalEntry(quint16 tag, quint16 type, std::initializer_list<std::pair<qint32, qint32>> values)
{
    QByteArray v;
    for (const auto& [n, d] : values) {
        char b[8];
        qToLittleEndian(n, b);
        qToLittleEndian(d, b + 4);
        v.append(b, 8);
    }
    return { tag, type, quint32(values.size()), v };
}

// Appends a directory at the end of out (entries sorted by tag), its long values after it.
// Gives the directory's offset.
quint32 appendIfd(QByteArray& out, std::vector<Entry> entries)
{
    if (out.size() % 2)
        out.append('\0');
    const quint32 at = quint32(out.size());
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
    const quint32 tableSize = 2 + 12 * quint32(entries.size()) + 4;
    quint32 extra = at + tableSize;
    QByteArray table, values;
    char b[4];
    qToLittleEndian(quint16(entries.size()), b);
    table.append(b, 2);
    for (const Entry& e : entries) {
        qToLittleEndian(e.tag, b);
        table.append(b, 2);
        qToLittleEndian(e.type, b);
        table.append(b, 2);
        qToLittleEndian(e.count, b);
        table.append(b, 4);
        if (e.value.size() <= 4) {
            table.append(e.value.leftJustified(4, '\0', true));
        } else {
            qToLittleEndian(extra + quint32(values.size()), b);
            table.append(b, 4);
            values.append(e.value);
            if (values.size() % 2)
                values.append('\0');
        }
    }
    table.append(QByteArray(4, '\0')); // no next directory
    out.append(table).append(values);
    return at;
}

void patchLong(QByteArray& out, quint32 offsetOfValue, quint32 value)
{
    qToLittleEndian(value, out.data() + offsetOfValue);
}

// Where a directory's inline value for tag lies.
quint32 valueOffset(const QByteArray& out, quint32 ifd, quint16 tag)
{
    const quint16 count = qFromLittleEndian<quint16>(out.constData() + ifd);
    for (quint32 i = 0; i < count; ++i) {
        const quint32 e = ifd + 2 + 12 * i;
        if (qFromLittleEndian<quint16>(out.constData() + e) == tag)
            return e + 8;
    }
    qFatal("tag %x not written", tag);
}

} // namespace

QByteArray dng(const DngSpec& spec)
{
    QByteArray out("II*\0\0\0\0\0", 8);
    const int w = spec.sensorSize.width(), h = spec.sensorSize.height();
    // Sensor data: a mid-grey scene through an RGGB filter, 12 bits in 16.
    const qint64 claimed = qint64(w) * h * 2;
    const qint64 written = spec.sensorBytesWritten < 0 ? claimed : std::min(claimed, spec.sensorBytesWritten);
    QByteArray sensor;
    sensor.reserve(qsizetype(written));
    for (int y = 0; y < h && sensor.size() < written; ++y) {
        for (int x = 0; x < w && sensor.size() < written; ++x) {
            const bool green = (x + y) % 2 == 1;
            const quint16 v = quint16(green ? 1800 : 1200 + (x * 8));
            char b[2];
            qToLittleEndian(v, b);
            sensor.append(b, 2);
        }
    }
    std::vector<Entry> raw {
        longEntry(0x00FE, 0),
        longEntry(0x0100, quint32(w)),
        longEntry(0x0101, quint32(h)),
        shortEntry(0x0102, { 16 }),
        shortEntry(0x0103, { 1 }),
        shortEntry(0x0106, { 32803 }),
        longEntry(0x0111, 0),
        shortEntry(0x0115, { 1 }),
        longEntry(0x0116, quint32(h)),
        longEntry(0x0117, quint32(std::min<qint64>(claimed, 0xFFFFFFFFLL))),
        shortEntry(0x828D, { 2, 2 }),
        bytesEntry(0x828E, { 0, 1, 1, 2 }),
        longEntry(0xC61D, 4095),
    };
    const bool preview = !spec.previewJpeg.isEmpty();
    std::vector<Entry> first {
        longEntry(0x00FE, preview ? 1 : 0),
        asciiEntry(0x010F, "Zentovi"),
        asciiEntry(0x0110, "Test Camera"),
        shortEntry(0x0112, { quint16(spec.orientation) }),
        longEntry(0x014A, 0),
        bytesEntry(0xC612, { 1, 4, 0, 0 }),
        bytesEntry(0xC613, { 1, 1, 0, 0 }),
        asciiEntry(0xC614, "Zentovi Test Camera"),
        rationalEntry(0xC621, 10,
            { { 1, 1 }, { 0, 1 }, { 0, 1 }, { 0, 1 }, { 1, 1 }, { 0, 1 }, { 0, 1 }, { 0, 1 }, { 1, 1 } }),
        rationalEntry(0xC628, 5, { { 1, 1 }, { 1, 1 }, { 1, 1 } }),
        shortEntry(0xC65A, { 21 }),
    };
    if (preview) {
        first.push_back(longEntry(0x0100, quint32(spec.previewSize.width())));
        first.push_back(longEntry(0x0101, quint32(spec.previewSize.height())));
        first.push_back(shortEntry(0x0102, { 8, 8, 8 }));
        first.push_back(shortEntry(0x0103, { 7 }));
        first.push_back(shortEntry(0x0106, { 6 }));
        first.push_back(longEntry(0x0111, 0));
        first.push_back(shortEntry(0x0115, { 3 }));
        first.push_back(longEntry(0x0116, quint32(spec.previewSize.height())));
        first.push_back(longEntry(
            0x0117, spec.previewLengthField ? spec.previewLengthField : quint32(spec.previewJpeg.size())));
    }
    const quint32 ifd0 = appendIfd(out, first);
    patchLong(out, 4, ifd0);
    const quint32 sub = appendIfd(out, raw);
    patchLong(out, valueOffset(out, ifd0, 0x014A), sub);
    if (preview) {
        patchLong(out, valueOffset(out, ifd0, 0x0111), quint32(out.size()));
        out.append(spec.previewJpeg);
    }
    if (out.size() % 2)
        out.append('\0');
    patchLong(out, valueOffset(out, sub, 0x0111),
        spec.sensorOffsetField ? spec.sensorOffsetField : quint32(out.size()));
    out.append(sensor);
    return out;
}

} // namespace ztv::test
