"""schema/records.schema.json: it takes the records the collector writes and
rejects anything else a host could be handed."""

import unittest

from record_check import schema_errors

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


if __name__ == "__main__":
    unittest.main()
