#pragma once

// The system calls the real file operations make go through here, so tests can make any one
// of them fail. Unarmed, each wrapper is the plain call plus a counter.

#include <functional>
#include <string>
#include <sys/types.h>

namespace ztv {

namespace faults {

enum class Op { Open, Read, Write, Fsync, Link, Rename, Unlink, Rmdir, Mkdir };
inline constexpr int kOpCount = 9;

// From now on, the nth call (1-based, counted from this arm) of op fails with errno err and
// does nothing. err 0 on Write makes that write a short write of half the bytes (at least
// one), which the callers must carry on from. Several arms may be active at once.
void arm(Op op, int nth, int err);
void disarm(); // drops every arm, keeps the counters
void reset(); // drops every arm, zeroes the counters, removes the hook and the forcing
int calls(Op op); // calls of op since the last reset

// Called before each wrapped call with its op and its 1-based count since the last reset;
// a test helper uses it to stop in the middle of a copy. Runs on the calling thread.
void setHook(std::function<void(Op, int)> hook);

// Makes the file operations treat every folder as lying on a case-insensitive file system
// (true), as case-sensitive (false), or detect it (reset).
void forceCaseInsensitive(bool on);
int caseInsensitiveForcing(); // -1 detect, 0 sensitive, 1 insensitive

// Makes the trash take this folder as the top of every file's file system and pass over the
// home trash, as it does for a file on another disk than the home folder (a test cannot mount
// one). Empty: both as the system has them. Cleared by reset.
void forceTrashTop(const std::string& folder);
std::string trashTopForcing();

} // namespace faults

// Thin wrappers over the system calls; each sets errno and returns -1 on failure as the call
// does. None retries on EINTR: the callers do.
namespace sys {
int openat(int dirfd, const char* path, int flags, mode_t mode = 0);
ssize_t read(int fd, void* buf, size_t n);
ssize_t write(int fd, const void* buf, size_t n);
int fsync(int fd);
int linkat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, int flags);
int renameat2(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, unsigned flags);
int unlinkat(int dirfd, const char* path); // files only
int rmdirat(int dirfd, const char* path);
int mkdirat(int dirfd, const char* path, mode_t mode);
} // namespace sys

} // namespace ztv
