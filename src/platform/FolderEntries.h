#pragma once

#include <QList>
#include <QString>

namespace ztv {

struct FolderEntry {
    QString name; // decodePath() of the bytes on disk: reaches this very entry again
    bool isFolder; // a link counts as what it points to; a dangling one as no folder
};

// The entries of a folder, in the order the file system gives them, without "." and ".."
// and without hidden (dot) names. False when the folder is missing or cannot be read.
bool readFolderEntries(const QString& folder, QList<FolderEntry>* entries);

} // namespace ztv
