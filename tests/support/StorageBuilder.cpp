#include "StorageBuilder.h"

#include "ExifBuilder.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>

namespace ztv::test {

namespace {

QByteArray encode(const QImage& image, const char* format, int quality = -1)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

} // namespace

namespace pictures {

QByteArray jpeg(QSize size, QColor colour, int orientation, int quality)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes = encode(image, "JPEG", quality);
    if (orientation > 0)
        bytes = withExif(bytes, orientation);
    return bytes;
}

QByteArray halvesJpeg(QSize size, int orientation)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.fillRect(0, 0, size.width() / 2, size.height(), Qt::black);
    p.end();
    QByteArray bytes = encode(image, "JPEG", 95);
    if (orientation > 0)
        bytes = withExif(bytes, orientation);
    return bytes;
}

QByteArray png(QSize size, QColor colour)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    return encode(image, "PNG");
}

QByteArray bmp(QSize size, QColor colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return encode(image, "BMP");
}

QByteArray gif()
{
    static const unsigned char bytes[] = { 'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0xFF, 0xFF,
        0xFF, 0, 0, 0, 0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0, 0x3B };
    return QByteArray(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

QByteArray corrupt()
{
    QByteArray bytes("\xFF\xD8\xFF\xE0", 4);
    for (int i = 0; i < 500; ++i)
        bytes.append(char((i * 37) & 0xFF));
    return bytes;
}

} // namespace pictures

TestHome::TestHome(bool withStorageRoot)
{
    m_hadHome = qEnvironmentVariableIsSet("HOME");
    m_oldHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home()));
    // Deleted pictures go to the trash in the data folder: the test's own, never the user's.
    m_hadDataHome = qEnvironmentVariableIsSet("XDG_DATA_HOME");
    m_oldDataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(home() + QStringLiteral("/.local/share")));
    // The box keys are kept in the configuration folder: the test's own too.
    m_hadConfigHome = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    m_oldConfigHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home() + QStringLiteral("/.config")));
    if (withStorageRoot) {
        makeDir(QStringLiteral("My Documents/ZTV_DATA/ストックヤード"));
        makeDir(QStringLiteral("My Documents/ZTV_DATA/保管庫"));
    }
}

TestHome::~TestHome()
{
    if (m_hadHome)
        qputenv("HOME", m_oldHome);
    else
        qunsetenv("HOME");
    if (m_hadDataHome)
        qputenv("XDG_DATA_HOME", m_oldDataHome);
    else
        qunsetenv("XDG_DATA_HOME");
    if (m_hadConfigHome)
        qputenv("XDG_CONFIG_HOME", m_oldConfigHome);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

QString TestHome::home() const
{
    return m_dir.path();
}
QString TestHome::storageRoot() const
{
    return home() + QStringLiteral("/My Documents/ZTV_DATA/");
}
QString TestHome::stockYard() const
{
    return storageRoot() + QStringLiteral("ストックヤード");
}
QString TestHome::vault() const
{
    return storageRoot() + QStringLiteral("保管庫");
}

QString TestHome::write(const QString& relativePath, const QByteArray& bytes)
{
    const QString path = home() + QLatin1Char('/') + relativePath;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write test file %s", qPrintable(path));
    return path;
}

QString TestHome::makeDir(const QString& relativePath)
{
    const QString path = home() + QLatin1Char('/') + relativePath;
    if (!QDir().mkpath(path))
        qFatal("cannot make test folder %s", qPrintable(path));
    return path;
}

void TestHome::fillSample()
{
    const QString sy = QStringLiteral("My Documents/ZTV_DATA/ストックヤード/");
    const QString v = QStringLiteral("My Documents/ZTV_DATA/保管庫/");
    write(sy + QStringLiteral("camera.jpg"), pictures::jpeg({ 320, 240 }, Qt::red, 6));
    write(sy + QStringLiteral("screen.png"), pictures::png({ 200, 100 }));
    write(sy + QStringLiteral("anim.gif"), pictures::gif());
    write(sy + QStringLiteral("broken.jpg"), pictures::corrupt());
    write(sy + QStringLiteral("notes.txt"), "not a picture\n");
    write(sy + QStringLiteral("写真.jpg"), pictures::jpeg({ 64, 48 }, Qt::yellow));
    write(v + QStringLiteral("top.png"), pictures::png({ 50, 50 }, Qt::cyan));
    write(v + QStringLiteral("旅行/a.jpg"), pictures::jpeg({ 80, 60 }));
    write(v + QStringLiteral("旅行/京都/b.jpg"), pictures::jpeg({ 60, 80 }, Qt::magenta));
    makeDir(v + QStringLiteral("空箱"));
}

} // namespace ztv::test
