#include "capture/SaveTargets.h"

#include "app/StoragePaths.h"
#include "mainwindow/PathText.h"

#include <QDir>

namespace ztv {

bool File_Check(const QString& path)
{
    const int p = BackInstr(path, QStringLiteral("/"));
    const QString name = path.mid(p);
    const QString folder = path.left(p);
    if (name.isEmpty())
        return false;
    const QStringList files = QDir(folder.isEmpty() ? QStringLiteral(".") : folder)
                                  .entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::NoSort);
    return files.contains(name, Qt::CaseSensitive);
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
