#pragma once

#include <QByteArray>
#include <QColor>
#include <QSize>
#include <QString>
#include <QTemporaryDir>

namespace ztv::test {

// Real picture files for tests, written byte for byte as a camera or an editor would.
namespace pictures {
// A JPEG of the given size; orientation 1..8 adds an EXIF block with that Orientation tag
// (0 = no EXIF at all).
QByteArray jpeg(QSize size, QColor colour = Qt::red, int orientation = 0, int quality = 90);
QByteArray png(QSize size, QColor colour = Qt::blue);
QByteArray bmp(QSize size, QColor colour = Qt::green);
QByteArray gif(); // a valid 1 x 1 GIF
QByteArray corrupt(); // starts like a JPEG, then garbage
// A picture whose left half is black and right half white, to check orientation.
QByteArray halvesJpeg(QSize size, int orientation);
}

// A temporary home folder holding the storage root "My Documents/ZTV_DATA/" with the
// stock yard and the vault. Sets $HOME to it for the lifetime of the object.
class TestHome {
public:
    explicit TestHome(bool withStorageRoot = true);
    ~TestHome();
    TestHome(const TestHome&) = delete;
    TestHome& operator=(const TestHome&) = delete;

    QString home() const; // no trailing "/"
    QString storageRoot() const; // with trailing "/"
    QString stockYard() const; // no trailing "/"
    QString vault() const; // no trailing "/"

    // Creates parent folders as needed; relative to home(). Gives the full path.
    QString write(const QString& relativePath, const QByteArray& bytes);
    QString makeDir(const QString& relativePath);

    // Stock yard and vault with a mixed set: a JPEG with orientation 6, a PNG, a GIF, a
    // corrupt .jpg, a text file, a Japanese name, and nested boxes.
    void fillSample();

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome;
    bool m_hadDataHome = false;
    QByteArray m_oldDataHome;
    bool m_hadHome = false;
    bool m_hadConfigHome = false;
    QByteArray m_oldConfigHome;
};

} // namespace ztv::test
