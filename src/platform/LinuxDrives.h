#pragma once

#include "platform/Drives.h"

#include <QByteArray>
#include <QPointer>

namespace ztv {

class DriveWatch;

// The home folder from the environment and the passwd database, optical drives and their
// media from /sys/block, mounts from /proc/self/mountinfo, mounting through UDisks2.
class LinuxDrives : public Drives {
public:
    ~LinuxDrives() override;
    QString environmentHome() override;
    QString passwdHome() override;
    QStringList opticalDevices() override;
    QList<MountEntry> mounts() override;
    bool mediumPresent(const QString& device) override;
    bool mountMedium(const QString& device) override;
    void watch(QObject* receiver, std::function<void()> onChange) override;

private:
    // Made on the first watch(), in the thread of the application.
    QPointer<DriveWatch> m_watch;
};

// The entries of a mountinfo text (proc(5)); octal escapes such as "\040" in the mount point
// and the source are decoded. Malformed lines are skipped.
QList<MountEntry> parseMountInfo(const QByteArray& text);

} // namespace ztv
