"""The one check of a collector output line that every test reading lines uses:
one line, UTF-8, JSON, valid against schema/records.schema.json, and with the
members in the collector's order (which JSON Schema cannot express)."""

import json
import os

import jsonschema

SCHEMA_PATH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "schema",
                           "records.schema.json")
SAMPLE_MEMBERS = ["event", "process", "bundle_id", "idle_seconds", "url",
                  "window_title", "keys_total", "clicks_total"]

with open(SCHEMA_PATH, encoding="utf-8") as schema_file:
    SCHEMA = json.load(schema_file)
jsonschema.Draft202012Validator.check_schema(SCHEMA)
# Built once: validating a record is then a few dictionary look-ups.
VALIDATOR = jsonschema.Draft202012Validator(SCHEMA)


def schema_errors(record):
    """The schema's complaints about a decoded record, as strings (none when valid)."""
    return [error.message for error in VALIDATOR.iter_errors(record)]


def parse_line(line):
    """Checks one output line (bytes, with its line feed); returns the record as a dict."""
    assert line.endswith(b"\n") and line.count(b"\n") == 1, line[:200]
    pairs = json.loads(line.decode("utf-8"), object_pairs_hook=list)
    record = dict(pairs)
    errors = schema_errors(record)
    assert not errors, (errors, line[:200])
    keys = [key for key, _ in pairs]
    assert keys in (["error"], SAMPLE_MEMBERS), keys  # order, and no member twice
    for key in ("idle_seconds", "keys_total", "clicks_total"):
        # The schema takes 1.0 as an integer; the collector writes digits only.
        assert key not in record or type(record[key]) is int, record
    return record
