#pragma once

#include "platform/Media.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QPointer>

#include <memory>

namespace ztv {

class GioMedia;

// The machine's media: the mount table's removable file systems (judged by UDisks2 on the
// given bus, the system bus in the program, else by where they are mounted) and GVfs's
// non-network mounts. UDisks2 is asked once per mount, without waiting: a mount with a block
// device shows once the answer has come (the watchers are told), or by the place rule when none
// came within the limit.
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

    // How long UDisks2 is given per call before the mount is judged by its place.
    void setFactsLimit(int ms) { m_factsLimitMs = ms; }

    // The login name of the process's user.
    static QString userName();

private:
    void tellWatchers();
    void ask(const MountEntry& mount);
    Removal removeOnce(const Medium& medium);

    Drives& m_drives;
    QDBusConnection m_bus;
    QString m_user;
    std::unique_ptr<GioMedia> m_gio;
    struct Known {
        QString device; // a mount id freed by an unmount may come again for another device
        std::optional<UDisksFacts> facts;
    };
    QHash<int, Known> m_facts; // by mount id
    QHash<int, QString> m_asked; // mount id -> device, while UDisks2's answer is awaited
    QObject m_answers; // the answers' context: none comes once the media are gone
    int m_factsLimitMs = 2000;
    QHash<QString, quint64> m_seen; // medium id -> when it was first seen
    quint64 m_next = 0;
    struct Watcher {
        QPointer<QObject> receiver;
        std::function<void()> onChange;
    };
    QList<Watcher> m_watchers;
};

} // namespace ztv
