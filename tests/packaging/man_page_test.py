"""The manual pages render without a warning, have the sections a manual page is read for, and
quorvane-cli(1) names the same commands and options as `quorvane-cli --help` and the same
restrictions as the program's catalogue.

usage: man_page_test.py QUORVANE_CLI PAGE_DIR"""
import os
import re
import subprocess
import sys

import cli_help

SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "EXIT STATUS", "ENVIRONMENT", "FILES",
            "EXAMPLES", "SEE ALSO"]


def render(page):
    environment = dict(os.environ, LC_ALL="C", MANWIDTH="200")
    result = subprocess.run(["man", "--warnings", "-l", page], capture_output=True, text=True,
                            env=environment, check=True)
    if result.stderr:
        raise AssertionError(f"{page} renders with warnings:\n{result.stderr}")
    return result.stdout


def sections(text):
    """Section heading -> its lines."""
    found = {}
    current = None
    for line in text.splitlines():
        if re.fullmatch(r"[A-Z][A-Z ]+", line):
            current = found.setdefault(line, [])
        elif current is not None:
            current.append(line)
    return found


def terms(lines):
    """The terms of a list of definitions: lines at the section's indentation whose next line is
    indented deeper (their definition)."""
    def indent(line):
        return len(line) - len(line.lstrip())

    return [line.strip() for line, following in zip(lines, lines[1:])
            if line.strip() and following.strip() and indent(following) > indent(line)]


def main(cli, page_dir):
    failures = []
    pages = {name: render(os.path.join(page_dir, name + ".1.gz"))
             for name in ("quorvane", "quorvane-cli")}
    for name, text in pages.items():
        missing = [s for s in SECTIONS if s not in sections(text)]
        if missing:
            failures.append(f"{name}(1) lacks the sections {missing}")
        whatis = subprocess.run(["lexgrog", os.path.join(page_dir, name + ".1.gz")],
                                capture_output=True, text=True)
        if whatis.returncode != 0:
            failures.append(f"{name}(1) has no whatis entry: {whatis.stdout}{whatis.stderr}")

    man = sections(pages["quorvane-cli"])
    help_text = cli_help.help_text(cli)
    man_commands = {term.split()[0] for term in terms(man.get("COMMANDS", []))}
    man_options = set().union(*map(cli_help.option_names, terms(man.get("OPTIONS", []))))
    for what, in_help, in_man in (("commands", cli_help.commands(help_text), man_commands),
                                  ("options", cli_help.options(help_text), man_options)):
        if not in_help:
            failures.append(f"--help lists no {what}:\n{help_text}")
        if in_help - in_man:
            failures.append(f"{what} in --help but not in the manual page: {in_help - in_man}")
        if in_man - in_help:
            failures.append(f"{what} in the manual page but not in --help: {in_man - in_help}")

    table = "\n".join(man.get("RESTRICTIONS", []))
    for number, value_name in [(row["number"], row["valueName"]) for row in cli_help.list_json(cli)]:
        if not re.search(rf"^\s*{number}\s+{re.escape(value_name)}\s", table, re.MULTILINE):
            failures.append(f"the RESTRICTIONS table has no row {number} {value_name}")

    return cli_help.reported(failures)


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
