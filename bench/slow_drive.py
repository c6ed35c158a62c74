# A drive that is slow to flush, for bench_e2e: the folder BACKING mounted at
# MOUNT through FUSE, passing every call through, except that a flush to disk
# (fsync, fdatasync) first sleeps SLOW seconds (environment; 3 by default), as
# a network drive or a busy USB stick can. Runs in the foreground until
# unmounted (fusermount3 -u MOUNT).
#
#   /usr/bin/python3 slow_drive.py BACKING MOUNT
#
# Needs Debian's fuse3 and python3-fusepy (whose module is for the system's
# python3, hence /usr/bin/python3).
import os
import sys
import time

from fusepy import FUSE, Operations


class SlowToFlush(Operations):
    def __init__(self, root, seconds):
        self.root = root
        self.seconds = seconds

    def _path(self, path):
        return os.path.join(self.root, path.lstrip("/"))

    def getattr(self, path, fh=None):
        st = os.lstat(self._path(path))
        keys = ("st_atime", "st_ctime", "st_gid", "st_mode", "st_mtime", "st_nlink", "st_size",
                "st_uid")
        return {key: getattr(st, key) for key in keys}

    def readdir(self, path, fh):
        return [".", ".."] + os.listdir(self._path(path))

    def open(self, path, flags):
        return os.open(self._path(path), flags)

    def create(self, path, mode, fi=None):
        return os.open(self._path(path), os.O_WRONLY | os.O_CREAT, mode)

    def read(self, path, size, offset, fh):
        return os.pread(fh, size, offset)

    def write(self, path, data, offset, fh):
        return os.pwrite(fh, data, offset)

    def truncate(self, path, length, fh=None):
        os.truncate(self._path(path), length)

    def unlink(self, path):
        os.unlink(self._path(path))

    def flush(self, path, fh):
        return 0

    def release(self, path, fh):
        os.close(fh)

    def fsync(self, path, datasync, fh):
        time.sleep(self.seconds)
        os.fsync(fh)
        return 0


if __name__ == "__main__":
    FUSE(SlowToFlush(sys.argv[1], float(os.environ.get("SLOW", "3"))), sys.argv[2],
         foreground=True, nothreads=False)
