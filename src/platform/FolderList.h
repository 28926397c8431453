#pragma once

#include <QString>
#include <QStringList>

namespace ztv {

// The folder-list control Dir1: the sub-folders of one folder as full paths, sorted by
// name without regard to letter case, hidden (dot) folders left out.
class FolderList {
public:
    // Reads the folder (a trailing "/" is allowed). A folder that cannot be read gives
    // false and leaves the list on the folder it showed before.
    bool setPath(const QString& folder);
    // Reads the current folder again so the list sees folders made or removed since.
    bool refresh();

    QString path() const { return m_path; } // without trailing "/"; "" before the first read
    const QStringList& folders() const { return m_folders; }
    int count() const { return int(m_folders.size()); }

private:
    QString m_path;
    QStringList m_folders;
};

} // namespace ztv
