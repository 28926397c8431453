// Writes the generated part of the benchmark corpus into a folder, from a few real photos:
// camera-size JPEGs with and without EXIF thumbnails and orientations, big 3:2 JPEGs with
// letterboxed 4:3 thumbnails, RGBA PNGs and broken files. With --wallpapers, a folder shaped
// like a wallpaper or screenshot folder instead: half large PNGs, half large JPEGs without
// EXIF thumbnails. With --hostile, a folder of pictures made to hurt a viewer (no photos).
// With --heif-grids, eight HEIF files whose primary image is a grid of 16,384 tiles or more.
#include "ExifBuilder.h"
#include "PictureBytes.h"
#include "RawBuilder.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>

#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>
#include <unistd.h>
#include <vector>
#include <zlib.h>

using ztv::test::be32;
using ztv::test::Deflater;
using ztv::test::heifGrid;
using ztv::test::HeifGridLayout;
using ztv::test::heifIspe;
using ztv::test::pngChunk;

namespace {

QByteArray encode(const QImage& image, const char* format, int quality = 90, bool progressive = false)
{
    return ztv::test::encodeImage(image, format, quality, progressive);
}

// The photo cropped to the aspect of size and scaled to it, with sensor-like noise so the
// file is as large as a camera's.
QImage cameraPicture(const QImage& photo, QSize size, quint32 seed)
{
    const QSize crop = size.scaled(photo.size(), Qt::KeepAspectRatio);
    QImage image
        = photo
              .copy(QRect(
                  QPoint((photo.width() - crop.width()) / 2, (photo.height() - crop.height()) / 2), crop))
              .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
              .convertToFormat(QImage::Format_RGB32);
    quint32 state = seed * 2654435761u + 1;
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            const int n = int((state >> 24) & 15) - 8;
            const QRgb p = line[x];
            line[x] = qRgb(std::clamp(qRed(p) + n, 0, 255), std::clamp(qGreen(p) + n, 0, 255),
                std::clamp(qBlue(p) + n, 0, 255));
        }
    }
    return image;
}

QImage letterboxed(const QImage& picture, QSize box)
{
    QImage thumb(box, QImage::Format_RGB32);
    thumb.fill(Qt::black);
    const QImage scaled = picture.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPainter(&thumb).drawImage(
        (box.width() - scaled.width()) / 2, (box.height() - scaled.height()) / 2, scaled);
    return thumb;
}

bool save(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

void runParallel(int count, const std::function<void(int)>& job)
{
    std::atomic<int> next { 0 };
    std::vector<std::thread> threads;
    const int n = std::max(1, int(std::thread::hardware_concurrency()));
    for (int t = 0; t < n; ++t)
        threads.emplace_back([&] {
            for (int i = next++; i < count; i = next++)
                job(i);
        });
    for (std::thread& t : threads)
        t.join();
}

// 57 PNGs (RGB and RGBA by turns) and 57 JPEGs (one in three progressive) at screen sizes
// from 2560 x 1440 to 5120 x 2880, each made from a photo so that the content is photographic.
bool writeWallpapers(const QString& out, const std::vector<QImage>& photos)
{
    const QSize sizes[] = { { 2560, 1440 }, { 3840, 2160 }, { 5120, 2880 }, { 3440, 1440 }, { 2880, 1800 } };
    std::atomic<bool> ok { true };
    runParallel(114, [&](int i) {
        const int n = i / 2;
        const QSize size = sizes[size_t(n) % std::size(sizes)];
        QImage picture = cameraPicture(photos[size_t(i) % photos.size()], size, quint32(5000 + i));
        QString name;
        QByteArray bytes;
        if (i % 2 == 0) {
            if (n % 2 == 1) {
                // A window-like overlay with soft transparency, as in screenshots of desktops.
                picture = picture.convertToFormat(QImage::Format_ARGB32);
                for (int y = 0; y < picture.height(); ++y) {
                    auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
                    for (int x = 0; x < picture.width(); ++x)
                        line[x] = qRgba(qRed(line[x]), qGreen(line[x]), qBlue(line[x]),
                            160 + (y * 95) / picture.height());
                }
            }
            name = QStringLiteral("/wallpaper-%1.png").arg(n + 1, 2, 10, QLatin1Char('0'));
            bytes = encode(picture, "PNG");
        } else {
            name = QStringLiteral("/wallpaper-%1.jpg").arg(n + 1, 2, 10, QLatin1Char('0'));
            bytes = encode(picture, "JPEG", 90, n % 3 == 0);
        }
        if (!save(out + name, bytes))
            ok = false;
    });
    return ok;
}

} // namespace

QByteArray pngHeader(quint32 w, quint32 h, int colourType)
{
    QByteArray ihdr = be32(w) + be32(h);
    ihdr.append(char(8)).append(char(colourType)).append(char(0)).append(char(0)).append(char(0));
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", ihdr);
}

// 256 x 256 grey RGB rows (or palette rows, read through libpng) and then `zeros` more zero
// bytes in the same deflate stream.
QByteArray pngWithTail(qint64 zeros, bool palette = false)
{
    Deflater z;
    std::vector<unsigned char> row(palette ? 256 + 1 : 256 * 3 + 1, palette ? 0 : 0x80);
    row[0] = 0; // no filter
    for (int y = 0; y < 256; ++y)
        z.feed(row.data(), row.size());
    z.zeros(zeros);
    const QByteArray idat = z.finish();
    return pngHeader(256, 256, palette ? 3 : 2)
        + (palette ? pngChunk("PLTE", QByteArray(3, '\x80')) : QByteArray()) + pngChunk("IDAT", idat)
        + pngChunk("IEND", {});
}

// Output of one of Debian's encoders; empty when it fails.
QByteArray encodedWith(const QString& tool, const QStringList& arguments, const QString& output)
{
    QProcess p;
    p.start(tool, arguments);
    if (!p.waitForStarted() || !p.waitForFinished(300000) || p.exitCode() != 0)
        return {};
    QFile f(output);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A folder of pictures made to cost a viewer much more than their bytes: chunk claims that
// libpng allocates, a zlib tail of 4 GiB, HEIF and JPEG XL over the thumbnail pixel budget,
// a HEIF thumbnail larger than its picture, a RAW preview larger than it claims; and a few
// sound pictures beside them.
bool writeHostile(const QString& out)
{
    bool ok = true;
    const QByteArray claim = be32(0x7FFFFFF0u);
    const QByteArray plte = pngChunk("PLTE", QByteArray(12, '\x40'));
    const QByteArray trns = pngChunk("tRNS", QByteArray(6, '\0'));
    const struct {
        const char* name;
        int colourType;
        QByteArray before;
        const char* type;
    } claims[] = { { "text", 0, {}, "tEXt" }, { "ztext", 0, {}, "zTXt" }, { "itext", 0, {}, "iTXt" },
        { "palette-splt", 3, plte, "sPLT" }, { "palette-text", 3, plte, "tEXt" },
        { "trns-text", 2, trns, "tEXt" }, { "profile", 2, {}, "iCCP" }, { "rgba-text", 6, {}, "tEXt" } };
    for (const auto& c : claims)
        ok &= save(out + QStringLiteral("/claim-%1.png").arg(QLatin1String(c.name)),
            pngHeader(512, 512, c.colourType) + c.before + claim + QByteArray(c.type, 4));
    ok &= save(out + QStringLiteral("/zlib-tail.png"), pngWithTail(4LL << 30));
    ok &= save(out + QStringLiteral("/zlib-tail-palette.png"), pngWithTail(4LL << 30, true));

    QTemporaryDir work;
    QImage small(512, 384, QImage::Format_RGB32);
    small.fill(Qt::darkGreen);
    const QString source = work.filePath(QStringLiteral("source.png"));
    small.save(source);
    const QString heicPath = work.filePath(QStringLiteral("s.heic"));
    const QByteArray heic = encodedWith(QStringLiteral("heif-enc"),
        { QStringLiteral("-t"), QStringLiteral("96"), QStringLiteral("-o"), heicPath, source }, heicPath);
    ok &= !heic.isEmpty();
    const QSize picture(512, 384), thumb(96, 72);
    ok &= save(out + QStringLiteral("/heif-over-budget.heic"), heifIspe(heic, picture, { 16000, 12000 }));
    ok &= save(out + QStringLiteral("/heif-over-budget-larger-thumbnail.heic"),
        heifIspe(heifIspe(heic, picture, { 8000, 6000 }), thumb, { 16000, 12000 }));
    ok &= save(out + QStringLiteral("/heif-thumbnail-larger-than-picture.heic"),
        heifIspe(heic, thumb, { 16000, 12000 }));

    const QString pgm = work.filePath(QStringLiteral("wide.pgm"));
    {
        QFile f(pgm);
        ok &= f.open(QIODevice::WriteOnly);
        f.write("P5\n8000 6000\n255\n");
        QByteArray row(8000, Qt::Uninitialized);
        for (int x = 0; x < row.size(); ++x)
            row[x] = char((x / 40) % 256);
        for (int y = 0; y < 6000; ++y)
            f.write(row);
    }
    const QString jxlPath = work.filePath(QStringLiteral("wide.jxl"));
    const QByteArray jxl = encodedWith(QStringLiteral("cjxl"),
        { QStringLiteral("-d"), QStringLiteral("0"), QStringLiteral("-e"), QStringLiteral("1"), pgm,
            jxlPath },
        jxlPath);
    ok &= !jxl.isEmpty() && save(out + QStringLiteral("/jxl-over-budget.jxl"), jxl);

    QImage big(8192, 8192, QImage::Format_RGB32);
    big.fill(Qt::darkCyan);
    ztv::test::DngSpec dng;
    dng.sensorSize = { 240, 160 };
    dng.previewSize = { 240, 160 };
    dng.previewJpeg = encode(big, "JPEG", 50);
    ok &= save(out + QStringLiteral("/dng-preview-larger-than-claimed.dng"), ztv::test::dng(dng));

    for (int i = 0; i < 4; ++i) {
        QImage good(1200, 800, QImage::Format_RGB32);
        good.fill(QColor::fromHsv(i * 80, 200, 200));
        ok &= save(out + QStringLiteral("/good-%1.png").arg(i), encode(good, "PNG"));
        ok &= save(out + QStringLiteral("/good-%1.jpg").arg(i), encode(good, "JPEG"));
    }
    return ok;
}

// Eight crafted HEIF files of 0.7 to 1.5 MB, whose grid of 16,384 or 32,768 tiles (64 x 64, as
// heif-enc codes a small picture) shares one coded tile, written in each layout libheif reads (16- and 32-bit
// counts, 64-bit box sizes).
bool writeHeifGrids(const QString& out)
{
    QTemporaryDir work;
    QImage tile(32, 32, QImage::Format_RGB32);
    tile.fill(Qt::darkCyan);
    const QString source = work.filePath(QStringLiteral("tile.png"));
    tile.save(source);
    const QString heicPath = work.filePath(QStringLiteral("tile.heic"));
    const QByteArray single
        = encodedWith(QStringLiteral("heif-enc"), { QStringLiteral("-o"), heicPath, source }, heicPath);
    const struct {
        const char* name;
        int columns, rows;
        HeifGridLayout layout;
    } files[] = { { "grid-128x128", 128, 128, {} }, { "grid-128x128-large-boxes", 128, 128, { true, 0, 1 } },
        { "grid-128x128-iinf1", 128, 128, { false, 1, 1 } },
        { "grid-128x128-iloc2", 128, 128, { false, 0, 2 } },
        { "grid-128x128-wide", 128, 128, { true, 1, 2 } }, { "grid-256x64", 256, 64, {} },
        { "grid-64x256", 64, 256, { false, 1, 2 } }, { "grid-256x128", 256, 128, { false, 1, 2 } } };
    bool ok = !single.isEmpty();
    for (const auto& f : files) {
        const QByteArray grid = heifGrid(single, f.columns, f.rows, f.layout);
        ok &= !grid.isEmpty() && save(out + QStringLiteral("/%1.heic").arg(QLatin1String(f.name)), grid);
    }
    return ok;
}

// A camera's card: OUTPUT/DCIM/100CANON/IMG_0001.JPG and on, count files of 4000 x 3000 with a
// 160 x 120 EXIF thumbnail (every fourth turned a quarter). Eight distinct pictures (made up:
// light, shapes and sensor noise, no photo needed) are hard-linked under the names, so the card
// takes 8 files' space.
bool writeCameraCard(const QString& out, int count)
{
    const QString folder = out + QStringLiteral("/DCIM/100CANON");
    const QString store = out + QStringLiteral("/.pictures");
    if (!QDir().mkpath(folder) || !QDir().mkpath(store))
        return false;
    std::atomic<bool> ok { true };
    constexpr int distinct = 8;
    runParallel(distinct, [&](int i) {
        QImage scene(1000, 750, QImage::Format_RGB32);
        QLinearGradient sky(0, 0, 0, 750);
        sky.setColorAt(0, QColor::fromHsv((i * 45) % 360, 90, 230));
        sky.setColorAt(1, QColor::fromHsv((i * 45 + 120) % 360, 160, 90));
        QPainter painter(&scene);
        painter.fillRect(scene.rect(), sky);
        QRandomGenerator random(quint32(i + 1));
        for (int k = 0; k < 40; ++k) {
            painter.setBrush(QColor::fromRgb(random.generate() | 0xFF000000));
            painter.setPen(Qt::NoPen);
            painter.drawEllipse(QPointF(random.bounded(1000.0), random.bounded(750.0)),
                20.0 + random.bounded(140.0), 20.0 + random.bounded(100.0));
        }
        painter.end();
        const QImage picture = cameraPicture(scene, { 4000, 3000 }, quint32(2000 + i));
        const QByteArray thumb
            = encode(picture.scaled(160, 120, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), "JPEG", 85);
        const QByteArray bytes = ztv::test::withExif(encode(picture, "JPEG", 92), i % 4 == 3 ? 6 : 1, thumb);
        if (!save(store + QStringLiteral("/%1.jpg").arg(i), bytes))
            ok = false;
    });
    for (int n = 0; n < count && ok; ++n) {
        const QByteArray from = QFile::encodeName(store + QStringLiteral("/%1.jpg").arg(n % distinct));
        const QByteArray to
            = QFile::encodeName(folder + QStringLiteral("/IMG_%1.JPG").arg(n + 1, 4, 10, QLatin1Char('0')));
        if (::link(from.constData(), to.constData()) != 0)
            ok = false;
    }
    return ok;
}

// A card to file from: COUNT camera JPEGs (made as writeCameraCard's, each file's bytes and size
// its own) in DCIM/100CANON, and PAIRS more as
// RAW + JPEG pairs (IMG_n.CR3 of about 4 MB beside IMG_n.JPG).
bool writeImportCard(const QString& out, int count, int pairs)
{
    const QString scenes = out + QStringLiteral("/.scenes");
    if (!writeCameraCard(scenes, 0))
        return false;
    const QString folder = out + QStringLiteral("/DCIM/100CANON/");
    QDir().mkpath(folder);
    for (int n = 0; n < count + pairs; ++n) {
        QFile in(scenes + QStringLiteral("/.pictures/%1.jpg").arg(n % 8));
        if (!in.open(QIODevice::ReadOnly))
            return false;
        QByteArray bytes = in.readAll();
        // After the end marker, where readers pass over it: the number, and as many bytes more,
        // so no two files have one size (eight scenes would give many; a real card's rarely do).
        bytes += "picture " + QByteArray::number(n) + QByteArray(n, ' ');
        const QString name = folder + QStringLiteral("IMG_%1").arg(n + 1, 4, 10, QLatin1Char('0'));
        if (!save(name + QStringLiteral(".JPG"), bytes))
            return false;
        if (n >= count) {
            QByteArray raw(4 * 1000 * 1000 + 4096 * n, Qt::Uninitialized); // sizes differ, as real RAWs do
            QRandomGenerator random { quint32(n) };
            random.fillRange(reinterpret_cast<quint32*>(raw.data()), raw.size() / 4);
            if (!save(name + QStringLiteral(".CR3"), raw))
                return false;
        }
    }
    QDir(scenes).removeRecursively();
    return true;
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QLatin1String("--hostile")) {
        QDir().mkpath(args[2]);
        return writeHostile(args[2]) ? 0 : 1;
    }
    if (args.size() == 4 && args[1] == QLatin1String("--camera-card"))
        return writeCameraCard(args[2], args[3].toInt()) ? 0 : 1;
    if (args.size() == 5 && args[1] == QLatin1String("--import-card"))
        return writeImportCard(args[2], args[3].toInt(), args[4].toInt()) ? 0 : 1;
    if (args.size() == 3 && args[1] == QLatin1String("--heif-grids")) {
        QDir().mkpath(args[2]);
        return writeHeifGrids(args[2]) ? 0 : 1;
    }
    const bool wallpapers = args.size() > 1 && args[1] == QLatin1String("--wallpapers");
    if (wallpapers)
        args.removeAt(1);
    if (args.size() < 3) {
        std::fprintf(stderr,
            "usage: zentovi-corpus [--wallpapers] OUTPUT-FOLDER PHOTO... | --hostile OUTPUT-FOLDER\n"
            "       zentovi-corpus --heif-grids OUTPUT-FOLDER | --camera-card OUTPUT-FOLDER COUNT\n"
            "       zentovi-corpus --import-card OUTPUT-FOLDER COUNT PAIRS\n");
        return 2;
    }
    const QString out = args[1];
    QDir().mkpath(out);
    std::vector<QImage> photos;
    for (int i = 2; i < args.size(); ++i) {
        QImage photo(args[i]);
        if (!photo.isNull())
            photos.push_back(photo.convertToFormat(QImage::Format_RGB32));
    }
    if (photos.empty()) {
        std::fprintf(stderr, "no readable photos\n");
        return 1;
    }
    if (wallpapers)
        return writeWallpapers(out, photos) ? 0 : 1;
    const int orientations[] = { 3, 6, 8 };
    std::atomic<bool> ok { true };

    // 200 camera pictures of 4000 x 3000: 60% with a 160 x 120 EXIF thumbnail, 40% turned.
    runParallel(200, [&](int i) {
        const QImage picture = cameraPicture(photos[size_t(i) % photos.size()], { 4000, 3000 }, quint32(i));
        const bool withThumb = i % 5 < 3;
        const int orientation = (i % 5 == 1 || i % 5 == 3) ? orientations[(i / 5) % 3] : 0;
        const QByteArray thumb = withThumb
            ? encode(picture.scaled(160, 120, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), "JPEG", 85)
            : QByteArray();
        QByteArray bytes = encode(picture, "JPEG", 92);
        if (withThumb || orientation)
            bytes = ztv::test::withExif(bytes, orientation, thumb);
        if (!save(out + QStringLiteral("/camera-%1.jpg").arg(i + 1, 3, 10, QLatin1Char('0')), bytes))
            ok = false;
    });
    // 10 of 6000 x 4000 whose 4:3 thumbnail is letterboxed: used with its bars cut off.
    runParallel(10, [&](int i) {
        const QImage picture
            = cameraPicture(photos[size_t(i + 7) % photos.size()], { 6000, 4000 }, quint32(1000 + i));
        const QByteArray bytes = ztv::test::withExif(
            encode(picture, "JPEG", 92), 1, encode(letterboxed(picture, { 160, 120 }), "JPEG", 85));
        if (!save(out + QStringLiteral("/dslr-%1.jpg").arg(i + 1, 2, 10, QLatin1Char('0')), bytes))
            ok = false;
    });
    // 21 RGBA PNGs, screen sizes.
    runParallel(21, [&](int i) {
        const QSize size = i % 2 ? QSize(2560, 1440) : QSize(1920, 1080);
        QImage picture = photos[size_t(i + 3) % photos.size()]
                             .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                             .convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < picture.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
            for (int x = 0; x < picture.width(); ++x)
                line[x] = qRgba(
                    qRed(line[x]), qGreen(line[x]), qBlue(line[x]), 128 + (x * 127) / picture.width());
        }
        if (!save(out + QStringLiteral("/screen-%1.png").arg(i + 1, 2, 10, QLatin1Char('0')),
                encode(picture, "PNG")))
            ok = false;
    });
    // 8 broken files.
    const QByteArray jpeg = encode(cameraPicture(photos[0], { 1600, 1200 }, 7), "JPEG", 90);
    QByteArray badCrc = encode(photos[1].scaled(400, 300), "PNG");
    badCrc[40] = char(badCrc[40] ^ 0x55);
    QByteArray noise(20000, Qt::Uninitialized);
    for (char& c : noise)
        c = char(QRandomGenerator::global()->bounded(256));
    const std::pair<const char*, QByteArray> broken[] = {
        { "broken-1-truncated.jpg", jpeg.left(jpeg.size() / 3) },
        { "broken-2-header-only.jpg", jpeg.left(600) },
        { "broken-3-empty.jpg", QByteArray() },
        { "broken-4-text.jpg", QByteArray("This is not a picture.\n").repeated(40) },
        { "broken-5-noise.gif", noise },
        { "broken-6-bad-crc.png", badCrc },
        { "broken-7-truncated.png", badCrc.left(500) },
        { "broken-8-garbage-after-soi.jpg", QByteArray("\xFF\xD8\xFF\xE0", 4) + noise },
    };
    for (const auto& [name, bytes] : broken) {
        if (!save(out + QLatin1Char('/') + QLatin1String(name), bytes))
            ok = false;
    }
    return ok ? 0 : 1;
}
