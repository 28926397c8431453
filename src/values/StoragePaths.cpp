#include "values/StoragePaths.h"

#include "platform/Drives.h"

#include <QRegularExpression>
#include <algorithm>

namespace ztv {

QString GetSpecialFolderPath(Drives& drives, int folderId)
{
    if (folderId != CSIDL_PROFILE)
        return QString();
    QString home = drives.environmentHome();
    if (home.isEmpty())
        home = drives.passwdHome();
    // A home given as "/home/user/" must not double the separator of the storage root.
    while (home.size() > 1 && home.endsWith(QLatin1Char('/')))
        home.chop(1);
    return home;
}

QString CutAtNul(const QString& text)
{
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    return nul < 0 ? QString() : text.left(nul);
}

StoragePaths SetStoragePaths(const QString& profile)
{
    const QString root = profile + QStringLiteral("/My Documents/ZTV_DATA/");
    StoragePaths paths;
    paths.AreaBasePath[Area::StockYard] = root;
    paths.AreaBasePath[Area::Vault] = root;
    paths.StockYardPath = root + QString::fromUtf16(kStockYardName);
    paths.VaultPath = root + QString::fromUtf16(kVaultName);
    return paths;
}

namespace {

// "/dev/sr3" -> 3; -1 for anything that is not one of the eleven optical drives.
int opticalNumber(const QString& device)
{
    static const QRegularExpression re(QStringLiteral("^/dev/sr([0-9]|10)$"));
    const auto m = re.match(device);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

bool isDiscFileSystem(const QString& type)
{
    return type == QLatin1String("iso9660") || type == QLatin1String("udf");
}

} // namespace

CdDrive FirstCdDrive(Drives& drives)
{
    const QList<MountEntry> mounts = drives.mounts();
    QStringList devices = drives.opticalDevices();
    devices.erase(
        std::remove_if(devices.begin(), devices.end(), [](const QString& d) { return opticalNumber(d) < 0; }),
        devices.end());
    std::sort(devices.begin(), devices.end(),
        [](const QString& a, const QString& b) { return opticalNumber(a) < opticalNumber(b); });
    if (!devices.isEmpty()) {
        const QString& first = devices.front();
        for (const MountEntry& m : mounts) {
            if (m.device == first)
                return { m.mountPoint, first, true, m.mountId };
        }
        return { first, first, false, -1 };
    }
    for (const MountEntry& m : mounts) {
        if (m.device.startsWith(QLatin1String("/dev/loop")) && isDiscFileSystem(m.fsType))
            return { m.mountPoint, m.device, true, m.mountId };
    }
    return {};
}

QString FindFirstCdDrive(Drives& drives)
{
    return FirstCdDrive(drives).name;
}

QString CdRootName(Drives& drives)
{
    const QString drive = FindFirstCdDrive(drives);
    return drive.isEmpty() ? QStringLiteral(":") : drive;
}

} // namespace ztv
