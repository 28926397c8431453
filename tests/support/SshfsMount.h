#pragma once

// A folder served by an SSH server of the test's own on localhost and mounted with sshfs, for
// the life of the object, as a desktop mounts a file server. Where that cannot be had here
// (no openssh-server or sshfs, no /dev/fuse, a server that will not start), start() says why,
// for the test's QSKIP.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ztv::test {

inline bool onItsOwnDevice(const QString& folder)
{
    struct stat here, parent;
    const QByteArray mp = QFile::encodeName(folder);
    const QByteArray up = QFile::encodeName(QFileInfo(folder).absolutePath());
    return !mp.isEmpty() && ::stat(mp.constData(), &here) == 0 && ::stat(up.constData(), &parent) == 0
        && here.st_dev != parent.st_dev;
}

class SshfsMount {
public:
    SshfsMount() = default;
    SshfsMount(const SshfsMount&) = delete;
    SshfsMount& operator=(const SshfsMount&) = delete;
    ~SshfsMount() { stop(); }

    QString start(const QString& served, const QString& mountPoint)
    {
        const QString sshd = QStringLiteral("/usr/sbin/sshd");
        const QString sshfs = QStandardPaths::findExecutable(QStringLiteral("sshfs"));
        const QString keygen = QStandardPaths::findExecutable(QStringLiteral("ssh-keygen"));
        if (!QFileInfo::exists(sshd) || sshfs.isEmpty() || keygen.isEmpty())
            return QStringLiteral("openssh-server or sshfs is not installed (scripts/install-deps.sh test)");
        const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
        if (fd < 0)
            return QStringLiteral("/dev/fuse cannot be opened here (%1)")
                .arg(QString::fromLocal8Bit(strerror(errno)));
        ::close(fd);
        const passwd* pw = ::getpwuid(::geteuid());
        if (!pw || !m_keys.isValid())
            return QStringLiteral("no user name or no temporary folder");
        const QString user = QString::fromLocal8Bit(pw->pw_name);
        // The server's folder for privilege separation; made where missing (only root can).
        if (!QFileInfo(QStringLiteral("/run/sshd")).isDir() && !QDir().mkpath(QStringLiteral("/run/sshd")))
            return QStringLiteral("/run/sshd is missing and cannot be made: sshd will not start");
        const QString k = m_keys.path();
        for (const char* key : { "host", "user" })
            if (QProcess::execute(keygen,
                    { QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                        QStringLiteral("-N"), QString(), QStringLiteral("-f"),
                        k + u'/' + QLatin1String(key) })
                != 0)
                return QStringLiteral("ssh-keygen failed");
        QFile::copy(k + QStringLiteral("/user.pub"), k + QStringLiteral("/authorized_keys"));

        // A port from the process id; taken ports are passed over.
        for (int attempt = 0; attempt < 20 && m_sshd.state() == QProcess::NotRunning; ++attempt) {
            m_port = 20000 + (::getpid() * 7 + attempt * 131) % 30000;
            QFile config(k + QStringLiteral("/sshd_config"));
            if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate))
                return QStringLiteral("cannot write the server's configuration");
            config.write(
                QStringLiteral("Port %1\nListenAddress 127.0.0.1\nHostKey %2/host\n"
                               "AuthorizedKeysFile %2/authorized_keys\nPermitRootLogin prohibit-password\n"
                               "PasswordAuthentication no\nKbdInteractiveAuthentication no\nUsePAM no\n"
                               "StrictModes no\nPidFile none\nSubsystem sftp internal-sftp\n")
                    .arg(m_port)
                    .arg(k)
                    .toLocal8Bit());
            config.close();
            m_sshd.setProcessChannelMode(QProcess::MergedChannels);
            m_sshd.start(sshd,
                { QStringLiteral("-D"), QStringLiteral("-e"), QStringLiteral("-f"), config.fileName() });
            m_sshd.waitForStarted(30000);
            QByteArray said;
            for (int i = 0; i < 3000 && m_sshd.state() == QProcess::Running && !said.contains("listening");
                 ++i) {
                m_sshd.waitForReadyRead(10);
                said += m_sshd.readAll();
            }
            if (m_sshd.state() == QProcess::Running && said.contains("listening"))
                break;
            m_sshd.kill();
            m_sshd.waitForFinished(30000);
            if (!said.contains("bind") && !said.contains("in use"))
                return QStringLiteral("sshd did not start: ") + QString::fromLocal8Bit(said).trimmed();
        }
        if (m_sshd.state() != QProcess::Running)
            return QStringLiteral("sshd found no free port");

        m_mountPoint = mountPoint;
        m_sshfs.setProcessChannelMode(QProcess::MergedChannels);
        m_sshfs.start(sshfs,
            { QStringLiteral("-f"), user + QStringLiteral("@127.0.0.1:") + served, mountPoint,
                QStringLiteral("-o"),
                QStringLiteral("port=%1,IdentityFile=%2/user,StrictHostKeyChecking=no,"
                               "UserKnownHostsFile=/dev/null,BatchMode=yes,LogLevel=ERROR")
                    .arg(m_port)
                    .arg(k) });
        m_sshfs.waitForStarted(30000);
        for (int i = 0; i < 3000 && !onItsOwnDevice(mountPoint); ++i) {
            if (m_sshfs.state() == QProcess::NotRunning) {
                const QString why = QString::fromLocal8Bit(m_sshfs.readAll()).trimmed();
                stop();
                return QStringLiteral("sshfs could not mount: ") + why;
            }
            QTest::qWait(10);
        }
        if (!onItsOwnDevice(mountPoint)) {
            stop();
            return QStringLiteral("the sshfs mount did not appear within 30 s");
        }
        return {};
    }

    // Unmounts, then ends the server.
    void stop()
    {
        if (!m_mountPoint.isEmpty() && onItsOwnDevice(m_mountPoint))
            QProcess::execute(QStringLiteral("fusermount"), { QStringLiteral("-u"), m_mountPoint });
        for (QProcess* p : { &m_sshfs, &m_sshd }) {
            if (p->state() == QProcess::NotRunning)
                continue;
            p->terminate();
            if (!p->waitForFinished(30000)) {
                p->kill();
                p->waitForFinished(30000);
            }
        }
        if (!m_mountPoint.isEmpty() && onItsOwnDevice(m_mountPoint))
            QProcess::execute(
                QStringLiteral("fusermount"), { QStringLiteral("-u"), QStringLiteral("-z"), m_mountPoint });
    }

private:
    QTemporaryDir m_keys;
    QProcess m_sshd;
    QProcess m_sshfs;
    QString m_mountPoint;
    int m_port = 0;
};

} // namespace ztv::test
