"""The UI Automation declarations of the Windows desktop (platform/windows/uia.h)
compiled against mingw-w64 headers that declare those interfaces themselves
(Debian 13's, in the root scripts/debian13-root.sh makes), so that the
static_asserts of uia_layout.cpp compare every method's place with the SDK's."""

import os
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(HERE, ".."))
import debian13_root  # noqa: E402

COMPILER = os.environ.get("PALVERN_MINGW_CXX", "x86_64-w64-mingw32-g++-posix")


class UiaLayout(unittest.TestCase):
    def setUp(self):
        self.root = debian13_root.root_path()
        if self.root is None:
            if debian13_root.REQUIRED:
                self.fail("the Debian 13 root cannot be made (scripts/debian13-root.sh)")
            self.skipTest("SKIPPED: the Debian 13 root cannot be made here (scripts/debian13-root.sh)")

    def test_every_declared_method_sits_where_the_sdk_has_it(self):
        # PALVERN_REQUIRE_SDK_INTERFACES: headers without the interfaces fail
        # the compile rather than pass it unchecked.
        result = subprocess.run(
            [COMPILER, "-std=c++20", "-fsyntax-only", "-DPALVERN_REQUIRE_SDK_INTERFACES", "-I", SOURCE,
             "-isystem", os.path.join(self.root, "usr/share/mingw-w64/include"),
             os.path.join(SOURCE, "platform/windows/uia_layout.cpp")],
            capture_output=True, text=True, timeout=300)
        self.assertEqual(result.returncode, 0, result.stderr)


if __name__ == "__main__":
    unittest.main()
