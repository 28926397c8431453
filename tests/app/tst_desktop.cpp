#include "imaging/ThumbnailBrowser.h"
#include "widgets/Icons.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QLibraryInfo>
#include <QPixmap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

const QString kStock = QStringLiteral("My Documents/ZTV_DATA/ストックヤード");
const QString kVault = QStringLiteral("My Documents/ZTV_DATA/保管庫");

int opaquePixels(const QImage& image)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += qAlpha(image.pixel(x, y)) > 128;
    return n;
}

// A copy of the launcher beside a stand-in program that records how it was started.
struct Launcher {
    QTemporaryDir bin;
    QTemporaryDir home;
    QString record() const { return bin.filePath(QStringLiteral("started")); }

    Launcher()
    {
        QFile::copy(QStringLiteral(ZENTOVI_LAUNCHER), bin.filePath(QStringLiteral("zentovi-launch")));
        QFile fake(bin.filePath(QStringLiteral("zentovi")));
        fake.open(QIODevice::WriteOnly);
        fake.write("#!/bin/sh\nprintf '%s|%s' \"$HOME\" \"$*\" > \"$(dirname \"$0\")/started\"\n");
        fake.close();
        for (const char* f : { "zentovi", "zentovi-launch" })
            QFile::setPermissions(
                bin.filePath(QString::fromLatin1(f)), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // Runs the launcher with HOME set to homeDir; gives its exit code, stderr in err.
    int run(const QString& homeDir, QString* err = nullptr)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), homeDir);
        p.setProcessEnvironment(env);
        p.start(
            bin.filePath(QStringLiteral("zentovi-launch")), { QStringLiteral("a b"), QStringLiteral("c") });
        p.waitForFinished(30000);
        if (err)
            *err = QString::fromUtf8(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    QString started() const
    {
        QFile f(record());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
};

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void builtinIconsRenderAtBothScales();
    void themeIconPreferredOnlyWhereItFits();
    void expectedImageFormats();
    void browserReadsPluginFormatsAndSkipsOthers();
    void launcherCreatesMissingAreas();
    void launcherLeavesPresentAreasAlone();
    void launcherStartsProgramWhenAnAreaCannotBeMade();
};

void TestDesktop::builtinIconsRenderAtBothScales()
{
    QVERIFY(ztv::builtinIcon(QStringLiteral("no-such-icon")).isNull());
    QVERIFY(ztv::icon(QStringLiteral("no-such-icon")).isNull());
    const QStringList names = ztv::iconNames();
    QCOMPARE(names.size(), 21);
    for (const QString& name : names) {
        const QIcon icon = ztv::builtinIcon(name);
        QVERIFY2(!icon.isNull(), qPrintable(name));
        QVERIFY2(!ztv::icon(name).isNull(), qPrintable(name));
        const int logical = name.front().isUpper() ? 16 : 32; // tree icons are small
        const QImage one = icon.pixmap(QSize(logical, logical), 1.0).toImage();
        const QPixmap twoPix = icon.pixmap(QSize(logical, logical), 2.0);
        const QImage two = twoPix.toImage();
        QCOMPARE(one.size(), QSize(logical, logical));
        // Drawn anew at twice the pixels, not an enlarged copy of the small picture.
        QCOMPARE(two.size(), QSize(2 * logical, 2 * logical));
        QCOMPARE(twoPix.devicePixelRatio(), 2.0);
        QVERIFY2(opaquePixels(one) > logical * logical / 5, qPrintable(name));
        const QImage enlarged = one.scaled(two.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
        QVERIFY2(
            enlarged.convertToFormat(QImage::Format_ARGB32) != two.convertToFormat(QImage::Format_ARGB32),
            qPrintable(name));
    }
}

void TestDesktop::themeIconPreferredOnlyWhereItFits()
{
    QTemporaryDir dir;
    const QString themeDir = dir.filePath(QStringLiteral("testtheme"));
    QDir().mkpath(themeDir + QStringLiteral("/32x32/actions"));
    QFile index(themeDir + QStringLiteral("/index.theme"));
    QVERIFY(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=testtheme\nDirectories=32x32/actions\n\n"
                "[32x32/actions]\nSize=32\nType=Fixed\n");
    index.close();
    QImage red(32, 32, QImage::Format_ARGB32);
    red.fill(Qt::red);
    for (const char* n : { "edit-paste", "edit-delete" })
        QVERIFY(red.save(themeDir + QStringLiteral("/32x32/actions/%1.png").arg(QLatin1String(n))));

    const QStringList oldPaths = QIcon::themeSearchPaths();
    const QString oldTheme = QIcon::themeName();
    QIcon::setThemeSearchPaths({ dir.path() });
    QIcon::setThemeName(QStringLiteral("testtheme"));

    QCOMPARE(ztv::icon(QStringLiteral("paste")).name(), QStringLiteral("edit-paste"));
    QCOMPARE(ztv::icon(QStringLiteral("file-delete")).name(), QStringLiteral("edit-delete"));
    const QImage fromTheme = ztv::icon(QStringLiteral("paste")).pixmap(32, 32).toImage();
    QCOMPARE(fromTheme.pixelColor(16, 16), QColor(Qt::red));
    // A box is not a file: deleting one keeps the built-in picture even though the theme
    // has a "delete" icon.
    const QImage box = ztv::icon(QStringLiteral("box-delete")).pixmap(32, 32).toImage();
    const QImage builtinBox = ztv::builtinIcon(QStringLiteral("box-delete")).pixmap(32, 32).toImage();
    QCOMPARE(box, builtinBox);
    // Missing from the theme: the built-in one.
    QVERIFY(ztv::icon(QStringLiteral("clear")).name().isEmpty());
    QVERIFY(!ztv::icon(QStringLiteral("clear")).isNull());

    QIcon::setThemeName(oldTheme);
    QIcon::setThemeSearchPaths(oldPaths);
}

void TestDesktop::expectedImageFormats()
{
    const QList<QByteArray> formats = QImageReader::supportedImageFormats();
    for (const char* f : { "bmp", "jpeg", "jpg", "png", "gif" })
        QVERIFY2(formats.contains(f), f);

    // Formats that come with the image-format plugin package, where it is installed: each must
    // be offered and must read back what Qt wrote.
    const QString pluginDir
        = QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/imageformats/");
    const struct {
        const char* plugin;
        const char* format;
        bool roundTrip;
    } plugins[] = { { "libqwebp.so", "webp", true }, { "libqtiff.so", "tiff", true },
        { "libqtga.so", "tga", false }, { "libqicns.so", "icns", false }, { "libqwbmp.so", "wbmp", false } };
    int found = 0;
    for (const auto& p : plugins) {
        if (!QFile::exists(pluginDir + QLatin1String(p.plugin)))
            continue;
        ++found;
        QVERIFY2(formats.contains(p.format), p.format);
        if (!p.roundTrip)
            continue;
        QImage picture(40, 30, QImage::Format_RGB32);
        picture.fill(QColor(20, 200, 40));
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, p.format);
        writer.setQuality(100);
        QVERIFY2(writer.write(picture), p.format);
        buffer.close();
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer); // by content, as the browser reads files
        QCOMPARE(reader.format(), QByteArray(p.format));
        const QImage back = reader.read();
        QCOMPARE(back.size(), picture.size());
        const QColor c = back.pixelColor(20, 15);
        QVERIFY2(qAbs(c.green() - 200) < 12 && c.red() < 40, p.format);
    }
    if (found == 0)
        QSKIP("qt6-image-formats-plugins is not installed");
}

// Files the plugins read become thumbnails; a HEIF or AVIF header with no picture after it is
// recognised, and counted and skipped like any file that is not a picture.
void TestDesktop::browserReadsPluginFormatsAndSkipsOthers()
{
    const QList<QByteArray> formats = QImageReader::supportedImageFormats();
    QTemporaryDir dir;
    QStringList readable;
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(QColor(200, 60, 30));
    for (const char* f : { "webp", "tiff" }) {
        if (!formats.contains(f))
            continue;
        const QString path = dir.filePath(QStringLiteral("picture.%1").arg(QLatin1String(f)));
        QVERIFY(picture.save(path, f));
        readable << path;
    }
    // An ISO base-media header as a phone writes it, without a decoder to read the rest.
    const QByteArray box = QByteArray::fromHex("0000001c667479706865696300000000") + QByteArray("mif1heic")
        + QByteArray(64, '\x11');
    QStringList skipped;
    for (const char* name : { "phone.heic", "still.avif" }) {
        QFile f(dir.filePath(QLatin1String(name)));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(box);
        skipped << f.fileName();
    }
    if (readable.isEmpty() && skipped.isEmpty())
        QSKIP("every format here has a plugin and none of the others");

    ztv::ThumbnailBrowser browser;
    QHash<QString, int> status;
    QHash<QString, QSize> sizes;
    connect(&browser, &ztv::ThumbnailBrowser::ThumbnailReady, this,
        [&](const QImage& image, const QString& path, int s) {
            status.insert(path, s);
            sizes.insert(path, image.size());
        });
    QCOMPARE(browser.BrowseFolder(dir.path()), ztv::ThumbnailBrowser::ResultOk);
    for (const QString& path : readable) {
        QCOMPARE(status.value(path, -1), int(ztv::ThumbnailResult::Made));
        QVERIFY(!sizes.value(path).isEmpty());
    }
    for (const QString& path : skipped)
        QCOMPARE(status.value(path, -1), int(ztv::ThumbnailResult::Unreadable));
}

void TestDesktop::launcherCreatesMissingAreas()
{
    Launcher l;
    QCOMPARE(l.run(l.home.path()), 0);
    QVERIFY(QFileInfo(l.home.filePath(kStock)).isDir());
    QVERIFY(QFileInfo(l.home.filePath(kVault)).isDir());
    QCOMPARE(l.started(), l.home.path() + QStringLiteral("|a b c"));

    // Only the missing area is made when the other one is there.
    Launcher half;
    QDir().mkpath(half.home.filePath(kStock));
    QCOMPARE(half.run(half.home.path()), 0);
    QVERIFY(QFileInfo(half.home.filePath(kVault)).isDir());
}

void TestDesktop::launcherLeavesPresentAreasAlone()
{
    Launcher l;
    for (const QString& area : { kStock, kVault }) {
        QVERIFY(QDir().mkpath(l.home.filePath(area + QStringLiteral("/箱"))));
        QFile f(l.home.filePath(area + QStringLiteral("/箱/a.jpg")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("x");
    }
    // A read-only vault: the launcher must neither fail on it nor change its mode.
    const QByteArray vault = QFile::encodeName(l.home.filePath(kVault));
    QCOMPARE(::chmod(vault.constData(), 0500), 0);
    struct stat before { };
    QCOMPARE(::stat(vault.constData(), &before), 0);
    QTest::qSleep(20);
    QCOMPARE(l.run(l.home.path()), 0);
    struct stat after { };
    QCOMPARE(::stat(vault.constData(), &after), 0);
    QCOMPARE(after.st_mode, before.st_mode);
    QCOMPARE(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    QCOMPARE(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    QVERIFY(QFile::exists(l.home.filePath(kStock + QStringLiteral("/箱/a.jpg"))));
    QVERIFY(QFile::exists(l.home.filePath(kVault + QStringLiteral("/箱/a.jpg"))));
    QVERIFY(!l.started().isEmpty());
    ::chmod(vault.constData(), 0700);
}

void TestDesktop::launcherStartsProgramWhenAnAreaCannotBeMade()
{
    Launcher l;
    QVERIFY(QDir().mkpath(l.home.filePath(QStringLiteral("My Documents/ZTV_DATA"))));
    QFile blocker(l.home.filePath(kStock));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.write("not a folder");
    blocker.close();
    QString err;
    QCOMPARE(l.run(l.home.path(), &err), 0);
    QVERIFY(err.contains(QStringLiteral("ストックヤード")));
    QVERIFY(QFileInfo(l.home.filePath(kStock)).isFile());
    QVERIFY(QFileInfo(l.home.filePath(kVault)).isDir());
    QVERIFY(!l.started().isEmpty());
}

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
