"""The one check of a collector output line that every test reading lines uses:
one line, UTF-8, JSON, valid against schema/records.schema.json, and with the
members in the collector's order (which JSON Schema cannot express); and the
same for the line of --describe, against schema/describe.schema.json."""

import json
import os

import jsonschema

SCHEMA_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "schema")
SCHEMA_PATH = os.path.join(SCHEMA_DIR, "records.schema.json")
DESCRIBE_SCHEMA_PATH = os.path.join(SCHEMA_DIR, "describe.schema.json")
SAMPLE_MEMBERS = ["event", "process", "bundle_id", "idle_seconds", "url",
                  "window_title", "keys_total", "clicks_total"]



def validator(path):
    """A validator of the schema at `path`, built once: validating a record
    is then a few dictionary look-ups."""
    with open(path, encoding="utf-8") as schema_file:
        schema = json.load(schema_file)
    jsonschema.Draft202012Validator.check_schema(schema)
    return jsonschema.Draft202012Validator(schema)


VALIDATOR = validator(SCHEMA_PATH)
DESCRIBE_VALIDATOR = validator(DESCRIBE_SCHEMA_PATH)


def schema_errors(record):
    """The schema's complaints about a decoded record, as strings (none when valid)."""
    return [error.message for error in VALIDATOR.iter_errors(record)]


def describe_schema_errors(description):
    """The same for a decoded description."""
    return [error.message for error in DESCRIBE_VALIDATOR.iter_errors(description)]


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


def parse_description(line):
    """Checks the line of --describe (bytes, with its line feed); returns it as a dict."""
    assert line.endswith(b"\n") and line.count(b"\n") == 1, line[:200]
    assert b" " not in line, line  # no whitespace between tokens; no value holds a space
    text = line.decode("utf-8")
    pairs = json.loads(text, object_pairs_hook=list)
    assert [key for key, _ in pairs] == ["version", "window_system", "members"], line
    assert [key for key, _ in dict(pairs)["members"]] == SAMPLE_MEMBERS, line
    description = json.loads(text)
    errors = describe_schema_errors(description)
    assert not errors, (errors, line)
    return description
