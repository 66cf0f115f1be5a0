"""schema/records.schema.json: it takes the records the collector writes and
rejects anything else a host could be handed; schema/describe.schema.json the
same for the line of --describe."""

import unittest

from record_check import describe_schema_errors, parse_description, schema_errors

SAMPLE = {"event": "focus", "process": "Google Chrome", "bundle_id": "com.google.Chrome",
          "idle_seconds": 0, "url": "https://example.org/", "window_title": "Example Domain",
          "keys_total": 18234, "clicks_total": 2210}
ERROR = {"error": "Accessibility permission is not granted; window titles cannot be read."}
TOTAL_MAX = 2**64 - 1


def sample(**changes):
    return {**SAMPLE, **changes}


def without(record, key):
    return {k: v for k, v in record.items() if k != key}


class Schema(unittest.TestCase):
    def test_records_the_collector_writes_are_valid(self):
        cases = [
            ("sample", SAMPLE),
            *((f"event {e}", sample(event=e)) for e in ("start", "focus", "refresh")),
            ("nothing frontmost", sample(process="Unknown", bundle_id="", url="", window_title="")),
            ("largest totals", sample(keys_total=TOTAL_MAX, clicks_total=TOTAL_MAX)),
            ("largest idle time", sample(idle_seconds=2**63 - 1)),
            ("any text", sample(window_title="\u0000\ufffd\U0001f600\"\\" * 1000)),
            ("error record", ERROR),
            ("empty error text", {"error": ""}),
        ]
        for name, record in cases:
            with self.subTest(name):
                self.assertEqual(schema_errors(record), [])

    def test_malformed_records_are_rejected(self):
        cases = [
            *((f"{key} missing", without(SAMPLE, key)) for key in SAMPLE),
            ("an extra member", sample(pid=42)),
            ("a negative idle time", sample(idle_seconds=-1)),
            ("a negative total", sample(clicks_total=-1)),
            ("a total past 64 bits", sample(keys_total=TOTAL_MAX + 1)),
            ("a fractional idle time", sample(idle_seconds=0.5)),
            ("a number as text", sample(keys_total="18234")),
            ("text as a number", sample(process=7)),
            ("null text", sample(window_title=None)),
            ("a boolean count", sample(idle_seconds=True)),
            ("an unknown event", sample(event="blur")),
            ("an event in capitals", sample(event="Focus")),
            ("an error record with more", {**ERROR, "event": "start"}),
            ("an error record's text not a string", {"error": 1}),
            ("a sample and an error in one", {**SAMPLE, **ERROR}),
            ("an empty object", {}),
            ("not an object", [SAMPLE]),
            ("a bare string", "start"),
        ]
        for name, record in cases:
            with self.subTest(name):
                self.assertNotEqual(schema_errors(record), [], record)


MEMBERS = ["event", "process", "bundle_id", "idle_seconds", "url", "window_title", "keys_total", "clicks_total"]
WAYLAND = {"version": "0.1.0", "window_system": "wlroots",
           "members": {"event": True, "process": True, "bundle_id": True, "idle_seconds": True, "url": "off",
                       "window_title": True, "keys_total": False, "clicks_total": False}}
NONE = {"version": "0.1.0", "window_system": "none",
        "members": {"event": True, **{member: False for member in MEMBERS[1:]}}}


def description(window_system="wlroots", **members):
    return {**WAYLAND, "window_system": window_system, "members": {**WAYLAND["members"], **members}}


class DescribeSchema(unittest.TestCase):
    def test_descriptions_the_collector_writes_are_valid(self):
        cases = [
            ("wlroots", WAYLAND),
            ("no window system", NONE),
            *((system, description(system)) for system in ("x11", "kwin", "gnome", "macos", "windows")),
            *((f"{member} {value!r}", description(**{member: value}))
              for member in MEMBERS[1:] for value in (True, False, "off", "no-extension")),
        ]
        for name, value in cases:
            with self.subTest(name):
                self.assertEqual(describe_schema_errors(value), [])

    def test_malformed_descriptions_are_rejected(self):
        cases = [
            *((f"{key} missing", {k: v for k, v in WAYLAND.items() if k != key}) for key in WAYLAND),
            *((f"member {member} missing", {**WAYLAND, "members": without(WAYLAND["members"], member)})
              for member in MEMBERS),
            ("an extra member", description(pid=True)),
            ("an extra top-level member", {**WAYLAND, "path": "/usr/bin/PalvernCollector"}),
            ("an unknown window system", description("wayland")),
            ("a window system in capitals", description("X11")),
            ("an unknown value", description(url="maybe")),
            ("null", description(url=None)),
            ("1 for true", description(process=1)),
            ("0 for false", description(keys_total=0)),
            ("event false", description(event=False)),
            ("event off", description(event="off")),
            ("no window system, a member given", {**NONE, "members": {**NONE["members"], "idle_seconds": True}}),
            ("no window system, a member off", {**NONE, "members": {**NONE["members"], "url": "off"}}),
            ("a version that is no version", {**WAYLAND, "version": "PalvernCollector 0.1.0"}),
            ("a version as a number", {**WAYLAND, "version": 1}),
            ("members as a list", {**WAYLAND, "members": MEMBERS}),
            ("a record", SAMPLE),
            ("not an object", [WAYLAND]),
        ]
        for name, value in cases:
            with self.subTest(name):
                self.assertNotEqual(describe_schema_errors(value), [], value)

    def test_the_line_check_takes_the_written_form_only(self):
        line = (b'{"version":"0.1.0","window_system":"wlroots","members":{"event":true,"process":true,'
                b'"bundle_id":true,"idle_seconds":true,"url":"off","window_title":true,"keys_total":false,'
                b'"clicks_total":false}}\n')
        self.assertEqual(parse_description(line), WAYLAND)
        reordered = line.replace(b'"event":true,"process":true', b'"process":true,"event":true')
        for name, bad in [("members out of order", reordered),
                          ("spaces", line.replace(b",", b", ")),
                          ("no line feed", line[:-1]),
                          ("two lines", line + line)]:
            with self.subTest(name), self.assertRaises(AssertionError):
                parse_description(bad)


if __name__ == "__main__":
    unittest.main()
