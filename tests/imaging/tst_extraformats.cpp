// HEIF/AVIF, JPEG XL and camera RAW: samples made at test time with Debian's encoders
// (heif-enc, avifenc, cjxl), with libheif itself where a file needs what heif-enc cannot
// write (rotation, a thumbnail unlike the picture), and DNGs from the tests' own builder.
#include "ExifBuilder.h"
#include "Fakes.h"
#include "RawBuilder.h"
#include "StorageBuilder.h"
#include "display/PreviewForm.h"
#include "export/WorkbookExport.h"
#include "imaging/ExtraFormats.h"
#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailEngine.h"
#include "platform/FileOps.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <libheif/heif.h>

using namespace ztv;

namespace {

using ztv::test::halves;

int meanGrey(const QImage& image, QRect area)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    qint64 sum = 0, n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x, ++n)
            sum += qGray(rgb.pixel(x, y));
    return n ? int(sum / n) : -1;
}

// Where the dark half of the picture lies: "left", "top", "right", "bottom" or "" if none is.
QString darkSide(const QImage& image)
{
    const int w = image.width(), h = image.height();
    const QRect left(0, 0, w / 3, h), right(w - w / 3, 0, w / 3, h), top(0, 0, w, h / 3),
        bottom(0, h - h / 3, w, h / 3);
    const std::pair<const char*, std::pair<QRect, QRect>> sides[] = { { "left", { left, right } },
        { "right", { right, left } }, { "top", { top, bottom } }, { "bottom", { bottom, top } } };
    for (const auto& [name, areas] : sides)
        if (meanGrey(image, areas.first) < 60 && meanGrey(image, areas.second) > 190)
            return QString::fromLatin1(name);
    return {};
}

QString run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return program + QStringLiteral(" cannot be started (scripts/install-deps.sh test installs it)");
    p.waitForFinished(120000);
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return program + QStringLiteral(" failed: ") + QString::fromLocal8Bit(p.readAll());
    return {};
}

// A HEIC written through libheif: the picture with an orientation (irot/imir properties) and,
// when thumbnail is not null, that picture scaled to fit thumbnailSide as its thumbnail.
QByteArray heicWith(
    const QImage& picture, int orientation, const QImage& thumbnail = {}, int thumbnailSide = 0)
{
    heif_context* ctx = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    QByteArray out;
    auto toHeif = [](const QImage& source) {
        const QImage rgb = source.convertToFormat(QImage::Format_RGB888);
        heif_image* image = nullptr;
        heif_image_create(
            rgb.width(), rgb.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
        heif_image_add_plane(image, heif_channel_interleaved, rgb.width(), rgb.height(), 8);
        int stride = 0;
        uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
        for (int y = 0; y < rgb.height(); ++y)
            std::memcpy(plane + y * stride, rgb.constScanLine(y), size_t(rgb.width()) * 3);
        return image;
    };
    if (heif_context_get_encoder_for_format(ctx, heif_compression_HEVC, &encoder).code == heif_error_Ok) {
        heif_encoder_set_lossy_quality(encoder, 80);
        heif_encoding_options* options = heif_encoding_options_alloc();
        options->image_orientation = heif_orientation(orientation);
        heif_image* main = toHeif(picture);
        heif_image_handle* handle = nullptr;
        if (heif_context_encode_image(ctx, main, encoder, options, &handle).code == heif_error_Ok) {
            if (!thumbnail.isNull()) {
                heif_image* thumb = toHeif(thumbnail);
                heif_context_encode_thumbnail(ctx, thumb, handle, encoder, options, thumbnailSide, nullptr);
                heif_image_release(thumb);
            }
            heif_image_handle_release(handle);
            heif_writer writer;
            writer.writer_api_version = 1;
            writer.write = [](heif_context*, const void* data, size_t size, void* userdata) {
                static_cast<QByteArray*>(userdata)->append(static_cast<const char*>(data), qsizetype(size));
                return heif_error { heif_error_Ok, heif_suberror_Unspecified, "" };
            };
            heif_context_write(ctx, &writer, &out);
        }
        heif_image_release(main);
        heif_encoding_options_free(options);
        heif_encoder_release(encoder);
    }
    heif_context_free(ctx);
    return out;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestExtraFormats : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_folder; // the samples
    QString path(const QString& name) const { return m_folder + QLatin1Char('/') + name; }

private Q_SLOTS:
    void initTestCase();
    void recognisedByContent_data();
    void recognisedByContent();
    void sniffingTells();
    void tiffScansLibRawRefuses();
    void thumbnailsUpright_data();
    void thumbnailsUpright();
    void embeddedThumbnailOnlyWhenBigEnough();
    void browsedFolder();
    void displayPreviewAndClipboard_data();
    void displayPreviewAndClipboard();
    void copiedByteForByte();
    void exportedAsPng();
};

void TestExtraFormats::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_dir.isValid());
    m_dir.setAutoRemove(qEnvironmentVariableIsEmpty("ZENTOVI_KEEP_SAMPLES")); // to look at them
    m_folder = m_dir.path() + QStringLiteral("/samples");
    QVERIFY(QDir().mkpath(m_folder));
    const QString source = m_dir.path() + QStringLiteral("/source.png");
    QVERIFY(halves({ 240, 160 }).save(source, "PNG"));
    QString error;
    error = run(QStringLiteral("heif-enc"),
        { QStringLiteral("-q"), QStringLiteral("60"), QStringLiteral("-t"), QStringLiteral("120"),
            QStringLiteral("-o"), path(QStringLiteral("thumb.heic")), source });
    QVERIFY2(error.isEmpty(), qPrintable(error));
    error = run(QStringLiteral("heif-enc"),
        { QStringLiteral("-q"), QStringLiteral("60"), QStringLiteral("-o"),
            path(QStringLiteral("plain.heic")), source });
    QVERIFY2(error.isEmpty(), qPrintable(error));
    error = run(QStringLiteral("avifenc"),
        { QStringLiteral("-s"), QStringLiteral("10"), source, path(QStringLiteral("photo.avif")) });
    QVERIFY2(error.isEmpty(), qPrintable(error));
    error = run(QStringLiteral("cjxl"), { source, path(QStringLiteral("photo.jxl")) });
    QVERIFY2(error.isEmpty(), qPrintable(error));
    // A camera JPEG turned by its EXIF orientation, recompressed losslessly: the orientation
    // goes into the JPEG XL header.
    const QString turnedJpeg = m_dir.path() + QStringLiteral("/turned.jpg");
    writeFile(turnedJpeg, ztv::test::pictures::halvesJpeg({ 240, 160 }, 6));
    error = run(QStringLiteral("cjxl"), { turnedJpeg, path(QStringLiteral("turned.jxl")) });
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(QFile::copy(path(QStringLiteral("plain.heic")), path(QStringLiteral("named wrongly.jpg"))));
    QVERIFY(QFile::copy(path(QStringLiteral("photo.avif")), path(QStringLiteral("UPPER.AVIF"))));
    QVERIFY(QFile::copy(path(QStringLiteral("photo.jxl")), path(QStringLiteral("UPPER.JXL"))));
    const QByteArray turned = heicWith(halves({ 240, 160 }), 6);
    QVERIFY(!turned.isEmpty());
    writeFile(path(QStringLiteral("turned.HEIC")), turned);
    writeFile(path(QStringLiteral("mirrored.heif")), heicWith(halves({ 240, 160 }), 2));

    ztv::test::DngSpec camera;
    camera.sensorSize = { 240, 160 };
    camera.previewSize = { 240, 160 };
    camera.previewJpeg = ztv::test::encodeImage(halves({ 240, 160 }), "JPEG");
    camera.orientation = 6;
    writeFile(path(QStringLiteral("camera.dng")), ztv::test::dng(camera));
    // Camera JPEG previews that carry the camera's EXIF orientation too, which must not be
    // applied on top of the RAW's own.
    for (const int o : { 1, 3, 6, 8 }) {
        ztv::test::DngSpec spec = camera;
        spec.orientation = o;
        spec.previewJpeg = ztv::test::withExif(camera.previewJpeg, o);
        writeFile(path(QStringLiteral("exif %1.dng").arg(o)), ztv::test::dng(spec));
    }
    ztv::test::DngSpec bare; // no preview: the sensor data itself, turned half a turn
    bare.sensorSize = { 240, 160 };
    bare.orientation = 3;
    writeFile(path(QStringLiteral("bare.DNG")), ztv::test::dng(bare));
}

void TestExtraFormats::recognisedByContent_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("format");
    QTest::newRow("heic with thumbnail") << "thumb.heic" << int(ExtraFormat::Heif);
    QTest::newRow("heic named .jpg") << "named wrongly.jpg" << int(ExtraFormat::Heif);
    QTest::newRow("avif, upper case") << "UPPER.AVIF" << int(ExtraFormat::Heif);
    QTest::newRow("jxl") << "photo.jxl" << int(ExtraFormat::Jxl);
    QTest::newRow("dng") << "camera.dng" << int(ExtraFormat::Raw);
    QTest::newRow("dng, upper case") << "bare.DNG" << int(ExtraFormat::Raw);
}

void TestExtraFormats::recognisedByContent()
{
    QFETCH(QString, name);
    QFETCH(int, format);
    QFile file(path(name));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(int(sniffExtraFormat(file.handle())), format);
    // Qt's reader, given the file alone, finds the same plugin by content.
    QImageReader reader(&file);
    QCOMPARE(reader.format(), extraFormatKey(ExtraFormat(format)));
}

// Files that look alike at first: only the camera files are RAW, only the HEIF brands HEIF.
void TestExtraFormats::sniffingTells()
{
    auto sniff = [](const QByteArray& bytes) {
        return sniffExtraFormat(
            reinterpret_cast<const unsigned char*>(bytes.constData()), size_t(bytes.size()));
    };
    QCOMPARE(sniff(ztv::test::encodeImage(halves({ 20, 20 }), "TIFF")), ExtraFormat::None);
    QCOMPARE(sniff(ztv::test::encodeImage(halves({ 20, 20 }), "JPEG")), ExtraFormat::None);
    QCOMPARE(sniff(ztv::test::encodeImage(halves({ 20, 20 }), "PNG")), ExtraFormat::None);
    QCOMPARE(sniff(QByteArray("\0\0\0\x18"
                              "ftypmp42\0\0\0\0mp42isom",
                 24)),
        ExtraFormat::None); // a video
    QCOMPARE(sniff(QByteArray("\0\0\0\x18"
                              "ftypcrx \0\0\0\0crx isom",
                 24)),
        ExtraFormat::Raw); // CR3
    QCOMPARE(sniff(QByteArray("\0\0\0\x18"
                              "ftypmif1\0\0\0\0mif1avif",
                 24)),
        ExtraFormat::Heif);
    QCOMPARE(sniff(QByteArray("\0\0\0\x14"
                              "ftypisom\0\0\0\0heic",
                 20)),
        ExtraFormat::Heif);
    QCOMPARE(sniff(QByteArray("FUJIFILMCCD-RAW 0201")), ExtraFormat::Raw);
    QCOMPARE(sniff(QByteArray("IIU\0\x08\0\0\0", 8)), ExtraFormat::Raw); // RW2
    QCOMPARE(sniff(QByteArray("IIRO\x08\0\0\0", 8)), ExtraFormat::Raw); // ORF
    QCOMPARE(sniff(QByteArray("\xFF\x0A\xFA", 3)), ExtraFormat::None); // too short to tell
    QCOMPARE(sniff(QByteArray("\xFF\x0A\xFA\x7F", 4)), ExtraFormat::Jxl);
    // A camera-made TIFF (a NEF's layout: maker name and sub-directories) against a plain
    // TIFF with the same maker name but neither.
    auto tiff = [](bool subIfds) {
        QByteArray t("II*\0\x08\0\0\0", 8);
        const int entries = subIfds ? 2 : 1;
        t.append(char(entries)).append('\0');
        t.append(QByteArray("\x0F\x01\x02\0\x06\0\0\0", 8))
            .append(char(8 + 2 + entries * 12 + 4))
            .append(QByteArray(3, '\0'));
        if (subIfds)
            t.append(QByteArray("\x4A\x01\x04\0\x01\0\0\0\x40\0\0\0", 12));
        t.append(QByteArray(4, '\0')).append("NIKON\0", 6);
        return t;
    };
    QCOMPARE(sniff(tiff(true)), ExtraFormat::Raw);
    QCOMPARE(sniff(tiff(false)), ExtraFormat::None);
}

namespace {

// An uncompressed RGB TIFF as a scanner writes one: the maker's name and, as camera files
// have, a reduced-resolution flag or a sub-directory tag, so it is taken for a camera's file.
QByteArray scannerTiff(const QImage& picture, const QByteArray& make, bool subIfd)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    const quint32 w = quint32(rgb.width()), h = quint32(rgb.height());
    QByteArray pixels;
    for (int y = 0; y < rgb.height(); ++y)
        pixels.append(reinterpret_cast<const char*>(rgb.constScanLine(y)), rgb.width() * 3);
    struct Entry {
        quint16 tag, type;
        quint32 count, value;
    };
    const quint32 entries = 12;
    const quint32 ifd = 8, after = ifd + 2 + entries * 12 + 4;
    const quint32 bps = after, makeAt = bps + 6, data = makeAt + quint32(make.size()) + 1;
    const std::vector<Entry> e = { { 0x00FE, 4, 1, subIfd ? 0u : 1u }, { 0x0100, 4, 1, w },
        { 0x0101, 4, 1, h }, { 0x0102, 3, 3, bps }, { 0x0103, 3, 1, 1 }, { 0x0106, 3, 1, 2 },
        { 0x010F, 2, quint32(make.size()) + 1, makeAt }, { 0x0111, 4, 1, data }, { 0x0115, 3, 1, 3 },
        { 0x0116, 4, 1, h }, { 0x0117, 4, 1, quint32(pixels.size()) },
        { subIfd ? quint16(0x014A) : quint16(0x011C), 4, 1, subIfd ? 0u : 1u } };
    QByteArray t("II*\0", 4);
    auto u16 = [&](quint16 v) { t.append(char(v & 0xFF)).append(char(v >> 8)); };
    auto u32 = [&](quint32 v) {
        for (int i = 0; i < 4; ++i)
            t.append(char((v >> (8 * i)) & 0xFF));
    };
    u32(ifd);
    u16(quint16(e.size()));
    for (const Entry& x : e) {
        u16(x.tag);
        u16(x.type);
        u32(x.count);
        if (x.type == 3 && x.count == 1) {
            u16(quint16(x.value));
            u16(0);
        } else {
            u32(x.value);
        }
    }
    u32(0);
    u16(8);
    u16(8);
    u16(8);
    t.append(make).append('\0');
    return t + pixels;
}

} // namespace

void TestExtraFormats::tiffScansLibRawRefuses()
{
    // Scans that look like a camera's file: LibRaw refuses them, Qt's TIFF reader shows them.
    const QImage picture = halves({ 240, 160 });
    for (const bool subIfd : { false, true }) {
        const QByteArray tiff = scannerTiff(picture, subIfd ? "NIKON" : "EPSON", subIfd);
        QCOMPARE(sniffExtraFormat(reinterpret_cast<const uchar*>(tiff.constData()), size_t(tiff.size())),
            ExtraFormat::Raw);
        const QString name
            = path(subIfd ? QStringLiteral("nikon scan.tif") : QStringLiteral("epson scan.tif"));
        writeFile(name, tiff);
        const ThumbnailResult result = makeThumbnail(name, { 100, 100 });
        QCOMPARE(result.status, int(ThumbnailResult::Made));
        QCOMPARE(result.image.size(), QSize(100, 67));
        QCOMPARE(darkSide(result.image), QStringLiteral("left"));
        PictureDisplay display;
        QVERIFY2(display.LoadPicture(name), qPrintable(display.lastError()));
        QCOMPARE(display.picture().size(), QSize(240, 160));
    }
}

void TestExtraFormats::thumbnailsUpright_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("dark");
    QTest::newRow("heic, its thumbnail") << "thumb.heic" << QSize(100, 67) << "left";
    QTest::newRow("heic, decoded") << "plain.heic" << QSize(100, 67) << "left";
    QTest::newRow("heic named .jpg") << "named wrongly.jpg" << QSize(100, 67) << "left";
    QTest::newRow("heic turned a quarter") << "turned.HEIC" << QSize(67, 100) << "top";
    QTest::newRow("heif mirrored") << "mirrored.heif" << QSize(100, 67) << "right";
    QTest::newRow("avif") << "UPPER.AVIF" << QSize(100, 67) << "left";
    QTest::newRow("jxl") << "photo.jxl" << QSize(100, 67) << "left";
    QTest::newRow("jxl turned a quarter") << "turned.jxl" << QSize(67, 100) << "top";
    QTest::newRow("dng preview, orientation 6") << "camera.dng" << QSize(67, 100) << "top";
    QTest::newRow("dng preview with its own EXIF, orientation 1") << "exif 1.dng" << QSize(100, 67) << "left";
    QTest::newRow("dng preview with its own EXIF, orientation 3")
        << "exif 3.dng" << QSize(100, 67) << "right";
    QTest::newRow("dng preview with its own EXIF, orientation 6") << "exif 6.dng" << QSize(67, 100) << "top";
    QTest::newRow("dng preview with its own EXIF, orientation 8")
        << "exif 8.dng" << QSize(67, 100) << "bottom";
}

void TestExtraFormats::thumbnailsUpright()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);
    QFETCH(QString, dark);
    const ThumbnailResult result = makeThumbnail(path(name), { 100, 100 });
    QCOMPARE(result.status, int(ThumbnailResult::Made));
    QCOMPARE(result.image.size(), size);
    QCOMPARE(darkSide(result.image), dark);
    // The fuzz target's route from memory gives the same.
    const QImage fromBytes = makeThumbnailFromBytes(readAll(path(name)), { 100, 100 });
    QCOMPARE(fromBytes.size(), size);
}

// A thumbnail stored in the file stands in only when it is at least the size needed; a RAW
// file's preview likewise, else its sensor data is decoded.
void TestExtraFormats::embeddedThumbnailOnlyWhenBigEnough()
{
    // The thumbnail is white all over, the picture black: which one was used shows.
    QImage black(480, 320, QImage::Format_RGB32);
    black.fill(Qt::black);
    QImage white(480, 320, QImage::Format_RGB32);
    white.fill(Qt::white);
    const QByteArray heic = heicWith(black, 1, white, 120);
    QVERIFY(!heic.isEmpty());
    const QImage small = makeThumbnailFromBytes(heic, { 100, 100 });
    QCOMPARE(small.size(), QSize(100, 67));
    QVERIFY2(meanGrey(small, small.rect()) > 200, "the embedded thumbnail serves a 100-pixel box");
    const QImage large = makeThumbnailFromBytes(heic, { 200, 200 });
    QCOMPARE(large.size(), QSize(200, 133));
    QVERIFY2(meanGrey(large, large.rect()) < 50, "too small a thumbnail is passed over");

    // A red preview against grey sensor data.
    QImage red(96, 64, QImage::Format_RGB32); // less than half the sensor's width
    red.fill(Qt::red);
    ztv::test::DngSpec spec;
    spec.sensorSize = { 240, 160 };
    spec.previewSize = red.size();
    spec.previewJpeg = ztv::test::encodeImage(red, "JPEG");
    const QByteArray dng = ztv::test::dng(spec);
    auto isRed = [](const QImage& image) {
        const QRgb p = image.pixel(image.width() / 2, image.height() / 2);
        return qRed(p) > 200 && qGreen(p) < 60 && qBlue(p) < 60;
    };
    const QImage fromPreview = makeThumbnailFromBytes(dng, { 90, 90 });
    QCOMPARE(fromPreview.size(), QSize(90, 60));
    QVERIFY(isRed(fromPreview));
    const QImage fromSensor = makeThumbnailFromBytes(dng, { 160, 160 });
    QVERIFY(!fromSensor.isNull());
    QCOMPARE(fromSensor.size(), QSize(120, 80)); // half size is all the sensor data gives
    QVERIFY(!isRed(fromSensor));
    // Without any preview the half-size decode serves, turned as the file says.
    const ThumbnailResult bare = makeThumbnail(path(QStringLiteral("bare.DNG")), { 100, 100 });
    QCOMPARE(bare.status, int(ThumbnailResult::Made));
    QCOMPARE(bare.image.size(), QSize(100, 67));
}

void TestExtraFormats::browsedFolder()
{
    ThumbnailBrowser browser;
    browser.setCacheFolder(QString());
    QStringList made;
    QObject context;
    connect(&browser, &ThumbnailBrowser::ThumbnailReady, &context,
        [&](const QImage& image, const QString& p, int status) {
            if (status == ThumbnailResult::Made && !image.isNull())
                made << QFileInfo(p).fileName();
            browser.setContinueBrowsing(true);
        });
    QCOMPARE(browser.BrowseFolder(m_folder), ThumbnailBrowser::ResultOk);
    made.sort();
    QStringList all = QDir(m_folder).entryList(QDir::Files);
    all.sort();
    QCOMPARE(made, all);
}

void TestExtraFormats::displayPreviewAndClipboard_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("dark");
    QTest::newRow("heic") << "thumb.heic" << QSize(240, 160) << "left";
    QTest::newRow("heic named .jpg") << "named wrongly.jpg" << QSize(240, 160) << "left";
    QTest::newRow("heic turned") << "turned.HEIC" << QSize(160, 240) << "top";
    QTest::newRow("avif") << "photo.avif" << QSize(240, 160) << "left";
    QTest::newRow("jxl") << "UPPER.JXL" << QSize(240, 160) << "left";
    QTest::newRow("jxl turned") << "turned.jxl" << QSize(160, 240) << "top";
    QTest::newRow("dng preview") << "camera.dng" << QSize(160, 240) << "top";
    QTest::newRow("dng sensor, half size") << "bare.DNG" << QSize(120, 80) << "";
}

void TestExtraFormats::displayPreviewAndClipboard()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);
    QFETCH(QString, dark);
    PictureDisplay display;
    display.resize(400, 300);
    QVERIFY2(display.LoadPicture(path(name)), qPrintable(display.lastError()));
    QCOMPARE(display.picture().size(), size);
    if (!dark.isEmpty())
        QCOMPARE(darkSide(display.picture()), dark);

    bool failed = false;
    PreviewForm preview(path(name), [&] { failed = true; });
    QVERIFY(!failed);
    QCOMPARE(preview.LEAD1->picture().size(), size);

    display.CopyPictureToClipboard(PictureDisplay::ClipboardCopy::Picture);
    const QImage copied = QGuiApplication::clipboard()->image();
    QCOMPARE(copied.size(), size);
}

void TestExtraFormats::copiedByteForByte()
{
    QTemporaryDir vault;
    const QStringList names = QDir(m_folder).entryList(QDir::Files);
    for (const QString& name : names) {
        const QString target = vault.path() + QLatin1Char('/') + name;
        QVERIFY2(realFileOps().copyNoReplace(path(name), target).ok(), qPrintable(name));
        QCOMPARE(readAll(target), readAll(path(name)));
        const QString moved = target + QStringLiteral(".moved");
        QVERIFY(realFileOps().moveNoReplace(target, moved).ok());
        QCOMPARE(readAll(moved), readAll(path(name)));
    }
}

void TestExtraFormats::exportedAsPng()
{
    QTemporaryDir work;
    ztv::test::RecordingPrompts prompts;
    ztv::test::FakeSpreadsheet sheet;
    const QString templates = work.path() + QStringLiteral("/bin");
    QVERIFY(QDir().mkpath(templates));
    writeFile(templates + QStringLiteral("/Pastetemp.xls"), "template");
    const QString cache = work.path() + QStringLiteral("/cache");
    WorkbookExport exporter(prompts, realFileOps(), sheet, { templates }, cache);
    const std::pair<QString, QSize> cases[] = {
        { QStringLiteral("turned.HEIC"), QSize(160, 240) },
        { QStringLiteral("photo.avif"), QSize(240, 160) },
        { QStringLiteral("photo.jxl"), QSize(240, 160) },
        { QStringLiteral("camera.dng"), QSize(160, 240) },
    };
    for (const auto& [name, size] : cases) {
        exporter.run(path(name));
        QCOMPARE(sheet.exports.size(), 1);
        QCOMPARE(sheet.exports.takeFirst().cellText, cache + QStringLiteral("/picture.png"));
        QImage png;
        QVERIFY(png.loadFromData(readAll(cache + QStringLiteral("/picture.png")), "PNG"));
        QCOMPARE(png.size(), size);
    }
    // A damaged one hands the office nothing rather than a stale copy of the last picture.
    const QString cut = path(QStringLiteral("cut.heic"));
    writeFile(cut, readAll(path(QStringLiteral("plain.heic"))).left(400));
    exporter.run(cut);
    QCOMPARE(sheet.exports.takeFirst().cellText, QString());
    QVERIFY(!QFile::exists(cache + QStringLiteral("/picture.png")));
    QFile::remove(cut);
    // Formats the office reads still go by their own path.
    const QString jpeg = path(QStringLiteral("plain.jpg"));
    writeFile(jpeg, ztv::test::pictures::jpeg({ 20, 20 }));
    exporter.run(jpeg);
    QCOMPARE(sheet.exports.takeFirst().cellText, jpeg);
    QFile::remove(jpeg);
}

QTEST_MAIN(TestExtraFormats)
#include "tst_extraformats.moc"
