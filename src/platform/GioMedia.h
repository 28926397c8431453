#pragma once

#include "platform/Media.h"

#include <functional>

namespace ztv {

// The mounts GVfs makes that are no network share (phones over MTP, cameras over PTP, iPhones,
// an archive opened in the file manager), from GIO's volume monitor. A new GVfs mount adds
// no line to the mount table, so only GIO tells it. GIO's signals come through the GLib main
// loop, which is Qt's event loop on Linux. Each medium is read through GVfs's FUSE path; a
// mount without one (gvfsd-fuse not running) is left out.
class GioMedia {
public:
    GioMedia();
    ~GioMedia();
    GioMedia(const GioMedia&) = delete;
    GioMedia& operator=(const GioMedia&) = delete;

    QList<Medium> media() const;
    // Called on every mount added, removed or changed.
    void setOnChange(std::function<void()> onChange) { m_onChange = std::move(onChange); }
    // GIO's eject where the mount offers it, else its unmount; waits for the answer while
    // events other than user input are handled, for RemovalLimitMs at most (then Failed).
    Removal remove(const Medium& medium) const;
    static constexpr int RemovalLimitMs = 20000;

    void changed() const;

private:
    void* m_monitor = nullptr; // GVolumeMonitor
    std::function<void()> m_onChange;
};

} // namespace ztv
