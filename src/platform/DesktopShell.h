#pragma once

#include "platform/Shell.h"

namespace ztv {

// The desktop's file manager and web browser, through QDesktopServices.
class DesktopShell : public Shell {
public:
    bool openFolder(const QString& folder) override;
    bool openUrl(const QString& url) override;
};

} // namespace ztv
