#pragma once

#include "platform/Media.h"

#include <QDBusConnection>
#include <QHash>
#include <QPointer>

#include <memory>

namespace ztv {

class GioMedia;

// The machine's media: the mount table's removable file systems (judged by UDisks2 on the
// given bus, the system bus in the program, else by where they are mounted) and GVfs's
// non-network mounts. UDisks2 is asked once per mount.
class LinuxMedia : public Media {
public:
    // user: the login name whose /media/<user>/ and /run/media/<user>/ count; withGio false
    // leaves GVfs out (no GIO monitor is made).
    LinuxMedia(Drives& drives, QDBusConnection bus, QString user, bool withGio = true);
    ~LinuxMedia() override;

    QList<Medium> media() override;
    void watch(QObject* receiver, std::function<void()> onChange) override;
    // A busy answer is asked again a few times (BusyRetries, BusyRetryMs apart) before it is
    // told: a file just closed, by the program's own readers or another program, may still hold
    // the medium for a moment (a FUSE file system lets go of it after close has returned).
    Removal remove(const Medium& medium) override;
    static constexpr int BusyRetries = 5;
    static constexpr int BusyRetryMs = 300;

    // The login name of the process's user.
    static QString userName();

private:
    void gioChanged();
    Removal removeOnce(const Medium& medium);

    Drives& m_drives;
    QDBusConnection m_bus;
    QString m_user;
    std::unique_ptr<GioMedia> m_gio;
    QHash<int, std::optional<UDisksFacts>> m_facts; // by mount id
    QHash<QString, quint64> m_seen; // medium id -> when it was first seen
    quint64 m_next = 0;
    struct Watcher {
        QPointer<QObject> receiver;
        std::function<void()> onChange;
    };
    QList<Watcher> m_watchers;
};

} // namespace ztv
