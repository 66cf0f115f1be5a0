"""The Windows release zip of the Windows build (CPack's ZIP generator): what
it holds, and that its executable needs no DLL beside it (only the system's).

Environment: PALVERN_WINDOWS_BUILD (the Windows build), PALVERN_CPACK,
PALVERN_MINGW_OBJDUMP.
"""

import glob
import os
import subprocess
import tempfile
import unittest
import zipfile

BUILD = os.environ.get("PALVERN_WINDOWS_BUILD", "")
CPACK = os.environ.get("PALVERN_CPACK", "cpack")
OBJDUMP = os.environ.get("PALVERN_MINGW_OBJDUMP", "x86_64-w64-mingw32-objdump")
# The DLLs every Windows has: the executable imports these and no others.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll", "shell32.dll", "user32.dll",
               "version.dll"}


class ReleaseZip(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory(prefix="palvern-zip-")
        subprocess.run([CPACK, "--config", os.path.join(BUILD, "CPackConfig.cmake"), "-B", cls.scratch.name],
                       check=True, capture_output=True, timeout=300)
        [cls.zip] = glob.glob(os.path.join(cls.scratch.name, "PalvernCollector-*-windows-x86_64.zip"))

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def test_the_executable_the_schemas_the_readme_and_the_licence(self):
        with zipfile.ZipFile(self.zip) as archive:
            names = sorted(name.split("/", 1)[1] for name in archive.namelist())
        self.assertEqual(names, ["LICENSE", "PalvernCollector.exe", "README.md", "describe.schema.json",
                                 "records.schema.json"])

    def test_the_executable_imports_only_system_dlls_and_is_stripped(self):
        with zipfile.ZipFile(self.zip) as archive, tempfile.TemporaryDirectory() as unpacked:
            [exe] = [n for n in archive.namelist() if n.endswith(".exe")]
            path = archive.extract(exe, unpacked)
            headers = subprocess.run([OBJDUMP, "-p", path], check=True, capture_output=True, text=True).stdout
            symbols = subprocess.run([OBJDUMP, "-t", path], check=True, capture_output=True, text=True).stdout
        self.assertIn("PE32+", headers)
        imported = {line.split(":", 1)[1].strip().lower() for line in headers.splitlines()
                    if "DLL Name:" in line}
        self.assertTrue(imported <= SYSTEM_DLLS, imported - SYSTEM_DLLS)
        self.assertIn("no symbols", symbols)


if __name__ == "__main__":
    unittest.main()
