#pragma once

#include "platform/Drives.h"

#include <QByteArray>

namespace ztv {

// The home folder from the environment and the passwd database, optical drives from
// /sys/block, mounts from /proc/self/mountinfo.
class LinuxDrives : public Drives {
public:
    QString environmentHome() override;
    QString passwdHome() override;
    QStringList opticalDevices() override;
    QList<MountEntry> mounts() override;
};

// The entries of a mountinfo text (proc(5)); octal escapes such as "\040" in the mount point
// and the source are decoded. Malformed lines are skipped.
QList<MountEntry> parseMountInfo(const QByteArray& text);

} // namespace ztv
