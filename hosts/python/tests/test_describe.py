"""describe() against the real executable (PALVERN_COLLECTOR) without a
display and against stand-in programs; and where the library finds the
executable when the host names none: the one a platform wheel carries
beside the module, else PATH."""

import dataclasses
import importlib.util
import json
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import palvern_collector  # noqa: E402
from palvern_collector import (  # noqa: E402
    CollectorExited, CollectorMissing, Description, Members, NotARecord, describe)

COLLECTOR = os.environ.get("PALVERN_COLLECTOR", "PalvernCollector")
NO_DISPLAY = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
NO_DISPLAY["WAYLAND_DISPLAY"] = "palvern-no-compositor"
NOTHING = {"version": "0.1.0", "window_system": "none",
           "members": {"event": True, "process": False, "bundle_id": False, "idle_seconds": False,
                       "url": False, "window_title": False, "keys_total": False, "clicks_total": False}}


class Scratch(unittest.TestCase):
    def setUp(self):
        scratch = tempfile.TemporaryDirectory(prefix="palvern-python-describe-")
        self.addCleanup(scratch.cleanup)
        self.scratch = scratch.name

    def script(self, path, body, mode=0o755):
        """An executable shell script at `path` standing in for the collector."""
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as script:
            script.write(f"#!/bin/sh\n{body}\n")
        os.chmod(path, mode)
        return path

    def stand_in(self, path, name):
        """Answers --describe with a description whose version is `name`;
        without arguments, writes a start record for process `name`."""
        answer = os.path.join(self.scratch, f"answer-{len(os.listdir(self.scratch))}")
        with open(answer, "w") as f:
            f.write(json.dumps({**NOTHING, "version": name}) + "\n")
        start = json.dumps({"event": "start", "process": name, "bundle_id": "", "idle_seconds": 0, "url": "",
                            "window_title": "", "keys_total": 0, "clicks_total": 0})
        return self.script(path, f"if [ \"$1\" = --describe ]; then cat '{answer}'; "
                                 f"else echo '{start}'; exec cat >/dev/null; fi")


class Describe(Scratch):
    def test_the_real_collector_without_a_display_gives_nothing(self):
        description = describe(COLLECTOR, env=NO_DISPLAY)
        self.assertRegex(description.version, r"^\d+\.\d+\.\d+$")
        self.assertEqual(description, Description(description.version, "none", Members(**NOTHING["members"])))
        self.assertEqual(dataclasses.asdict(description), {**NOTHING, "version": description.version})
        with self.assertRaises(dataclasses.FrozenInstanceError):
            description.members.url = True

    def test_values_and_window_systems_a_newer_collector_may_give_are_taken(self):
        newer = {"version": "9.0.0", "window_system": "haiku",
                 "members": {**NOTHING["members"], "url": "needs-consent", "process": True}}
        path = self.script(os.path.join(self.scratch, "newer"), f"echo '{json.dumps(newer)}'")
        self.assertEqual(describe(path), Description(newer["version"], newer["window_system"],
                                                     Members(**newer["members"])))

    def test_failures(self):
        line = json.dumps(NOTHING).encode() + b"\n"
        no_descriptions = [
            ("nothing", b""),
            ("no line feed", line[:-1]),
            ("two lines", line + line),
            ("a record", b'{"error":"x"}\n'),
            ("a member missing", line.replace(b'"url": false, ', b"")),
            ("a member more", line.replace(b'"url": false', b'"url": false, "pid": true')),
            ("a number for true", line.replace(b'"url": false', b'"url": 1')),
            ("no version", line.replace(b'"version": "0.1.0", ', b"")),
            ("not UTF-8", line.replace(b"none", b"n\xffne")),
        ]
        cases = [
            ("a missing executable", None, {}, CollectorMissing, {}),
            ("a file that is not executable", ("exit 0", 0o644), {}, CollectorMissing, {}),
            ("a file exec would hand to the shell", None, {}, CollectorMissing, {}),
            ("an answer past 1 MiB", ("head -c 2000000 /dev/zero | tr '\\0' x", 0o755), {}, NotARecord,
             {"line": b"x" * 1024 * 1024}),
            ("a status other than 0", (f"cat <<'END'\n{line.decode()}END\nexit 3", 0o755), {},
             CollectorExited, {"status": 3, "signal": None}),
            ("no answer before the timeout", ("exec sleep 600", 0o755), {"timeout": 0.2},
             CollectorExited, {"status": None, "signal": "SIGKILL"}),
        ]
        for name, output in no_descriptions:
            answer = os.path.join(self.scratch, f"answer-{name.replace(' ', '-')}")
            with open(answer, "wb") as f:
                f.write(output)
            cases.append((f"output that is no description: {name}", (f"cat '{answer}'", 0o755), {},
                          NotARecord, {"line": output}))
        for name, script, options, error, details in cases:
            with self.subTest(name):
                path = os.path.join(self.scratch, name.replace(" ", "-").replace(":", ""))
                if script:
                    self.script(path, *script)
                elif "shell" in name:
                    with open(path, "w") as text:
                        text.write("echo '{}'\n")
                    os.chmod(path, 0o755)
                with self.assertRaises(error) as raised:
                    describe(path, **options)
                self.assertEqual(raised.exception.path, path)
                self.assertIn(path, str(raised.exception))
                for key, value in details.items():
                    self.assertEqual(getattr(raised.exception, key), value)


class DefaultExecutable(Scratch):
    """A copy of the package, as a wheel installs it, imported under a name of
    its own, with PATH holding a stand-in of its own."""

    def setUp(self):
        super().setUp()
        self.package = os.path.join(self.scratch, "site", "palvern_collector")
        shutil.copytree(os.path.dirname(palvern_collector.__file__), self.package,
                        ignore=shutil.ignore_patterns("__pycache__", "bin"))
        spec = importlib.util.spec_from_file_location(
            "palvern_collector_copy", os.path.join(self.package, "__init__.py"),
            submodule_search_locations=[self.package])
        self.library = importlib.util.module_from_spec(spec)
        sys.modules[spec.name] = self.library  # where its dataclasses look themselves up
        self.addCleanup(sys.modules.pop, spec.name)
        spec.loader.exec_module(self.library)
        on_path = os.path.join(self.scratch, "path")
        self.stand_in(os.path.join(on_path, "PalvernCollector"), "from PATH")
        self.env = dict(NO_DISPLAY, PATH=f"{on_path}:/usr/bin:/bin")

    def test_the_one_the_wheel_carries_before_path(self):
        self.assertEqual(self.library.describe(env=self.env).version, "from PATH")
        carried = self.stand_in(os.path.join(self.package, "bin", "PalvernCollector"), "carried")
        self.assertEqual(self.library.describe(env=self.env).version, "carried")
        with self.library.Collector(env=self.env) as collector:
            self.assertEqual(collector.path, carried)
            self.assertEqual(next(collector).process, "carried")
        self.assertEqual(collector.status, 0)

    def test_a_path_given_is_used_as_it_is(self):
        self.stand_in(os.path.join(self.package, "bin", "PalvernCollector"), "carried")
        with self.assertRaises(self.library.CollectorMissing):
            self.library.Collector(os.path.join(self.scratch, "no-such-collector"), env=self.env)
        with self.library.Collector("PalvernCollector", env=self.env) as collector:
            self.assertEqual(next(collector), self.library.Sample("start", "from PATH", "", 0, "", "", 0, 0))


if __name__ == "__main__":
    unittest.main()
