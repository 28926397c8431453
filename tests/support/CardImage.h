#pragma once

#include "MountNamespace.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <sys/mount.h>

namespace ztv::test {

// A camera card: a FAT image made without privileges (mkfs.vfat, mmd, mcopy) and mounted
// through FUSE (fusefat) in the process's own mount namespace (enterPrivateMountNamespace), as
// a card reader mounts it: plugged by mounting, pulled by unmounting. fusefat shows dates a
// month late and the volume label as a file at the top, and now and then gives a wrong read
// while another file of the card is read at the same time: a test lets the vault index go
// idle before it lists the card again.
class CardImage {
public:
    // noNamespace: why the process has no mount namespace of its own ("" when it has).
    explicit CardImage(const QString& noNamespace)
        : m_tools(fuseTestTools(noNamespace, { "mkfs.vfat", "mmd", "mcopy", "fusefat" }, &m_whyNot))
    {
    }
    ~CardImage()
    {
        if (m_mounted)
            unmount();
    }
    CardImage(const CardImage&) = delete;
    CardImage& operator=(const CardImage&) = delete;

    // Why card images cannot be had here (for the test's QSKIP); "" when they can.
    QString unavailable() const { return m_whyNot; }

    // Everything below folder (empty folders too) into a new image of mib MiB labelled label;
    // "" when made, else why not.
    QString build(const QString& folder, const QString& imagePath, int mib = 8,
        const QString& label = QStringLiteral("CANON_SD"))
    {
        if (!m_whyNot.isEmpty())
            return m_whyNot;
        image = imagePath;
        QDir().mkpath(QFileInfo(image).path());
        {
            QFile f(image);
            if (!f.open(QIODevice::WriteOnly) || !f.resize(qint64(mib) << 20))
                return QStringLiteral("no image file");
        }
        if (QString why = run(Mkfs, { "-n", label, image }); !why.isEmpty())
            return why;
        QStringList dirs;
        QMap<QString, QStringList> files; // by folder on the card
        QDirIterator it(
            folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QString onCard = QStringLiteral("::") + path.mid(folder.size());
            if (it.fileInfo().isDir())
                dirs << onCard;
            else
                files[onCard.left(onCard.lastIndexOf(u'/') + 1)] << path;
        }
        std::sort(dirs.begin(), dirs.end()); // parents first
        if (!dirs.isEmpty()) {
            if (QString why = run(Mmd, QStringList { "-i", image } + dirs); !why.isEmpty())
                return why;
        }
        for (auto at = files.cbegin(); at != files.cend(); ++at) {
            if (QString why = run(Mcopy, QStringList { "-i", image } + at.value() + QStringList { at.key() });
                !why.isEmpty())
                return why;
        }
        return QString();
    }

    // build() from folder, which is then left empty and the card mounted on it.
    QString make(const QString& folder, const QString& imagePath, bool writable = false, int mib = 8)
    {
        if (QString why = build(folder, imagePath, mib); !why.isEmpty())
            return why;
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        return mount(folder, writable);
    }

    // Mounts the image at `at` (the last place when empty): read-only as a locked card, or
    // writable through fusefat's "rw+". Waits for its DCIM folder where the image has one.
    QString mount(const QString& at = QString(), bool writable = false)
    {
        if (!at.isEmpty())
            mountPoint = at;
        if (!m_whyNot.isEmpty())
            return m_whyNot;
        QDir().mkpath(mountPoint);
        const QString options = writable ? QStringLiteral("rw+") : QStringLiteral("ro");
        if (QString why = run(Fusefat, { "-o", options, image, mountPoint }); !why.isEmpty())
            return why;
        m_mounted = true;
        QDeadlineTimer hang(30000);
        while (!QFileInfo::exists(mountPoint + QStringLiteral("/DCIM")) && !hang.hasExpired())
            QThread::msleep(5);
        return hang.hasExpired() ? QStringLiteral("the card did not mount") : QString();
    }
    void unmount()
    {
        ::umount2(QFile::encodeName(mountPoint).constData(), MNT_DETACH);
        m_mounted = false;
    }

    QString mountPoint;
    QString image;

private:
    enum Tool { Mkfs, Mmd, Mcopy, Fusefat };
    QString run(Tool tool, const QStringList& args) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("MTOOLS_SKIP_CHECK"), QStringLiteral("1"));
        return runTool(m_tools.value(tool), args, env);
    }

    QString m_whyNot;
    QStringList m_tools;
    bool m_mounted = false;
};

// Where a test's card lies: the folder itself, or a card image made of it and mounted on it.
enum class CardOn { Folder, ReadOnlyImage, WritableImage };

// The rows of a case that runs on a folder and on a card image: a column "on" of CardOn.
inline void addCardRows(bool readOnly, bool writable)
{
    QTest::addColumn<CardOn>("on");
    QTest::newRow("folder") << CardOn::Folder;
    if (readOnly)
        QTest::newRow("read-only card image") << CardOn::ReadOnlyImage;
    if (writable)
        QTest::newRow("writable card image") << CardOn::WritableImage;
}

// Why a case cannot run on that card here ("" when it can, always for a folder).
inline QString cardUnavailable(CardOn on, const QString& noNamespace)
{
    return on == CardOn::Folder ? QString() : CardImage(noNamespace).unavailable();
}

// Makes the card at folder an image mounted on it (nothing for a folder): "" when done.
inline QString putOnCard(
    CardImage& image, CardOn on, const QString& folder, const QString& imagePath, int mib)
{
    return on == CardOn::Folder ? QString() : image.make(folder, imagePath, on == CardOn::WritableImage, mib);
}

} // namespace ztv::test
