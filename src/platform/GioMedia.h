#pragma once

#include "platform/Media.h"

#include <functional>
#include <memory>

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

    // With GIO's answer on each whether its files may be deleted: asked of the mount's DCIM
    // folder (or its first folder's, as on a phone's storage) the first time the mount is
    // seen, asynchronously and for AnswerLimitMs at most, as a phone over MTP may never answer;
    // onChange is called when a refusal comes. Until then, and without an answer, no refusal
    // is assumed.
    QList<Medium> media() const;
    static constexpr int AnswerLimitMs = 15000;
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
    // Outlives this object while a question is still out.
    std::shared_ptr<struct DeleteAnswers> m_answers;
};

} // namespace ztv
