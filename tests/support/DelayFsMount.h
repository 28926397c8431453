#pragma once

// The tests' slow network share (tests/fs/delayfs.py) mounted over a folder for the life of
// the object. Where FUSE cannot be had here (no /dev/fuse, no fusepy, a container that
// refuses the mount), start() says why, for the test's QSKIP.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ztv::test {

class DelayFsMount {
public:
    DelayFsMount() = default;
    DelayFsMount(const DelayFsMount&) = delete;
    DelayFsMount& operator=(const DelayFsMount&) = delete;
    ~DelayFsMount() { stop(); }

    // Mounts backing at mountPoint (both existing folders, the mount point empty). Gives "" once
    // the mount is in place, else why it could not be had.
    // extra: more of the script's options (--mb-per-s, --read-log, --hang).
    QString start(const QString& script, const QString& backing, const QString& mountPoint, double delayMs,
        const QString& refuseLinks = QString(), const QStringList& extra = QStringList())
    {
        const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
        if (fd < 0)
            return QStringLiteral("/dev/fuse cannot be opened here (%1)")
                .arg(QString::fromLocal8Bit(strerror(errno)));
        ::close(fd);
        // The system's interpreter: fusepy is a Debian package, not in a private Python.
        const QString python = QFileInfo::exists(QStringLiteral("/usr/bin/python3"))
            ? QStringLiteral("/usr/bin/python3")
            : QStandardPaths::findExecutable(QStringLiteral("python3"));
        if (python.isEmpty())
            return QStringLiteral("python3 is not installed");
        if (QStandardPaths::findExecutable(QStringLiteral("fusermount")).isEmpty()
            && QStandardPaths::findExecutable(QStringLiteral("fusermount3")).isEmpty())
            return QStringLiteral("fusermount is not installed (package fuse or fuse3)");
        if (QProcess::execute(python, { QStringLiteral("-c"), QStringLiteral("import fusepy") }) != 0)
            return QStringLiteral("python3-fusepy is not installed (scripts/install-deps.sh test)");
        m_mountPoint = mountPoint;
        QStringList args { script, backing, mountPoint, QStringLiteral("--delay-ms"),
            QString::number(delayMs) };
        if (!refuseLinks.isEmpty())
            args << QStringLiteral("--refuse-links") << refuseLinks;
        args << extra;
        m_fs.setProcessChannelMode(QProcess::MergedChannels);
        m_fs.start(python, args);
        if (!m_fs.waitForStarted(30000))
            return QStringLiteral("the test file system did not start: ") + m_fs.errorString();
        // Mounted once the folder lies on a device of its own. A hang guard, not a speed limit.
        for (int i = 0; i < 3000 && !mounted(); ++i) {
            if (m_fs.state() == QProcess::NotRunning)
                return QStringLiteral("the FUSE mount was refused: ")
                    + QString::fromLocal8Bit(m_fs.readAll()).trimmed();
            QTest::qWait(10);
        }
        if (!mounted()) {
            stop();
            return QStringLiteral("the FUSE mount did not appear within 30 s");
        }
        return {};
    }

    bool mounted() const
    {
        struct stat here, parent;
        const QByteArray mp = QFile::encodeName(m_mountPoint);
        const QByteArray up = QFile::encodeName(QFileInfo(m_mountPoint).absolutePath());
        return !mp.isEmpty() && ::stat(mp.constData(), &here) == 0 && ::stat(up.constData(), &parent) == 0
            && here.st_dev != parent.st_dev;
    }

    // Ends the file system at once, as a medium pulled out does: calls waiting on it fail.
    void kill()
    {
        if (m_fs.state() != QProcess::NotRunning) {
            m_fs.kill();
            m_fs.waitForFinished(30000);
        }
        // A mount whose file system died reads as no mount (its calls fail): unmounted blindly.
        if (!m_mountPoint.isEmpty())
            QProcess::execute(
                QStringLiteral("fusermount"), { QStringLiteral("-u"), QStringLiteral("-z"), m_mountPoint });
    }

    // Unmounts and waits for the file system to end; a file system that would not end is
    // unmounted lazily so that the test's folders can go.
    void stop()
    {
        if (m_fs.state() != QProcess::NotRunning) {
            m_fs.terminate(); // the FUSE library unmounts on SIGTERM
            if (!m_fs.waitForFinished(30000)) {
                m_fs.kill();
                m_fs.waitForFinished(30000);
            }
        }
        if (mounted())
            QProcess::execute(
                QStringLiteral("fusermount"), { QStringLiteral("-u"), QStringLiteral("-z"), m_mountPoint });
    }

private:
    QProcess m_fs;
    QString m_mountPoint;
};

} // namespace ztv::test
