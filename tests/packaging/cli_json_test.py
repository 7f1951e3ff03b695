"""Checks the real output of `quorvane-cli list --json` against the JSON Schema that
docs/cli-json.md describes, on a registry whose hives hold every kind of finding: a number, a
text, a value that cannot be read, and nothing. A second, strict reading of the same schema
allows no key it does not name, so that a key added to the program but not to the document
fails too; and every key the schema names must be in the document's tables.

usage: cli_json_test.py QUORVANE_CLI SCHEMA DOCUMENT
Exits 77 (skipped) when python3-jsonschema is not installed."""
import copy
import json
import os
import re
import sys
import tempfile

import cli_help

HEADER = "WINE REGISTRY Version 2\n;; All keys relative to {root}\n\n#arch=win64\n\n"

# Restriction 4 imposed in the per-user hive only; restriction 9 (NoFileNew) holds a text where
# a number belongs; restriction 10 (NoFileOpen) an 8-byte number, which cannot be read as a
# 4-byte one; restriction 24 (the window title) holds a text in the machine hive.
USER_HIVE = HEADER.format(root="\\\\User\\\\S-1-5-21-0-0-0-1000") + (
    "[Software\\\\Policies\\\\Microsoft\\\\Internet Explorer\\\\Restrictions] 1700000000\n"
    "\"NoBrowserClose\"=dword:00000001\n"
    "\"NoFileNew\"=\"yes\"\n"
    "\"NoFileOpen\"=hex(b):01,00,00,00,00,00,00,00\n\n")
MACHINE_HIVE = HEADER.format(root="\\\\Machine") + (
    "[Software\\\\Microsoft\\\\Internet Explorer\\\\Main] 1700000000\n"
    "\"Window Title\"=\"Quorvane \\\"test\\\"\"\n\n")


def strict(schema):
    """The schema with "additionalProperties": false on every object it describes."""
    schema = copy.deepcopy(schema)
    for definition in schema["$defs"].values():
        definition["additionalProperties"] = False
    return schema


def documented_keys(document):
    """The keys in the first column of the document's tables."""
    return set(re.findall(r"^\| `(\w+)` \|", document, re.MULTILINE))


def schema_keys(schema):
    return {key for definition in schema["$defs"].values() for key in definition["properties"]}


def main(cli, schema_file, document_file):
    try:
        import jsonschema
    except ImportError:
        print("SKIP: the JSON Schema validator is missing (Debian package python3-jsonschema)")
        return 77
    with open(schema_file) as f:
        schema = json.load(f)
    with open(document_file) as f:
        document = f.read()
    jsonschema.Draft202012Validator.check_schema(schema)

    with tempfile.TemporaryDirectory() as registry:
        for name, hive in (("user.reg", USER_HIVE), ("system.reg", MACHINE_HIVE)):
            with open(os.path.join(registry, name), "w", encoding="utf-8") as f:
                f.write(hive)
        output = cli_help.list_json(cli, registry)

    failures = []
    for name, variant in (("schema", schema), ("strict schema", strict(schema))):
        validator = jsonschema.Draft202012Validator(variant)
        failures += [f"{name}: {'/'.join(map(str, error.absolute_path))}: {error.message}"
                     for error in validator.iter_errors(output)]
    findings = {hive["found"] for row in output for hive in (row["currentUser"],
                                                              row["localMachine"])}
    if findings != {"absent", "unreadable", "number", "text"}:
        failures.append(f"the test registry did not give every kind of finding: {findings}")
    if [row["number"] for row in output] != list(range(1, 25)):
        failures.append("the rows are not restrictions 1 to 24 in order")
    elif output[23]["localMachine"] != {"found": "text", "value": 'Quorvane "test"'}:
        failures.append(f"restriction 24 in the machine hive: {output[23]['localMachine']}")
    elif not output[3]["inForce"] or output[6]["position"] != 9:
        failures.append("restriction 4 is not in force, or 7 does not sit 9th (on tab two)")
    undocumented = schema_keys(schema) - documented_keys(document)
    if undocumented:
        failures.append(f"keys in the schema but not in {document_file}: {undocumented}")

    return cli_help.reported(failures)


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
