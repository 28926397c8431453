#pragma once

#include <cerrno>
#include <sys/types.h>
#include <unistd.h>

namespace ztv {

// read(2) and pread(2), tried again when a signal interrupted them before any byte came.
inline ssize_t readRetrying(int fd, void* buffer, size_t size)
{
    ssize_t n;
    do {
        n = ::read(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

inline ssize_t preadRetrying(int fd, void* buffer, size_t size, off_t offset)
{
    ssize_t n;
    do {
        n = ::pread(fd, buffer, size, offset);
    } while (n < 0 && errno == EINTR);
    return n;
}

} // namespace ztv
