#pragma once

#include <QString>

namespace ztv {

// Hand-offs to the desktop: the file manager on a folder, the browser on an address.
class Shell {
public:
    virtual ~Shell() = default;
    // Both give false when the desktop could not start anything.
    virtual bool openFolder(const QString& folder) = 0;
    virtual bool openUrl(const QString& url) = 0;
};

} // namespace ztv
