#pragma once

#include <QList>
#include <QString>

namespace ztv {

struct FolderEntry {
    QString name; // decodePath() of the bytes on disk: reaches this very entry again
    bool isFolder; // a link counts as what it points to; a dangling one as no folder
    bool typeKnown = true; // false: left unresolved (isFolder false), see below
};

// The entries of a folder, in the order the file system gives them, without "." and ".."
// and without hidden (dot) names. False when the folder is missing or cannot be read.
// Where the file system gives no entry types, each costs a stat; with resolveTypes false those
// entries are left unresolved, for a caller that stats each file anyway (on a phone or a card
// behind FUSE every stat is a round trip, thousands of them seconds).
bool readFolderEntries(const QString& folder, QList<FolderEntry>* entries, bool resolveTypes = true);

} // namespace ztv
