#pragma once

#include <QString>
#include <QStringList>

namespace ztv {

// Whether a save to path would replace something: a file, hidden or not, or a link, of that
// exact name. A folder of that name does not count; the save fails on it with its message.
bool File_Check(const QString& path);

// Where a saved file lies in the storage layout, read from the names in its path: the first
// folder named "ZTV_DATA" (after the first component), then the area folder below it.
struct SavedLocation {
    bool underStorageName = false; // such a "ZTV_DATA" folder was found
    int area = 0; // 1 stock yard, 2 vault, else 0
    QStringList treePaths; // area 1 or 2: the area, then each deeper folder, outermost first
    QString folder; // the saved file's folder, with its trailing "/"
};

SavedLocation LocateSavedFile(const QString& path);

} // namespace ztv
