#include "capture/SaveTargets.h"

#include "platform/PathCodec.h"
#include "platform/PathText.h"
#include "values/StoragePaths.h"

#include <sys/stat.h>

namespace ztv {

bool File_Check(const QString& path)
{
    if (path.isEmpty() || path.endsWith(QLatin1Char('/')))
        return false;
    // By the name's exact bytes, so a folder with an old disc's non-UTF-8 name is asked about
    // too; on a file system that ignores case this also sees the file a save would replace.
    struct stat st;
    return lstatPath(path, &st) && !S_ISDIR(st.st_mode);
}

SavedLocation LocateSavedFile(const QString& path)
{
    SavedLocation where;
    const QStringList parts = path.split(QLatin1Char('/'));
    // Only folder components count: the last one is the file's own name.
    const int folders = int(parts.size()) - 1;
    int storage = -1;
    for (int i = 1; i < folders; ++i) {
        if (parts.at(i) == QLatin1String("ZTV_DATA")) {
            storage = i;
            break;
        }
    }
    if (storage < 0)
        return where;
    where.underStorageName = true;
    where.folder = path.left(BackInstr(path, QStringLiteral("/")));
    const QString areaName = parts.at(storage + 1);
    if (areaName == QString::fromUtf16(kStockYardName))
        where.area = 1;
    else if (areaName == QString::fromUtf16(kVaultName))
        where.area = 2;
    if (where.area == 0)
        return where;
    QString treePath;
    for (int i = storage + 1; i < folders; ++i) {
        treePath = treePath.isEmpty() ? parts.at(i) : treePath + QLatin1Char('/') + parts.at(i);
        where.treePaths << treePath;
    }
    return where;
}

} // namespace ztv
