#pragma once

#include <QDBusConnection>
#include <QString>

namespace ztv {

// Asks UDisks2 on the bus (the system bus in the program) to mount the file system on a
// block device ("/dev/sr0"), as file managers do. Returns the mount point, or "" when there
// is no bus, no UDisks2, no file system on the device, or the mount was refused or timed
// out. Events other than user input are handled while it waits.
QString udisksMount(QDBusConnection bus, const QString& device, int timeoutMs);

// The UDisks2 object path of a block device: "/dev/sr0" -> ".../block_devices/sr0".
// "" for anything that is not a plain device name under /dev.
QString udisksBlockPath(const QString& device);

} // namespace ztv
