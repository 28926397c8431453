#include "imaging/ColourReduction.h"
#include "imaging/GifWriter.h"
#include "imaging/PictureEncoder.h"

#include <QBuffer>
#include <QFileInfo>
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

// Peak signal-to-noise ratio over the three colour channels, in dB.
double psnr(const QImage& a, const QImage& b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            const int d[3] = { qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q) };
            sum += d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
        }
    const double mse = sum / (3.0 * a.width() * a.height());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// One of the real photographs the benchmark corpus is made from (lomiri-wallpapers-20.04,
// installed by scripts/install-deps.sh test), scaled to 640 pixels wide.
QImage realPhotograph()
{
    const QString path = QStringLiteral("/usr/share/backgrounds/Kleiber_by_Lukas_Baubkus.jpg");
    const QImage photo(path);
    if (photo.isNull())
        return photo;
    return photo.scaledToWidth(640, Qt::SmoothTransformation).convertToFormat(QImage::Format_RGB32);
}

QSet<QRgb> coloursOf(const QImage& image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    return colours;
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

    // The photograph through the whole GIF save (scaling aside) against the source. The
    // hand-written median cut this replaced gave 36.3 dB on it, libimagequant 39.0 dB.
    void realPhotographKeepsItsLook()
    {
        const QImage source = realPhotograph();
        if (source.isNull())
            QFAIL("the test photograph is missing: run scripts/install-deps.sh test");
        SaveOptions options;
        options.format = formats::Gif;
        const EncodeResult gif = encodePicture(source, options);
        QVERIFY2(gif.ok(), qPrintable(gif.error));
        const QImage back = readGif(gif.bytes);
        QCOMPARE(back.size(), source.size());
        const double quality = psnr(source, back);
        qInfo("real photograph %dx%d as GIF: PSNR %.2f dB", source.width(), source.height(), quality);
        QVERIFY2(quality > 38.0, qPrintable(QString::number(quality)));
    }

    void fewColoursKeptExactly_data()
    {
        QTest::addColumn<int>("colours");
        QTest::newRow("2") << 2;
        QTest::newRow("64") << 64;
        QTest::newRow("256") << 256;
    }
    void fewColoursKeptExactly()
    {
        QFETCH(int, colours);
        QImage source(colours, 16, QImage::Format_RGB32);
        for (int x = 0; x < colours; ++x)
            for (int y = 0; y < 16; ++y)
                source.setPixel(x, y, qRgb(x, 255 - (x * 7) % 256, (x * 37) % 256));
        const QByteArray gif = writeGif(source, false, false, nullptr);
        QCOMPARE(readGif(gif), source.convertToFormat(QImage::Format_ARGB32));
        // A full table whatever the count: an 8-bit file.
        QCOMPARE(uchar(gif.at(10)) & 0x87, 0x87);
    }

    // One colour more than a palette holds: the library's palette, still close.
    void justTooManyColoursStayClose()
    {
        QImage source(257, 8, QImage::Format_RGB32);
        for (int x = 0; x < 257; ++x)
            for (int y = 0; y < 8; ++y)
                source.setPixel(x, y, qRgb(x % 256, x / 2, 255 - x % 256));
        const QImage back = readGif(writeGif(source, false, false, nullptr));
        QVERIFY(coloursOf(back).size() <= 256);
        QVERIFY2(meanError(source, back) < 1.5, qPrintable(QString::number(meanError(source, back))));
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

    // Columns of alpha 0, 100, 127, 128, 200 and 255 over red: below half alpha is the one
    // transparent entry, from half up the pixel is opaque, composited onto white.
    void transparencyKeptOrFlattenedOnWhite()
    {
        const int alphas[] = { 0, 100, 127, 128, 200, 255 };
        QImage source(60, 10, QImage::Format_ARGB32);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 60; ++x)
                source.setPixel(x, y, qRgba(200, 30, 30, alphas[x / 10]));
        const QByteArray keptGif = writeGif(source, false, true, nullptr);
        const QImage kept = readGif(keptGif);
        const QImage flat = readGif(writeGif(source, false, false, nullptr));
        for (int column = 0; column < 6; ++column) {
            const int a = alphas[column];
            const QRgb onWhite = qRgb((200 * a + 255 * (255 - a) + 127) / 255,
                (30 * a + 255 * (255 - a) + 127) / 255, (30 * a + 255 * (255 - a) + 127) / 255);
            QCOMPARE(flat.pixel(column * 10 + 5, 5), onWhite);
            if (a < 128)
                QCOMPARE(qAlpha(kept.pixel(column * 10 + 5, 5)), 0);
            else
                QCOMPARE(kept.pixel(column * 10 + 5, 5), onWhite);
        }
        QVERIFY(keptGif.contains(QByteArray("\x21\xF9\x04", 3))); // the graphic control extension
    }

    // A photograph with a transparent hole goes through the library's palette: exactly the
    // pixels below half alpha are transparent, through one palette entry.
    void photoWithTransparencyHasOneTransparentEntry()
    {
        QImage source = photoLike({ 200, 120 }).convertToFormat(QImage::Format_ARGB32);
        for (int y = 30; y < 90; ++y)
            for (int x = 50; x < 150; ++x)
                source.setPixel(x, y, (source.pixel(x, y) & 0x00ffffffu) | (quint32((x * 5) % 256) << 24));
        const QImage indexed = toIndexed8(source, PaletteAlpha::Binary);
        QCOMPARE(indexed.format(), QImage::Format_Indexed8);
        int transparentEntries = 0;
        for (QRgb c : indexed.colorTable()) {
            QVERIFY(qAlpha(c) == 0 || qAlpha(c) == 255);
            transparentEntries += qAlpha(c) == 0;
        }
        QCOMPARE(transparentEntries, 1);
        const QImage back = readGif(writeGif(source, false, true, nullptr));
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width(); ++x)
                if ((qAlpha(back.pixel(x, y)) == 0) != (qAlpha(source.pixel(x, y)) < 128))
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
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

    // For a PNG palette the entries keep their partial alpha, exactly when few enough.
    void fullAlphaPaletteKeepsPartialAlpha()
    {
        QImage few(4, 1, QImage::Format_ARGB32);
        const QRgb colours[]
            = { qRgba(10, 20, 30, 0), qRgba(200, 0, 0, 60), qRgba(0, 200, 0, 200), qRgb(1, 2, 3) };
        for (int x = 0; x < 4; ++x)
            few.setPixel(x, 0, colours[x]);
        const QImage indexed = toIndexed8(few, PaletteAlpha::Full);
        QCOMPARE(indexed.pixel(1, 0), colours[1]);
        QCOMPARE(indexed.pixel(2, 0), colours[2]);
        QCOMPARE(qAlpha(indexed.pixel(0, 0)), 0);

        QImage many = photoLike({ 120, 60 }).convertToFormat(QImage::Format_ARGB32);
        for (int x = 0; x < 120; ++x)
            many.setPixel(x, 0, (many.pixel(x, 0) & 0x00ffffffu) | 0x80000000u);
        const QImage reduced = toIndexed8(many, PaletteAlpha::Full);
        QVERIFY(reduced.colorCount() <= 256);
        QVERIFY(std::abs(qAlpha(reduced.pixel(60, 0)) - 128) <= 8);
        QCOMPARE(qAlpha(reduced.pixel(60, 30)), 255);
    }
};

QTEST_MAIN(TestGifWriter)
#include "tst_gifwriter.moc"
