"""The Debian 13 root that scripts/debian13-root.sh makes, entered for a test.

A holder process makes a mount and network namespace of its own, mounts what
the root needs there (its own /proc, the machine's /dev and /dev/pts, a private
/tmp and /dev/shm, and the folders a test brings in), and then waits for its
standard input to end. Every program of the test runs inside through nsenter
and chroot. Nothing is mounted outside the namespace, so nothing stays mounted
when the test ends, however it ends; the private network namespace keeps the
root's X displays and abstract sockets apart from the machine's.

    root = Root.make()          # None when there is no root (see skip_reason)
    root.start(binds={"/work/build": "/palvern/build"})
    subprocess.run(root.argv(["sway", "--version"], uid=65534))
    root.close()
"""
import os
import shlex
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "..", "scripts", "debian13-root.sh")
# Tests run by CI may not be skipped for want of a root: they fail instead.
REQUIRED = os.environ.get("CI") == "true"


def root_path():
    """The root's path, made if need be; None when it cannot be made."""
    if os.environ.get("PALVERN_DEBIAN13_ROOT"):
        return os.environ["PALVERN_DEBIAN13_ROOT"]
    proc = subprocess.run(["bash", SCRIPT], capture_output=True, text=True)
    path = proc.stdout.strip()
    return path if proc.returncode == 0 and path else None


def skip_reason():
    """Why tests in the root cannot run here, or None when they can."""
    if os.geteuid() != 0:
        return "entering the Debian 13 root needs root"
    if root_path() is None:
        return "the Debian 13 root cannot be made here (scripts/debian13-root.sh)"
    return None


class Root:
    """One entry into the root, with mounts of its own."""

    def __init__(self, path):
        self.path = path
        self.holder = None

    @classmethod
    def make(cls):
        path = root_path()
        return cls(path) if path else None

    def start(self, binds=None):
        """Mounts what the root needs; `binds` maps folders of this machine to
        paths inside the root (under /tmp, which is private)."""
        r = shlex.quote(self.path)
        steps = [
            "set -e",
            "mount --make-rprivate /",
            f"mount -t proc proc {r}/proc",
            f"mount -t sysfs sysfs {r}/sys",
            f"mount --bind /dev {r}/dev",
            f"mount --bind /dev/pts {r}/dev/pts",
            f"mount -t tmpfs -o mode=1777 tmpfs {r}/dev/shm",
            f"mount -t tmpfs -o mode=1777 tmpfs {r}/tmp",
            f"mkdir -m 1777 {r}/tmp/.X11-unix {r}/tmp/.ICE-unix",
            "ip link set lo up 2>/dev/null || true",
        ]
        for outside, inside in (binds or {}).items():
            target = shlex.quote(self.path + inside)
            steps += [f"mkdir -p {target}", f"mount --bind {shlex.quote(outside)} {target}"]
        steps += ["echo ready", "exec cat >/dev/null"]
        self.holder = subprocess.Popen(
            ["unshare", "--mount", "--net", "--", "sh", "-c", "\n".join(steps)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        line = self.holder.stdout.readline()
        if line != b"ready\n":
            self.holder.stdin.close()
            err = self.holder.stderr.read().decode(errors="replace")
            self.holder.wait()
            raise RuntimeError(f"the Debian 13 root could not be entered: {err}")
        return self

    def argv(self, argv, uid=None, gid=None):
        """`argv` as run inside the root, as `uid` (and `gid`) when given."""
        pid = self.holder.pid
        inner = list(argv)
        if uid is not None:
            g = uid if gid is None else gid
            inner = ["setpriv", f"--reuid={uid}", f"--regid={g}", "--clear-groups", *inner]
        return ["nsenter", f"--mount=/proc/{pid}/ns/mnt", f"--net=/proc/{pid}/ns/net", "--",
                "chroot", self.path, *inner]

    def outside(self, inside):
        """The path on this machine of `inside`, a path in the root's private
        folders, while the root is entered."""
        return f"/proc/{self.holder.pid}/root{self.path}{inside}"

    def close(self):
        if self.holder and self.holder.poll() is None:
            self.holder.stdin.close()
            self.holder.wait()
        self.holder = None
