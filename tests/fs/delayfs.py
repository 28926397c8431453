#!/usr/bin/python3
"""A slow network share for the tests: a passthrough FUSE file system over a folder that waits
before every call and refuses what such mounts refuse.

    delayfs.py BACKING MOUNTPOINT [--delay-ms N] [--refuse-links ERRNO]

It runs in the foreground until unmounted (fusermount -u MOUNTPOINT) or sent SIGTERM.
renameat2 with flags (RENAME_NOREPLACE) is always refused: the FUSE 2 library that fusepy
drives does not know the call, so the kernel answers EINVAL, as it does on NFS, SMB and sshfs.
A plain rename replaces its target, as a network file system's does. With --refuse-links, hard
links fail with that errno name (EPERM, EOPNOTSUPP, ...), as on SMB without Unix extensions or
on many FUSE mounts. Inode numbers are the backing files' own, so a renamed file keeps its
number as on a server. Needs python3-fusepy, fusermount (package fuse or fuse3) and /dev/fuse.
"""

import argparse
import errno
import os
import sys
import time

from fusepy import FUSE, FuseOSError, Operations


class DelayFs(Operations):
    use_ns = True

    def __init__(self, root, delay, link_errno):
        self.root = os.path.realpath(root)
        self.delay = delay
        self.link_errno = link_errno

    def __call__(self, op, *args):
        if self.delay > 0 and op not in ("init", "destroy"):
            time.sleep(self.delay)
        if not hasattr(self, op):
            raise FuseOSError(errno.ENOSYS)
        try:
            return getattr(self, op)(*args)
        except OSError as e:
            raise FuseOSError(e.errno or errno.EIO)

    def _full(self, path):
        return os.path.join(self.root, path.lstrip("/"))

    def access(self, path, mode):
        if not os.access(self._full(path), mode):
            raise FuseOSError(errno.EACCES)

    def getattr(self, path, fh=None):
        st = os.lstat(self._full(path))
        keys = ("st_mode", "st_nlink", "st_uid", "st_gid", "st_size", "st_ino")
        out = {k: getattr(st, k) for k in keys}
        out.update(st_atime=st.st_atime_ns, st_mtime=st.st_mtime_ns, st_ctime=st.st_ctime_ns)
        return out

    def readdir(self, path, fh):
        return [".", ".."] + os.listdir(self._full(path))

    def readlink(self, path):
        return os.readlink(self._full(path))

    def mkdir(self, path, mode):
        os.mkdir(self._full(path), mode)

    def rmdir(self, path):
        os.rmdir(self._full(path))

    def unlink(self, path):
        os.unlink(self._full(path))

    def symlink(self, target, source):
        os.symlink(source, self._full(target))

    def rename(self, old, new):
        os.rename(self._full(old), self._full(new))

    def link(self, target, source):
        if self.link_errno:
            raise FuseOSError(self.link_errno)
        os.link(self._full(source), self._full(target))

    def chmod(self, path, mode):
        os.chmod(self._full(path), mode)

    def chown(self, path, uid, gid):
        os.chown(self._full(path), uid, gid)

    def truncate(self, path, length, fh=None):
        if fh is not None:
            os.ftruncate(fh, length)
        else:
            os.truncate(self._full(path), length)

    def utimens(self, path, times=None):
        if times is None:
            os.utime(self._full(path))
        else:
            os.utime(self._full(path), ns=times)

    def statfs(self, path):
        sv = os.statvfs(self._full(path))
        keys = ("f_bavail", "f_bfree", "f_blocks", "f_bsize", "f_favail", "f_ffree", "f_files",
                "f_flag", "f_frsize", "f_namemax")
        return {k: getattr(sv, k) for k in keys}

    def open(self, path, flags):
        return os.open(self._full(path), flags & ~(os.O_CREAT | os.O_EXCL))

    def create(self, path, mode, fi=None):
        # The kernel asks only after it found no such name; a server creates exclusively too.
        return os.open(self._full(path), os.O_RDWR | os.O_CREAT | os.O_EXCL, mode)

    def read(self, path, size, offset, fh):
        return os.pread(fh, size, offset)

    def write(self, path, data, offset, fh):
        return os.pwrite(fh, data, offset)

    def flush(self, path, fh):
        return 0

    def fsync(self, path, datasync, fh):
        os.fsync(fh)

    def release(self, path, fh):
        os.close(fh)


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("backing")
    p.add_argument("mountpoint")
    p.add_argument("--delay-ms", type=float, default=20.0)
    p.add_argument("--refuse-links", metavar="ERRNO", default="",
                   help="refuse hard links with this errno name, e.g. EPERM")
    a = p.parse_args()
    link_errno = 0
    if a.refuse_links:
        link_errno = getattr(errno, a.refuse_links, 0)
        if not link_errno:
            p.error("unknown errno name: " + a.refuse_links)
    # The FUSE library ends its loop and unmounts on SIGTERM, SIGINT or SIGHUP.
    FUSE(DelayFs(a.backing, a.delay_ms / 1000.0, link_errno), a.mountpoint, foreground=True,
         fsname="delayfs", subtype="delayfs", default_permissions=True, use_ino=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
