#!/usr/bin/python3
"""Power cuts under zoltenc and zoltdec, on a disk of our own that keeps only
what was synced.

The disk is a file system in memory, served through FUSE. Its model, stricter
than ext4's (whose fsync commits every pending change of the whole disk):
- a file's data reaches the disk at fsync or fdatasync of that file;
- a change to a folder (create, rename, unlink, mkdir, rmdir) reaches it at
  fsync of that folder, or at fsync or fdatasync of the file it concerns,
  together with the earlier pending changes it depends on (those of the same
  folders or files), in their order, as a journal would replay them;
- a power cut drops everything else, and the disk goes on from what it held.

Each scenario is cut right after the conversion exits with 0, when the new
output must be there, and at random moments (the process group killed first,
then the cut), when an output must be its complete old or new bytes and a new
name absent or complete. Last, a clean run must leave no temporary file.

  power-loss.py BUILD_DIR [CUTS]   the scenarios against BUILD_DIR's programs (scripts/sweeps/power-loss.sh)
  power-loss.py serve MNT CTL      the disk (the scenarios start it)
"""
import copy
import ctypes
import errno
import os
import random
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import time


def serve(mnt, ctl):
    import fusepy

    class MemoryDisk(fusepy.Operations):
        def __init__(self):
            self.dirs = {1: {}}  # folder inode: {name: inode}, as processes see it
            self.data = {}  # file inode: bytearray
            self.mode = {1: stat.S_IFDIR | 0o755}
            self.disk_dirs = {1: {}}  # what reached the disk
            self.disk_data = {}
            self.pending = []  # folder changes not yet on the disk: (folders, inodes, apply)
            self.handles = {}  # open file: inode
            self.next = 2

        def lookup(self, path):
            inode = 1
            for part in filter(None, path.split("/")):
                if part not in self.dirs.get(inode, {}):
                    raise fusepy.FuseOSError(errno.ENOENT)
                inode = self.dirs[inode][part]
            return inode

        def parent(self, path):
            head, name = path.rsplit("/", 1)
            return self.lookup(head or "/"), name

        def new_inode(self, mode):
            inode, self.next = self.next, self.next + 1
            self.mode[inode] = mode
            return inode

        def change(self, folders, inodes, apply):
            apply(self.dirs)
            self.pending.append((set(folders), set(inodes), apply))

        def commit(self, seed):
            folders, inodes, chosen, kept = set(), set(), [], []
            for change in reversed(self.pending):
                f, i, apply = change
                if seed(change) or f & folders or i & inodes:
                    folders |= f
                    inodes |= i
                    chosen.append(apply)
                else:
                    kept.append(change)
            for apply in reversed(chosen):
                apply(self.disk_dirs)
            self.pending = kept[::-1]

        def cut(self):
            self.dirs = copy.deepcopy(self.disk_dirs)
            self.data = {inode: bytearray(d) for inode, d in self.disk_data.items()}
            self.pending, self.handles = [], {}

        def open_handle(self, inode):
            fh = self.next = self.next + 1
            self.handles[fh] = inode
            return fh

        def inode_of(self, path, fh):
            return self.handles[fh] if fh in self.handles else self.lookup(path)

        def getattr(self, path, fh=None):
            inode = self.inode_of(path, fh)
            mode = self.mode[inode]
            return dict(st_mode=mode, st_nlink=2 if stat.S_ISDIR(mode) else 1, st_size=len(self.data.get(inode, b"")),
                        st_uid=0, st_gid=0, st_atime=0.0, st_mtime=0.0, st_ctime=0.0)

        def readdir(self, path, fh):
            return [".", ".."] + list(self.dirs[self.lookup(path)])

        def add(self, path, mode):
            folder, name = self.parent(path)
            if name in self.dirs[folder]:
                raise fusepy.FuseOSError(errno.EEXIST)
            inode = self.new_inode(mode)
            self.change({folder, inode}, {inode}, lambda dirs: dirs[folder].__setitem__(name, inode))
            return inode

        def mkdir(self, path, mode):
            inode = self.add(path, stat.S_IFDIR | (mode & 0o7777))
            self.dirs[inode] = {}
            self.disk_dirs[inode] = {}

        def create(self, path, mode, fi=None):
            inode = self.add(path, stat.S_IFREG | (mode & 0o7777))
            self.data[inode] = bytearray()
            self.disk_data[inode] = b""
            return self.open_handle(inode)

        def open(self, path, flags):
            inode = self.lookup(path)
            if flags & os.O_TRUNC:
                del self.data[inode][:]
            return self.open_handle(inode)

        def remove(self, path):
            folder, name = self.parent(path)
            inode = self.lookup(path)
            if self.dirs.get(inode):
                raise fusepy.FuseOSError(errno.ENOTEMPTY)

            def apply(dirs):
                if dirs[folder].get(name) == inode:
                    del dirs[folder][name]
            self.change({folder}, {inode}, apply)

        def unlink(self, path):
            self.remove(path)

        def rmdir(self, path):
            self.remove(path)

        def rename(self, old, new):
            (src, name), (dst, to) = self.parent(old), self.parent(new)
            inode = self.lookup(old)
            if self.dirs.get(self.dirs[dst].get(to)):
                raise fusepy.FuseOSError(errno.ENOTEMPTY)

            def apply(dirs):
                if dirs[src].get(name) == inode:
                    del dirs[src][name]
                dirs[dst][to] = inode
            self.change({src, dst}, {inode}, apply)

        def read(self, path, size, offset, fh):
            return bytes(self.data[self.handles[fh]][offset:offset + size])

        def write(self, path, data, offset, fh):
            buf = self.data[self.handles[fh]]
            if offset > len(buf):
                buf.extend(bytes(offset - len(buf)))
            buf[offset:offset + len(data)] = data
            return len(data)

        def truncate(self, path, length, fh=None):
            buf = self.data[self.inode_of(path, fh)]
            del buf[length:]
            buf.extend(bytes(length - len(buf)))

        def fsync(self, path, datasync, fh):
            inode = self.handles[fh]
            self.disk_data[inode] = bytes(self.data[inode])
            self.commit(lambda change: inode in change[1])
            return 0

        def fsyncdir(self, path, datasync, fh):
            inode = self.lookup(path)
            self.commit(lambda change: inode in change[0])
            return 0

        def release(self, path, fh):
            self.handles.pop(fh, None)
            return 0

        def chmod(self, path, mode):
            inode = self.lookup(path)
            self.mode[inode] = stat.S_IFMT(self.mode[inode]) | (mode & 0o7777)
            return 0

        def chown(self, path, uid, gid):
            return 0

        def utimens(self, path, times=None):
            return 0

        def statfs(self, path):
            return dict(f_bsize=4096, f_frsize=4096, f_blocks=1 << 20, f_bfree=1 << 19, f_bavail=1 << 19,
                        f_files=1 << 16, f_ffree=1 << 15, f_namemax=255)

    disk = MemoryDisk()
    while True:
        # No cache in the kernel: after a cut, every look-up asks the disk.
        fusepy.FUSE(disk, mnt, foreground=True, nothreads=True, hard_remove=True, attr_timeout=0, entry_timeout=0,
                    negative_timeout=0)
        with open(ctl) as f:
            if f.read() != "cut":
                return
        disk.cut()


class Disk:
    """The simulated disk, mounted at work/mnt while the scenarios run."""

    def __init__(self, work):
        self.mnt, self.ctl = os.path.join(work, "mnt"), os.path.join(work, "ctl")
        os.mkdir(self.mnt)
        self.log = open(os.path.join(work, "disk.log"), "w")
        self.server = subprocess.Popen([sys.executable, __file__, "serve", self.mnt, self.ctl],
                                       stdout=self.log, stderr=subprocess.STDOUT)
        self.wait_mounted()

    def wait_mounted(self):
        deadline = time.monotonic() + 20
        while not os.path.ismount(self.mnt):
            if self.server.poll() is not None or time.monotonic() > deadline:
                sys.exit(f"the simulated disk did not mount; see {self.log.name}")
            time.sleep(0.01)

    def power(self, what):
        """'cut': drops what was not synced and mounts again; 'stop': ends."""
        with open(self.ctl, "w") as f:
            f.write(what)
        for _ in range(200):
            if subprocess.run(["umount", self.mnt], stderr=subprocess.DEVNULL).returncode == 0:
                break
            time.sleep(0.05)
        if what == "cut":
            self.wait_mounted()
            return
        try:
            self.server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.server.kill()
            subprocess.run(["umount", "-l", self.mnt], stderr=subprocess.DEVNULL)


def write_synced(path, data):
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    try:
        os.write(fd, data)
        os.fsync(fd)
    finally:
        os.close(fd)


def sync_folder(path):
    fd = os.open(path, os.O_RDONLY | os.O_DIRECTORY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)


def reap(group):
    """Waits for every process of the group: a killed conversion whose shell
    died first is ours to reap (we are its subreaper), not a zombie that
    still looks alive."""
    while True:
        try:
            os.waitpid(-group, 0)
        except ChildProcessError:
            return


def main(build, cuts):
    ctypes.CDLL(None).prctl(36, 1, 0, 0, 0)  # PR_SET_CHILD_SUBREAPER
    rng = random.Random(int(os.environ.get("POWERLOSS_SEED", "1")))
    work = tempfile.mkdtemp(prefix="zolt-powerloss-", dir=os.environ.get("TMPDIR", "/tmp"))
    enc, dec = os.path.join(build, "zoltenc"), os.path.join(build, "zoltdec")
    tif, zolt = os.path.join(work, "in.tif"), os.path.join(work, "in.zolt")
    subprocess.run([os.path.join(build, "zolt_makeimage"), "700", "500", tif, "lzw", "16"], check=True)
    subprocess.run([enc, tif, zolt], check=True)
    # What each program writes, made on an ordinary disk.
    want = {}
    for program, source, name in ((enc, tif, "ref.zolt"), (dec, zolt, "ref.tif")):
        subprocess.run([program, source, os.path.join(work, name)], check=True)
        with open(os.path.join(work, name), "rb") as f:
            want[program] = f.read()
    # Scenarios: (name, jobs, cuts at random moments, whether one batch run
    # converts all); a job is (program, input, output name, whether an older
    # output is there). A batch's inputs lie beside their outputs, NAME.tif
    # (or .zolt) for NAME.zolt (or .tif).
    scenarios = [
        ("zoltenc over an existing output", [(enc, tif, "out.zolt", True)], cuts, False),
        ("zoltenc to a new name", [(enc, tif, "out.zolt", False)], cuts, False),
        ("zoltdec over an existing output", [(dec, zolt, "out.tif", True)], cuts, False),
        ("zoltdec to a new name", [(dec, zolt, "out.tif", False)], cuts, False),
        ("20 conversions, half over existing outputs",
         [(enc, tif, f"out{i:02}.zolt", i % 2 == 0) for i in range(20)], max(cuts // 2, 1), False),
        ("zoltenc --batch of 20, half over existing outputs",
         [(enc, tif, f"out{i:02}.zolt", i % 2 == 0) for i in range(20)], max(cuts // 2, 1), True),
        ("zoltdec --batch of 20, half over existing outputs",
         [(dec, zolt, f"out{i:02}.tif", i % 2 == 0) for i in range(20)], max(cuts // 2, 1), True),
    ]
    disk = Disk(work)
    running = None
    counts = {"old": 0, "new": 0, "absent": 0, "broken": 0}
    broken, cut_count, leftovers = [], 0, 0
    print("| scenario | cuts after exit 0 | cuts at random moments | old | new | absent | broken | temporary files seen after the cuts |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|")
    try:
        for number, (title, jobs, random_cuts, batch) in enumerate(scenarios):
            folder = os.path.join(disk.mnt, f"s{number}")
            os.mkdir(folder)
            sync_folder(disk.mnt)
            script = "; ".join(f"'{p}' '{i}' '{folder}/{o}' || exit 1" for p, i, o, _ in jobs)
            if batch:
                inputs = []
                for _, source, output, _ in jobs:
                    inputs.append(f"{folder}/{output.rsplit('.', 1)[0]}{os.path.splitext(source)[1]}")
                    with open(source, "rb") as f:
                        write_synced(inputs[-1], f.read())
                sync_folder(folder)
                script = f"'{jobs[0][0]}' --batch " + " ".join(f"'{name}'" for name in inputs)
            seen = {"old": 0, "new": 0, "absent": 0, "broken": 0}
            left = 0
            duration = None
            for attempt in range(3 + random_cuts):
                after_exit = attempt < 3
                # The older outputs are on the disk; the new names are not there.
                for _, _, output, older in jobs:
                    path = os.path.join(folder, output)
                    if older:
                        write_synced(path, b"older bytes of " + output.encode())
                    elif os.path.exists(path):
                        os.unlink(path)
                sync_folder(folder)
                start = time.monotonic()
                running = subprocess.Popen(["sh", "-c", script], start_new_session=True, stderr=subprocess.PIPE)
                if after_exit:
                    _, err = running.communicate(timeout=120)
                    if running.returncode != 0:
                        sys.exit(f"{title}: a conversion failed on the simulated disk: {err.decode()}")
                    duration = min(duration or 1e9, time.monotonic() - start)
                else:
                    time.sleep(rng.uniform(0, duration * 1.1))
                    os.killpg(running.pid, signal.SIGKILL)
                    running.communicate(timeout=60)
                    reap(running.pid)
                running = None
                disk.power("cut")
                cut_count += 1
                for program, _, output, older in jobs:
                    path = os.path.join(folder, output)
                    if not os.path.exists(path):
                        state = "absent"
                    else:
                        with open(path, "rb") as f:
                            content = f.read()
                        state = {want[program]: "new", b"older bytes of " + output.encode(): "old"}.get(content)
                    allowed = {"new"} if after_exit else {"new", "old" if older else "absent"}
                    if state not in allowed:
                        moment = "right after exit 0" if after_exit else "at a random moment"
                        what = state or f"broken ({len(content)} bytes)"
                        broken.append(f"{title}, cut {moment}: {output} is {what}")
                        state = "broken"
                    seen[state] += 1
                left += sum(name.endswith(".tmp") for name in os.listdir(folder))
            # A run that completes removes what the killed ones left, and
            # what a process that is gone left on this host; a live
            # process's file and another host's stay.
            host, gone = socket.gethostname()[:64], subprocess.Popen(["true"])
            gone.wait()
            keep = {f".{jobs[0][2]}.{host}.{disk.server.pid}-0.tmp", f".{jobs[0][2]}.elsewhere.{gone.pid}-0.tmp"}
            for name in keep | {f".{jobs[0][2]}.{host}.{gone.pid}-0.tmp"}:
                write_synced(os.path.join(folder, name), b"planted")
            subprocess.run(["sh", "-c", script], check=True, timeout=120, stderr=subprocess.PIPE)
            temps = {name for name in os.listdir(folder) if name.endswith(".tmp")}
            if temps != keep:
                broken.append(f"{title}: after a completed run, temporary files {sorted(temps)}, not {sorted(keep)}")
            leftovers += left
            for key in counts:
                counts[key] += seen[key]
            print(f"| {title} | 3 | {random_cuts} | {seen['old']} | {seen['new']} | {seen['absent']} | "
                  f"{seen['broken']} | {left} |")
    finally:
        if running is not None and running.poll() is None:
            os.killpg(running.pid, signal.SIGKILL)
            running.wait()
            reap(running.pid)
        disk.power("stop")
        subprocess.run(["rm", "-rf", work])
    for line in broken:
        print("BROKEN:", line)
    print(f"power loss: {cut_count} cuts, {sum(counts.values())} outputs checked: {counts['old']} old, "
          f"{counts['new']} new, {counts['absent']} absent, {counts['broken']} broken; "
          f"{leftovers} temporary files seen after the cuts")
    return 1 if broken else 0


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "serve":
        serve(sys.argv[2], sys.argv[3])
    elif len(sys.argv) in (2, 3):
        sys.exit(main(os.path.abspath(sys.argv[1]), int(sys.argv[2]) if len(sys.argv) == 3 else 30))
    else:
        sys.exit(__doc__)
