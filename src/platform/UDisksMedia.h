#pragma once

#include "platform/Media.h"

#include <QDBusConnection>

#include <functional>
#include <optional>

class QObject;

namespace ztv {

// UDisks2's facts about a block device ("/dev/sdb1") and its drive; none where there is no
// bus, no UDisks2, or UDisks2 does not know the device. Waits at most timeoutMs per call.
std::optional<UDisksFacts> udisksFacts(QDBusConnection bus, const QString& device, int timeoutMs);

// The same question without waiting, for the window's thread, which a stuck udisksd must never
// hold: done gets the answer (or none) on context's thread, at the latest about 2 x timeoutMs
// later (a call for the block device, then one for its drive); never once context is gone.
void askUDisksFacts(QDBusConnection bus, const QString& device, int timeoutMs, QObject* context,
    std::function<void(std::optional<UDisksFacts>)> done);

// Unmounts the file system on device through UDisks2, then powers the drive off when powerOff
// (a USB drive, so it can be pulled). A busy file system gives Busy; any other refusal gives
// Failed with UDisks2's message.
Removal udisksRemove(QDBusConnection bus, const QString& device, const QString& drive, bool powerOff);

} // namespace ztv
