"""Checks the real output of `quorvane-cli list --json`, `why --json` and `fix --json` against the
JSON Schemas that docs/cli-json.md describes: `list` on a registry whose hives hold every kind of
finding (a number, a text, a value that cannot be read, and nothing), `why` on a Wine prefix with
something of every source and a note, `fix` on that prefix as a dry run and for real (every kind
of change, and what it leaves), and `list` and `why` on a Windows installation (--windows), for
one user and for every user. A second, strict reading of each schema allows no key it does not
name, so that a key added to the program but not to the document fails too; and every key a
schema names must be in the document's tables.

usage: cli_json_test.py QUORVANE_CLI LIST_SCHEMA DOCUMENT WHY_SCHEMA FIX_SCHEMA
                        MAKE_FAKE_INSTALLATION
Exits 77 (skipped) when python3-jsonschema is not installed."""
import copy
import json
import os
import re
import struct
import subprocess
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


RUN_KEY = "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Run] 1700000000\n"
RESTRICTIONS_KEY = "Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions"
# Restriction 4 in force in the per-user hive; a Run entry sets it again and another runs a
# program; a domain's policy object; a policy file, a task and a Startup script are in the prefix,
# and a pipe where the machine's policy file belongs.
WHY_USER_HIVE = HEADER.format(root="\\\\User\\\\S-1-5-21-0-0-0-1000") + (
    "[Software\\\\Policies\\\\Microsoft\\\\Internet Explorer\\\\Restrictions] 1700000000\n"
    "\"NoBrowserClose\"=dword:00000001\n\n" + RUN_KEY +
    "\"Relock\"=\"reg add \\\"HKCU\\\\" + RESTRICTIONS_KEY.replace("\\", "\\\\") +
    "\\\" /v NoBrowserClose /t REG_DWORD /d 1 /f\"\n"
    "\"Tray\"=\"C:\\\\tray.exe\"\n\n")
WHY_MACHINE_HIVE = HEADER.format(root="\\\\Machine") + (
    "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Group Policy\\\\History"
    "\\\\{35378EAC}\\\\0] 1700000000\n"
    "\"Link\"=\"LDAP://CN=Policies,DC=corp,DC=example\"\n\"DisplayName\"=\"Domain\"\n\n")
TASK = ("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Task version=\"1.2\"><Actions><Exec>"
        "<Command>reg</Command><Arguments>add \"HKCU\\" + RESTRICTIONS_KEY +
        "\" /v NoPrinting /d 1 /f</Arguments></Exec>"
        "</Actions></Task>")


def policy_file(key, value, number):
    """A Registry.pol that sets `value` of `key` to the DWORD `number`."""
    def text(s):
        return (s + "\0").encode("utf-16-le")
    record = ("[".encode("utf-16-le") + text(key) + ";".encode("utf-16-le") + text(value) +
              ";".encode("utf-16-le") + struct.pack("<I", 4) + ";".encode("utf-16-le") +
              struct.pack("<I", 4) + ";".encode("utf-16-le") + struct.pack("<I", number) +
              "]".encode("utf-16-le"))
    return b"PReg" + struct.pack("<I", 1) + record


def write_prefix(prefix):
    for name, hive in (("user.reg", WHY_USER_HIVE), ("system.reg", WHY_MACHINE_HIVE)):
        with open(os.path.join(prefix, name), "w", encoding="utf-8") as f:
            f.write(hive)
    system32 = os.path.join(prefix, "drive_c", "windows", "system32")
    startup = os.path.join(prefix, "drive_c", "users", "a", "AppData", "Roaming", "Microsoft",
                           "Windows", "Start Menu", "Programs", "Startup")
    for folder in (os.path.join(system32, "GroupPolicy", "User"), os.path.join(system32, "Tasks"),
                   startup):
        os.makedirs(folder)
    with open(os.path.join(system32, "GroupPolicy", "User", "Registry.pol"), "wb") as f:
        f.write(policy_file(RESTRICTIONS_KEY, "NoViewSource", 1))
    with open(os.path.join(system32, "Tasks", "Relock"), "wb") as f:
        f.write(TASK.encode("utf-16"))
    os.makedirs(os.path.join(system32, "GroupPolicy", "Machine"))
    os.mkfifo(os.path.join(system32, "GroupPolicy", "Machine", "Registry.pol"))
    with open(os.path.join(startup, "x.bat"), "w") as f:
        f.write("@echo off\r\nreg add \"HKCU\\" + RESTRICTIONS_KEY +
                "\" /v NoFavorites /d 1 /f\r\n")


def cli_json(cli, codes, option, place, *arguments):
    """What the CLI prints with --json for the prefix or installation at `place`: no settings
    file, its undo entries kept beside it."""
    result = subprocess.run([cli, option, place, *arguments, "--json"], capture_output=True,
                            timeout=60, env=dict(os.environ, QUORVANE_CONFIG=os.devnull,
                                                 XDG_STATE_HOME=os.path.join(place, "state")))
    if result.returncode not in codes:
        raise AssertionError(f"{arguments} exited {result.returncode}: {result.stderr}")
    return json.loads(result.stdout.decode("utf-8"))


def strict(schema):
    """The schema with "additionalProperties": false on every object it describes."""
    schema = copy.deepcopy(schema)
    for definition in [schema] + list(schema["$defs"].values()):
        for variant in [definition] + definition.get("oneOf", []):
            if "properties" in variant:
                variant["additionalProperties"] = False
    return schema


def validate(schema, output, label):
    failures = []
    for name, variant in (("schema", schema), ("strict schema", strict(schema))):
        validator = jsonschema.Draft202012Validator(variant)
        failures += [f"{label} {name}: {'/'.join(map(str, error.absolute_path))}: {error.message}"
                     for error in validator.iter_errors(output)]
    return failures


def documented_keys(document):
    """The keys in the first column of the document's tables."""
    return set(re.findall(r"^\| `(\w+)` \|", document, re.MULTILINE))


def schema_keys(schema):
    keys = set(schema.get("properties", {}))
    for definition in schema["$defs"].values():
        for variant in [definition] + definition.get("oneOf", []):
            keys |= set(variant.get("properties", {}))
    return keys


def check_why(cli, schema, document):
    with tempfile.TemporaryDirectory() as prefix:
        write_prefix(prefix)
        output = cli_json(cli, (4,), "--registry", prefix, "why")
    failures = validate(schema, output, "why")
    sources = {finding["source"] for finding in output["returning"]}
    wanted = {"policy file", "domain policy", "startup key", "startup folder", "scheduled task"}
    if sources != wanted:
        failures.append(f"why: the test prefix did not give every source: {sources}")
    if [item["item"] for item in output["otherStartupItems"]] != ["Tray"]:
        failures.append(f"why: other startup items: {output['otherStartupItems']}")
    if not any("Machine/Registry.pol is not a regular file" in note for note in output["notes"]):
        failures.append(f"why: no note for the pipe named as a policy file: {output['notes']}")
    states = output["restrictions"]
    if [(s["number"], s["localMachine"]) for s in states] != [(4, None)] or \
            states[0]["currentUser"] != {"type": 4, "value": "1"}:
        failures.append(f"why: restriction states: {states}")
    undocumented = schema_keys(schema) - documented_keys(document)
    if undocumented:
        failures.append(f"why: keys in the schema but not in the document: {undocumented}")
    return failures


def check_fix(cli, schema, document):
    """A dry run, then the fix itself, on the prefix of check_why with a task fix can disable."""
    failures = []
    with tempfile.TemporaryDirectory() as prefix:
        write_prefix(prefix)
        task = TASK.replace("</Task>", "<Settings><Enabled>true</Enabled></Settings></Task>")
        with open(os.path.join(prefix, "drive_c", "windows", "system32", "Tasks", "Relock"),
                  "wb") as f:
            f.write(task.encode("utf-16"))
        # The domain's policy is left as it is: something always comes back (status 3).
        dry = cli_json(cli, (3,), "--registry", prefix, "fix", "--dry-run")
        done = cli_json(cli, (3,), "--registry", prefix, "fix")
    failures += validate(schema, dry, "fix --dry-run") + validate(schema, done, "fix")
    kinds = {change.get("kind") for change in done.get("changes", [])}
    wanted = {"policy records", "startup value", "startup item", "scheduled task", "left"}
    if kinds != wanted or dry.get("changes") != done.get("changes"):
        failures.append(f"fix: changes of kinds {kinds}, the dry run's the same: "
                        f"{dry.get('changes') == done.get('changes')}")
    if [(item.get("action"), item.get("item")) for item in done.get("notDone", [])] != \
            [("leave", "Domain")]:
        failures.append(f"fix: not done: {done.get('notDone')}")
    undocumented = schema_keys(schema) - documented_keys(document)
    if undocumented:
        failures.append(f"fix: keys in the schema but not in the document: {undocumented}")
    return failures


def check_offline(cli, make_installation, schema, why_schema, fix_schema):
    """list and why on the fake installation: ann, and every user (ann and the default
    profile); fix for ann, after impose, which the fix lifts again (the copies of the hives it
    keeps are named on standard error)."""
    failures = []
    with tempfile.TemporaryDirectory() as root:
        subprocess.run([make_installation, root], check=True)
        root = os.path.realpath(root)
        one = cli_json(cli, (0, 4), "--windows", root, "--user", "ann", "list")
        every = cli_json(cli, (0, 4), "--windows", root, "--user", "all", "list")
        failures += validate(schema, one, "list --windows") + validate(schema, every,
                                                                       "list --user all")
        if {(row["installation"], row["user"]) for row in one} != {(root, "Ann")}:
            failures.append(f"list --windows does not name the installation and user: {one[0]}")
        if [row["user"] for row in every[::24]] != ["Ann", "default"] or len(every) != 48:
            failures.append(f"list --user all: {len(every)} rows, users {every[::24]}")
        why = cli_json(cli, (0, 4), "--windows", root, "--user", "all", "why")
        failures += validate(why_schema, why, "why --user all")
        if not isinstance(why, list) or len(why) != 2:
            failures.append(f"why --user all is no array of two reports: {why}")
        ann = cli_json(cli, (0, 4), "--windows", root, "--user", "ann", "why")
        failures += validate(why_schema, ann, "why --windows")
        subprocess.run([cli, "--windows", root, "--user", "ann", "impose", "4"], check=True,
                       capture_output=True, env=dict(os.environ, QUORVANE_CONFIG=os.devnull,
                                                     XDG_STATE_HOME=os.path.join(root, "state")))
        fixed = cli_json(cli, (0, 4), "--windows", root, "--user", "ann", "fix")
        failures += validate(fix_schema, fixed, "fix --windows")
        if fixed.get("lift") != [4]:
            failures.append(f"fix --windows does not lift restriction 4: {fixed}")
    return failures


def main(cli, schema_file, document_file, why_schema_file, fix_schema_file, make_installation):
    global jsonschema
    try:
        import jsonschema
    except ImportError:
        print("SKIP: the JSON Schema validator is missing (Debian package python3-jsonschema)")
        return 77
    with open(schema_file) as f:
        schema = json.load(f)
    with open(why_schema_file) as f:
        why_schema = json.load(f)
    with open(fix_schema_file) as f:
        fix_schema = json.load(f)
    with open(document_file) as f:
        document = f.read()
    jsonschema.Draft202012Validator.check_schema(schema)
    jsonschema.Draft202012Validator.check_schema(why_schema)
    jsonschema.Draft202012Validator.check_schema(fix_schema)

    with tempfile.TemporaryDirectory() as registry:
        for name, hive in (("user.reg", USER_HIVE), ("system.reg", MACHINE_HIVE)):
            with open(os.path.join(registry, name), "w", encoding="utf-8") as f:
                f.write(hive)
        output = cli_help.list_json(cli, registry)

    failures = validate(schema, output, "list")
    findings = {hive["found"] for row in output for hive in (row["currentUser"],
                                                              row["localMachine"])}
    if findings != {"absent", "unreadable", "number", "text"}:
        failures.append(f"the test registry did not give every kind of finding: {findings}")
    if [row["number"] for row in output] != list(range(1, 25)):
        failures.append("the rows are not restrictions 1 to 24 in order")
    elif output[23]["localMachine"] != {"found": "text", "value": 'Quorvane "test"'}:
        failures.append(f"restriction 24 in the machine hive: {output[23]['localMachine']}")
    elif [output[0]["currentUser"], output[9]["currentUser"]] != [{"found": "absent"},
                                                                   {"found": "unreadable"}]:
        failures.append("restriction 1 in the user hive is not absent, or 10 not unreadable")
    elif not output[3]["inForce"] or output[6]["position"] != 9:
        failures.append("restriction 4 is not in force, or 7 does not sit 9th (on tab two)")
    undocumented = schema_keys(schema) - documented_keys(document)
    if undocumented:
        failures.append(f"keys in the schema but not in {document_file}: {undocumented}")

    failures += check_why(cli, why_schema, document)
    failures += check_fix(cli, fix_schema, document)
    failures += check_offline(cli, make_installation, schema, why_schema, fix_schema)
    return cli_help.reported(failures)


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
