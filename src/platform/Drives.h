#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace ztv {

struct MountEntry {
    QString device;     // "/dev/sr0", "/dev/loop3"
    QString mountPoint; // "/media/cdrom0"
    QString fsType;     // "iso9660", "udf", "ext4"
};

// What the machine knows about the user's home and its drives; tests replace it with tables.
class Drives {
public:
    virtual ~Drives() = default;
    virtual QString environmentHome() = 0; // $HOME, possibly empty
    virtual QString passwdHome() = 0;      // home of the user's passwd entry, possibly empty
    // Optical block devices that exist on this machine, among sr0 ... sr10 ("/dev/sr0").
    virtual QStringList opticalDevices() = 0;
    virtual QList<MountEntry> mounts() = 0;
};

} // namespace ztv
