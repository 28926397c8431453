#pragma once

#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace ztv {

// Sorts file names the way a file manager shows them: numbers compared as numbers,
// letters without regard to case, and ties broken by code point so the order is total.
// With skip, each text is compared from that position on (the paths of one folder by name).
void sortNatural(QStringList& names, qsizetype skip = 0);

// The browser's filter: "*.*" and "*" take every file, including names without a dot;
// otherwise ';'-separated wildcards, case-insensitive. Made once for a whole folder.
class FileFilter {
public:
    explicit FileFilter(const QString& filter);
    bool matches(const QString& name) const;

private:
    bool m_all = false;
    QList<QRegularExpression> m_patterns;
};

// True when the file name matches the browser's filter.
bool matchesFileFilter(const QString& name, const QString& filter);

// Full paths of the folder's files (everything that is not a folder, so special files are
// listed and later counted as unreadable), filtered and in natural order. Hidden (dot)
// files are left out, as a file manager shows the folder. False when the folder is missing
// or cannot be listed. With resolveTypes false, names the file system gives no type for are
// listed unchecked (some may be folders): for a caller that stats every file it lists anyway.
bool listFolderFiles(
    const QString& folder, const QString& filter, QStringList* paths, bool resolveTypes = true);

// What tells one version of a file from another: a file replaced under its name (another
// inode), written again (times, size) or gone (all zero) compares unequal.
struct FileStamp {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;
    bool operator==(const FileStamp&) const = default;
};
// *isFolder, when given, tells whether the path leads to a folder (following links).
FileStamp fileStamp(const QString& path, bool* isFolder = nullptr);

// True for a regular file whose first bytes are a picture format the program reads (Qt's
// readers, HEIF/AVIF, JPEG XL, camera RAW), whatever its name says.
bool isPictureFile(const QString& path);

} // namespace ztv
