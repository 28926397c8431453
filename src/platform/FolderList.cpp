#include "platform/FolderList.h"

#include "platform/FolderEntries.h"
#include "platform/PathCodec.h"
#include "platform/WorkAside.h"

#include <algorithm>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace ztv {

namespace {

// The folders in path, sorted as the tree shows them; none when path is no readable folder.
std::optional<QStringList> subfolderPaths(const QString& path)
{
    // By the names' exact bytes: a sub-folder whose name is not UTF-8 keeps a path that leads
    // back to it, and one that cannot be entered is no readable folder.
    struct stat st;
    if (!statPath(path, &st) || !S_ISDIR(st.st_mode)
        || ::access(encodePath(path).constData(), R_OK | X_OK) != 0)
        return std::nullopt;
    QList<FolderEntry> entries;
    if (!readFolderEntries(path, &entries))
        return std::nullopt;
    QStringList names;
    for (const FolderEntry& entry : std::as_const(entries)) {
        if (entry.isFolder)
            names << entry.name;
    }
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    QStringList full;
    full.reserve(names.size());
    const QString prefix = path == QLatin1String("/") ? path : path + QLatin1Char('/');
    for (const QString& name : std::as_const(names))
        full << prefix + name;
    return full;
}

} // namespace

bool FolderList::setPath(const QString& folder)
{
    QString path = folder;
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    if (path.isEmpty())
        return false;
    // Read aside: a folder on a slow share must not stop the window.
    const std::optional<QStringList> full
        = offMainThread<std::optional<QStringList>>([path] { return subfolderPaths(path); });
    if (!full)
        return false;
    m_path = path;
    m_folders = *full;
    return true;
}

bool FolderList::refresh()
{
    return setPath(m_path);
}

} // namespace ztv
