#include "filing/FilingPaths.h"

#include "platform/PathText.h"
#include "values/StoragePaths.h"

#include "platform/FolderEntries.h"
#include "platform/WorkAside.h"

#include <QStringList>

namespace ztv {

AreaPlace AreaFromPath(const QString& fullPath, const StoragePaths& paths)
{
    QStringList parts;
    const QString root = paths.AreaBasePath[Area::Vault];
    if (!root.isEmpty() && fullPath.startsWith(root)) {
        parts = fullPath.mid(root.size()).split(QLatin1Char('/'));
    } else {
        const QStringList all = fullPath.split(QLatin1Char('/'));
        const qsizetype at = all.indexOf(QStringLiteral("ZTV_DATA"), 1);
        if (at < 0)
            return {};
        parts = all.mid(at + 1);
    }
    while (!parts.isEmpty() && parts.last().isEmpty())
        parts.removeLast();
    if (parts.isEmpty())
        return {};
    AreaPlace place;
    if (parts.first() == QString::fromUtf16(kStockYardName))
        place.area = Area::StockYard;
    else if (parts.first() == QString::fromUtf16(kVaultName))
        place.area = Area::Vault;
    else
        return {};
    place.treePath = parts.join(QLatin1Char('/'));
    return place;
}

QString RenameBaseName(const QString& answer)
{
    const qsizetype dot = answer.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return answer;
    const qsizetype start = answer.lastIndexOf(QLatin1Char('/')) + 1;
    if (dot < start)
        return QString();
    return answer.mid(start, dot - start);
}

QString KeptExtension(const QString& path)
{
    const QString name = GetFileTitle(path);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot);
}

bool Dup_Check(const QString& path)
{
    const qsizetype slash = BackInstr(path, QStringLiteral("/"));
    const QString name = path.mid(slash);
    const QString folder = path.left(slash);
    // Ordinary and read-only files; hidden files and folders are not listed. Names by their
    // bytes: a name that is not UTF-8 must not match the look-alike Qt's listing would make.
    // Read aside: a box on a slow share must not stop the window.
    const std::optional<QList<FolderEntry>> read = offMainThread<std::optional<QList<FolderEntry>>>([folder] {
        QList<FolderEntry> entries;
        return readFolderEntries(folder.isEmpty() ? QStringLiteral(".") : folder, &entries)
            ? std::optional(entries)
            : std::nullopt;
    });
    if (!read)
        return false;
    const QList<FolderEntry>& entries = *read;
    for (const FolderEntry& entry : std::as_const(entries)) {
        if (!entry.isFolder && entry.name == name)
            return true;
    }
    return false;
}

QSet<QString> FileNamesIn(const QString& folder)
{
    // Read aside, as Dup_Check reads: a box on a slow share must not stop the window.
    return offMainThread<QSet<QString>>([folder] {
        QList<FolderEntry> entries;
        QSet<QString> names;
        if (readFolderEntries(folder, &entries))
            for (const FolderEntry& entry : std::as_const(entries))
                if (!entry.isFolder)
                    names.insert(entry.name);
        return names;
    });
}

} // namespace ztv
