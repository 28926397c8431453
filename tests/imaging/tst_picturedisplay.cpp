#include "StorageBuilder.h"
#include "imaging/PictureDisplay.h"
#include "imaging/PictureFormats.h"
#include "platform/FileOps.h"

#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QImageReader>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
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
            image.setPixel(x, y, qRgba(x * 255 / size.width(), y * 255 / size.height(), 128,
                                       withAlpha && x < size.width() / 2 ? 0 : 255));
    return image;
}

int maxChannelDifference(QRgb a, QRgb b)
{
    return std::max({ std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b)) });
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
        QVERIFY(display.LoadPicture(writeFile(dir, QStringLiteral("cam.jpg"), pics::halvesJpeg({ 80, 40 }, 6))));
        const QImage image = display.picture();
        QCOMPARE(image.size(), QSize(40, 80));
        // Orientation 6 turns the picture clockwise: the black left half ends on top.
        QVERIFY(qGray(image.pixel(20, 10)) < 40);
        QVERIFY(qGray(image.pixel(20, 70)) > 215);
        QCOMPARE(display.sourcePath(), QFileInfo(dir.filePath(QStringLiteral("cam.jpg"))).absoluteFilePath());
    }

    void loadFailuresKeepThePicture_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("name");
        QTest::newRow("corrupt jpeg") << pics::corrupt() << QStringLiteral("broken.jpg");
        QTest::newRow("text") << QByteArray("not a picture\n") << QStringLiteral("notes.txt");
        QTest::newRow("zero bytes") << QByteArray() << QStringLiteral("empty.png");
        QTest::newRow("png claiming 60000x60000") << pngHeaderClaiming(60000, 60000) << QStringLiteral("huge.png");
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
        const QString path = writeFile(dir, QStringLiteral("big.jpg"), pics::jpeg({ 4800, 3600 }, Qt::darkCyan, 6));
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
        QVERIFY(source.LoadPicture(writeFile(dir, QStringLiteral("p.png"), pics::png({ 30, 20 }, Qt::magenta))));
        source.CopyPictureToClipboard(PictureDisplay::ClipboardCopy::Picture);
        QVERIFY(QGuiApplication::clipboard()->mimeData()->urls().isEmpty());
        QVERIFY(target.PastePicture(PictureDisplay::Paste::TestOnly));
        QVERIFY(!target.hasPicture()); // the test pastes nothing
        QVERIFY(target.PastePicture(PictureDisplay::Paste::Picture));
        QCOMPARE(target.picture().size(), QSize(30, 20));
        QCOMPARE(target.picture().pixelColor(5, 5), QColor(Qt::magenta));
        QVERIFY(target.sourcePath().isEmpty());

        source.CopyPictureToClipboard(PictureDisplay::ClipboardCopy::PictureAndFile); // the vault's copy also names the file
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
        display.CopyPictureToClipboard(PictureDisplay::ClipboardCopy::Picture); // nothing held: the clipboard keeps its text
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("文字だけ"));
    }

    void colourOptionFlattensTransparency()
    {
        PictureDisplay display;
        display.setPicture(gradient({ 20, 10 }, true));
        display.setColourOption(Qt::white);
        display.ApplyColourOption(); // not enabled: nothing happens
        QVERIFY(display.picture().hasAlphaChannel());
        display.setColourOptionEnabled(true);
        display.ApplyColourOption();
        QVERIFY(!display.picture().hasAlphaChannel());
        QCOMPARE(display.picture().pixel(2, 2), qRgb(255, 255, 255));
        QCOMPARE(display.picture().pixel(15, 5), gradient({ 20, 10 }).pixel(15, 5));
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
        const QString path = dir.filePath(QStringLiteral("out.") + QString::fromLatin1(formats::formatInfo(format)->extension));
        QVERIFY2(display.SavePicture(path, format, bits, 0, false), qPrintable(display.lastError()));
        QImageReader reader(path);
        reader.setDecideFormatFromContent(true);
        QCOMPARE(reader.format(), qtFormat);
        const QImage back = reader.read();
        QCOMPARE(back.size(), source.size());
        for (const QPoint p : { QPoint(0, 0), QPoint(63, 47), QPoint(31, 24) })
            QVERIFY2(maxChannelDifference(back.pixel(p), source.pixel(p)) <= tolerance, qPrintable(QString::number(p.x())));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList { QFileInfo(path).fileName() });
    }

    void savedDepthIsTheRequestedOne_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("offset"); // of the depth field in the file
        QTest::addColumn<int>("expected");
        QTest::newRow("bmp 24") << formats::Bmp << 24 << 28 << 24;
        QTest::newRow("bmp 8") << formats::Bmp << 8 << 28 << 8;
        QTest::newRow("bmp 1") << formats::Bmp << 1 << 28 << 1;
        // PNG: the colour type byte of IHDR (6 RGBA, 2 RGB, 3 palette)
        QTest::newRow("png 32") << formats::Png << 32 << 25 << 6;
        QTest::newRow("png 24") << formats::Png << 24 << 25 << 2;
        QTest::newRow("png 8") << formats::Png << 8 << 25 << 3;
    }
    void savedDepthIsTheRequestedOne()
    {
        QFETCH(int, format);
        QFETCH(int, bits);
        QFETCH(int, offset);
        QFETCH(int, expected);
        QTemporaryDir dir;
        PictureDisplay display;
        display.setPicture(gradient({ 40, 30 }));
        const QString path = dir.filePath(QStringLiteral("d"));
        QVERIFY(display.SavePicture(path, format, bits, 0, false));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(int(uchar(f.readAll().at(offset))), expected);
    }

    void jpegQualityHonoured()
    {
        QTemporaryDir dir;
        PictureDisplay display;
        display.setPicture(gradient({ 200, 150 }));
        const QString low = dir.filePath(QStringLiteral("low.jpg")), high = dir.filePath(QStringLiteral("high.jpg"));
        QVERIFY(display.SavePicture(low, formats::Jpeg, 24, 20, false));
        QVERIFY(display.SavePicture(high, formats::Jpeg, 24, 98, false));
        QVERIFY(QFileInfo(high).size() > 2 * QFileInfo(low).size());
    }

    void transparencyFlattenedOrKept()
    {
        QTemporaryDir dir;
        PictureDisplay display;
        display.setPicture(gradient({ 20, 10 }, true));
        const QString jpg = dir.filePath(QStringLiteral("t.jpg")), png = dir.filePath(QStringLiteral("t.png"));
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
        const QString plain = dir.filePath(QStringLiteral("plain.jpg")), ext = dir.filePath(QStringLiteral("ext.jpg"));
        QVERIFY(display.SavePicture(plain, formats::Jpeg, 24, 85, false));
        QVERIFY(display.SavePictureWithOptions(ext, formats::Jpeg, 24, 85, 80, 80, PictureDisplay::SaveInterlaced));
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
        const QByteArray bytes = [&] { QFile f(gif); f.open(QIODevice::ReadOnly); return f.readAll(); }();
        const qsizetype descriptor = bytes.indexOf(',', 13 + 3 * 256);
        QVERIFY(descriptor > 0 && (uchar(bytes.at(descriptor + 9)) & 0x40)); // interlace flag
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
        const QString plain = dir.filePath(QStringLiteral("plain.png")), ext = dir.filePath(QStringLiteral("ext.png"));
        QVERIFY(display.SavePicture(plain, formats::Png, bits, 0, false));
        QVERIFY(display.SavePictureWithOptions(ext, formats::Png, bits, 0, 0, 0, PictureDisplay::SaveInterlaced));
        auto header = [](const QString& path) {
            QFile f(path);
            f.open(QIODevice::ReadOnly);
            return f.read(29);
        };
        QCOMPARE(int(header(ext).at(28)), 1); // Adam7
        QCOMPARE(int(header(plain).at(28)), 0);
        QCOMPARE(header(ext).at(25), header(plain).at(25)); // same colour type
        QCOMPARE(QImage(ext).convertToFormat(QImage::Format_ARGB32), QImage(plain).convertToFormat(QImage::Format_ARGB32));
    }

    void saveRefusals()
    {
        QTemporaryDir dir;
        PictureDisplay display;
        const QString path = dir.filePath(QStringLiteral("x.png"));
        QVERIFY(!display.SavePicture(path, formats::Png, 0, 0, false)); // nothing held
        QCOMPARE(display.lastError(), QStringLiteral("保存する画像がありません。"));
        display.setPicture(gradient({ 10, 10 }));
        QVERIFY(!display.SavePicture(path, 42, 0, 0, false));            // no such format
        QVERIFY(!display.SavePicture(path, formats::Jpeg, 8, 0, false)); // depth JPEG cannot hold
        QVERIFY(!display.SavePictureWithOptions(path, formats::Png, 0, 0, 1e9f, 1e9f, 0)); // absurd size
        QVERIFY(!display.SavePicture(dir.filePath(QStringLiteral("no/such/folder/x.png")), formats::Png, 0, 0, false));
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
        QCOMPARE(buttons.at(0), (QVariantList { QVariant::fromValue(Qt::RightButton),
                                                QVariant::fromValue(Qt::KeyboardModifiers(Qt::ShiftModifier)),
                                                QPoint(10, 20) }));
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
