#!/usr/bin/python3
"""Validates result-log records (JSON Lines files) against docs/result-record.schema.json.

Usage: validate_records.py SCHEMA FILE...
Every line of every file must be one record the schema accepts. Before that, the schema
itself must refuse records that lack a field, carry a field it does not know, or hold a
value of the wrong kind, so that a schema loosened by mistake cannot pass every record.
"""
import json
import sys

import jsonschema


def main():
    schema = json.load(open(sys.argv[1], encoding="utf-8"))
    jsonschema.Draft7Validator.check_schema(schema)
    validator = jsonschema.Draft7Validator(schema)
    records = []
    for path in sys.argv[2:]:
        with open(path, encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                records.append((f"{path}:{number}", json.loads(line)))
    if not records:
        sys.exit("no records to validate")
    failed = 0
    for where, record in records:
        for error in validator.iter_errors(record):
            print(f"{where}: {'/'.join(map(str, error.path))}: {error.message}")
            failed += 1

    sample = records[-1][1]
    broken = {
        "without serial": {k: v for k, v in sample.items() if k != "serial"},
        "with a field unknown": dict(sample, colour="red"),
        "serial as text": dict(sample, serial="1234567"),
    }
    if "start_time" in sample:
        broken["with start_time but no tags"] = {k: v for k, v in sample.items() if k != "tags"}
    for name, record in broken.items():
        if validator.is_valid(record):
            print(f"the schema takes a record {name}")
            failed += 1
    if failed:
        sys.exit(1)
    print(f"{len(records)} records valid")


main()
