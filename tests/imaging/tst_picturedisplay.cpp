#include "StorageBuilder.h"
#include "imaging/PictureDisplay.h"
#include "imaging/PictureFormats.h"
#include "platform/FaultInjection.h"
#include "platform/FileOps.h"

#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QImageReader>
#include <QImageWriter>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QtEndian>

using namespace ztv;
namespace pics = ztv::test::pictures;

namespace {

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

quint32 crc32(const QByteArray& bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (char c : bytes) {
        crc ^= uchar(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A PNG whose header claims width x height, followed by no picture data.
QByteArray pngHeaderClaiming(quint32 width, quint32 height)
{
    QByteArray ihdr("IHDR");
    char be[4];
    qToBigEndian(width, be);
    ihdr.append(be, 4);
    qToBigEndian(height, be);
    ihdr.append(be, 4);
    ihdr.append("\x08\x06\x00\x00\x00", 5); // 8-bit RGBA
    QByteArray bytes("\x89PNG\r\n\x1a\n", 8);
    qToBigEndian(quint32(13), be);
    bytes.append(be, 4);
    bytes.append(ihdr);
    qToBigEndian(crc32(ihdr), be);
    bytes.append(be, 4);
    return bytes;
}

QImage gradient(QSize size, bool withAlpha = false)
{
    QImage image(size, withAlpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y,
                qRgba(x * 255 / size.width(), y * 255 / size.height(), 128,
                    withAlpha && x < size.width() / 2 ? 0 : 255));
    return image;
}

int maxChannelDifference(QRgb a, QRgb b)
{
    return std::max(
        { std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b)) });
}

// Bits per pixel as the file's own header states them: BMP's biBitCount, PNG's bit depth
// times its channels, JPEG's precision times its components, GIF's colour table size.
int bitsPerPixel(const QByteArray& file)
{
    auto u8 = [&file](qsizetype i) { return i < file.size() ? int(uchar(file.at(i))) : -1; };
    if (file.startsWith("BM"))
        return u8(28) | (u8(29) << 8);
    if (file.startsWith("\x89PNG")) {
        const int channels[] = { 1, 0, 3, 1, 2, 0, 4 };
        return u8(25) >= 0 && u8(25) <= 6 ? u8(24) * channels[u8(25)] : -1;
    }
    if (file.startsWith("GIF"))
        return (u8(10) & 0x80) ? (u8(10) & 7) + 1 : -1;
    if (file.startsWith("\xFF\xD8")) {
        for (qsizetype i = 2; i + 9 < file.size(); ++i)
            if (u8(i) == 0xFF && (u8(i + 1) == 0xC0 || u8(i + 1) == 0xC2))
                return u8(i + 4) * u8(i + 9);
    }
    return -1;
}

// A few flat colours: what a diagram or a screenshot of a dialog holds.
QImage fewColours(QSize size, int colours)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const int i = (x * colours / size.width());
            image.setPixel(x, y, qRgb(40 * i % 256, 255 - 60 * i % 256, 90));
        }
    return image;
}

// FileOps whose writes always fail, as a full disk would.
class FailingWrites : public FileOps {
public:
    FileResult makeDirectory(const QString&) override { return {}; }
    FileResult removeEmptyDirectory(const QString&) override { return {}; }
    FileResult removeFile(const QString&) override { return {}; }
    FileResult moveNoReplace(const QString&, const QString&) override { return {}; }
    FileResult copyNoReplace(const QString&, const QString&) override { return {}; }
    FileResult writeFile(const QString&, const QByteArray&, bool) override
    {
        return { FileError::NoSpace, QStringLiteral("disk full") };
    }
};

} // namespace

class TestPictureDisplay : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { QGuiApplication::clipboard()->clear(); }

    void loadTurnsByExifOrientation()
    {
        QTemporaryDir dir;
        PictureDisplay display;
        QVERIFY(
            display.LoadPicture(writeFile(dir, QStringLiteral("cam.jpg"), pics::halvesJpeg({ 80, 40 }, 6))));
        const QImage image = display.picture();
        QCOMPARE(image.size(), QSize(40, 80));
        // Orientation 6 turns the picture clockwise: the black left half ends on top.
        QVERIFY(qGray(image.pixel(20, 10)) < 40);
        QVERIFY(qGray(image.pixel(20, 70)) > 215);
        QCOMPARE(display.sourcePath(), QFileInfo(dir.filePath(QStringLiteral("cam.jpg"))).absoluteFilePath());
    }

    // A file that cannot be sought (an archive's member seen as a stream) is read once into
    // memory and decoded from there, turned as its header says.
    void loadOfAStream()
    {
        QTemporaryDir dir;
        PictureDisplay display;
        faults::reset(); // counts from here
        faults::arm(faults::Op::Seek, 1, ESPIPE);
        const bool loaded
            = display.LoadPicture(writeFile(dir, QStringLiteral("cam.jpg"), pics::halvesJpeg({ 80, 40 }, 6)));
        const int probes = faults::calls(faults::Op::Seek);
        faults::reset();
        QVERIFY(loaded && probes == 1);
        QCOMPARE(display.picture().size(), QSize(40, 80));
    }

    void loadFailuresKeepThePicture_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("name");
        QTest::newRow("corrupt jpeg") << pics::corrupt() << QStringLiteral("broken.jpg");
        QTest::newRow("text") << QByteArray("not a picture\n") << QStringLiteral("notes.txt");
        QTest::newRow("zero bytes") << QByteArray() << QStringLiteral("empty.png");
        QTest::newRow("png claiming 60000x60000")
            << pngHeaderClaiming(60000, 60000) << QStringLiteral("huge.png");
        QTest::newRow("truncated png") << pics::png({ 50, 50 }).left(60) << QStringLiteral("cut.png");
    }
    void loadFailuresKeepThePicture()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, name);
        QTemporaryDir dir;
        PictureDisplay display;
        QVERIFY(display.LoadPicture(writeFile(dir, QStringLiteral("ok.png"), pics::png({ 7, 5 }))));
        QVERIFY(!display.LoadPicture(writeFile(dir, name, bytes)));
        QVERIFY(!display.lastError().isEmpty());
        QCOMPARE(display.picture().size(), QSize(7, 5));
    }

    // A picture that takes a while to decode (24 M pixels, which Qt reads whole) is decoded
    // off the window's thread: a zero timer keeps firing meanwhile.
    void largeLoadKeepsTheEventsRunning()
    {
        QTemporaryDir dir;
        QImage big(6000, 4000, QImage::Format_RGB32);
        for (int y = 0; y < big.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(big.scanLine(y));
            for (int x = 0; x < big.width(); ++x)
                line[x] = qRgb(x % 251, y % 241, (x ^ y) % 239);
        }
        const QString path = dir.filePath(QStringLiteral("big.png"));
        QImageWriter writer(path, "png");
        writer.setCompression(1);
        QVERIFY(writer.write(big));
        big = QImage();
        PictureDisplay display;
        int passes = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&] { ++passes; });
        timer.start(0);
        QVERIFY(display.LoadPicture(path));
        timer.stop();
        QVERIFY2(passes > 0, "the window's thread decoded it");
        QVERIFY(display.hasPicture());
        QCOMPARE(display.picture().width() * 2, display.picture().height() * 3 + 2); // 2560 x 1706
        QVERIFY(!QGuiApplication::overrideCursor());
    }

    void loadRefusesWhatIsNotAFile()
    {
        QTemporaryDir dir;
        PictureDisplay display;
        QVERIFY(!display.LoadPicture(dir.path()));
        QVERIFY(!display.LoadPicture(dir.filePath(QStringLiteral("missing.jpg"))));
        QVERIFY(!display.hasPicture());
    }

    void largeJpegDecodedScaledDown()
    {
        // A real 4800 x 3600 camera JPEG, turned by EXIF: decoded at the display's bound, upright.
        QTemporaryDir dir;
        const QString path
            = writeFile(dir, QStringLiteral("big.jpg"), pics::jpeg({ 4800, 3600 }, Qt::darkCyan, 6));
        PictureDisplay display;
        display.resize(200, 150);
        QVERIFY(display.LoadPicture(path));
        QCOMPARE(display.picture().size(), QSize(1536, 2048));
        QVERIFY(maxChannelDifference(display.picture().pixel(1000, 700), QColor(Qt::darkCyan).rgb()) < 8);
    }

    void fittedAndCentredInModeThree()
    {
        PictureDisplay display;
        display.resize(100, 100);
        QImage red(200, 100, QImage::Format_RGB32);
        red.fill(Qt::red);
        display.setPicture(red);
        display.setDisplayScaleMode(3);
        QCOMPARE(display.pictureRect(), QRect(0, 25, 100, 50));
        const QImage shot = display.grab().toImage();
        QCOMPARE(shot.pixelColor(50, 50), QColor(Qt::red));
        QVERIFY(shot.pixelColor(50, 10) != QColor(Qt::red));
        display.setDisplayScaleMode(0);
        QCOMPARE(display.pictureRect(), QRect(0, 0, 200, 100));
    }

    void clipboardRoundTrip()
    {
        QTemporaryDir dir;
        PictureDisplay source, target;
        QVERIFY(
            source.LoadPicture(writeFile(dir, QStringLiteral("p.png"), pics::png({ 30, 20 }, Qt::magenta))));
        source.CopyPictureToClipboard(PictureDisplay::ClipboardCopy::Picture);
        QVERIFY(QGuiApplication::clipboard()->mimeData()->urls().isEmpty());
        QVERIFY(target.PastePicture(PictureDisplay::Paste::TestOnly));
        QVERIFY(!target.hasPicture()); // the test pastes nothing
        QVERIFY(target.PastePicture(PictureDisplay::Paste::Picture));
        QCOMPARE(target.picture().size(), QSize(30, 20));
        QCOMPARE(target.picture().pixelColor(5, 5), QColor(Qt::magenta));
        QVERIFY(target.sourcePath().isEmpty());

        source.CopyPictureToClipboard(
            PictureDisplay::ClipboardCopy::PictureAndFile); // the vault's copy also names the file
        const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
        QCOMPARE(mime->urls(), QList<QUrl> { QUrl::fromLocalFile(source.sourcePath()) });
        QVERIFY(mime->hasImage());
    }

    void pasteOfferedPictureBytes()
    {
        // What a browser or an image editor offers: the encoded file under its MIME type.
        auto* mime = new QMimeData;
        mime->setData(QStringLiteral("image/bmp"), pics::bmp({ 9, 4 }, Qt::yellow));
        QGuiApplication::clipboard()->setMimeData(mime);
        PictureDisplay display;
        QVERIFY(display.PastePicture(PictureDisplay::Paste::TestOnly));
        QVERIFY(display.PastePicture(PictureDisplay::Paste::Picture));
        QCOMPARE(display.picture().size(), QSize(9, 4));
        QCOMPARE(display.picture().pixelColor(1, 1), QColor(Qt::yellow));
    }

    void pasteWithoutPictureChangesNothing()
    {
        PictureDisplay display;
        display.setPicture(gradient({ 8, 8 }));
        QVERIFY(!display.PastePicture(PictureDisplay::Paste::TestOnly)); // empty clipboard
        QGuiApplication::clipboard()->setText(QStringLiteral("文字だけ"));
        QVERIFY(!display.PastePicture(PictureDisplay::Paste::TestOnly));
        QVERIFY(!display.PastePicture(PictureDisplay::Paste::Picture));
        QCOMPARE(display.lastError(), QStringLiteral("クリップボードにデータがありません。"));
        QCOMPARE(display.picture().size(), QSize(8, 8));
        display.ClearPicture();
        display.CopyPictureToClipboard(
            PictureDisplay::ClipboardCopy::Picture); // nothing held: the clipboard keeps its text
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("文字だけ"));
    }

    // The colour is what a save that drops transparency puts there; applying it changes what
    // is shown, never the held picture's alpha.
    void colourOptionShowsAndFlattens()
    {
        QTemporaryDir dir;
        PictureDisplay display;
        display.resize(20, 10);
        const QImage source = gradient({ 20, 10 }, true);
        display.setPicture(source);
        display.setColourOption(Qt::red);
        display.ApplyColourOption(); // not enabled: nothing happens
        QVERIFY(display.grab().toImage().pixel(2, 2) != qRgb(255, 0, 0));
        display.setColourOptionEnabled(true);
        display.ApplyColourOption();
        QCOMPARE(display.picture(), source);
        QCOMPARE(display.grab().toImage().pixel(2, 2), qRgb(255, 0, 0));
        const QString path = dir.filePath(QStringLiteral("c.png"));
        QVERIFY(display.SavePicture(path, formats::Png, 24, 0, false));
        QCOMPARE(QImage(path).pixel(2, 2), qRgb(255, 0, 0));
        QCOMPARE(QImage(path).pixel(15, 5), source.pixel(15, 5));
        QVERIFY(display.SavePicture(path, formats::Png, 32, 0, true));
        QCOMPARE(qAlpha(QImage(path).pixel(2, 2)), 0);
    }

    void saveEachFormatReadsBack_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("bits");
        QTest::addColumn<QByteArray>("qtFormat");
        QTest::addColumn<int>("tolerance");
        QTest::newRow("bmp 24") << formats::Bmp << 24 << QByteArray("bmp") << 0;
        QTest::newRow("bmp 8") << formats::Bmp << 8 << QByteArray("bmp") << 40;
        QTest::newRow("jpeg") << formats::Jpeg << 0 << QByteArray("jpeg") << 12;
        QTest::newRow("png 32") << formats::Png << 32 << QByteArray("png") << 0;
        QTest::newRow("png 24") << formats::Png << 24 << QByteArray("png") << 0;
        QTest::newRow("png 8") << formats::Png << 8 << QByteArray("png") << 40;
        QTest::newRow("gif") << formats::Gif << 0 << QByteArray("gif") << 40;
    }
    void saveEachFormatReadsBack()
    {
        QFETCH(int, format);
        QFETCH(int, bits);
        QFETCH(QByteArray, qtFormat);
        QFETCH(int, tolerance);
        QTemporaryDir dir;
        PictureDisplay display;
        const QImage source = gradient({ 64, 48 });
        display.setPicture(source);
        const QString path = dir.filePath(
            QStringLiteral("out.") + QString::fromLatin1(formats::formatInfo(format)->extension));
        QVERIFY2(display.SavePicture(path, format, bits, 0, false), qPrintable(display.lastError()));
        QImageReader reader(path);
        reader.setDecideFormatFromContent(true);
        QCOMPARE(reader.format(), qtFormat);
        const QImage back = reader.read();
        QCOMPARE(back.size(), source.size());
        for (const QPoint p : { QPoint(0, 0), QPoint(63, 47), QPoint(31, 24) })
            QVERIFY2(maxChannelDifference(back.pixel(p), source.pixel(p)) <= tolerance,
                qPrintable(QString::number(p.x())));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList { QFileInfo(path).fileName() });
    }

    // Every format and depth the save dialog offers, for a picture of two colours, of a few,
    // of many and with transparency: the file holds the depth asked for (Qt alone would store
    // an 8-bit BMP of 16 colours or fewer in 4 bits, and a GIF's table by its colour count).
    void savedDepthIsTheRequestedOne_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("bits");
        QTest::addColumn<QImage>("picture");
        QTest::addColumn<bool>("exact"); // the colours must come back unchanged
        const QList<std::pair<const char*, QImage>> pictures {
            { "2 colours", fewColours({ 40, 30 }, 2) },
            { "5 colours", fewColours({ 40, 30 }, 5) },
            { "gradient", gradient({ 40, 30 }) },
            { "transparent", gradient({ 40, 30 }, true) },
        };
        for (const formats::FormatInfo& info : formats::kFormats)
            for (int bits : info.bits)
                for (const auto& [name, picture] : pictures) {
                    const bool exact
                        = bits >= 8 && info.code != formats::Jpeg && QByteArray(name).contains("colours");
                    QTest::newRow(qPrintable(QStringLiteral("%1 %2, %3")
                                                 .arg(QLatin1String(info.name))
                                                 .arg(bits)
                                                 .arg(QLatin1String(name))))
                        << info.code << bits << picture << exact;
                }
    }
    void savedDepthIsTheRequestedOne()
    {
        QFETCH(int, format);
        QFETCH(int, bits);
        QFETCH(QImage, picture);
        QFETCH(bool, exact);
        QTemporaryDir dir;
        PictureDisplay display;
        display.setPicture(picture);
        const QString path = dir.filePath(QStringLiteral("d"));
        const QString extended = dir.filePath(QStringLiteral("e"));
        QVERIFY2(display.SavePicture(path, format, bits, 90, true), qPrintable(display.lastError()));
        QVERIFY(display.SavePictureWithOptions(extended, format, bits, 90, 20, 20,
            PictureDisplay::SaveInterlaced | PictureDisplay::SaveKeepTransparency));
        for (const QString& file : { path, extended }) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(bitsPerPixel(f.readAll()), bits);
        }
        if (exact)
            QCOMPARE(QImage(path).convertToFormat(QImage::Format_RGB32), picture);
    }

    void jpegQualityHonoured()
    {
        QTemporaryDir dir;
        PictureDisplay display;
        display.setPicture(gradient({ 200, 150 }));
        const QString low = dir.filePath(QStringLiteral("low.jpg")),
                      high = dir.filePath(QStringLiteral("high.jpg"));
        QVERIFY(display.SavePicture(low, formats::Jpeg, 24, 20, false));
        QVERIFY(display.SavePicture(high, formats::Jpeg, 24, 98, false));
        QVERIFY(QFileInfo(high).size() > 2 * QFileInfo(low).size());
    }

    void transparencyFlattenedOrKept()
    {
        QTemporaryDir dir;
        PictureDisplay display;
        display.setPicture(gradient({ 20, 10 }, true));
        const QString jpg = dir.filePath(QStringLiteral("t.jpg")),
                      png = dir.filePath(QStringLiteral("t.png"));
        QVERIFY(display.SavePicture(jpg, formats::Jpeg, 24, 90, true)); // JPEG cannot keep it
        QVERIFY(maxChannelDifference(QImage(jpg).pixel(2, 5), qRgb(255, 255, 255)) < 10); // white, not black
        QVERIFY(display.SavePicture(png, formats::Png, 32, 0, true));
        QCOMPARE(qAlpha(QImage(png).pixel(2, 5)), 0);
        QVERIFY(display.SavePicture(png, formats::Png, 32, 0, false));
        QCOMPARE(QImage(png).pixel(2, 5), qRgb(255, 255, 255));
    }

    void extendedSaveScalesAndInterlaces()
    {
        QTemporaryDir dir;
        PictureDisplay display;
        display.setPicture(gradient({ 200, 100 }));
        const QString plain = dir.filePath(QStringLiteral("plain.jpg")),
                      ext = dir.filePath(QStringLiteral("ext.jpg"));
        QVERIFY(display.SavePicture(plain, formats::Jpeg, 24, 85, false));
        QVERIFY(display.SavePictureWithOptions(
            ext, formats::Jpeg, 24, 85, 80, 80, PictureDisplay::SaveInterlaced));
        QCOMPARE(QImageReader(ext).size(), QSize(80, 40)); // fitted, aspect kept
        auto progressive = [](const QString& path) {
            QFile f(path);
            f.open(QIODevice::ReadOnly);
            return f.readAll().contains("\xFF\xC2"); // SOF2, the progressive frame
        };
        QVERIFY(progressive(ext));
        QVERIFY(!progressive(plain));

        const QString gif = dir.filePath(QStringLiteral("ext.gif"));
        QVERIFY(display.SavePictureWithOptions(gif, formats::Gif, 8, 0, 50, 50, 1));
        QImageReader gifReader(gif);
        QCOMPARE(gifReader.size(), QSize(50, 25));
        const QByteArray bytes = [&] {
            QFile f(gif);
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        }();
        const qsizetype descriptor = bytes.indexOf(',', 13 + 3 * 256);
        QVERIFY(descriptor > 0 && (uchar(bytes.at(descriptor + 9)) & 0x40)); // interlace flag
    }

    // A size above the picture's leaves it as it is (a 200 x 100 paste saved at 800 stays
    // 200 x 100), and the transparency bit keeps alpha where the format holds it.
    void extendedSaveNeverEnlargesAndKeepsTransparency_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("bits");
        QTest::addColumn<bool>("canKeep");
        QTest::newRow("png 32") << formats::Png << 32 << true;
        QTest::newRow("png 8") << formats::Png << 8 << true;
        QTest::newRow("gif") << formats::Gif << 8 << true;
        QTest::newRow("png 24") << formats::Png << 24 << false;
        QTest::newRow("bmp 24") << formats::Bmp << 24 << false;
    }
    void extendedSaveNeverEnlargesAndKeepsTransparency()
    {
        QFETCH(int, format);
        QFETCH(int, bits);
        QFETCH(bool, canKeep);
        QTemporaryDir dir;
        PictureDisplay display;
        display.setPicture(gradient({ 200, 100 }, true));
        const QString path = dir.filePath(QStringLiteral("e"));
        for (const float size : { 800.0f, 1e9f, 200.0f }) {
            QVERIFY(display.SavePictureWithOptions(
                path, format, bits, 0, size, size, PictureDisplay::SaveKeepTransparency));
            QCOMPARE(QImageReader(path).size(), QSize(200, 100));
        }
        const QImage kept(path);
        QCOMPARE(qAlpha(kept.pixel(10, 50)), canKeep ? 0 : 255);
        QCOMPARE(qAlpha(kept.pixel(190, 50)), 255);
        QVERIFY(display.SavePictureWithOptions(path, format, bits, 0, 100, 100, 0));
        const QImage flat(path);
        QCOMPARE(flat.size(), QSize(100, 50));
        QVERIFY(maxChannelDifference(flat.pixel(10, 25), qRgb(255, 255, 255)) < 8);
        QCOMPARE(qAlpha(flat.pixel(10, 25)), 255);
    }

    void extendedPngInterlaced_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<bool>("keep");
        QTest::newRow("32, transparency kept") << 32 << true;
        QTest::newRow("24") << 24 << false;
        QTest::newRow("8") << 8 << false;
    }
    void extendedPngInterlaced()
    {
        QFETCH(int, bits);
        QFETCH(bool, keep);
        QTemporaryDir dir;
        PictureDisplay display;
        display.setPicture(gradient({ 33, 21 }, keep));
        const QString plain = dir.filePath(QStringLiteral("plain.png")),
                      ext = dir.filePath(QStringLiteral("ext.png"));
        QVERIFY(display.SavePicture(plain, formats::Png, bits, 0, false));
        QVERIFY(
            display.SavePictureWithOptions(ext, formats::Png, bits, 0, 0, 0, PictureDisplay::SaveInterlaced));
        auto header = [](const QString& path) {
            QFile f(path);
            f.open(QIODevice::ReadOnly);
            return f.read(29);
        };
        QCOMPARE(int(header(ext).at(28)), 1); // Adam7
        QCOMPARE(int(header(plain).at(28)), 0);
        QCOMPARE(header(ext).at(25), header(plain).at(25)); // same colour type
        QCOMPARE(QImage(ext).convertToFormat(QImage::Format_ARGB32),
            QImage(plain).convertToFormat(QImage::Format_ARGB32));
    }

    void saveRefusals()
    {
        QTemporaryDir dir;
        PictureDisplay display;
        const QString path = dir.filePath(QStringLiteral("x.png"));
        QVERIFY(!display.SavePicture(path, formats::Png, 0, 0, false)); // nothing held
        QCOMPARE(display.lastError(), QStringLiteral("保存する画像がありません。"));
        display.setPicture(gradient({ 10, 10 }));
        QVERIFY(!display.SavePicture(path, 42, 0, 0, false)); // no such format
        QVERIFY(!display.SavePicture(path, formats::Jpeg, 8, 0, false)); // depth JPEG cannot hold
        QVERIFY(!display.SavePicture(
            dir.filePath(QStringLiteral("no/such/folder/x.png")), formats::Png, 0, 0, false));
        QVERIFY(!display.lastError().isEmpty());
        FailingWrites full;
        display.setFileOps(&full);
        QVERIFY(!display.SavePicture(path, formats::Png, 0, 0, false));
        QCOMPARE(display.lastError(), QStringLiteral("disk full"));
        QVERIFY(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }

    void saveReplacesExistingFile()
    {
        QTemporaryDir dir;
        const QString path = writeFile(dir, QStringLiteral("old.png"), pics::png({ 3, 3 }));
        PictureDisplay display;
        display.setPicture(gradient({ 12, 12 }));
        QVERIFY(display.SavePicture(path, formats::Png, 0, 0, false));
        QCOMPARE(QImage(path).size(), QSize(12, 12));
    }

    void mouseAndKeyboardSignals()
    {
        PictureDisplay display;
        display.resize(100, 80);
        QSignalSpy buttons(&display, &PictureDisplay::mouseButton);
        QSignalSpy clicks(&display, &PictureDisplay::clicked);
        QTest::mousePress(&display, Qt::RightButton, Qt::ShiftModifier, QPoint(10, 20));
        QTest::mouseRelease(&display, Qt::RightButton, Qt::ShiftModifier, QPoint(10, 20));
        QCOMPARE(buttons.size(), 1);
        QCOMPARE(buttons.at(0),
            (QVariantList { QVariant::fromValue(Qt::RightButton),
                QVariant::fromValue(Qt::KeyboardModifiers(Qt::ShiftModifier)), QPoint(10, 20) }));
        QCOMPARE(clicks.size(), 0);
        QTest::mouseClick(&display, Qt::LeftButton, Qt::ControlModifier | Qt::AltModifier, QPoint(30, 40));
        QCOMPARE(buttons.at(1).at(0).value<Qt::MouseButton>(), Qt::LeftButton);
        QCOMPARE(buttons.at(1).at(1).value<Qt::KeyboardModifiers>(), Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(buttons.at(1).at(2).toPoint(), QPoint(30, 40));
        QCOMPARE(clicks.size(), 1);
        QTest::keyClick(&display, Qt::Key_Return);
        QCOMPARE(clicks.size(), 2);
        QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(), QPoint(), {});
        QCoreApplication::sendEvent(&display, &menuKey);
        QCOMPARE(buttons.at(2).at(0).value<Qt::MouseButton>(), Qt::RightButton);
        QCOMPARE(buttons.at(2).at(2).toPoint(), QPoint(50, 40));
    }
};

QTEST_MAIN(TestPictureDisplay)
#include "tst_picturedisplay.moc"
