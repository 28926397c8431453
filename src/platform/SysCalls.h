#pragma once

// The system calls the real file operations make. A test build may put a seam in front of
// them (platform/FaultInjection.h) to make any one fail; the program sets none, and then each
// wrapper is the plain call.

#include <string>
#include <sys/statvfs.h>
#include <sys/types.h>

namespace ztv::sys {

enum class Call { Open, Read, Write, Fsync, Link, Rename, Unlink, Rmdir, Mkdir, Statvfs, Seek };
inline constexpr int kCallCount = 11;

// What a test build puts in front of the calls. before() runs ahead of each call and tells
// whether it must fail (-1 with errno set), be a short write (1), a write that lands with one
// byte changed (2) or run (0); caseForcing()
// gives -1 (detect), 0 (case-sensitive) or 1 (case-insensitive) for every folder; trashTop()
// a folder taken as the top of every file system, "" for none.
struct Seam {
    int (*before)(Call call);
    int (*caseForcing)();
    std::string (*trashTop)();
};
// The seam stays in place for the rest of the process; nullptr removes it.
void setSeam(const Seam* seam);
int caseForcing();
std::string trashTopForcing();

// Each sets errno and returns -1 on failure as the call does. None retries on EINTR: the
// callers do.
int openat(int dirfd, const char* path, int flags, mode_t mode = 0);
ssize_t read(int fd, void* buf, size_t n);
ssize_t write(int fd, const void* buf, size_t n);
int fsync(int fd);
int linkat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, int flags);
int renameat2(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, unsigned flags);
int unlinkat(int dirfd, const char* path); // files only
int rmdirat(int dirfd, const char* path);
int mkdirat(int dirfd, const char* path, mode_t mode);
int fstatvfs(int fd, struct statvfs* out);
// Asks whether a file read front to back can also be sought (a stream cannot).
off_t lseek(int fd, off_t offset, int whence);

} // namespace ztv::sys
