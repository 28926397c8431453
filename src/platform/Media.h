#pragma once

#include "platform/Drives.h"

#include <QList>
#include <QString>

#include <algorithm>
#include <functional>
#include <optional>

class QObject;

namespace ztv {

// One removable medium the desktop has mounted: a card, a stick, a camera in mass-storage
// mode, or a phone or camera that GVfs shows through its FUSE view.
struct Medium {
    QString id; // unique while it stays mounted: "mount:<mount id>" or the GVfs mount's root URI
    QString path; // where its files are read: the mount point or the GVfs FUSE path
    QString name; // what the tree shows: the label, the mount point's last folder, GIO's name
    QString device; // "/dev/sdb1"; "" for a GVfs mount or a FUSE mount without a device
    QString drive; // the UDisks2 drive's object path; "" where UDisks2 could not say
    bool usb = false; // the drive sits on USB: powered off once unmounted
    bool gvfs = false;
    // GIO said its files cannot be deleted (a GVfs mount whose backend refuses, as an archive
    // or a phone set to charge only); asked once per mount, off the window's thread.
    bool refusesDeletion = false;

    bool operator==(const Medium&) const = default;
};

// The same mount, whatever GIO has answered about it since: an answer never takes its root out
// of the tree.
inline bool sameMount(Medium a, const Medium& b)
{
    a.refusesDeletion = b.refusesDeletion;
    return a == b;
}
inline bool holdsMount(const QList<Medium>& media, const Medium& m)
{
    return std::any_of(media.begin(), media.end(), [&](const Medium& x) { return sameMount(x, m); });
}

// What a safe removal came to.
struct Removal {
    enum class Result { Done, Busy, Failed };
    Result result = Result::Done;
    QString reason; // the system's own words when Failed
};

// The removable media of the machine, in the order they were mounted; tests replace it.
class Media {
public:
    virtual ~Media() = default;
    virtual QList<Medium> media() = 0;
    // Calls onChange, on the receiver's thread, whenever a medium may have come or gone;
    // stops when the receiver is destroyed.
    virtual void watch(QObject* receiver, std::function<void()> onChange) = 0;
    // Unmounts the medium (and powers a USB drive off, or has GIO eject a GVfs mount).
    virtual Removal remove(const Medium& medium) = 0;
};

// What UDisks2 says of a block device's file system and its drive.
struct UDisksFacts {
    bool removable = false; // the drive's Removable (media or drive removable)
    QString bus; // the drive's ConnectionBus: "usb", "sdio", "ieee1394", ""
    bool hintIgnore = false;
    bool hintSystem = false;
    QString label; // IdLabel
    QString drive; // the drive's object path
};

// Whether a mount is a removable medium. facts is UDisks2's answer for its device; without one
// (no bus, or a FUSE mount UDisks2 does not know) only the places where desktops mount cards
// and sticks count: below /media/<user>/, /run/media/<user>/, or directly below /media/.
// Never an autofs mount, a network share, GVfs's own FUSE mount, an optical drive.
bool isMediumMount(const MountEntry& mount, const std::optional<UDisksFacts>& facts, const QString& user);

// The GVfs URI schemes that are network shares or online accounts, never media.
bool isNetworkScheme(const QString& scheme);

// Folders that phones, cameras and desktops fill with their own data on a medium
// (".thumbnails", ".trashed-…", "System Volume Information"): the tree does not show them.
bool isMediumHousekeeping(const QString& folderName);

} // namespace ztv
