#pragma once

#include <QString>
#include <optional>

namespace ztv {

// What tells one file on disk from another that later takes its name: a file deleted and
// replaced, renamed over or rewritten has another identity.
struct FileIdentity {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    qint64 modifiedNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity of the file at path (its exact bytes, links followed); none when it cannot
// be read or is not a regular file.
std::optional<FileIdentity> identifyFile(const QString& path);

// The picture a user chose on a tab: its path as listed and the file it was when chosen.
// Operations act on it only while isStillOnDisk().
struct PictureChoice {
    QString path;
    FileIdentity identity;

    // The choice of the file now at path; none when there is no such file.
    static std::optional<PictureChoice> of(const QString& path);
    bool isStillOnDisk() const;
};

} // namespace ztv
