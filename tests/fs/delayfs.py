#!/usr/bin/python3
"""A slow network share for the tests: a passthrough FUSE file system over a folder that waits
before every call and refuses what such mounts refuse.

    delayfs.py BACKING MOUNTPOINT [--delay-ms N] [--refuse-links ERRNO] [--mb-per-s N]
               [--read-log FILE] [--hang TEXT] [--gate-dir DIR --gate TEXT ...]

It runs in the foreground until unmounted (fusermount -u MOUNTPOINT) or sent SIGTERM.
renameat2 with flags (RENAME_NOREPLACE) is always refused: the FUSE 2 library that fusepy
drives does not know the call, so the kernel answers EINVAL, as it does on NFS, SMB and sshfs.
A plain rename replaces its target, as a network file system's does. With --refuse-links, hard
links fail with that errno name (EPERM, EOPNOTSUPP, ...), as on SMB without Unix extensions or
on many FUSE mounts. Inode numbers are the backing files' own, so a renamed file keeps its
number as on a server. With --mb-per-s, reads also take the time of their bytes at that rate, as
a card reader or a phone's link does. With --read-log, each closed file appends a line "BYTES
PATH" to FILE: the bytes the kernel asked for through that open. With --hang, every call on a
path containing TEXT waits until the file system is killed, as a phone unplugged mid-read does
behind a FUSE mount. With --gate, the first open of a path containing TEXT writes
DIR/TEXT.reached and waits until DIR/TEXT.go exists; later opens pass: a test holds a reader
of the share at that file for as long as it needs. Needs python3-fusepy, fusermount (package
fuse or fuse3) and /dev/fuse.
"""

import argparse
import errno
import os
import sys
import threading
import time

from fusepy import FUSE, FuseOSError, Operations


class DelayFs(Operations):
    use_ns = True

    def __init__(self, root, delay, link_errno, bytes_per_s=0.0, read_log="", hang="", gate_dir="",
                 gates=()):
        self.root = os.path.realpath(root)
        self.gate_dir = gate_dir
        self.gates = set(gates)  # texts whose first open is still to be held
        self.delay = delay
        self.link_errno = link_errno
        self.bytes_per_s = bytes_per_s
        self.read_log = read_log
        self.hang = hang
        self.guard = threading.Lock()  # not "lock": that name is a FUSE call
        self.read_bytes = {}  # open file handle -> bytes read through it
        self.link_free = 0.0  # when the link has sent what was asked of it so far

    def __call__(self, op, *args):
        if self.delay > 0 and op not in ("init", "destroy"):
            time.sleep(self.delay)
        if self.hang and args and isinstance(args[0], str) and self.hang in args[0]:
            threading.Event().wait()  # never answers; ends with the process
        if op == "open" and self.gates:
            self._hold_at_gate(args[0])
        if not hasattr(self, op):
            raise FuseOSError(errno.ENOSYS)
        try:
            return getattr(self, op)(*args)
        except OSError as e:
            raise FuseOSError(e.errno or errno.EIO)

    def _hold_at_gate(self, path):
        with self.guard:
            text = next((t for t in self.gates if t in path), None)
            if text is None:
                return
            self.gates.discard(text)
        open(os.path.join(self.gate_dir, text + ".reached"), "w").close()
        go = os.path.join(self.gate_dir, text + ".go")
        while not os.path.exists(go):
            time.sleep(0.01)

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
        data = os.pread(fh, size, offset)
        with self.guard:
            self.read_bytes[fh] = self.read_bytes.get(fh, 0) + len(data)
            # One link for every reader: reads at once share its rate.
            done = time.monotonic()
            if self.bytes_per_s > 0:
                done = max(done, self.link_free) + len(data) / self.bytes_per_s
                self.link_free = done
        time.sleep(max(0.0, done - time.monotonic()))
        return data

    def write(self, path, data, offset, fh):
        return os.pwrite(fh, data, offset)

    def flush(self, path, fh):
        return 0

    def fsync(self, path, datasync, fh):
        os.fsync(fh)

    def release(self, path, fh):
        with self.guard:
            got = self.read_bytes.pop(fh, 0)
            if self.read_log:
                with open(self.read_log, "a") as log:
                    log.write("%d %s\n" % (got, path))
        os.close(fh)


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("backing")
    p.add_argument("mountpoint")
    p.add_argument("--delay-ms", type=float, default=20.0)
    p.add_argument("--refuse-links", metavar="ERRNO", default="",
                   help="refuse hard links with this errno name, e.g. EPERM")
    p.add_argument("--mb-per-s", type=float, default=0.0, help="read bandwidth, 10^6 bytes a second")
    p.add_argument("--read-log", default="", help="append each closed file's bytes read here")
    p.add_argument("--hang", default="", help="calls on paths containing this never answer")
    p.add_argument("--gate-dir", default="", help="where the gates' .reached and .go files lie")
    p.add_argument("--gate", action="append", default=[],
                   help="the first open of a path containing this waits for DIR/TEXT.go")
    a = p.parse_args()
    if a.gate and not a.gate_dir:
        p.error("--gate needs --gate-dir")
    link_errno = 0
    if a.refuse_links:
        link_errno = getattr(errno, a.refuse_links, 0)
        if not link_errno:
            p.error("unknown errno name: " + a.refuse_links)
    # The FUSE library ends its loop and unmounts on SIGTERM, SIGINT or SIGHUP.
    fs = DelayFs(a.backing, a.delay_ms / 1000.0, link_errno, a.mb_per_s * 1e6,
                 os.path.abspath(a.read_log) if a.read_log else "", a.hang,
                 os.path.abspath(a.gate_dir) if a.gate_dir else "", a.gate)
    FUSE(fs, a.mountpoint, foreground=True,
         fsname="delayfs", subtype="delayfs", default_permissions=True, use_ino=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
