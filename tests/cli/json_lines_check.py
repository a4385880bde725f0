#!/usr/bin/env python3
"""Checks that a file holds only JSON Lines, each valid against the schema.
   json_lines_check.py SCHEMA FILE EXPECTED_LINES"""
import json
import sys

import jsonschema

schema = json.load(open(sys.argv[1]))
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema)
lines = open(sys.argv[2], encoding="utf-8").read().splitlines()
if len(lines) != int(sys.argv[3]):
    sys.exit(f"FAIL: {len(lines)} lines, expected {sys.argv[3]}: {lines}")
for line in lines:
    errors = list(validator.iter_errors(json.loads(line)))
    if errors:
        sys.exit(f"FAIL: {line}\n" + "\n".join(e.message for e in errors))
