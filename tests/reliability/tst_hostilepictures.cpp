#include "ExifBuilder.h"
#include "PictureBytes.h"
#include "RawBuilder.h"
#include "StorageBuilder.h"
#include "imaging/ExtraFormats.h"
#include "imaging/PictureDisplay.h"
#include "imaging/PngThumbnailer.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailEngine.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

using namespace ztv;
using ztv::test::be32;
using ztv::test::Deflater;
using ztv::test::heifGrid;
using ztv::test::HeifGridLayout;
using ztv::test::heifIspe;
using ztv::test::pngChunk;
using ztv::test::TestHome;
namespace pictures = ztv::test::pictures;

namespace {

quint32 crc32(const QByteArray& bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char ch : bytes) {
        crc ^= quint8(ch);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A well-formed PNG whose header claims width x height RGBA with a few bytes of pixel data.
QByteArray pngClaiming(quint32 width, quint32 height)
{
    QByteArray ihdr = be32(width) + be32(height);
    ihdr.append(char(8)).append(char(6)).append(char(0)).append(char(0)).append(char(0));
    const QByteArray idat = qCompress(QByteArray(4096, '\0')).mid(4); // zlib stream
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", ihdr) + pngChunk("IDAT", idat)
        + pngChunk("IEND", {});
}

QByteArray gifClaiming(quint16 width, quint16 height)
{
    QByteArray g("GIF89a");
    auto le16 = [&](quint16 v) {
        g.append(char(v & 0xFF));
        g.append(char(v >> 8));
    };
    le16(width);
    le16(height);
    g.append(char(0x80)).append(char(0)).append(char(0));
    g.append(QByteArray("\0\0\0\xFF\xFF\xFF", 6));
    g.append(char(0x2C));
    le16(0);
    le16(0);
    le16(width);
    le16(height);
    g.append(char(0));
    g.append(char(2)).append(char(2)).append("\x44\x01", 2).append(char(0)).append(char(0x3B));
    return g;
}

// A small JPEG whose frame header is rewritten to claim width x height.
QByteArray jpegClaiming(quint16 width, quint16 height, bool progressive)
{
    QImage image(64, 64, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "JPEG");
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    const int sof = bytes.indexOf(progressive ? QByteArray("\xFF\xC2", 2) : QByteArray("\xFF\xC0", 2));
    if (sof < 0)
        qFatal("no frame header");
    qToBigEndian(height, bytes.data() + sof + 5);
    qToBigEndian(width, bytes.data() + sof + 7);
    return bytes;
}

// A file made by one of Debian's encoders from a small picture; empty when the tool fails.
QByteArray encodedWith(const QString& tool, const QStringList& arguments, const QString& output)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(tool, arguments);
    if (!p.waitForStarted(10000) || !p.waitForFinished(120000) || p.exitCode() != 0)
        return {};
    QFile f(output);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A 64 x 48 picture written by heif-enc, with a 32 x 24 thumbnail; source is where its PNG lies.
QByteArray sampleHeic(TestHome& home, QString* source, QString* work)
{
    *source = home.write(QStringLiteral("source.png"), pictures::png({ 64, 48 }));
    *work = home.home() + QStringLiteral("/encoded");
    return encodedWith(QStringLiteral("heif-enc"),
        { QStringLiteral("-t"), QStringLiteral("32"), QStringLiteral("-o"), *work + QStringLiteral(".heic"),
            *source },
        *work + QStringLiteral(".heic"));
}

// A HEIF or AVIF file whose image-size properties (ispe) all claim width x height.
QByteArray heifClaiming(QByteArray bytes, quint32 width, quint32 height)
{
    int found = 0;
    for (qsizetype at = bytes.indexOf("ispe"); at >= 0; at = bytes.indexOf("ispe", at + 4), ++found) {
        if (at + 16 > bytes.size())
            return {};
        qToBigEndian(width, bytes.data() + at + 8);
        qToBigEndian(height, bytes.data() + at + 12);
    }
    return found ? bytes : QByteArray();
}

long maxRssKiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

class TestHostilePictures : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void attackFolderIsCountedAndSkipped();
    void unreadableFolder();
    void fuzzRegressions();
    void pngRowRouteWithinBounds();
    void libraryLimitsFolder();
    void heifItemsCountedBeforeLibheif();
};

void TestHostilePictures::attackFolderIsCountedAndSkipped()
{
    TestHome home;
    const QString dir = home.makeDir(QStringLiteral("attack"));
    home.write(QStringLiteral("attack/01 huge.png"), pngClaiming(60000, 60000));
    home.write(QStringLiteral("attack/02 huge.gif"), gifClaiming(60000, 60000));
    home.write(QStringLiteral("attack/03 huge.jpg"), jpegClaiming(20000, 20000, false));
    home.write(QStringLiteral("attack/04 huge progressive.jpg"), jpegClaiming(20000, 20000, true));
    home.write(QStringLiteral("attack/05 truncated.png"), pictures::png({ 300, 300 }).left(200));
    home.write(QStringLiteral("attack/06 header only.jpg"), pictures::jpeg({ 300, 300 }).left(700));
    home.write(QStringLiteral("attack/07 empty.jpg"), QByteArray());
    const QString sparse = dir + QStringLiteral("/08 sparse.jpg");
    const QString sparseJpeg = dir + QStringLiteral("/09 sparse after start.jpg");
    for (const QString& path : { sparse, sparseJpeg }) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        QVERIFY(fd >= 0);
        if (path == sparseJpeg)
            QCOMPARE(::write(fd, "\xFF\xD8\xFF\xE0", 4), ssize_t(4));
        QCOMPARE(::ftruncate(fd, 2LL * 1024 * 1024 * 1024), 0);
        ::close(fd);
    }
    QVERIFY(QFile::link(dir + QStringLiteral("/10 loop b.jpg"), dir + QStringLiteral("/10 loop a.jpg")));
    QVERIFY(QFile::link(dir + QStringLiteral("/10 loop a.jpg"), dir + QStringLiteral("/10 loop b.jpg")));
    QVERIFY(::mkfifo(QFile::encodeName(dir + QStringLiteral("/11 fifo.png")).constData(), 0644) == 0);
    home.makeDir(QStringLiteral("attack/12 folder.jpg"));
    // Formats read through their own libraries: size bombs, cut-off files, lying fields.
    QString source, work;
    const QByteArray heic = sampleHeic(home, &source, &work);
    const QByteArray avif = encodedWith(QStringLiteral("avifenc"),
        { QStringLiteral("-s"), QStringLiteral("10"), source, work + QStringLiteral(".avif") },
        work + QStringLiteral(".avif"));
    const QByteArray jxl = encodedWith(
        QStringLiteral("cjxl"), { source, work + QStringLiteral(".jxl") }, work + QStringLiteral(".jxl"));
    QVERIFY2(!heic.isEmpty() && !avif.isEmpty() && !jxl.isEmpty(),
        "heif-enc, avifenc and cjxl (scripts/install-deps.sh test) make the samples");
    // Untouched, each is a sound picture: what is refused below is refused for the damage.
    for (const QByteArray* sound : { &heic, &avif, &jxl })
        QVERIFY(!makeThumbnailFromBytes(*sound, { 100, 100 }).isNull());
    home.write(QStringLiteral("attack/13 huge.heic"), heifClaiming(heic, 60000, 60000));
    home.write(QStringLiteral("attack/14 huge.avif"), heifClaiming(avif, 60000, 60000));
    home.write(QStringLiteral("attack/15 truncated.heic"), heic.left(heic.size() / 2));
    home.write(QStringLiteral("attack/16 truncated.jxl"), jxl.left(jxl.size() / 2));
    ztv::test::DngSpec lying;
    lying.previewJpeg = pictures::jpeg({ 96, 64 });
    lying.previewSize = { 60000, 60000 };
    lying.previewLengthField = 0xFFFFFF00u;
    lying.sensorOffsetField = 0x7FFFFFF0u;
    ztv::test::DngSpec sound = lying;
    sound.previewSize = { 96, 64 };
    sound.previewLengthField = sound.sensorOffsetField = 0;
    QVERIFY(!makeThumbnailFromBytes(ztv::test::dng(sound), { 100, 100 }).isNull());
    home.write(QStringLiteral("attack/17 huge preview.dng"), ztv::test::dng(lying));
    ztv::test::DngSpec huge;
    huge.sensorSize = { 60000, 60000 };
    huge.sensorBytesWritten = 4096;
    home.write(QStringLiteral("attack/18 huge sensor.dng"), ztv::test::dng(huge));
    home.write(QStringLiteral("attack/19 truncated.dng"), ztv::test::dng(lying).left(300));
    home.write(QStringLiteral("attack/20 good.png"), pictures::png({ 200, 100 }));

    ThumbnailBrowser browser;
    browser.setCacheFolder(home.home() + QStringLiteral("/cache"));
    browser.setWorkerCount(2);
    QList<int> statuses;
    QStringList names;
    QObject context;
    connect(&browser, &ThumbnailBrowser::ThumbnailReady, &context,
        [&](const QImage&, const QString& path, int status) {
            statuses.append(status);
            names.append(QFileInfo(path).fileName());
            browser.setContinueBrowsing(true);
        });
    const long rssBefore = maxRssKiB();
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(browser.BrowseFolder(dir), ThumbnailBrowser::ResultOk);
    const qint64 ms = clock.elapsed();
    const long growthMiB = (maxRssKiB() - rssBefore) / 1024;
    qInfo("attack folder: %lld files in %lld ms, peak memory grew by %ld MiB (peak %ld MiB)",
        qint64(statuses.size()), ms, growthMiB, maxRssKiB() / 1024);
    QCOMPARE(statuses.size(), 20); // every file but the folder
    QVERIFY(!names.contains(QStringLiteral("12 folder.jpg")));
    for (int i = 0; i < statuses.size() - 1; ++i)
        QVERIFY2(statuses[i] == ThumbnailResult::Unreadable, qPrintable(names[i]));
    QCOMPARE(statuses.last(), int(ThumbnailResult::Made));
    QVERIFY2(growthMiB < 300, qPrintable(QString::number(growthMiB)));
    // Nothing was written for the broken files.
    QCOMPARE(QDir(home.home() + QStringLiteral("/cache/normal")).entryList(QDir::Files).size(), 1);

    // Chosen one by one, each is refused with a reason, within the same memory bound. Only the
    // header-only JPEG shows (grey, as its data ends), besides the good one.
    PictureDisplay display;
    display.resize(400, 300);
    QStringList shown, refused;
    clock.restart();
    for (const QString& name :
        QDir(dir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        if (display.LoadPicture(dir + QLatin1Char('/') + name)) {
            shown << name;
            QVERIFY(display.picture().width() <= 300 && display.picture().height() <= 300);
        } else {
            QVERIFY2(!display.lastError().isEmpty(), qPrintable(name));
            refused << name;
        }
    }
    const qint64 shownMs = clock.elapsed();
    qInfo("attack folder chosen file by file: %lld ms, peak memory %ld MiB", shownMs, maxRssKiB() / 1024);
    QCOMPARE(shown, QStringList({ QStringLiteral("06 header only.jpg"), QStringLiteral("20 good.png") }));
    QCOMPARE(refused.size(), 19); // both loop links and the folder too
    QVERIFY2(maxRssKiB() - rssBefore < 300 * 1024, qPrintable(QString::number(maxRssKiB() / 1024)));
}

namespace {

// Root reads every folder, so as root the case runs again in a copy of this program as the
// ordinary user "nobody": the build folder may lie where that user cannot go. The result is
// the copy's exit status: 0 passed, 77 could not run there, anything else failed.
int rerunAsNobody(const char* testFunction)
{
    QTemporaryDir bin;
    if (!bin.isValid() || ::chmod(QFile::encodeName(bin.path()).constData(), 0755) != 0)
        return 77;
    const QString exe = bin.path() + QStringLiteral("/tst_copy");
    if (!QFile::copy(QStringLiteral("/proc/self/exe"), exe)
        || ::chmod(QFile::encodeName(exe).constData(), 0755) != 0)
        return 77;
    const QByteArray exeBytes = QFile::encodeName(exe);
    const passwd* nobody = ::getpwnam("nobody");
    const uid_t uid = nobody ? nobody->pw_uid : 65534;
    const gid_t gid = nobody ? nobody->pw_gid : 65534;
    // The copy checks permissions, not leaks; leak suppressions may lie where it cannot read.
    QList<QByteArray> environment;
    for (char** e = environ; *e; ++e) {
        const QByteArray entry(*e);
        if (entry.startsWith("LSAN_OPTIONS="))
            continue;
        environment << (entry.startsWith("ASAN_OPTIONS=")
                ? QByteArray(entry).replace("detect_leaks=1", "detect_leaks=0")
                : entry);
    }
    std::vector<char*> envp;
    for (QByteArray& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    const pid_t child = ::fork();
    if (child < 0)
        return 77;
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(77);
        const int quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, STDOUT_FILENO);
        char* const argv[]
            = { const_cast<char*>(exeBytes.constData()), const_cast<char*>(testFunction), nullptr };
        ::execve(exeBytes.constData(), argv, envp.data());
        ::_exit(77);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

} // namespace

void TestHostilePictures::unreadableFolder()
{
    if (::geteuid() == 0) {
        const int status = rerunAsNobody("unreadableFolder");
        if (status == 77)
            QSKIP("root reads any folder, and no copy of the test could run as an ordinary user");
        QCOMPARE(status, 0);
        return;
    }
    TestHome home;
    const QString dir = home.makeDir(QStringLiteral("closed"));
    home.write(QStringLiteral("closed/a.png"), pictures::png({ 10, 10 }));
    QVERIFY(::chmod(QFile::encodeName(dir).constData(), 0) == 0);
    ThumbnailBrowser browser;
    int made = 0;
    connect(&browser, &ThumbnailBrowser::ThumbnailReady, [&] { ++made; });
    const int r = browser.BrowseFolder(dir);
    ::chmod(QFile::encodeName(dir).constData(), 0755);
    QCOMPARE(r, ThumbnailBrowser::ResultFolderUnreadable);
    QCOMPARE(made, 0);
}

void TestHostilePictures::fuzzRegressions()
{
    // Inputs the fuzz target once crashed or hung on; each must now give a bounded result.
    const QDir dir(QStringLiteral(ZENTOVI_FUZZ_REGRESSIONS));
    const QStringList files = dir.entryList(QDir::Files);
    for (const QString& name : files) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QImage thumb = makeThumbnailFromBytes(file.readAll(), { 100, 100 });
        QVERIFY2(thumb.isNull() || (thumb.width() <= 100 && thumb.height() <= 100), qPrintable(name));
    }
    if (files.isEmpty())
        QSKIP("no regression inputs kept yet");
}

namespace {

// The first box of type inside bytes, found by its name (the crafted grids hold each once).
qsizetype boxAt(const QByteArray& bytes, const char* type)
{
    const qsizetype at = bytes.indexOf(QByteArray(type, 4));
    return at >= 4 ? at - 4 : -1;
}

} // namespace

void TestHostilePictures::heifItemsCountedBeforeLibheif()
{
    TestHome home;
    // heif-enc codes this small picture as one 64 x 64 tile.
    const QString source = home.write(QStringLiteral("tile.png"), pictures::png({ 32, 32 }));
    const QString out = home.home() + QStringLiteral("/tile.heic");
    const QByteArray single
        = encodedWith(QStringLiteral("heif-enc"), { QStringLiteral("-o"), out, source }, out);
    QVERIFY2(!single.isEmpty(), "heif-enc (scripts/install-deps.sh test) makes the tile");
    // A small grid decodes in each layout of the boxes: the walk reads them as libheif does.
    const HeifGridLayout layouts[] = { {}, { true, 0, 1 }, { false, 1, 1 }, { true, 1, 2 } };
    for (const HeifGridLayout& layout : layouts) {
        const QImage thumb = makeThumbnailFromBytes(heifGrid(single, 3, 2, layout), { 100, 100 });
        QCOMPARE(thumb.size(), QSize(100, 67)); // 192 x 128
    }
    const QByteArray sound = heifGrid(single, 3, 2);

    const QString dir = home.makeDir(QStringLiteral("grids"));
    home.write(QStringLiteral("grids/01 16384 tiles.heic"), heifGrid(single, 128, 128));
    home.write(QStringLiteral("grids/02 16384 tiles, 64-bit sizes.heic"),
        heifGrid(single, 128, 128, { true, 1, 2 }));
    // Within the pixel budget, which libheif would decode tile by tile: refused for its items.
    const int rows = int(HeifItemLimit / 64) + 1;
    QVERIFY(qint64(64 * 64) * 64 * rows <= ThumbnailPixelBudget);
    const QByteArray overLimit = heifGrid(single, 64, rows);
    home.write(QStringLiteral("grids/03 over the item limit.heic"), overLimit);
    QVERIFY(makeThumbnailFromBytes(overLimit, { 100, 100 }).isNull());
    // Box sizes that lie: past the file's end, below the header, past the container, 64 bits
    // of nonsense; a version libheif does not know; no iinf at all.
    auto patched = [](QByteArray bytes, qsizetype at, const QByteArray& with) {
        bytes.replace(at, with.size(), with);
        return bytes;
    };
    const qsizetype meta = boxAt(sound, "meta"), iinf = boxAt(sound, "iinf"), iloc = boxAt(sound, "iloc");
    QVERIFY(meta > 0 && iinf > meta && iloc > meta);
    home.write(QStringLiteral("grids/04 meta past the end.heic"), patched(sound, meta, be32(0x7FFFFFF0u)));
    home.write(QStringLiteral("grids/05 iinf below its header.heic"), patched(sound, iinf, be32(4)));
    home.write(QStringLiteral("grids/06 iloc past meta.heic"), patched(sound, iloc, be32(0x00FFFFFFu)));
    const QByteArray large = heifGrid(single, 3, 2, { true, 0, 1 });
    home.write(QStringLiteral("grids/07 64-bit meta size.heic"),
        patched(large, boxAt(large, "meta") + 8, be32(0xFFFFFFFFu) + be32(0xFFFFFFF0u)));
    home.write(QStringLiteral("grids/08 iloc version 3.heic"), patched(sound, iloc + 8, QByteArray(1, 3)));
    home.write(QStringLiteral("grids/09 no iinf.heic"), patched(sound, iinf + 4, QByteArrayLiteral("free")));
    home.write(QStringLiteral("grids/10 sound.heic"), sound);
    // Cut anywhere in its boxes, no file reads outside itself or decodes.
    const qsizetype mdat = boxAt(sound, "mdat");
    for (qsizetype length = 0; length < mdat + 8; length += 5)
        QVERIFY2(makeThumbnailFromBytes(sound.left(length), { 100, 100 }).isNull(),
            qPrintable(QString::number(length)));

    ThumbnailBrowser browser;
    browser.setWorkerCount(2);
    QStringList made, unreadable;
    QObject context;
    connect(&browser, &ThumbnailBrowser::ThumbnailReady, &context,
        [&](const QImage&, const QString& path, int status) {
            (status == ThumbnailResult::Made ? made : unreadable) << QFileInfo(path).fileName();
            browser.setContinueBrowsing(true);
        });
    QCOMPARE(browser.BrowseFolder(dir), ThumbnailBrowser::ResultOk);
    QCOMPARE(made, QStringList { QStringLiteral("10 sound.heic") });
    QCOMPARE(unreadable.size(), 9);
    // Chosen, the crafted grid is refused with a reason as any other unreadable picture.
    PictureDisplay display;
    display.resize(400, 300);
    QVERIFY(!display.LoadPicture(dir + QStringLiteral("/01 16384 tiles.heic")));
    QVERIFY(!display.lastError().isEmpty());
}

QTEST_MAIN(TestHostilePictures)
#include "tst_hostilepictures.moc"

namespace {

// A PNG of width x height RGB rows, each given by row(y) (filter byte first), deflated as it
// goes; extraZeros more zero bytes follow inside the stream, past what the picture needs.
template <typename Row> QByteArray pngFromRows(quint32 width, quint32 height, Row row, qint64 extraZeros = 0)
{
    Deflater z;
    for (quint32 y = 0; y < height; ++y) {
        const QByteArray bytes = row(y);
        z.feed(bytes.constData(), size_t(bytes.size()));
    }
    z.zeros(extraZeros);
    const QByteArray idat = z.finish();
    QByteArray ihdr = be32(width) + be32(height);
    ihdr.append(char(8)).append(char(2)).append(char(0)).append(char(0)).append(char(0));
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", ihdr) + pngChunk("IDAT", idat)
        + pngChunk("IEND", {});
}

QByteArray noisyRow(quint32 width, quint32 y)
{
    QByteArray r(qsizetype(width) * 3 + 1, Qt::Uninitialized);
    r[0] = char(y % 5); // every filter type in turn
    quint32 v = y * 2654435761u;
    for (qsizetype i = 1; i < r.size(); ++i) {
        v = v * 1103515245u + 12345u;
        r[i] = char(v >> 24);
    }
    return r;
}

// Rows of a regular pattern that deflate compresses well, every filter type in turn.
QByteArray regularRow(quint32 width, quint32 y)
{
    QByteArray r(qsizetype(width) * 3 + 1, Qt::Uninitialized);
    r[0] = char(y % 5);
    for (qsizetype i = 1; i < r.size(); ++i)
        r[i] = char((i + y) % 4);
    return r;
}

// The route on a file, run in a child process that may not map more than 48 MiB beyond what
// it inherited (a full decode of the pictures below would need twice that): its outcome as
// the exit code (0 made and within the box, 1 unreadable, 2 not handled).
int pngRouteInChild(const QByteArray& png, bool throughQt = false)
{
    const int fd = ::memfd_create("png", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, png.constData(), size_t(png.size())) != ssize_t(png.size()))
        return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        long pages = 0;
        FILE* f = std::fopen("/proc/self/statm", "r");
        if (!f || std::fscanf(f, "%ld", &pages) != 1)
            ::_exit(4);
        std::fclose(f);
        const rlim_t limit = rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + 48u * 1024 * 1024;
        const rlimit bound { limit, limit };
        if (::setrlimit(RLIMIT_AS, &bound) != 0)
            ::_exit(4);
        QImage image;
        if (throughQt) {
            QFile file;
            ::_exit(file.open(fd, QIODevice::ReadOnly) && !readScaledWithQt(&file, { 100, 100 }).isNull()
                    ? 0
                    : 1);
        }
        const PngOutcome outcome = makePngThumbnail(fd, { 100, 100 }, &image);
        ::_exit(outcome == PngOutcome::Made         ? (image.width() <= 100 && image.height() <= 100 ? 0 : 3)
                : outcome == PngOutcome::Unreadable ? 1
                                                    : 2);
    }
    ::close(fd);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

} // namespace

void TestHostilePictures::pngRowRouteWithinBounds()
{
    // A zlib bomb: 5000 x 5000 of zero rows (the full picture would be 95 MiB as 32-bit
    // pixels) in a few hundred KiB, its stream running on for 100 MiB past the picture. The
    // whole-data route cannot have its 72 MiB under the limit here, so the rows stream, at
    // the cost of a few rows of memory, whatever follows the last one.
    const QByteArray bomb = pngFromRows(
        5000, 5000, [](quint32) { return QByteArray(5000 * 3 + 1, '\0'); }, 100LL * 1024 * 1024);
    QVERIFY(bomb.size() < 1024 * 1024);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(pngRouteInChild(bomb), 0);
    qInfo("zlib bomb: %lld ms", clock.elapsed());
    QCOMPARE(pngRouteInChild(bomb, true), 1); // the bound bites: a whole-picture decode fails
    QImage image;
    QCOMPARE(makePngThumbnailFromMemory(
                 reinterpret_cast<const uchar*>(bomb.constData()), size_t(bomb.size()), { 100, 100 }, &image),
        PngOutcome::Made);
    QCOMPARE(image.size(), QSize(100, 100));
    QCOMPARE(image.pixel(50, 50), qRgb(0, 0, 0));

    // Headers claiming more than the pixel limit are refused before any row is read.
    for (const QSize claim : { QSize(60000, 60000), QSize(70000, 4000) }) {
        const QByteArray huge = pngClaiming(quint32(claim.width()), quint32(claim.height()));
        QCOMPARE(pngRouteInChild(huge), 1);
        QVERIFY(makeThumbnailFromBytes(huge, { 100, 100 }).isNull());
    }

    for (const bool compressible : { false, true }) {
        // Truncated and damaged rows end in nothing shown, never in a crash or a wrong size:
        // noisy rows, whose deflate stream is about as long as the rows (inflated as they are
        // read), and regular ones that compress well (inflated whole).
        const auto rowOf
            = [compressible](quint32 y) { return compressible ? regularRow(1000, y) : noisyRow(1000, y); };
        const QByteArray sound = pngFromRows(1000, 700, rowOf);
        const qsizetype raw = 700 * (1000 * 3 + 1);
        QVERIFY(compressible ? sound.size() < raw / 4 : sound.size() > raw / 4 * 3);
        QCOMPARE(pngRouteInChild(sound), 0);
        QVERIFY(!makeThumbnailFromBytes(sound, { 100, 100 }).isNull());
        for (const double keep : { 0.05, 0.5, 0.95 })
            QCOMPARE(pngRouteInChild(sound.left(qsizetype(sound.size() * keep))), 1);
        // A row whose filter type does not exist.
        const QByteArray badFilter = pngFromRows(1000, 700, [&](quint32 y) {
            QByteArray r = rowOf(y);
            if (y == 350)
                r[0] = 9;
            return r;
        });
        QCOMPARE(pngRouteInChild(badFilter), 1);
        QVERIFY(makeThumbnailFromBytes(badFilter, { 100, 100 }).isNull());
        // Bytes flipped inside the compressed rows, the chunk's checksum left wrong or made right.
        const qsizetype idat = sound.indexOf("IDAT");
        QVERIFY(idat > 0);
        const quint32 length = qFromBigEndian<quint32>(sound.constData() + idat - 4);
        QByteArray flipped = sound;
        const qsizetype from = idat + 4 + qsizetype(length) / 4;
        for (qsizetype i = from; i < from + std::min<qsizetype>(400, qsizetype(length) / 4); ++i)
            flipped[i] = char(~flipped[i]);
        QCOMPARE(pngRouteInChild(flipped), 1);
        const QByteArray crc = be32(crc32(flipped.mid(idat, 4 + qsizetype(length))));
        flipped.replace(idat + 4 + qsizetype(length), 4, crc);
        // The stream's own checksum (Adler-32) catches what the chunk's CRC no longer does.
        QCOMPARE(pngRouteInChild(flipped), 1);

        // The same picture data rewritten: the header's height, the zlib stream's last bytes
        // (its Adler-32), the chunks the stream is cut into and what comes between them.
        const qsizetype at = idat - 4;
        const QByteArray head = sound.left(at), stream = sound.mid(idat + 4, qsizetype(length));
        auto rebuilt = [&](const QByteArray& header, const QByteArray& data, int chunkSize,
                           const QByteArray& between) {
            QByteArray png = header;
            for (qsizetype i = 0; i < data.size(); i += chunkSize)
                png += (i > 0 ? between : QByteArray()) + pngChunk("IDAT", data.mid(i, chunkSize));
            return png + pngChunk("IEND", {});
        };
        QCOMPARE(pngRouteInChild(rebuilt(head, stream, 5, {})), 0); // many small IDAT chunks are sound
        QByteArray badAdler = stream;
        badAdler[badAdler.size() - 1] = char(badAdler.at(badAdler.size() - 1) ^ 1);
        QCOMPARE(pngRouteInChild(rebuilt(head, badAdler, 1 << 20, {})), 1);
        QCOMPARE(pngRouteInChild(rebuilt(head, stream, int(stream.size() / 2), pngChunk("tEXt", "a\0b"))), 1);
        QCOMPARE(pngRouteInChild(rebuilt(head, {}, 1, {})), 1); // no picture data at all
        QByteArray badHeader = head;
        badHeader[16 + 7] = char(badHeader.at(16 + 7) ^ 1); // a byte of the height, the CRC left
        QCOMPARE(pngRouteInChild(rebuilt(badHeader, stream, 1 << 20, {})), 1);
        // One row more in the header than in the stream (the header's CRC made right).
        QByteArray taller = head;
        qToBigEndian<quint32>(701, taller.data() + 16 + 4);
        taller.replace(16 + 13, 4, be32(crc32(taller.mid(12, 4 + 13))));
        QCOMPARE(pngRouteInChild(rebuilt(taller, stream, 1 << 20, {})), 1);
        QVERIFY(makeThumbnailFromBytes(rebuilt(taller, stream, 1 << 20, {}), { 100, 100 }).isNull());
    }
}

namespace {

// A PNG whose header is followed by one chunk header claiming 0x7FFFFFF0 bytes, and nothing
// more: 44 bytes that made libpng allocate and zero 2 GiB.
QByteArray pngChunkBomb(int colourType, const char* type, const QByteArray& before = {})
{
    QByteArray ihdr = be32(512) + be32(512);
    ihdr.append(char(8)).append(char(colourType)).append(char(0)).append(char(0)).append(char(0));
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", ihdr) + before + be32(0x7FFFFFF0u)
        + QByteArray(type, 4);
}

// A 256 x 256 palette PNG (read through libpng) whose stream runs on for `zeros` bytes after
// the last row, cut into two picture-data chunks after its first 4 KiB; the second chunk's
// checksum is wrong. Only a reader that inflates past the last row meets it.
QByteArray paletteTailPng(qint64 zeros)
{
    z_stream z {};
    deflateInit(&z, 9);
    QByteArray stream;
    std::vector<unsigned char> out(1 << 20);
    const std::vector<unsigned char> block(1 << 20, 0);
    qint64 left = 256 * 257 + zeros; // filter byte 0 and index 0 throughout, then the tail
    do {
        const size_t n = size_t(std::min<qint64>(left, qint64(block.size())));
        z.next_in = const_cast<unsigned char*>(block.data());
        z.avail_in = uInt(n);
        left -= qint64(n);
        do {
            z.next_out = out.data();
            z.avail_out = uInt(out.size());
            deflate(&z, left > 0 ? Z_NO_FLUSH : Z_FINISH);
            stream.append(reinterpret_cast<const char*>(out.data()), qsizetype(out.size() - z.avail_out));
        } while (z.avail_out == 0);
    } while (left > 0);
    deflateEnd(&z);
    QByteArray ihdr = be32(256) + be32(256);
    ihdr.append(char(8)).append(char(3)).append(char(0)).append(char(0)).append(char(0));
    QByteArray damaged = pngChunk("IDAT", stream.mid(4096));
    damaged[damaged.size() - 1] = char(damaged.at(damaged.size() - 1) ^ 0x55);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", ihdr)
        + pngChunk("PLTE", QByteArray("\x10\x20\x30\xF0\xF0\xF0", 6)) + pngChunk("IDAT", stream.left(4096))
        + damaged + pngChunk("IEND", {});
}

// The peak resident memory since the last resetPeak(), in KiB (VmHWM; Linux resets it on
// request, unlike getrusage's figure, so one case's peak is not hidden by an earlier one's).
void resetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

long peakKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return maxRssKiB();
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return maxRssKiB();
}

} // namespace

void TestHostilePictures::libraryLimitsFolder()
{
    TestHome home;
    const QString dir = home.makeDir(QStringLiteral("limits"));
    QMap<QString, int> expected; // name: the status the browse must give
    auto add = [&](const QString& name, const QByteArray& bytes, int status) {
        QVERIFY2(!bytes.isEmpty(), qPrintable(name));
        home.write(QStringLiteral("limits/") + name, bytes);
        expected.insert(name, status);
    };
    const int made = ThumbnailResult::Made, refused = ThumbnailResult::Unreadable;
    // Chunks that libpng would allocate at their claimed length before the data runs out.
    const QByteArray plte = pngChunk("PLTE", QByteArray(3 * 4, '\x40'));
    add(QStringLiteral("a1 text.png"), pngChunkBomb(0, "tEXt"), refused);
    add(QStringLiteral("a2 compressed text.png"), pngChunkBomb(0, "zTXt"), refused);
    add(QStringLiteral("a3 international text.png"), pngChunkBomb(0, "iTXt"), refused);
    add(QStringLiteral("a4 palette, suggested palette.png"), pngChunkBomb(3, "sPLT", plte), refused);
    add(QStringLiteral("a5 rgb with tRNS, text.png"),
        pngChunkBomb(2, "tEXt", pngChunk("tRNS", QByteArray(6, '\0'))), refused);
    add(QStringLiteral("a6 profile.png"), pngChunkBomb(2, "iCCP"), refused);
    // A sound palette picture with 4 MiB of real text: read, the text passed over unread.
    {
        QImage palette(300, 300, QImage::Format_Indexed8);
        palette.setColorTable({ qRgb(10, 20, 30), qRgb(200, 100, 50) });
        palette.fill(1);
        QByteArray png = ztv::test::encodeImage(palette, "PNG");
        const qsizetype iend = png.size() - 12;
        png.insert(iend, pngChunk("tEXt", QByteArray("Comment\0", 8) + QByteArray(4 << 20, 'x')));
        add(QStringLiteral("a7 palette, real text.png"), png, made);
    }
    // 256 x 256 rows followed, in the same stream, by 64 MiB of zeros.
    add(QStringLiteral("b1 zlib tail.png"),
        pngFromRows(
            256, 256, [](quint32 y) { return regularRow(256, y); }, 64LL * 1024 * 1024),
        made);

    // The same through libpng: the last row ends the read, the rest of the stream unread.
    add(QStringLiteral("b2 palette zlib tail.png"), paletteTailPng(64LL * 1024 * 1024), made);

    // HEIF over the pixel budget: its thumbnail serves; one larger than its picture does not.
    QString source, work;
    const QByteArray heic = sampleHeic(home, &source, &work);
    QVERIFY(!heic.isEmpty());
    // heif-enc writes the 64 x 48 picture with a 32 x 24 thumbnail.
    const QSize picture(64, 48), thumbnail(32, 24), over(8000, 6000), larger(16000, 12000); // 48 M pixels
    const QByteArray overBudget = heifIspe(heic, picture, over);
    QCOMPARE(probeExtra(ExtraFormat::Heif, reinterpret_cast<const uchar*>(overBudget.constData()),
                 size_t(overBudget.size())),
        over);
    add(QStringLiteral("c1 heic over budget, thumbnail.heic"), overBudget, made);
    add(QStringLiteral("c2 heic over budget, thumbnail larger.heic"), heifIspe(overBudget, thumbnail, larger),
        refused);
    add(QStringLiteral("c3 heic thumbnail larger than picture.heic"), heifIspe(heic, thumbnail, larger),
        made);

    // JPEG XL over the budget without a preview: refused from its header, not decoded.
    {
        const QString pgm = home.home() + QStringLiteral("/wide.pgm");
        QFile f(pgm);
        QVERIFY(f.open(QIODevice::WriteOnly));
        const int w = 8000, h = 6000;
        f.write(QStringLiteral("P5\n%1 %2\n255\n").arg(w).arg(h).toLatin1());
        QByteArray row(w, Qt::Uninitialized);
        for (int x = 0; x < w; ++x)
            row[x] = char((x / 40) % 256);
        for (int y = 0; y < h; ++y)
            f.write(row);
        f.close();
        add(QStringLiteral("d1 jxl over budget.jxl"),
            encodedWith(QStringLiteral("cjxl"),
                { QStringLiteral("-d"), QStringLiteral("0"), QStringLiteral("-e"), QStringLiteral("1"), pgm,
                    work + QStringLiteral(".jxl") },
                work + QStringLiteral(".jxl")),
            refused);
        QFile::remove(pgm);
    }

    // A DNG whose preview claims 240 x 160 and holds a 4096 x 4096 JPEG.
    {
        QImage big(4096, 4096, QImage::Format_RGB32);
        big.fill(Qt::darkCyan);
        ztv::test::DngSpec spec;
        spec.sensorSize = { 240, 160 };
        spec.previewSize = { 240, 160 };
        spec.previewJpeg = ztv::test::encodeImage(big, "JPEG");
        add(QStringLiteral("e1 dng preview larger than claimed.dng"), ztv::test::dng(spec), made);
    }

    ThumbnailBrowser browser;
    browser.setCacheFolder({});
    browser.setWorkerCount(2);
    QMap<QString, int> statuses;
    connect(&browser, &ThumbnailBrowser::ThumbnailReady, &browser,
        [&](const QImage& image, const QString& path, int status) {
            statuses.insert(QFileInfo(path).fileName(), status);
            QVERIFY(image.isNull() || (image.width() <= 100 && image.height() <= 100));
        });
    resetPeak();
    const long rssBefore = peakKiB();
    QCOMPARE(browser.BrowseFolder(dir), ThumbnailBrowser::ResultOk);
    const long growthMiB = (peakKiB() - rssBefore) / 1024;
    qInfo("limits folder: %lld files, peak memory grew by %ld MiB", qint64(statuses.size()), growthMiB);
    QCOMPARE(statuses, expected);
    QVERIFY2(growthMiB < 300, qPrintable(QString::number(growthMiB)));

    // Shown one by one, each is shown within the display's bounds or refused with a reason.
    resetPeak();
    PictureDisplay display;
    display.resize(400, 300);
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (display.LoadPicture(dir + QLatin1Char('/') + it.key())) {
            QVERIFY2(qint64(display.picture().width()) * display.picture().height() <= 4096LL * 4096,
                qPrintable(it.key()));
            // A RAW preview is shown at most at the size the RAW claims for it.
            if (it.key().startsWith(QLatin1String("e1")))
                QVERIFY(display.picture().width() <= 240 && display.picture().height() <= 160);
        } else {
            QVERIFY2(!display.lastError().isEmpty(), qPrintable(it.key()));
            // Within the display's larger budget the rewritten HEIF primaries are decoded, which
            // fails; Qt's reader reads a PNG to its end, where the palette one's damage lies.
            QVERIFY2(it.value() == refused || it.key().startsWith(QLatin1String("c"))
                    || it.key().startsWith(QLatin1String("b2")),
                qPrintable(it.key()));
        }
    }
    qInfo("limits folder shown file by file: peak memory grew by %ld MiB", (peakKiB() - rssBefore) / 1024);
    // The display has its own, larger budget (the JPEG XL of 48 M pixels is shown).
    QVERIFY2(peakKiB() - rssBefore < qint64(PictureDisplay::LoadAllocationLimitMb) * 1024,
        qPrintable(QString::number(peakKiB() / 1024)));
}
