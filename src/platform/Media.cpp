#include "platform/Media.h"

#include <QStringList>

namespace ztv {

namespace {

bool isNetworkFileSystem(const QString& type)
{
    static const QStringList net { QStringLiteral("nfs"), QStringLiteral("nfs4"), QStringLiteral("cifs"),
        QStringLiteral("smb3"), QStringLiteral("smbfs"), QStringLiteral("ncpfs"), QStringLiteral("afs"),
        QStringLiteral("ceph"), QStringLiteral("9p"), QStringLiteral("davfs"), QStringLiteral("glusterfs"),
        QStringLiteral("fuse.sshfs"), QStringLiteral("fuse.rclone"), QStringLiteral("fuse.s3fs"),
        QStringLiteral("fuse.davfs2"), QStringLiteral("fuse.curlftpfs") };
    return net.contains(type);
}

} // namespace

bool isNetworkScheme(const QString& scheme)
{
    static const QStringList net { QStringLiteral("smb"), QStringLiteral("sftp"), QStringLiteral("ssh"),
        QStringLiteral("ftp"), QStringLiteral("ftps"), QStringLiteral("dav"), QStringLiteral("davs"),
        QStringLiteral("nfs"), QStringLiteral("afp"), QStringLiteral("google-drive"),
        QStringLiteral("onedrive"), QStringLiteral("http"), QStringLiteral("https"),
        QStringLiteral("network"), QStringLiteral("dns-sd"), QStringLiteral("file") };
    return net.contains(scheme);
}

bool isMediumMount(const MountEntry& mount, const std::optional<UDisksFacts>& facts, const QString& user)
{
    // A stat of an autofs mount wakes it; a network share or GVfs's own FUSE root is no medium.
    if (mount.fsType == QLatin1String("autofs") || isNetworkFileSystem(mount.fsType)
        || mount.fsType == QLatin1String("fuse.gvfsd-fuse")
        || mount.device.startsWith(QLatin1String("/dev/sr")))
        return false;
    if (facts) {
        const bool removableBus = facts->bus == QLatin1String("usb") || facts->bus == QLatin1String("sdio")
            || facts->bus == QLatin1String("ieee1394");
        return (facts->removable || removableBus) && !facts->hintIgnore && !facts->hintSystem;
    }
    const QString& p = mount.mountPoint;
    if (!user.isEmpty()
        && (p.startsWith(QStringLiteral("/media/") + user + QLatin1Char('/'))
            || p.startsWith(QStringLiteral("/run/media/") + user + QLatin1Char('/'))))
        return p.count(QLatin1Char('/')) == (p.startsWith(QLatin1String("/run/")) ? 4 : 3);
    // "/media/CARD", as older desktops mount for every user.
    return p.startsWith(QLatin1String("/media/")) && p.count(QLatin1Char('/')) == 2 && p.size() > 7;
}

bool isMediumHousekeeping(const QString& folderName)
{
    return folderName == QLatin1String(".thumbnails") || folderName.startsWith(QLatin1String(".trashed-"))
        || folderName.startsWith(QLatin1String(".pending-"))
        || folderName.startsWith(QLatin1String(".Trash-"))
        || folderName == QLatin1String("System Volume Information");
}

} // namespace ztv
