#pragma once

#include "values/Area.h"

#include <QSet>
#include <QString>
#include <optional>

namespace ztv {

struct StoragePaths;

// Which browsing tab shows a folder under the storage root, and its path in that tab's tree.
struct AreaPlace {
    std::optional<Area> area; // the stock yard or the vault; none for anything else
    QString treePath; // "保管庫/旅行/京都"; "" without an area
};

// The folder's area: the component after "ZTV_DATA" decides ("ストックヤード" 1, "保管庫"
// 2). A trailing "/" is allowed. Paths under the storage root in use are cut at that root,
// so a home folder that itself has a "ZTV_DATA" component does not mislead the search.
AreaPlace AreaFromPath(const QString& fullPath, const StoragePaths& paths);

// The new base name a rename answer gives: the whole answer when it has no "."; otherwise
// the text after its last "/" up to its last ".", so a typed extension is dropped. "" when
// nothing is left (".png", "a.b/c"), which changes nothing.
QString RenameBaseName(const QString& answer);

// The extension a renamed file keeps: its name's last "." and what follows, letters as
// they are; "" for a name without ".".
QString KeptExtension(const QString& path);

// Whether the folder of path holds an ordinary (not hidden) file whose name equals path's
// last component exactly, letter case included.
bool Dup_Check(const QString& path);

// The names Dup_Check finds taken in folder, read once (for a batch of files going into it);
// empty when the folder cannot be read.
QSet<QString> FileNamesIn(const QString& folder);

} // namespace ztv
