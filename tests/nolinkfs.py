#!/usr/bin/env python3
"""A FUSE file system that passes every call through to a backing folder but has no hard
links and no rename flags, as many network and virtual-machine file systems do: link
fails with EPERM, and a rename with flags (RENAME_NOREPLACE) fails with EINVAL. A plain
rename, which may replace its destination, works.

    nolinkfs.py BACKING MOUNTPOINT    serves BACKING at MOUNTPOINT in the foreground until
                                      unmounted (fusermount -u MOUNTPOINT)
    nolinkfs.py --check               exits 0 if the FUSE library and libfuse load

The FUSE library used speaks a protocol older than flagged renames, so the kernel itself
refuses a rename with flags with EINVAL; rename below only ever sees plain ones. Locks are
not forwarded: the kernel keeps flock and fcntl locks of the mount locally, as it does for
any FUSE file system that does not take them over. Extended attributes, and so ACLs, are
not supported (ENOTSUP).
"""

import errno
import os
import sys

try:  # Debian's python3-fusepy names the module fusepy; the upstream package names it fuse
    import fusepy as fuse
except ImportError:
    import fuse


class NoLinkFS(fuse.Operations):
    use_ns = True  # times in nanoseconds

    def __init__(self, backing):
        self.backing = os.path.realpath(backing)

    def full(self, path):
        return os.path.join(self.backing, path.lstrip("/"))

    # -- Names and attributes.
    def getattr(self, path, fi=None):
        st = os.fstat(fi.fh) if fi else os.lstat(self.full(path))
        attrs = {k: getattr(st, k) for k in (
            "st_mode", "st_ino", "st_nlink", "st_uid", "st_gid", "st_size", "st_blocks")}
        attrs.update(st_atime=st.st_atime_ns, st_mtime=st.st_mtime_ns, st_ctime=st.st_ctime_ns)
        return attrs

    def access(self, path, amode):
        if not os.access(self.full(path), amode, follow_symlinks=False):
            raise fuse.FuseOSError(errno.EACCES)

    def readdir(self, path, fi):
        return [".", ".."] + os.listdir(self.full(path))

    def readlink(self, path):
        return os.readlink(self.full(path))

    def statfs(self, path):
        sv = os.statvfs(self.full(path))
        return {k: getattr(sv, k) for k in (
            "f_bsize", "f_frsize", "f_blocks", "f_bfree", "f_bavail", "f_files", "f_ffree",
            "f_favail", "f_flag", "f_namemax")}

    def chmod(self, path, mode):
        os.chmod(self.full(path), mode)

    def chown(self, path, uid, gid):
        os.chown(self.full(path), uid, gid, follow_symlinks=False)

    def utimens(self, path, times=None):
        os.utime(self.full(path), ns=times, follow_symlinks=False)

    def truncate(self, path, length, fi=None):
        if fi:
            os.ftruncate(fi.fh, length)
        else:
            os.truncate(self.full(path), length)

    # -- What has no counterpart here.
    def link(self, target, source):
        raise fuse.FuseOSError(errno.EPERM)

    def rename(self, old, new):  # never flagged: see the module's note
        os.rename(self.full(old), self.full(new))

    def getxattr(self, path, name, position=0):
        raise fuse.FuseOSError(errno.ENOTSUP)

    def listxattr(self, path):
        return []

    # -- Creating and removing.
    def mkdir(self, path, mode):
        os.mkdir(self.full(path), mode)

    def rmdir(self, path):
        os.rmdir(self.full(path))

    def unlink(self, path):
        os.unlink(self.full(path))

    def symlink(self, target, source):  # the link `target`, leading to `source`
        os.symlink(source, self.full(target))

    def mknod(self, path, mode, dev):
        os.mknod(self.full(path), mode, dev)

    # -- Open files: the backing file's descriptor is the handle. The kernel's flags are
    # passed on whole, so an exclusive create is exclusive in the backing folder too.
    def create(self, path, mode, fi):
        fi.fh = os.open(self.full(path), fi.flags | os.O_CREAT, mode)
        return 0

    def open(self, path, fi):
        fi.fh = os.open(self.full(path), fi.flags)
        return 0

    def read(self, path, size, offset, fi):
        return os.pread(fi.fh, size, offset)

    def write(self, path, data, offset, fi):
        return os.pwrite(fi.fh, data, offset)

    def flush(self, path, fi):
        return 0

    def fsync(self, path, datasync, fi):
        (os.fdatasync if datasync else os.fsync)(fi.fh)

    def release(self, path, fi):
        os.close(fi.fh)

    def fsyncdir(self, path, datasync, fi):
        fd = os.open(self.full(path), os.O_RDONLY | os.O_DIRECTORY)
        try:
            os.fsync(fd)
        finally:
            os.close(fd)


def main():
    if sys.argv[1:] == ["--check"]:
        return 0
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    backing, mountpoint = sys.argv[1:]
    # No caches of names or attributes, so a change made in the backing folder shows at
    # once; an unlinked file that is still open goes at once (no hidden stand-in); the
    # backing files' inode numbers are passed on.
    fuse.FUSE(NoLinkFS(backing), mountpoint, foreground=True, raw_fi=True, fsname="nolinkfs",
              hard_remove=True, use_ino=True, entry_timeout=0, attr_timeout=0,
              negative_timeout=0)
    return 0


if __name__ == "__main__":
    sys.exit(main())
