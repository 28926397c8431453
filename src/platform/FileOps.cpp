#include "FileOps.h"

#include "FileTexts.h"
#include "PathCodec.h"
#include "SysCalls.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <optional>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <utility>
#include <vector>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif
#ifndef FS_CASEFOLD_FL
#define FS_CASEFOLD_FL 0x40000000
#endif

namespace ztv {

namespace {

namespace T = filetexts;

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd)
        : m_fd(fd)
    {
    }
    Fd(Fd&& o) noexcept
        : m_fd(std::exchange(o.m_fd, -1))
    {
    }
    Fd& operator=(Fd&& o) noexcept
    {
        if (this != &o) {
            reset();
            m_fd = std::exchange(o.m_fd, -1);
        }
        return *this;
    }
    ~Fd() { reset(); }
    int get() const { return m_fd; }
    void reset()
    {
        if (m_fd >= 0)
            ::close(m_fd); // never retried: on Linux the descriptor is gone even on EINTR
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

template <typename F> auto retry(F f)
{
    decltype(f()) r;
    do
        r = f();
    while (r < 0 && errno == EINTR);
    return r;
}

struct ErrnoMeaning {
    int err;
    FileError error;
    const char16_t* why;
};

constexpr ErrnoMeaning kMeanings[] = {
    { EEXIST, FileError::Exists, T::kWhyExists },
    { ENOENT, FileError::NotFound, T::kWhyNotFound },
    { ENOTEMPTY, FileError::NotEmpty, T::kWhyNotEmpty },
    { EACCES, FileError::PermissionDenied, T::kWhyDenied },
    { EPERM, FileError::PermissionDenied, T::kWhyDenied },
    { EROFS, FileError::PermissionDenied, T::kWhyReadOnly },
    { ETXTBSY, FileError::PermissionDenied, T::kWhyBusy },
    { EBUSY, FileError::PermissionDenied, T::kWhyBusy },
    { ENOSPC, FileError::NoSpace, T::kWhyNoSpace },
    { EDQUOT, FileError::NoSpace, T::kWhyNoSpace },
    { EIO, FileError::Io, T::kWhyIo },
    { ENXIO, FileError::Io, T::kWhyIo },
    { ENODEV, FileError::Io, T::kWhyIo },
    { ENOMEDIUM, FileError::Io, T::kWhyIo },
    { ESTALE, FileError::Io, T::kWhyIo },
    { EREMOTEIO, FileError::Io, T::kWhyIo },
    { ENAMETOOLONG, FileError::InvalidName, T::kWhyTooLong },
    { EISDIR, FileError::InvalidName, T::kWhyIsFolder },
    { ENOTDIR, FileError::InvalidName, T::kWhyNotFolder },
    { EILSEQ, FileError::InvalidName, nullptr },
    { ELOOP, FileError::InvalidName, nullptr },
    { EXDEV, FileError::Other, T::kWhyOtherDrive },
};

FileResult fail(const char16_t* step, int err)
{
    FileError error = FileError::Other;
    QString why = QString::fromUtf16(T::kWhyOther).arg(err);
    for (const ErrnoMeaning& m : kMeanings) {
        if (m.err == err) {
            error = m.error;
            if (m.why)
                why = QString::fromUtf16(m.why);
            break;
        }
    }
    return { error, QString::fromUtf16(step) + u'（' + why + u'）' };
}

FileResult failAs(FileError error, const char16_t* step)
{
    return { error, QString::fromUtf16(step) };
}
FileResult exists()
{
    return failAs(FileError::Exists, T::kExists);
}

// The folder that holds (or is to hold) the last component of a path, opened, and that
// component. The component must be a plain name: "a/..", "a/" or a NUL never get this far.
struct Place {
    Fd dir;
    QByteArray dirPath;
    QByteArray name;
};

FileResult locate(const QString& path, Place& out)
{
    if (path.isEmpty() || path.contains(QChar(u'\0')))
        return failAs(FileError::InvalidName, T::kBadName);
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString name = path.mid(slash + 1);
    if (!isPlainName(name))
        return failAs(FileError::InvalidName, T::kBadName);
    out.dirPath = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : encodePath(path.left(slash));
    out.name = encodePath(name);
    const int fd
        = retry([&] { return sys::openat(AT_FDCWD, out.dirPath.constData(), O_PATH | O_DIRECTORY); });
    if (fd < 0)
        return fail(T::kOpenFolder, errno);
    out.dir = Fd(fd);
    return {};
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A folder of the path (on the folder's own file system) whose name has letters, reached
// once more with its letters' case flipped: the same inode means the file system ignores case.
bool flippedNameFindsSameFolder(int dirfd, const QByteArray& dirPath)
{
    struct stat here;
    if (::fstat(dirfd, &here) < 0)
        return false;
    QByteArray path = dirPath;
    while (path.size() > 1) {
        const qsizetype slash = path.lastIndexOf('/');
        const QByteArray name = path.mid(slash + 1);
        QByteArray flipped = name;
        for (char& c : flipped)
            c = (c >= 'a' && c <= 'z') ? char(c - 32) : (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
        struct stat a, b;
        if (::stat(path.constData(), &a) < 0 || a.st_dev != here.st_dev)
            return false;
        if (flipped != name)
            return ::lstat((path.left(slash + 1) + flipped).constData(), &b) == 0
                && sameFile(a, b); // a symlink is not the same
        if (slash <= 0)
            return false;
        path.truncate(slash);
    }
    return false;
}

bool caseInsensitive(int dirfd, const QByteArray& dirPath)
{
    if (const int forced = sys::caseForcing(); forced >= 0)
        return forced == 1;
    struct statfs sf;
    if (::fstatfs(dirfd, &sf) == 0) {
        switch (static_cast<unsigned long>(sf.f_type)) {
        case MSDOS_SUPER_MAGIC: // vfat
        case 0x2011BAB0UL: // exfat
        case 0x7366746EUL: // ntfs3
        case 0x5346544EUL: // ntfs
        case 0xFF534D42UL: // cifs
        case 0xFE534D42UL: // smb2
        case 0x4244UL: // hfs
        case 0x482BUL: // hfs+
            return true;
        default:
            break;
        }
    }
    // ext4 and f2fs can fold case per folder.
    Fd rd(::openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    int flags = 0;
    if (rd.get() >= 0 && ::ioctl(rd.get(), FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_CASEFOLD_FL))
        return true;
    return flippedNameFindsSameFolder(dirfd, dirPath);
}

// Whether the name is taken in the folder: exactly, or, where the file system ignores case,
// by a name that differs only in case.
bool nameTaken(const Place& p)
{
    const int dirfd = p.dir.get();
    const QByteArray& name = p.name;
    struct stat st;
    if (::fstatat(dirfd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return true;
    if (!caseInsensitive(dirfd, p.dirPath))
        return false;
    const int fd = ::openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    DIR* d = ::fdopendir(fd);
    if (!d) {
        ::close(fd);
        return false;
    }
    const QString wanted = decodePath(name);
    bool found = false;
    while (const dirent* e = ::readdir(d)) {
        if (QString::compare(decodePath(QByteArray(e->d_name)), wanted, Qt::CaseInsensitive) == 0) {
            found = true;
            break;
        }
    }
    ::closedir(d);
    return found;
}

void fsyncDir(int dirfd)
{
    // Best effort: the entry is already in place; some file systems cannot flush folders.
    Fd rd(::openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (rd.get() >= 0)
        ::fsync(rd.get());
}

// The folder flushed now, or by later when given.
void fsyncDir(int dirfd, FolderFlushes* later)
{
    if (later)
        later->add(dirfd);
    else
        fsyncDir(dirfd);
}

// What renameNoReplace gives for a file on a mount that offers no rename that cannot replace
// (no RENAME_NOREPLACE, no hard links: NFS or SMB without them, many FUSE mounts). The file
// must then be copied to a name claimed exclusively.
constexpr int kNoSafeRename = -1;

bool refusedFlags(int e)
{
    return e == EINVAL || e == ENOSYS || e == EOPNOTSUPP;
}
bool refusedLink(int e)
{
    return e == EPERM || e == EOPNOTSUPP || e == EMLINK || e == ENOSYS || e == EXDEV;
}

// Renames without ever replacing: renameat2 with RENAME_NOREPLACE; where the file system
// does not know the flag, a hard link and unlink for files (kNoSafeRename where links are
// refused too), and for folders an exclusively made empty folder that our rename then takes:
// a rename replaces only an empty folder, so nothing anyone put there can be lost.
// Gives 0, an errno or kNoSafeRename.
int renameNoReplace(int sd, const char* sn, int dd, const char* dn, bool isDir)
{
    if (sys::renameat2(sd, sn, dd, dn, RENAME_NOREPLACE) == 0)
        return 0;
    int e = errno;
    if (!refusedFlags(e))
        return e;
    if (!isDir) {
        if (sys::linkat(sd, sn, dd, dn, 0) == 0) {
            if (sys::unlinkat(sd, sn) == 0)
                return 0;
            e = errno;
            ::unlinkat(dd, dn, 0); // the new name is our own second link: the file stays
            return e;
        }
        e = errno;
        // EXDEV: some FUSE mounts refuse links between their folders although they rename.
        return refusedLink(e) ? kNoSafeRename : e;
    }
    struct stat claim;
    if (sys::mkdirat(dd, dn, 0700) < 0)
        return errno;
    if (::fstatat(dd, dn, &claim, AT_SYMLINK_NOFOLLOW) < 0)
        return errno;
    if (sys::renameat2(sd, sn, dd, dn, 0) == 0)
        return 0;
    e = errno;
    struct stat now;
    if (::fstatat(dd, dn, &now, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(now, claim))
        ::unlinkat(dd, dn, AT_REMOVEDIR);
    return e;
}

// A file being written in the destination folder, without a name (O_TMPFILE) or under a
// hidden one. Whatever has not been given its final name is removed on destruction.
struct Staged {
    explicit Staged(int dirfd)
        : dir(dirfd)
    {
    }
    ~Staged()
    {
        if (!tempName.isEmpty())
            ::unlinkat(dir, tempName.constData(), 0);
    }
    int dir;
    Fd fd;
    QByteArray tempName;
};

QByteArray hiddenName()
{
    return ".ztv-" + QByteArray::number(QRandomGenerator::global()->generate64(), 16) + ".tmp";
}

FileResult createTemp(Staged& t)
{
    int fd = retry([&] { return sys::openat(t.dir, ".", O_TMPFILE | O_RDWR, 0666); });
    if (fd >= 0) {
        t.fd = Fd(fd);
        return {};
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return fail(T::kCreateTarget, errno);
    for (int attempt = 0; attempt < 64; ++attempt) {
        const QByteArray name = hiddenName();
        fd = retry([&] { return sys::openat(t.dir, name.constData(), O_CREAT | O_EXCL | O_RDWR, 0666); });
        if (fd >= 0) {
            t.fd = Fd(fd);
            t.tempName = name;
            return {};
        }
        if (errno != EEXIST)
            return fail(T::kCreateTarget, errno);
    }
    return fail(T::kCreateTarget, EEXIST);
}

// Links an unnamed temporary file under a name; fails with EEXIST rather than replace.
int linkUnnamed(const Staged& t, const char* name)
{
    char proc[64];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", t.fd.get());
    if (sys::linkat(AT_FDCWD, proc, t.dir, name, AT_SYMLINK_FOLLOW) == 0)
        return 0;
    if (errno != ENOENT || ::access("/proc/self/fd", F_OK) == 0)
        return errno;
    return sys::linkat(t.fd.get(), "", t.dir, name, AT_EMPTY_PATH) == 0 ? 0 : errno; // no /proc
}

FileResult copyData(int in, int out, off_t expected, const CopyProgress* progress = nullptr,
    QCryptographicHash* read = nullptr);
FileResult verifyCopy(int in, int copy);

// Where neither a no-replace rename nor a link can name the staged file: its bytes go once
// more into a file created under the final name exclusively (O_EXCL never replaces), flushed
// and compared with the staged file. A failure takes that file away again.
FileResult copyToExclusiveName(Staged& t, const QByteArray& name, struct stat* published)
{
    struct stat staged;
    if (::fstat(t.fd.get(), &staged) < 0 || ::lseek(t.fd.get(), 0, SEEK_SET) < 0)
        return fail(T::kPublish, errno);
    Fd out(retry([&] { return sys::openat(t.dir, name.constData(), O_CREAT | O_EXCL | O_RDWR, 0666); }));
    if (out.get() < 0) {
        if (errno == EEXIST)
            return exists();
        // Not even an exclusive create: rather no move than one that might replace.
        return refusedFlags(errno) ? failAs(FileError::Other, T::kNoSafeName) : fail(T::kPublish, errno);
    }
    struct stat made;
    FileResult r;
    if (::fstat(out.get(), &made) < 0)
        r = fail(T::kPublish, errno);
    if (r.ok())
        r = copyData(t.fd.get(), out.get(), staged.st_size);
    if (r.ok()) {
        const struct timespec times[2] = { staged.st_atim, staged.st_mtim };
        ::futimens(out.get(), times);
        if (retry([&] { return sys::fsync(out.get()); }) < 0)
            r = fail(T::kFlush, errno);
    }
    if (r.ok()) {
        ::posix_fadvise(out.get(), 0, 0, POSIX_FADV_DONTNEED);
        r = verifyCopy(t.fd.get(), out.get());
    }
    if (!r.ok()) {
        struct stat now;
        if (::fstatat(t.dir, name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(now, made))
            ::unlinkat(t.dir, name.constData(), 0);
        return r;
    }
    if (published)
        *published = made;
    return {}; // the staged file goes with t
}

// Gives the staged file its final name, never replacing anything there. On success
// *published (when given) describes the file under that name.
FileResult publishNoReplace(Staged& t, const QByteArray& name, struct stat* published = nullptr)
{
    int e = t.tempName.isEmpty()
        ? linkUnnamed(t, name.constData())
        : renameNoReplace(t.dir, t.tempName.constData(), t.dir, name.constData(), false);
    if (t.tempName.isEmpty() && refusedLink(e))
        e = kNoSafeRename;
    if (e == kNoSafeRename)
        return copyToExclusiveName(t, name, published);
    if (e == EEXIST)
        return exists();
    if (e)
        return fail(T::kPublish, e);
    t.tempName.clear();
    if (published)
        ::fstat(t.fd.get(), published);
    return {};
}

// Gives the staged file its final name, replacing a file of that name atomically.
FileResult publishReplacing(Staged& t, const QByteArray& name)
{
    for (int attempt = 0; t.tempName.isEmpty(); ++attempt) {
        const QByteArray hidden = hiddenName();
        const int e = linkUnnamed(t, hidden.constData());
        if (e == 0)
            t.tempName = hidden;
        else if (e != EEXIST || attempt == 63)
            return fail(T::kPublish, e);
    }
    if (sys::renameat2(t.dir, t.tempName.constData(), t.dir, name.constData(), 0) < 0)
        return fail(T::kPublish, errno);
    t.tempName.clear();
    return {};
}

FileResult writeAll(int fd, const char* p, size_t n, const char16_t* step = T::kWrite)
{
    while (n > 0) {
        const ssize_t w = retry([&] { return sys::write(fd, p, n); });
        if (w < 0)
            return fail(step, errno);
        if (w == 0)
            return fail(step, ENOSPC);
        p += w;
        n -= size_t(w);
    }
    return {};
}

// Reads until the buffer is full or the file ends; -1 with errno on failure.
ssize_t readFull(int fd, char* p, size_t n)
{
    size_t got = 0;
    while (got < n) {
        const ssize_t r = retry([&] { return sys::read(fd, p + got, n - got); });
        if (r < 0)
            return -1;
        if (r == 0)
            break;
        got += size_t(r);
    }
    return ssize_t(got);
}

constexpr size_t kChunk = 1 << 20;
constexpr QCryptographicHash::Algorithm kStreamDigest = QCryptographicHash::Sha256;

// read, when given, takes in every byte read from the source.
FileResult copyData(int in, int out, off_t expected, const CopyProgress* progress, QCryptographicHash* read)
{
    std::vector<char> buf(kChunk);
    off_t total = 0;
    for (;;) {
        const ssize_t n = retry([&] { return sys::read(in, buf.data(), buf.size()); });
        if (n < 0)
            return fail(T::kReadSource, errno);
        if (n == 0)
            break;
        if (read)
            read->addData(QByteArrayView(buf.data(), n));
        if (FileResult r = writeAll(out, buf.data(), size_t(n)); !r.ok())
            return r;
        total += n;
        if (progress && *progress && !(*progress)(qint64(total), qint64(expected)))
            return failAs(FileError::Cancelled, T::kCancelled);
    }
    if (total < expected)
        return failAs(FileError::Io, T::kShortRead);
    if (total > expected)
        return failAs(FileError::Io, T::kSourceChanged);
    return {};
}

// Reads the copy back and compares it with the source byte for byte.
FileResult verifyCopy(int in, int copy)
{
    if (::lseek(in, 0, SEEK_SET) < 0)
        return fail(T::kReadSource, errno);
    if (::lseek(copy, 0, SEEK_SET) < 0)
        return fail(T::kVerify, errno);
    std::vector<char> a(kChunk), b(kChunk);
    for (;;) {
        const ssize_t na = readFull(in, a.data(), a.size());
        if (na < 0)
            return fail(T::kReadSource, errno);
        const ssize_t nb = readFull(copy, b.data(), b.size());
        if (nb < 0)
            return fail(T::kVerify, errno);
        if (na != nb || std::memcmp(a.data(), b.data(), size_t(na)) != 0)
            return failAs(FileError::Io, T::kVerify);
        if (na == 0)
            return {};
    }
}

// Reads the copy back and compares it with the digest of what was read from a source that
// cannot be read a second time (a stream: seeking it fails).
FileResult verifyCopyAgainst(const QCryptographicHash& read, int copy)
{
    if (::lseek(copy, 0, SEEK_SET) < 0)
        return fail(T::kVerify, errno);
    QCryptographicHash back(kStreamDigest);
    std::vector<char> b(kChunk);
    for (;;) {
        const ssize_t nb = readFull(copy, b.data(), b.size());
        if (nb < 0)
            return fail(T::kVerify, errno);
        if (nb == 0)
            break;
        back.addData(QByteArrayView(b.data(), nb));
    }
    return back.result() == read.result() ? FileResult {} : failAs(FileError::Io, T::kVerify);
}

// Opens a regular file for reading. O_NONBLOCK keeps a FIFO from blocking the open; it is
// refused right after.
FileResult openSource(int dirfd, const char* path, Fd& out, struct stat& st)
{
    out = Fd(retry([&] { return sys::openat(dirfd, path, O_RDONLY | O_NONBLOCK | O_NOCTTY); }));
    if (out.get() < 0)
        return fail(T::kOpenSource, errno);
    if (::fstat(out.get(), &st) < 0)
        return fail(T::kOpenSource, errno);
    if (!S_ISREG(st.st_mode))
        return failAs(FileError::InvalidName, T::kNotRegular);
    ::fcntl(out.get(), F_SETFL, ::fcntl(out.get(), F_GETFL) & ~O_NONBLOCK);
    return {};
}

// Copies an open source into a new file named name in the folder dir: staged, flushed,
// optionally read back, then given its name. On success *published describes the new file.
// A copy of size bytes that the folder's file system has no room for, known before a byte is
// written (a sparse source is copied whole); nothing where the free space cannot be asked, or
// where the file system gives no sizes at all (some FUSE mounts say 0 blocks).
std::optional<FileResult> noRoomFor(int dir, off_t size)
{
    struct statvfs fs;
    if (retry([&] { return sys::fstatvfs(dir, &fs); }) < 0 || fs.f_blocks == 0)
        return std::nullopt;
    const quint64 block = fs.f_frsize ? fs.f_frsize : fs.f_bsize;
    const quint64 room
        = (block == 0 || fs.f_bavail > ULLONG_MAX / block) ? ULLONG_MAX : quint64(fs.f_bavail) * block;
    if (quint64(size) <= room)
        return std::nullopt;
    constexpr quint64 MB = 1000 * 1000;
    return FileResult { FileError::NoSpace,
        QString::fromUtf16(T::kNoRoom).arg(quint64(size) / MB + 1).arg(room / MB) };
}

// Whether the open source is still the file it was when the copy began: its size and
// modification time as fstat saw them then.
bool sourceUnchanged(int in, const struct stat& before)
{
    struct stat now;
    return ::fstat(in, &now) == 0 && now.st_size == before.st_size
        && now.st_mtim.tv_sec == before.st_mtim.tv_sec && now.st_mtim.tv_nsec == before.st_mtim.tv_nsec;
}

// Every copy is proved before it gets its name: staged under a temporary name, flushed, its
// pages dropped so the read-back comes from the disk (a read-back from memory proves nothing),
// and compared with a digest of the source bytes taken as they were copied, so the source (a
// slow card, a phone) is read once. A short read, or a source whose size or time changed
// while it was read, publishes nothing either.
FileResult stageCopy(int in, const struct stat& st, int dir, const QByteArray& name, struct stat* published,
    const CopyProgress* progress = nullptr)
{
    if (std::optional<FileResult> refused = noRoomFor(dir, st.st_size))
        return *refused;
    Staged t(dir);
    if (FileResult r = createTemp(t); !r.ok())
        return r;
    QCryptographicHash read(kStreamDigest);
    const FileResult copied = copyData(in, t.fd.get(), st.st_size, progress, &read);
    if (copied.error == FileError::Cancelled)
        return copied;
    if (!sourceUnchanged(in, st))
        return failAs(FileError::Io, T::kSourceTouched);
    if (!copied.ok())
        return copied;
    const struct timespec times[2] = { st.st_atim, st.st_mtim };
    ::futimens(t.fd.get(), times); // the copy keeps the picture's date; failure is harmless
    if (retry([&] { return sys::fsync(t.fd.get()); }) < 0)
        return fail(T::kFlush, errno);
    // Flushed pages are clean now; dropping them makes the read-back come from the disk.
    ::posix_fadvise(t.fd.get(), 0, 0, POSIX_FADV_DONTNEED);
    if (FileResult r = verifyCopyAgainst(read, t.fd.get()); !r.ok())
        return r;
    if (FileResult r = publishNoReplace(t, name, published); !r.ok())
        return r;
    fsyncDir(dir);
    return {};
}

// The folder of the user's data, which holds the home trash: $XDG_DATA_HOME, or
// ~/.local/share where that is unset or not absolute. Bytes as the environment has them.
QByteArray dataHome()
{
    const QByteArray dir = qgetenv("XDG_DATA_HOME");
    if (dir.startsWith('/'))
        return dir;
    QByteArray home = qgetenv("HOME");
    if (!home.startsWith('/')) {
        const passwd* pw = ::getpwuid(::getuid());
        if (!pw || !pw->pw_dir || pw->pw_dir[0] != '/')
            return {};
        home = pw->pw_dir;
    }
    return home + "/.local/share";
}

// Makes a folder and its missing parents, readable by the user alone as the trash wants.
// Gives 0 or an errno.
int makePath(QByteArray path)
{
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    struct stat st;
    if (::stat(path.constData(), &st) == 0)
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (errno != ENOENT)
        return errno;
    if (const qsizetype slash = path.lastIndexOf('/'); slash > 0)
        if (const int e = makePath(path.left(slash)))
            return e;
    if (sys::mkdirat(AT_FDCWD, path.constData(), 0700) < 0 && errno != EEXIST)
        return errno;
    return 0;
}

// The name of the nth try for a file in the trash: "photo.jpg", "photo.2.jpg", ... kept short
// enough that its record's name ("<name>.trashinfo") is a valid name too. A shortened name
// keeps as much of its stem as fits; a UTF-8 name is cut between characters, any other name
// (an old disc's Shift_JIS) between bytes, since its bytes say nothing of UTF-8.
QByteArray trashName(const QByteArray& name, int n)
{
    constexpr qsizetype kRecordSuffix = sizeof ".trashinfo" - 1;
    qsizetype dot = name.lastIndexOf('.');
    if (dot <= 0)
        dot = name.size();
    QByteArray stem = name.left(dot);
    QByteArray ext = name.mid(dot);
    const QByteArray tag = n > 1 ? '.' + QByteArray::number(n) : QByteArray();
    if (NAME_MAX - kRecordSuffix - tag.size() - ext.size() < 16) { // an absurdly long extension
        stem = name;
        ext.clear();
    }
    const qsizetype room = NAME_MAX - kRecordSuffix - tag.size() - ext.size();
    if (stem.size() > room) {
        qsizetype cut = room;
        if (QByteArrayView(name).isValidUtf8())
            while (cut > 1 && (uchar(stem[cut]) & 0xC0) == 0x80)
                --cut;
        stem.truncate(cut);
    }
    return stem + tag + ext;
}

// The record a file manager reads to put a trashed file back: its original path as bytes
// escaped as in URLs, and the local time of the deletion. The home trash records the absolute
// path; a trash at the top of another file system records it from that top, so the record
// stays true wherever the disk is mounted next time (and file managers read it so).
QByteArray trashRecord(const QByteArray& originalPath, const QByteArray& top)
{
    QByteArray path = originalPath;
    if (top == "/")
        path = originalPath.mid(1);
    else if (!top.isEmpty() && originalPath.startsWith(top + '/'))
        path = originalPath.mid(top.size() + 1);
    return "[Trash Info]\nPath=" + path.toPercentEncoding("/") + "\nDeletionDate="
        + QDateTime::currentDateTime().toString(u"yyyy-MM-dd'T'HH:mm:ss").toLatin1() + '\n';
}

// Where a trash cannot be had for reasons of the place itself (no right to write there, a
// read-only disk, a symlink or a file in the way), the file has no trash; any other errno is
// a failure to report.
FileResult trashUnusableOr(int err)
{
    switch (err) {
    case EACCES:
    case EPERM:
    case EROFS:
    case ENOTDIR:
    case ELOOP:
    case EXDEV:
    case EMLINK:
    case EOPNOTSUPP:
        return failAs(FileError::NoTrash, T::kNoTrash);
    default:
        return fail(T::kTrash, err);
    }
}

FileResult noTrash()
{
    return failAs(FileError::NoTrash, T::kNoTrash);
}

// Opens (after making it, mode 700, where missing) a folder of a trash below dirfd: never
// through a symlink, only on the file's own file system and, where asked, only the user's own.
// A folder that this call made and then refuses is taken away again.
FileResult openTrashFolder(int dirfd, const QByteArray& name, dev_t dev, bool mustOwn, Fd& out)
{
    bool made = false;
    if (sys::mkdirat(dirfd, name.constData(), 0700) == 0)
        made = true;
    else if (errno != EEXIST)
        return trashUnusableOr(errno);
    Fd fd(retry([&] { return sys::openat(dirfd, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW); }));
    if (fd.get() < 0)
        return trashUnusableOr(errno);
    struct stat st;
    if (::fstat(fd.get(), &st) < 0)
        return fail(T::kTrash, errno);
    if (!S_ISDIR(st.st_mode) || st.st_dev != dev || (mustOwn && st.st_uid != ::geteuid())) {
        if (made)
            ::unlinkat(dirfd, name.constData(), AT_REMOVEDIR);
        return noTrash();
    }
    out = std::move(fd);
    return {};
}

// A trash that can take the file: its two folders, open, and the folder its records' paths
// start from (empty for the home trash, whose records hold absolute paths).
struct TrashPlace {
    Fd files;
    Fd info;
    QByteArray top;
};

FileResult openTrashHalves(int trashfd, dev_t dev, TrashPlace& out)
{
    if (FileResult r = openTrashFolder(trashfd, "files", dev, false, out.files); !r.ok())
        return r;
    return openTrashFolder(trashfd, "info", dev, false, out.info);
}

// The device of a path, or of its nearest existing folder: where a folder made there would lie.
bool deviceOfNearest(QByteArray path, dev_t& dev)
{
    for (;;) {
        struct stat st;
        if (::stat(path.constData(), &st) == 0) {
            dev = st.st_dev;
            return true;
        }
        const qsizetype slash = path.lastIndexOf('/');
        if (errno != ENOENT || slash < 0)
            return false;
        path = slash == 0 ? QByteArray("/") : path.left(slash);
    }
}

// The home trash ($XDG_DATA_HOME/Trash), made where missing, when it lies on the file's file
// system.
FileResult openHomeTrash(dev_t dev, TrashPlace& out)
{
    const QByteArray data = dataHome();
    dev_t there;
    if (data.isEmpty() || !deviceOfNearest(data + "/Trash", there) || there != dev)
        return noTrash();
    const QByteArray trash = data + "/Trash";
    if (const int e = makePath(trash))
        return trashUnusableOr(e);
    const Fd fd(retry([&] { return sys::openat(AT_FDCWD, trash.constData(), O_PATH | O_DIRECTORY); }));
    if (fd.get() < 0)
        return trashUnusableOr(errno);
    return openTrashHalves(fd.get(), dev, out);
}

// The top of the file system that holds a folder: the highest folder above it on the same
// device. Bytes of a canonical path.
QByteArray fileSystemTop(QByteArray folder, dev_t dev)
{
    while (folder.size() > 1) {
        const qsizetype slash = folder.lastIndexOf('/');
        const QByteArray parent = slash <= 0 ? QByteArray("/") : folder.left(slash);
        struct stat st;
        if (::stat(parent.constData(), &st) < 0 || st.st_dev != dev)
            break;
        folder = parent;
    }
    return folder;
}

// The trash at the top of the file's file system: $top/.Trash/$uid where $top/.Trash is a
// sticky folder (not a symlink) that an administrator set up for all users, else $top/.Trash-$uid.
FileResult openTopTrash(const QByteArray& top, dev_t dev, TrashPlace& out)
{
    const Fd topfd(retry([&] { return sys::openat(AT_FDCWD, top.constData(), O_PATH | O_DIRECTORY); }));
    if (topfd.get() < 0)
        return trashUnusableOr(errno);
    struct stat st;
    if (::fstat(topfd.get(), &st) < 0)
        return fail(T::kTrash, errno);
    if (st.st_dev != dev)
        return noTrash();
    const QByteArray uid = QByteArray::number(qulonglong(::geteuid()));
    Fd trash;
    if (::fstatat(topfd.get(), ".Trash", &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)
        && (st.st_mode & S_ISVTX)) {
        const Fd shared(
            retry([&] { return sys::openat(topfd.get(), ".Trash", O_PATH | O_DIRECTORY | O_NOFOLLOW); }));
        if (shared.get() >= 0 && ::fstat(shared.get(), &st) == 0 && S_ISDIR(st.st_mode)
            && (st.st_mode & S_ISVTX) && st.st_dev == dev) {
            FileResult r = openTrashFolder(shared.get(), uid, dev, true, trash);
            if (r.ok())
                r = openTrashHalves(trash.get(), dev, out);
            if (r.ok() || r.error != FileError::NoTrash)
                return r;
        }
    }
    if (FileResult r = openTrashFolder(topfd.get(), ".Trash-" + uid, dev, true, trash); !r.ok())
        return r;
    return openTrashHalves(trash.get(), dev, out);
}

// The trash for a file of that device in that (canonical) folder: the home trash when it lies
// on the same file system, else the trash at the top of the file's own file system. A move into
// a trash on another file system would be a copy, and never is one here.
FileResult findTrash(const QByteArray& folder, dev_t dev, TrashPlace& out)
{
    const std::string forced = sys::trashTopForcing();
    if (forced.empty()) {
        FileResult home = openHomeTrash(dev, out);
        if (home.ok() || home.error != FileError::NoTrash)
            return home;
    }
    out = TrashPlace();
    char top[PATH_MAX];
    if (!forced.empty() && !::realpath(forced.c_str(), top))
        return noTrash();
    out.top = forced.empty() ? fileSystemTop(folder, dev) : QByteArray(top);
    return openTopTrash(out.top, dev, out);
}

// Whether the folder "to" would land inside the folder "from" (or be it).
bool landsInside(const Place& from, const Place& to)
{
    char src[PATH_MAX], dst[PATH_MAX];
    const QByteArray full = from.dirPath + '/' + from.name;
    if (!::realpath(full.constData(), src) || !::realpath(to.dirPath.constData(), dst))
        return false;
    const size_t n = std::strlen(src);
    return std::strncmp(src, dst, n) == 0 && (dst[n] == '\0' || dst[n] == '/' || (n == 1 && src[0] == '/'));
}

class RealFileOps final : public FileOps {
public:
    FileResult makeDirectory(const QString& path) override
    {
        Place p;
        if (FileResult r = locate(path, p); !r.ok())
            return r;
        if (nameTaken(p))
            return exists();
        if (sys::mkdirat(p.dir.get(), p.name.constData(), 0777) < 0)
            return errno == EEXIST ? exists() : fail(T::kMakeFolder, errno);
        fsyncDir(p.dir.get());
        return {};
    }

    FileResult removeEmptyDirectory(const QString& path) override { return removeEntry(path, true); }
    FileResult removeFile(const QString& path) override { return removeEntry(path, false); }

    FileResult moveNoReplace(const QString& from, const QString& to) override
    {
        return move(from, to, nullptr);
    }

    FileResult moveNoReplace(const QString& from, const QString& to, FolderFlushes& later) override
    {
        return move(from, to, &later);
    }

    FileResult moveNoReplace(
        const QString& from, const QString& to, FolderFlushes& later, const CopyProgress& progress) override
    {
        return move(from, to, &later, &progress);
    }

    FileResult move(
        const QString& from, const QString& to, FolderFlushes* later, const CopyProgress* progress = nullptr)
    {
        Place src, dst;
        if (FileResult r = locate(from, src); !r.ok())
            return r;
        if (FileResult r = locate(to, dst); !r.ok())
            return r;
        struct stat st;
        if (::fstatat(src.dir.get(), src.name.constData(), &st, AT_SYMLINK_NOFOLLOW) < 0)
            return fail(T::kRename, errno);
        const bool isDir = S_ISDIR(st.st_mode);
        if (nameTaken(dst))
            return exists();
        if (isDir && landsInside(src, dst))
            return failAs(FileError::InvalidName, T::kIntoItself);
        const int e = renameNoReplace(
            src.dir.get(), src.name.constData(), dst.dir.get(), dst.name.constData(), isDir);
        if (e == 0) {
            fsyncDir(dst.dir.get(), later);
            fsyncDir(src.dir.get(), later);
            return {};
        }
        if (e == EEXIST || e == ENOTEMPTY)
            return exists();
        if (e == kNoSafeRename)
            return moveByCopy(src, st, dst.dir.get(), dst.name, later, progress);
        if (e != EXDEV)
            return fail(T::kRename, e);
        if (isDir)
            return failAs(FileError::Other, T::kFolderAcrossDrives);
        return moveByCopy(src, st, dst.dir.get(), dst.name, later, progress);
    }

    FileResult copyNoReplace(const QString& from, const QString& to) override
    {
        return copy(from, to, nullptr);
    }

    FileResult copyNoReplace(const QString& from, const QString& to, const CopyProgress& progress) override
    {
        return copy(from, to, &progress);
    }

    FileResult copy(const QString& from, const QString& to, const CopyProgress* progress)
    {
        Place dst;
        if (FileResult r = locate(to, dst); !r.ok())
            return r;
        if (from.isEmpty() || from.contains(QChar(u'\0')))
            return failAs(FileError::InvalidName, T::kBadName);
        if (nameTaken(dst))
            return exists(); // before reading a byte of a possibly large source
        Fd in;
        struct stat st;
        if (FileResult r = openSource(AT_FDCWD, encodePath(from).constData(), in, st); !r.ok())
            return r;
        return stageCopy(in.get(), st, dst.dir.get(), dst.name, nullptr, progress);
    }

    FileResult writeFile(const QString& path, const QByteArray& bytes, bool replace) override
    {
        Place p;
        if (FileResult r = locate(path, p); !r.ok())
            return r;
        struct stat cur;
        if (::fstatat(p.dir.get(), p.name.constData(), &cur, AT_SYMLINK_NOFOLLOW) == 0
            && (!replace || S_ISDIR(cur.st_mode)))
            return exists();
        if (!replace && nameTaken(p))
            return exists();
        Staged t(p.dir.get());
        if (FileResult r = createTemp(t); !r.ok())
            return r;
        if (FileResult r = writeAll(t.fd.get(), bytes.constData(), size_t(bytes.size())); !r.ok())
            return r;
        if (retry([&] { return sys::fsync(t.fd.get()); }) < 0)
            return fail(T::kFlush, errno);
        if (FileResult r = replace ? publishReplacing(t, p.name) : publishNoReplace(t, p.name); !r.ok())
            return r;
        fsyncDir(p.dir.get());
        return {};
    }

    FileResult moveToTrash(const QString& path) override
    {
        TrashedFile where;
        return trashFile(path, where);
    }

    FileResult trashFile(const QString& path, TrashedFile& where) override
    {
        where = {};
        Place src;
        if (FileResult r = locate(path, src); !r.ok())
            return r;
        struct stat st;
        if (::fstatat(src.dir.get(), src.name.constData(), &st, AT_SYMLINK_NOFOLLOW) < 0)
            return fail(T::kTrash, errno);
        if (S_ISDIR(st.st_mode))
            return fail(T::kTrash, EISDIR);
        char folder[PATH_MAX];
        if (!::realpath(src.dirPath.constData(), folder))
            return fail(T::kTrash, errno);
        const QByteArray original
            = (std::strcmp(folder, "/") == 0 ? QByteArray() : QByteArray(folder)) + '/' + src.name;

        TrashPlace trash;
        if (FileResult r = findTrash(QByteArray(folder), st.st_dev, trash); !r.ok())
            return r;
        const Fd& files = trash.files;
        const Fd& info = trash.info;

        const QByteArray record = trashRecord(original, trash.top);
        for (int n = 1; n <= 1000; ++n) {
            const QByteArray name = trashName(src.name, n);
            struct stat taken;
            if (::fstatat(files.get(), name.constData(), &taken, AT_SYMLINK_NOFOLLOW) == 0)
                continue;
            // The record is claimed first (exclusively) and written out before the file moves,
            // so a file in the trash always has its way back.
            const QByteArray recordName = name + ".trashinfo";
            Fd out(retry([&] {
                return sys::openat(
                    info.get(), recordName.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
            }));
            if (out.get() < 0) {
                if (errno == EEXIST)
                    continue;
                return fail(T::kTrash, errno);
            }
            FileResult written = writeAll(out.get(), record.constData(), size_t(record.size()), T::kTrash);
            if (written.ok() && retry([&] { return sys::fsync(out.get()); }) < 0)
                written = fail(T::kTrash, errno);
            out.reset();
            if (!written.ok()) {
                ::unlinkat(info.get(), recordName.constData(), 0);
                return written;
            }
            fsyncDir(info.get());
            const int e
                = renameNoReplace(src.dir.get(), src.name.constData(), files.get(), name.constData(), false);
            if (e == 0) {
                fsyncDir(files.get());
                fsyncDir(src.dir.get());
                where = { folderPath(files.get(), name), folderPath(info.get(), recordName) };
                return {};
            }
            if (e == kNoSafeRename) {
                // A trash on a mount without links or RENAME_NOREPLACE: copied, checked, and only
                // then the file removed.
                FileResult moved = moveByCopy(src, st, files.get(), name);
                if (moved.ok()) {
                    where = { folderPath(files.get(), name), folderPath(info.get(), recordName) };
                    return moved;
                }
                ::unlinkat(info.get(), recordName.constData(), 0);
                if (moved.error == FileError::Exists)
                    continue;
                return moved;
            }
            ::unlinkat(info.get(), recordName.constData(), 0);
            if (e == EEXIST)
                continue;
            return fail(T::kTrash, e); // even EXDEV: that trash was checked to be on this disk
        }
        return fail(T::kTrash, EEXIST);
    }

private:
    // The full path of name in the folder open as dirfd, as the kernel names that folder.
    static QString folderPath(int dirfd, const QByteArray& name)
    {
        char link[PATH_MAX];
        const QByteArray fd = "/proc/self/fd/" + QByteArray::number(dirfd);
        const ssize_t n = ::readlink(fd.constData(), link, sizeof link - 1);
        if (n <= 0)
            return {};
        return decodePath(QByteArray(link, int(n)) + '/' + name);
    }

    static FileResult removeEntry(const QString& path, bool folder)
    {
        Place p;
        if (FileResult r = locate(path, p); !r.ok())
            return r;
        const char* name = p.name.constData();
        if ((folder ? sys::rmdirat(p.dir.get(), name) : sys::unlinkat(p.dir.get(), name)) < 0) {
            const int e = errno == EEXIST ? ENOTEMPTY : errno; // some file systems say EEXIST for "not empty"
            return fail(folder ? T::kRemoveFolder : T::kRemoveFile, e);
        }
        fsyncDir(p.dir.get());
        return {};
    }

    // A move by copy (between file systems, or where no rename can be kept from replacing):
    // copy beside the target, flush, read back, name it without replacing; only then is the
    // source removed. If it cannot be removed, the new copy is taken away again.
    static FileResult moveByCopy(const Place& src, const struct stat& seen, int dir, const QByteArray& name,
        FolderFlushes* later = nullptr, const CopyProgress* progress = nullptr)
    {
        Fd in;
        struct stat st;
        if (FileResult r = openSource(src.dir.get(), src.name.constData(), in, st); !r.ok())
            return r;
        if (!sameFile(st, seen))
            return failAs(FileError::Io, T::kSourceChanged);
        struct stat copy;
        if (FileResult r = stageCopy(in.get(), st, dir, name, &copy, progress); !r.ok())
            return r;
        if (retry([&] { return sys::unlinkat(src.dir.get(), src.name.constData()); }) < 0) {
            const int e = errno;
            struct stat now;
            if (::fstatat(dir, name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(now, copy))
                ::unlinkat(dir, name.constData(), 0);
            return fail(T::kRemoveSource, e);
        }
        fsyncDir(src.dir.get(), later);
        return {};
    }
};

} // namespace

FolderFlushes::~FolderFlushes()
{
    flush();
}

void FolderFlushes::add(int dirfd)
{
    struct stat st;
    if (::fstat(dirfd, &st) != 0) {
        fsyncDir(dirfd);
        return;
    }
    for (const Folder& f : m_folders)
        if (f.device == quint64(st.st_dev) && f.inode == quint64(st.st_ino))
            return;
    const int fd = ::openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0)
        m_folders.push_back({ quint64(st.st_dev), quint64(st.st_ino), fd });
}

void FolderFlushes::flush()
{
    for (const Folder& f : m_folders) {
        ::fsync(f.fd);
        ::close(f.fd);
    }
    m_folders.clear();
}

FileResult FileOps::moveToTrash(const QString&)
{
    return failAs(FileError::NoTrash, T::kNoTrash);
}

FileResult FileOps::trashFile(const QString& path, TrashedFile& where)
{
    where = {};
    return moveToTrash(path);
}

FileOps& realFileOps()
{
    static RealFileOps ops;
    return ops;
}

} // namespace ztv
