"""The Debian package CPack makes of the build: its files, its Depends, and
the executable in it running as a host runs it.

Environment: PALVERN_BUILD_DIR (the configured and built tree), PALVERN_CPACK,
PALVERN_COLLECTOR (the executable the package was made from), PALVERN_VERSION
(the project's version), PALVERN_SANITIZED=1 for a build with the sanitizers (whose
runtimes it links).
"""

import os
import re
import select
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from record_check import DESCRIBE_SCHEMA_PATH, SCHEMA_PATH, parse_line  # noqa: E402

LICENSE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "LICENSE")

BUILD_DIR = os.environ["PALVERN_BUILD_DIR"]
CPACK = os.environ.get("PALVERN_CPACK", "cpack")
COLLECTOR = os.environ["PALVERN_COLLECTOR"]
VERSION = os.environ["PALVERN_VERSION"]
SANITIZED = os.environ.get("PALVERN_SANITIZED") == "1"
FILES = {
    "./usr/bin/PalvernCollector": "-rwxr-xr-x",
    "./usr/share/palvern-collector/records.schema.json": "-rw-r--r--",
    "./usr/share/palvern-collector/describe.schema.json": "-rw-r--r--",
    "./usr/share/doc/palvern-collector/README.md": "-rw-r--r--",
    "./usr/share/doc/palvern-collector/copyright": "-rw-r--r--",
    "./usr/share/palvern-collector/gnome-extension/install.sh": "-rwxr-xr-x",
    "./usr/share/palvern-collector/gnome-extension/focus.js": "-rw-r--r--",
    "./usr/share/palvern-collector/gnome-extension/shell-43/extension.js": "-rw-r--r--",
    "./usr/share/palvern-collector/gnome-extension/shell-43/metadata.json": "-rw-r--r--",
    "./usr/share/palvern-collector/gnome-extension/shell-45/extension.js": "-rw-r--r--",
    "./usr/share/palvern-collector/gnome-extension/shell-45/metadata.json": "-rw-r--r--",
}


def run(*argv, **kwargs):
    return subprocess.run(argv, check=True, capture_output=True, text=True, timeout=600,
                          **kwargs).stdout


def owning_package(path):
    """The installed package that ships `path` (under either name merged /usr gives it)."""
    candidates = [path, re.sub(r"^/usr/", "/", path) if path.startswith("/usr/") else "/usr" + path]
    for candidate in candidates:
        found = subprocess.run(["dpkg-query", "-S", candidate], capture_output=True, text=True)
        if found.returncode == 0:
            return found.stdout.split(":")[0]
    raise AssertionError(f"no package ships {path}")


def linked_packages(executable):
    """The packages of the libraries the executable names itself (not theirs)."""
    needed = re.findall(r"^\s*NEEDED\s+(\S+)$", run("objdump", "-p", executable), re.M)
    listed = run("ldd", executable)
    resolved = dict(re.findall(r"^\s*(\S+) => (\S+)", listed, re.M))
    # The loader is listed by its path alone.
    resolved.update((os.path.basename(path), path) for path in re.findall(r"^\s*(/\S+) \(0x", listed, re.M))
    return {owning_package(resolved[name]) for name in needed}


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory(prefix="palvern-package-")
        run(CPACK, "-G", "DEB", "-B", cls.scratch.name, cwd=BUILD_DIR)
        debs = [name for name in os.listdir(cls.scratch.name) if name.endswith(".deb")]
        assert len(debs) == 1, debs
        cls.deb = os.path.join(cls.scratch.name, debs[0])

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def test_name_and_control_fields(self):
        arch = run("dpkg", "--print-architecture").strip()
        self.assertEqual(os.path.basename(self.deb), f"palvern-collector_{VERSION}_{arch}.deb")
        self.assertEqual(run("dpkg-deb", "-f", self.deb, "Package", "Version", "Architecture").splitlines(),
                         ["Package: palvern-collector", f"Version: {VERSION}", f"Architecture: {arch}"])

    def test_files(self):
        listing = [line.split() for line in run("dpkg-deb", "-c", self.deb).splitlines()]
        files = {entry[-1]: entry[0] for entry in listing if not entry[0].startswith("d")}
        self.assertEqual(files, FILES)

    def test_depends_lists_exactly_the_linked_libraries(self):
        depends = run("dpkg-deb", "-f", self.deb, "Depends").strip()
        names = {re.sub(r"\s*\(.*\)$", "", part.strip()) for part in depends.split(",")}
        self.assertEqual(names, linked_packages(COLLECTOR), depends)
        self.assertRegex(depends, r"libc6 \(>= [0-9.]+\)")
        if not SANITIZED:
            # The C library alone: everything else is opened at run time.
            self.assertRegex(depends, r"^libc6 \(>= [0-9.]+\)$")

    def test_recommends_the_libraries_opened_at_run_time(self):
        recommends = run("dpkg-deb", "-f", self.deb, "Recommends").strip()
        self.assertEqual(recommends.split(", "), ["libxcb1", "libxcb-screensaver0", "libxcb-xinput0", "libxcb-res0",
                                                  "libwayland-client0", "libsystemd0"])

    def test_packaged_executable_runs_and_schema_is_the_source(self):
        with tempfile.TemporaryDirectory(prefix="palvern-unpacked-") as root:
            run("dpkg-deb", "-x", self.deb, root)
            env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
            env["WAYLAND_DISPLAY"] = "palvern-no-compositor"
            executable = os.path.join(root, "usr/bin/PalvernCollector")
            proc = subprocess.run([executable, "--version"], capture_output=True, env=env, timeout=30)
            self.assertEqual((proc.returncode, proc.stdout, proc.stderr),
                             (0, f"PalvernCollector {VERSION}\n".encode(), b""))
            # Standard input at its end from the start: it exits 0 at once,
            # with the records it wrote before it saw the end, if any.
            proc = subprocess.run([executable], stdin=subprocess.DEVNULL, capture_output=True, env=env,
                                  timeout=30)
            self.assertEqual((proc.returncode, proc.stderr), (0, b""))
            records = [parse_line(line) for line in proc.stdout.splitlines(keepends=True)]
            self.assertIn([record.get("event", "error") for record in records], ([], ["error"], ["error", "start"]))
            for name, source in [("records.schema.json", SCHEMA_PATH), ("describe.schema.json", DESCRIBE_SCHEMA_PATH)]:
                with open(os.path.join(root, "usr/share/palvern-collector", name), "rb") as a, \
                        open(source, "rb") as b:
                    self.assertEqual(a.read(), b.read())

    def test_copyright_names_the_licence_with_its_whole_text(self):
        with tempfile.TemporaryDirectory(prefix="palvern-unpacked-") as root:
            run("dpkg-deb", "-x", self.deb, root)
            with open(os.path.join(root, "usr/share/doc/palvern-collector/copyright"), encoding="utf-8") as f:
                copyright = f.read()
        with open(LICENSE, encoding="utf-8") as f:
            license = f.read()
        self.assertIn("Copyright (c) 2026 PalvernCollector developers", license)
        self.assertTrue(copyright.startswith(
            "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"))
        self.assertIn("Files: *\nCopyright: 2026 PalvernCollector developers\nLicense: Expat\n", copyright)
        # The licence's paragraphs, each line indented by one space, a lone "." between paragraphs.
        terms = license[license.index("Permission is hereby granted"):].strip()
        folded = "\n".join(" " + line if line else " ." for line in terms.split("\n"))
        self.assertTrue(copyright.endswith("License: Expat\n" + folded + "\n"), copyright)


if __name__ == "__main__":
    unittest.main()
