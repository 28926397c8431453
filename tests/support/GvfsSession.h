#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

namespace ztv::test {

// GVfs on a session bus of its own: dbus-daemon, gvfsd and its FUSE view below a runtime folder
// of its own, so that `gio mount archive://…` makes a real GVfs mount, seen through GIO's volume
// monitor as a phone is. GIO reads the bus and the runtime folder when it first starts: make
// this before anything in the process touches GIO, and once per process.
class GvfsSession {
public:
    GvfsSession()
    {
        m_gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
        if (m_gio.isEmpty() || !QFileInfo::exists(QStringLiteral("/usr/libexec/gvfsd"))
            || !QFileInfo::exists(QStringLiteral("/usr/libexec/gvfsd-fuse"))) {
            m_whyNot = QStringLiteral(
                "GVfs is not installed (scripts/install-deps.sh test: gvfs-daemons gvfs-backends gvfs-fuse)");
            return;
        }
        if (!QFileInfo(QStringLiteral("/dev/fuse")).isWritable()) {
            m_whyNot = QStringLiteral("no /dev/fuse here: GVfs's FUSE view cannot be mounted");
            return;
        }
        m_bus.start(
            QStringLiteral("dbus-daemon"), { "--session", "--nofork", "--nopidfile", "--print-address=1" });
        if (!m_bus.waitForStarted() || !m_bus.waitForReadyRead(30000)) {
            m_whyNot = QStringLiteral("dbus-daemon is not installed (scripts/install-deps.sh test)");
            return;
        }
        runtime = m_dir.filePath(QStringLiteral("run"));
        QDir().mkpath(runtime);
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.readLine().trimmed());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        m_gvfsd.start(QStringLiteral("/usr/libexec/gvfsd"), { QStringLiteral("--replace") });
    }
    ~GvfsSession()
    {
        if (!m_whyNot.isEmpty())
            return;
        QProcess::execute(QStringLiteral("fusermount3"), { "-u", "-z", runtime + "/gvfs" });
        m_gvfsd.terminate();
        m_gvfsd.waitForFinished();
        m_bus.kill();
        m_bus.waitForFinished();
    }
    GvfsSession(const GvfsSession&) = delete;
    GvfsSession& operator=(const GvfsSession&) = delete;

    // Why GVfs cannot be had here (for the test's QSKIP); "" when it can.
    QString unavailable() const { return m_whyNot; }
    QString gio() const { return m_gio; }

    // A tar of folder's `top` (as it lies in folder), made in the session's folder.
    QString tarOf(
        const QString& folder, const QString& top, const QString& name = QStringLiteral("photos.tar"))
    {
        const QString tar = m_dir.filePath(name);
        return QProcess::execute(QStringLiteral("tar"), { "-C", folder, "-cf", tar, top }) == 0 ? tar
                                                                                                : QString();
    }
    static QString archiveUri(const QString& tar)
    {
        return QStringLiteral("archive://")
            + QString::fromLatin1(QUrl::toPercentEncoding(QUrl::fromLocalFile(tar).toString()));
    }
    // `gio mount` of an archive, as a file manager opens one: true when it mounted.
    bool mountArchive(const QString& tar) const
    {
        return QProcess::execute(m_gio, { QStringLiteral("mount"), archiveUri(tar) }) == 0;
    }

    QString runtime; // XDG_RUNTIME_DIR: GVfs's FUSE view is its gvfs folder

private:
    QString m_whyNot;
    QString m_gio;
    QTemporaryDir m_dir;
    QProcess m_bus;
    QProcess m_gvfsd;
};

} // namespace ztv::test
