"""The host packages scripts/pack-hosts.sh makes, installed as a host
developer installs them into a project of their own, offline, and run
through with no PalvernCollector on PATH: the npm tarball into a new
node_modules, the platform wheel into a new virtual environment.

Environment: PALVERN_COLLECTOR (the built x86_64 executable the packages
carry), PALVERN_VERSION (the project's version, as CMake has it).
"""

import json
import os
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
sys.path.insert(0, os.path.join(HERE, ".."))
from record_check import parse_description, parse_line  # noqa: E402

COLLECTOR = os.environ["PALVERN_COLLECTOR"]
VERSION = os.environ["PALVERN_VERSION"]
PACK = os.path.join(ROOT, "scripts", "pack-hosts.sh")
PYTHON = "/usr/bin/python3"  # Debian's, with its pip, setuptools, wheel and venv
TIMEOUT = 300
NOTHING = {"version": VERSION, "window_system": "none",
           "members": {"event": True, "process": False, "bundle_id": False, "idle_seconds": False,
                       "url": False, "window_title": False, "keys_total": False, "clicks_total": False}}
ERROR_RECORD = {"error": "Accessibility permission is not granted; window titles cannot be read."}
START_RECORD = {"event": "start", "process": "Unknown", "bundle_id": "", "idle_seconds": 0, "url": "",
                "window_title": "", "keys_total": 0, "clicks_total": 0}


def run(*argv, **kwargs):
    kwargs.setdefault("check", True)
    return subprocess.run(argv, capture_output=True, text=True, timeout=TIMEOUT, **kwargs)


def host_env(home):
    """A host's environment without a display, whose PATH holds no PalvernCollector."""
    path = [d for d in os.environ.get("PATH", "/usr/bin:/bin").split(os.pathsep)
            if d and not os.path.exists(os.path.join(d, "PalvernCollector"))]
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "PALVERN_COLLECTOR")}
    env.update(PATH=os.pathsep.join(path), HOME=home, WAYLAND_DISPLAY="palvern-no-compositor",
               npm_config_cache=os.path.join(home, "npm-cache"), npm_config_update_notifier="false",
               PIP_DISABLE_PIP_VERSION_CHECK="1", PIP_NO_INDEX="1")
    return env


def glibc_floor(executable):
    """The newest GLIBC_ version among the executable's dynamic symbols, as objdump -T shows them."""
    versions = re.findall(r"GLIBC_2\.(\d+)", run("objdump", "-T", executable).stdout)
    return f"2_{max(int(v) for v in versions)}"


def arm64_stand_in(folder):
    """A copy of the executable marked as one for aarch64 (ELF machine 183):
    what the cross build gives, as far as packing looks."""
    path = os.path.join(folder, "arm64", "PalvernCollector")
    os.makedirs(os.path.dirname(path))
    shutil.copy(COLLECTOR, path)
    with open(path, "r+b") as executable:
        executable.seek(18)
        executable.write((183).to_bytes(2, "little"))
    return path


class Packing(unittest.TestCase):
    def setUp(self):
        scratch = tempfile.TemporaryDirectory(prefix="palvern-host-packages-")
        self.addCleanup(scratch.cleanup)
        self.scratch = scratch.name
        self.out = os.path.join(self.scratch, "dist")
        self.env = host_env(self.scratch)

    def pack(self, *arguments):
        """Runs the script; the packages it printed."""
        printed = run("bash", PACK, "-o", self.out, *arguments, env=self.env).stdout.split()
        self.assertEqual(sorted(printed), sorted(os.path.join(self.out, name) for name in os.listdir(self.out)))
        return printed


class Npm(Packing):
    def test_the_tarball_carries_each_build_and_runs_from_node_modules(self):
        mac = os.path.join(self.scratch, "mac-build")
        windows = os.path.join(self.scratch, "PalvernCollector.exe")
        for path in (mac, windows):
            with open(path, "wb") as f:
                f.write(b"not for this machine")
        [tarball] = self.pack("--npm", COLLECTOR, arm64_stand_in(self.scratch), f"darwin-arm64={mac}",
                              f"win32-x64={windows}")
        self.assertEqual(os.path.basename(tarball), f"palvern-collector-{VERSION}.tgz")
        with tarfile.open(tarball) as archive:
            modes = {member.name: member.mode for member in archive.getmembers()}
            manifest = json.load(archive.extractfile("package/package.json"))
            license_text = archive.extractfile("package/LICENSE").read().decode()
        self.assertEqual(modes, {
            "package/package.json": 0o644, "package/index.js": 0o644, "package/index.d.ts": 0o644,
            "package/LICENSE": 0o644,
            "package/bin/linux-x64/PalvernCollector": 0o755,
            "package/bin/linux-arm64/PalvernCollector": 0o755,
            "package/bin/darwin-arm64/PalvernCollector": 0o755,
            "package/bin/win32-x64/PalvernCollector.exe": 0o755,
        })
        self.assertEqual((manifest["version"], manifest["license"]), (VERSION, "MIT"))
        self.assertIn("Copyright (c) 2026 PalvernCollector developers", license_text)

        project = os.path.join(self.scratch, "host-app")
        os.mkdir(project)
        with open(os.path.join(project, "package.json"), "w") as f:
            json.dump({"name": "host-app", "private": True, "type": "module"}, f)
        run("npm", "install", "--offline", "--no-audit", "--no-fund", tarball, cwd=project, env=self.env)
        with open(os.path.join(project, "main.js"), "w") as f:
            f.write("""
import { describe, spawnCollector } from "palvern-collector";
const lines = [JSON.stringify(await describe())];
const collector = spawnCollector();
for await (const record of collector) {
  lines.push(JSON.stringify(record));
  if ("event" in record) break;
}
lines.push(String(await collector.stop()));
console.log(lines.join("\\n"));
""")
        lines = run("node", "main.js", cwd=project, env=self.env).stdout.splitlines(keepends=True)
        self.assertEqual(parse_description(lines[0].encode()), NOTHING)
        self.assertEqual([parse_line(line.encode()) for line in lines[1:3]], [ERROR_RECORD, START_RECORD])
        self.assertEqual(lines[3:], ["0\n"])


class Wheel(Packing):
    def test_a_platform_wheel_per_linux_build_that_runs_from_a_new_environment(self):
        mac = os.path.join(self.scratch, "mac-build")
        with open(mac, "wb") as f:
            f.write(b"not for this machine")
        wheels = self.pack("--wheel", COLLECTOR, arm64_stand_in(self.scratch), f"darwin-arm64={mac}")
        floor = glibc_floor(COLLECTOR)
        self.assertEqual(sorted(os.path.basename(wheel) for wheel in wheels), [
            f"palvern_collector-{VERSION}-py3-none-manylinux_{floor}_aarch64.whl",
            f"palvern_collector-{VERSION}-py3-none-manylinux_{floor}_x86_64.whl",
        ])
        [wheel] = [wheel for wheel in wheels if wheel.endswith("_x86_64.whl")]
        with zipfile.ZipFile(wheel) as archive:
            executable = archive.getinfo("palvern_collector/bin/PalvernCollector")
            metadata = archive.read(f"palvern_collector-{VERSION}.dist-info/METADATA").decode()
        self.assertEqual(executable.external_attr >> 16 & 0o777, 0o755)
        self.assertIn("License: MIT\n", metadata)

        venv = os.path.join(self.scratch, "venv")
        run(PYTHON, "-m", "venv", venv, env=self.env)
        run(os.path.join(venv, "bin", "pip"), "install", "--no-index", wheel, env=self.env)
        script = """
import json
from dataclasses import asdict
from palvern_collector import Collector, describe
print(json.dumps(asdict(describe()), separators=(",", ":")))
with Collector() as collector:
    print(collector.path)
    for record in collector:
        print(json.dumps(asdict(record), separators=(",", ":")))
        if hasattr(record, "event"):
            break
print(collector.status)
"""
        lines = run(os.path.join(venv, "bin", "python"), "-c", script, cwd=self.scratch,
                    env=self.env).stdout.splitlines(keepends=True)
        self.assertEqual(parse_description(lines[0].encode()), NOTHING)
        self.assertTrue(lines[1].startswith(venv + os.sep), lines[1])
        self.assertTrue(lines[1].endswith("/site-packages/palvern_collector/bin/PalvernCollector\n"), lines[1])
        self.assertEqual([parse_line(line.encode()) for line in lines[2:4]], [ERROR_RECORD, START_RECORD])
        self.assertEqual(lines[4:], ["0\n"])


class Arguments(Packing):
    def test_what_cannot_be_packed_is_refused(self):
        not_elf = os.path.join(self.scratch, "script")
        with open(not_elf, "w") as f:
            f.write("#!/bin/sh\n")
        cases = [
            ("nothing to pack", []),
            ("an executable of no known platform", [not_elf]),
            ("a missing file", [os.path.join(self.scratch, "no-such-file")]),
            ("a Linux build given the wrong architecture", [f"linux-arm64={COLLECTOR}"]),
            ("an unknown platform", [f"freebsd-x64={COLLECTOR}"]),
            ("an unknown option", ["--deb", COLLECTOR]),
        ]
        for name, arguments in cases:
            with self.subTest(name):
                result = run("bash", PACK, "-o", self.out, *arguments, env=self.env, check=False)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertNotEqual(result.stderr, "")
                self.assertEqual(os.listdir(self.out) if os.path.exists(self.out) else [], [])


if __name__ == "__main__":
    unittest.main()
