"""Runs a test command inside the Debian 13 root (tests/debian13_root.py), as
ctest runs the end-to-end suites a second time there, against the newer
desktops of that release.

    in_debian13.py COMMAND [ARGUMENT...]

The source tree and the build folder ($PALVERN_BUILD_DIR) are bound into the
root's private /tmp; the working folder and every environment value that
names a path in either are turned into the paths inside. The command is the
root's own (`python3` is Debian 13's, with its GTK bindings); the programs
built here run there with Debian 13's libraries. Exit status: the command's;
77 (ctest's skip) when the root cannot be had here, 1 instead under CI=true.
"""
import os
import subprocess
import sys

from debian13_root import REQUIRED, Root, skip_reason

SKIPPED = 77
SOURCE = os.path.realpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
INSIDE = "/tmp/palvern"


def main(argv):
    reason = skip_reason()
    if reason:
        print(reason, file=sys.stderr)
        return 1 if REQUIRED else SKIPPED
    binds = {SOURCE: f"{INSIDE}/source"}
    build = os.environ.get("PALVERN_BUILD_DIR")
    if build:
        binds[os.path.realpath(build)] = f"{INSIDE}/build"

    def inside(value):
        for outside in sorted(binds, key=len, reverse=True):
            if value == outside or value.startswith(outside + "/"):
                return binds[outside] + value[len(outside):]
        return value

    env = {key: inside(value) for key, value in os.environ.items() if key not in ("TMPDIR", "PWD")}
    root = Root.make().start(binds=binds)
    try:
        command = ["sh", "-c", 'cd "$1" && shift && exec "$@"', "sh", inside(os.path.realpath(os.getcwd())), *argv]
        return subprocess.run(root.argv(command), env=env).returncode
    finally:
        root.close()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
