#include "imaging/GifWriter.h"
#include "imaging/Quantizer.h"

#include <QBuffer>
#include <QImageReader>
#include <QSet>
#include <QTest>
#include <cmath>

using namespace ztv;

namespace {

// Smooth colour ramps crossed by soft waves: many thousands of colours, as in a photo.
QImage photoLike(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const double fx = double(x) / size.width(), fy = double(y) / size.height();
            const int r = int(255 * fx);
            const int g = int(127.5 + 127.5 * std::sin(6.28 * (fx + fy)));
            const int b = int(255 * fy * (1 - fx / 2));
            image.setPixel(x, y, qRgb(r, g, b));
        }
    return image;
}

QImage readGif(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "gif");
    return reader.read().convertToFormat(QImage::Format_ARGB32);
}

// Mean absolute difference per channel, after averaging radius x radius blocks when radius
// > 1 (what the eye does at a normal viewing distance).
double meanError(const QImage& a, const QImage& b, int radius = 1)
{
    double sum = 0;
    int n = 0;
    for (int y = 0; y + radius <= a.height(); y += radius)
        for (int x = 0; x + radius <= a.width(); x += radius) {
            double da[3] {}, db[3] {};
            for (int j = 0; j < radius; ++j)
                for (int i = 0; i < radius; ++i) {
                    const QRgb pa = a.pixel(x + i, y + j), pb = b.pixel(x + i, y + j);
                    da[0] += qRed(pa), da[1] += qGreen(pa), da[2] += qBlue(pa);
                    db[0] += qRed(pb), db[1] += qGreen(pb), db[2] += qBlue(pb);
                }
            for (int c = 0; c < 3; ++c)
                sum += std::abs(da[c] - db[c]) / (radius * radius);
            n += 3;
        }
    return sum / n;
}

bool interlaceFlag(const QByteArray& gif)
{
    // Header 6 + screen descriptor 7 + global table, then optional extension, then ','.
    const int table = 3 << ((uchar(gif.at(10)) & 7) + 1);
    const qsizetype descriptor = gif.indexOf(',', 13 + table);
    return descriptor > 0 && (uchar(gif.at(descriptor + 9)) & 0x40);
}

} // namespace

class TestGifWriter : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void photoKeepsItsLook()
    {
        const QImage source = photoLike({ 320, 240 });
        QString error;
        const QByteArray gif = writeGif(source, false, false, &error);
        QVERIFY2(!gif.isEmpty(), qPrintable(error));
        const QImage back = readGif(gif);
        QCOMPARE(back.size(), source.size());
        const double pixelError = meanError(source, back);
        const double blockError = meanError(source, back, 4);
        qInfo("mean error per channel: %.2f per pixel, %.2f over 4x4 blocks", pixelError, blockError);
        // Per pixel, dithering trades accuracy for smoothness: a fixed 6x6x6 palette errs by
        // ~12.7, ImageMagick's 256-colour Floyd-Steinberg reduction of this picture by 7.7; a
        // fitted palette must do better than both. Over 4x4 blocks the dithering must average
        // out to nearly the source (below 2 of 255), or the picture reads as noise.
        QVERIFY(pixelError < 7.5);
        QVERIFY(blockError < 2.0);
    }

    void fewColoursKeptExactly()
    {
        QImage source(64, 16, QImage::Format_RGB32);
        for (int x = 0; x < 64; ++x)
            for (int y = 0; y < 16; ++y)
                source.setPixel(x, y, qRgb(x * 4, 255 - x * 4, (x * 37) % 256));
        const QImage back = readGif(writeGif(source, false, false, nullptr));
        for (int x = 0; x < 64; ++x)
            QCOMPARE(back.pixel(x, 7), source.pixel(x, 7));
    }

    void interlacedStoresRowsInPassOrder()
    {
        const QImage source = photoLike({ 37, 29 }); // odd height: every pass ends short
        const QByteArray plain = writeGif(source, false, false, nullptr);
        const QByteArray interlaced = writeGif(source, true, false, nullptr);
        QVERIFY(!interlaceFlag(plain));
        QVERIFY(interlaceFlag(interlaced));
        QVERIFY(plain != interlaced);
        QCOMPARE(readGif(interlaced), readGif(plain));
    }

    void transparencyKeptOrFlattenedOnWhite()
    {
        QImage source(20, 10, QImage::Format_ARGB32);
        source.fill(qRgba(200, 30, 30, 255));
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 5; ++x)
                source.setPixel(x, y, qRgba(0, 0, 0, 0));
        const QImage kept = readGif(writeGif(source, false, true, nullptr));
        QCOMPARE(qAlpha(kept.pixel(2, 2)), 0);
        QCOMPARE(kept.pixel(15, 5), qRgb(200, 30, 30));
        const QImage flat = readGif(writeGif(source, false, false, nullptr));
        QCOMPARE(flat.pixel(2, 2), qRgb(255, 255, 255));
    }

    void sizes_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("written");
        QTest::newRow("1x1") << QSize(1, 1) << true;
        QTest::newRow("1x4000") << QSize(1, 4000) << true;
        QTest::newRow("wider than GIF can hold") << QSize(70000, 1) << false;
        QTest::newRow("beyond the encoder limit") << QSize(40000, 2) << false;
    }
    void sizes()
    {
        QFETCH(QSize, size);
        QFETCH(bool, written);
        QImage source(size, QImage::Format_RGB32);
        source.fill(Qt::darkGreen);
        QString error;
        const QByteArray gif = writeGif(source, true, false, &error);
        QCOMPARE(!gif.isEmpty(), written);
        QCOMPARE(error.isEmpty(), written);
        if (written)
            QCOMPARE(readGif(gif).size(), size);
    }

    void nothingToWrite()
    {
        QString error;
        QVERIFY(writeGif(QImage(), false, false, &error).isEmpty());
        QVERIFY(!error.isEmpty());
    }

    void quantizerHonoursTheColourCount()
    {
        const QImage indexed = toIndexed8(photoLike({ 100, 80 }), 16);
        QCOMPARE(indexed.format(), QImage::Format_Indexed8);
        QVERIFY(indexed.colorCount() <= 16);
        QSet<int> used;
        for (int y = 0; y < indexed.height(); ++y)
            for (int x = 0; x < indexed.width(); ++x)
                used.insert(indexed.pixelIndex(x, y));
        QVERIFY(used.size() > 8); // the palette is spread, not collapsed
    }
};

QTEST_MAIN(TestGifWriter)
#include "tst_gifwriter.moc"
