#pragma once

#include <QObject>
#include <QTimer>

class QSocketNotifier;

namespace ztv {

// Tells when the mount table or an optical drive's medium may have changed, without
// polling: the kernel marks /proc/self/mountinfo with POLLPRI after every mount and unmount,
// and sends a block-device uevent when a drive's medium comes or goes. A burst of such
// signs (a desktop mounting a disc touches the table several times) gives one changed().
class DriveWatch : public QObject {
    Q_OBJECT
public:
    explicit DriveWatch(QObject* parent = nullptr);
    ~DriveWatch() override;

    // Whether the mount table can be watched (it cannot where /proc is missing).
    bool watchesMounts() const { return m_mountFd >= 0; }

Q_SIGNALS:
    void changed();

private:
    void mountTableSignalled();
    void ueventReady();

    int m_mountFd = -1;
    int m_ueventFd = -1;
    QSocketNotifier* m_mountNotifier = nullptr;
    QSocketNotifier* m_ueventNotifier = nullptr;
    QTimer m_settle;
};

// Whether a kernel uevent message is about a whole block device (a drive and its medium),
// not a partition or another kind of device.
bool isDiskUevent(const QByteArray& message);

} // namespace ztv
