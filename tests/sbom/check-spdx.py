"""Validates an SPDX document that diag-host wrote against the SPDX 2.3 JSON schema.

Usage: check-spdx.py SCHEMA DOCUMENT; exits with 1 and the schema's complaints when it is not valid.
"""
import json
import sys

import jsonschema

with open(sys.argv[1], encoding="utf-8") as schema_file:
    schema = json.load(schema_file)
with open(sys.argv[2], encoding="utf-8") as document_file:
    document = json.load(document_file)
errors = list(jsonschema.Draft7Validator(schema).iter_errors(document))
for error in errors:
    print(f"{list(error.absolute_path)}: {error.message}", file=sys.stderr)
sys.exit(1 if errors else 0)
