#include "DesktopShell.h"

#include <QDesktopServices>
#include <QUrl>

namespace ztv {

bool DesktopShell::openFolder(const QString& folder) { return QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); }

bool DesktopShell::openUrl(const QString& url)
{
    const QUrl u(url, QUrl::StrictMode);
    return u.isValid() && QDesktopServices::openUrl(u);
}

} // namespace ztv
