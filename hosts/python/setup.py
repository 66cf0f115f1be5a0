"""The platform wheel. When palvern_collector/bin/ holds the collector built
for Linux, the wheel carries it and is named for what that executable needs,
read from it: the newest glibc symbol version it asks for and its
architecture (manylinux_2_36_x86_64, manylinux_2_36_aarch64). Without one,
the wheel is the library alone, for any platform, and runs PalvernCollector
from PATH. Everything else is in pyproject.toml."""

import os
import struct

from setuptools import setup
from wheel.bdist_wheel import bdist_wheel

EXECUTABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "palvern_collector", "bin",
                          "PalvernCollector")
ARCHITECTURES = {62: "x86_64", 183: "aarch64"}  # ELF e_machine
SHT_GNU_VERNEED = 0x6FFFFFFE  # the section of the symbol versions a file needs


def needed_versions(data):
    """The symbol versions (GLIBC_2.34, ...) an ELF64 little-endian file needs."""
    (shoff,) = struct.unpack_from("<Q", data, 0x28)
    shentsize, shnum = struct.unpack_from("<HH", data, 0x3A)
    sections = [struct.unpack_from("<IIQQQQIIQQ", data, shoff + i * shentsize) for i in range(shnum)]
    names = []
    for _, kind, _, _, offset, _, link, count, _, _ in sections:
        if kind != SHT_GNU_VERNEED:
            continue
        strings = sections[link][4]
        entry = offset
        for _ in range(count):
            _, aux_count, _, aux, next_entry = struct.unpack_from("<HHIII", data, entry)
            at = entry + aux
            for _ in range(aux_count):
                _, _, _, name, next_aux = struct.unpack_from("<IHHII", data, at)
                start = strings + name
                names.append(data[start:data.index(b"\0", start)].decode("ascii"))
                at += next_aux
            entry += next_entry
    return names


def platform_tag(path):
    """manylinux_<glibc major>_<minor>_<architecture> for the executable at `path`."""
    with open(path, "rb") as executable:
        data = executable.read()
    if data[:6] != b"\x7fELF\x02\x01":
        raise SystemExit(f"{path}: not a 64-bit little-endian ELF executable; wheels are made for Linux only")
    (machine,) = struct.unpack_from("<H", data, 18)
    if machine not in ARCHITECTURES:
        raise SystemExit(f"{path}: an executable for ELF machine {machine}, for which no wheel is made")
    glibc = [tuple(int(part) for part in name[len("GLIBC_"):].split("."))
             for name in needed_versions(data) if name.startswith("GLIBC_2.")]
    if not glibc:
        raise SystemExit(f"{path}: names no glibc version, so the wheel cannot be named for one")
    major, minor = max(glibc)[:2]
    return f"manylinux_{major}_{minor}_{ARCHITECTURES[machine]}"


class PlatformWheel(bdist_wheel):
    def get_tag(self):
        # Any Python 3 runs it: no extension module, only an executable.
        if os.path.isfile(EXECUTABLE):
            return "py3", "none", platform_tag(EXECUTABLE)
        return super().get_tag()


setup(cmdclass={"bdist_wheel": PlatformWheel})
