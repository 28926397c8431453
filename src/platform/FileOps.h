#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

namespace ztv {

// Outcome of one file-system operation. Nothing here ever replaces an existing file or
// folder unless the call says so.
enum class FileError {
    None,
    Exists, // the target name is taken (also when it differs only in letter case on a
            // case-insensitive file system)
    NotFound, // the source is gone
    InvalidName, // not a single plain name, or a path the operation must not touch
    NotEmpty, // a folder that still holds something
    PermissionDenied,
    NoSpace,
    Io, // read or write failed midway (disc removed, device error)
    NoTrash, // no trash can take the file (see FileOps::moveToTrash)
    Cancelled, // a copy stopped by its progress callback (see CopyProgress)
    Other,
};

struct FileResult {
    FileError error = FileError::None;
    QString detail; // what failed, for the user ("書き込みに失敗しました: …"), empty on success
    bool ok() const { return error == FileError::None; }
};

// Where a file moved to the trash went: the file under files/ and its record under info/.
struct TrashedFile {
    QString file;
    QString record;
};

// Told after each block of a copy with the bytes copied so far and the file's size; false stops
// the copy there: what it wrote is removed, nothing gets the target's name, and the call gives
// Cancelled. Called on the thread the operation runs on.
using CopyProgress = std::function<bool(qint64 done, qint64 total)>;

// True for a name that is one plain path component: not "", ".", "..", and without "/" or NUL.
bool isPlainName(const QString& name);

// Folders whose flush a run of several moves leaves until it ends (see
// FileOps::moveNoReplace): each folder once, however many files left or entered it. Flushed
// by flush() or when destroyed.
class FolderFlushes {
public:
    FolderFlushes() = default;
    FolderFlushes(const FolderFlushes&) = delete;
    FolderFlushes& operator=(const FolderFlushes&) = delete;
    ~FolderFlushes();

    // Keeps the open folder for the flush (a copy of the descriptor), once per folder.
    void add(int dirfd);
    void flush();
    int pending() const { return int(m_folders.size()); }

private:
    struct Folder {
        quint64 device;
        quint64 inode;
        int fd;
    };
    std::vector<Folder> m_folders;
};

// The file operations of filing and saving. Tests replace them, or arm failures in the real
// ones (platform/SysCalls.h). Paths are full paths with "/"; their last component must
// be a plain name (see isPlainName), else the call gives InvalidName and touches nothing.
// Names are encoded with encodePath (platform/PathCodec.h).
class FileOps {
public:
    virtual ~FileOps() = default;

    virtual FileResult makeDirectory(const QString& path) = 0; // fails if anything exists there
    virtual FileResult removeEmptyDirectory(const QString& path) = 0; // never removes contents
    virtual FileResult removeFile(const QString& path) = 0;
    // Rename or move a file or folder; fails if the target exists. A file moved across file
    // systems is copied, flushed and read back before the source is removed; a folder is not
    // moved across file systems (Other). A folder never moves into itself (InvalidName).
    virtual FileResult moveNoReplace(const QString& from, const QString& to) = 0;
    // The same, for one of several moves: the folders' flushes that no file's safety waits
    // for are left to later. A move within one file system is one rename, which a stop of the
    // machine either did or did not do; across file systems the copy's folder is still
    // flushed before the source goes, and only the source's folder waits. So no file is lost:
    // a stop before later's flush may undo some moves, or leave a moved file in both places.
    // The default flushes at once.
    virtual FileResult moveNoReplace(const QString& from, const QString& to, FolderFlushes& later)
    {
        (void)later;
        return moveNoReplace(from, to);
    }
    // The same, telling progress of a copy between file systems (see CopyProgress), which may
    // stop it. The default tells nothing.
    virtual FileResult moveNoReplace(
        const QString& from, const QString& to, FolderFlushes& later, const CopyProgress& progress)
    {
        (void)progress;
        return moveNoReplace(from, to, later);
    }
    // Copy a regular file (anything else gives InvalidName without blocking); the target is
    // created exclusively and no partial file is left under its name when the copy fails.
    // A file larger than the target's free space is refused (NoSpace) before a byte is written.
    // The copy keeps the source's modification time, not its permissions.
    virtual FileResult copyNoReplace(const QString& from, const QString& to) = 0;
    // The same, telling its progress (see CopyProgress), which may stop it. The default tells
    // nothing.
    virtual FileResult copyNoReplace(const QString& from, const QString& to, const CopyProgress& progress)
    {
        (void)progress;
        return copyNoReplace(from, to);
    }
    // Write bytes to a file through a temporary file in the same folder. With replace false
    // an existing file is never replaced.
    virtual FileResult writeFile(const QString& path, const QByteArray& bytes, bool replace) = 0;
    // Move a file (not a folder) into the user's trash in the freedesktop.org layout that
    // file managers share: the file under files/ and, written and flushed before the move, its
    // record under info/ with the original path, so a file manager can put it back. The trash
    // is the home trash ($XDG_DATA_HOME/Trash) when it lies on the file's file system, else the
    // one at the top of the file's own file system ($top/.Trash/$uid in a sticky $top/.Trash,
    // else $top/.Trash-$uid, made with mode 700); a trash on another file system is never used.
    // NoTrash says that no trash can take the file; any other failure (a record that cannot be
    // written, a refused move) is reported as such. Either way nothing is changed and no record
    // is left behind. The default has no trash at all (NoTrash).
    virtual FileResult moveToTrash(const QString& path);
    // The same, telling where the file and its record went (so it can be put back); the
    // default moves it with moveToTrash and leaves where empty.
    virtual FileResult trashFile(const QString& path, TrashedFile& where);
};

// The real implementation on the local file system.
FileOps& realFileOps();

} // namespace ztv
