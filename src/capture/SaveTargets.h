#pragma once

#include <QString>
#include <QStringList>

namespace ztv {

// Whether the folder of path already holds a file of exactly that name, letter case
// included. Folders do not count; hidden files do, since saving would replace them.
bool File_Check(const QString& path);

// Where a saved file lies in the storage layout, read from the names in its path: the first
// folder named "ZTV_DATA" (after the first component), then the area folder below it.
struct SavedLocation {
    bool underStorageName = false; // such a "ZTV_DATA" folder was found
    int area = 0;                  // 1 stock yard, 2 vault, else 0
    QStringList treePaths;         // area 1 or 2: the area, then each deeper folder, outermost first
    QString folder;                // the saved file's folder, with its trailing "/"
};

SavedLocation LocateSavedFile(const QString& path);

} // namespace ztv
