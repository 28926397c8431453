#include "DesktopShell.h"

#include "PathCodec.h"

#include <QDesktopServices>
#include <QUrl>

namespace ztv {

// The URL carries the folder's exact bytes, so a mount point or folder whose name is not
// UTF-8 opens itself.
bool DesktopShell::openFolder(const QString& folder)
{
    return QDesktopServices::openUrl(fileUrl(folder));
}

bool DesktopShell::openUrl(const QString& url)
{
    const QUrl u(url, QUrl::StrictMode);
    return u.isValid() && QDesktopServices::openUrl(u);
}

} // namespace ztv
