"""What quorvane-cli itself says: the commands and options `--help` names, and the rows of
`list --json`. The manual page, the shell completion and the JSON document are checked against
these, so a command, option or restriction added to the program but not to them (or the other
way round) fails a test."""
import json
import os
import re
import subprocess
import sys
import tempfile


def help_text(cli):
    return subprocess.run([cli, "--help"], capture_output=True, text=True, check=True).stdout


def _block(text, heading):
    """The lines below `heading` up to the next empty line."""
    lines = text.splitlines()
    start = lines.index(heading) + 1
    end = next((i for i in range(start, len(lines)) if not lines[i].strip()), len(lines))
    return lines[start:end]


def commands(text):
    """The first word of each entry of the "Commands:" list (continuation lines are indented
    deeper)."""
    return {line.split()[0] for line in _block(text, "Commands:") if re.match(r"  \S", line)}


def option_names(term):
    """"-h, --help" or "--registry <DIR>": the option names of one entry."""
    names = set()
    for alias in term.split(", "):
        word = alias.split()[0]
        if word.startswith("-"):
            names.add(word)
    return names


def options(text):
    names = set()
    for line in _block(text, "Options:"):
        if re.match(r"  -", line):
            names |= option_names(re.split(r"\s{2,}", line.strip())[0])
    return names


def list_json(cli, registry=None):
    """The rows of `list --json`, on `registry` or on an empty one."""
    with tempfile.TemporaryDirectory() as empty:
        result = subprocess.run([cli, "--registry", registry or empty, "list", "--json"],
                                capture_output=True,
                                env=dict(os.environ, QUORVANE_CONFIG=os.devnull))
    if result.returncode != 0:
        raise AssertionError(f"list --json failed ({result.returncode}): {result.stderr}")
    return json.loads(result.stdout.decode("utf-8"))


def reported(failures):
    """Prints each failure; the test's exit status."""
    for failure in failures:
        print("FAIL:", failure, file=sys.stderr)
    return 1 if failures else 0
