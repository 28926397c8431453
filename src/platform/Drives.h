#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class QObject;

namespace ztv {

struct MountEntry {
    QString device; // "/dev/sr0", "/dev/loop3"
    QString mountPoint; // "/media/cdrom0"
    QString fsType; // "iso9660", "udf", "ext4"
    int mountId = -1; // new for every mount, so a disc swapped at the same place differs
};

// What the machine knows about the user's home and its drives; tests replace it with tables.
class Drives {
public:
    virtual ~Drives() = default;
    virtual QString environmentHome() = 0; // $HOME, possibly empty
    virtual QString passwdHome() = 0; // home of the user's passwd entry, possibly empty
    // Optical block devices that exist on this machine, among sr0 ... sr10 ("/dev/sr0").
    virtual QStringList opticalDevices() = 0;
    virtual QList<MountEntry> mounts() = 0;
    // Whether an optical drive ("/dev/sr0") holds a medium, mounted or not.
    virtual bool mediumPresent(const QString& device) = 0;
    // Asks the desktop to mount the medium in an optical drive; true once it is mounted.
    virtual bool mountMedium(const QString& device) = 0;
    // Calls onChange, on the receiver's thread, whenever the mount table or an optical
    // drive's medium may have changed; stops when the receiver is destroyed.
    virtual void watch(QObject* receiver, std::function<void()> onChange) = 0;
};

} // namespace ztv
