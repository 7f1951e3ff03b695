"""Drives the bash completion of quorvane-cli as bash does: COMP_WORDS, COMP_CWORD, COMP_LINE
and COMP_POINT set for a command line typed so far, the completion function called, COMPREPLY
read. What it offers is checked against the program itself: the commands and options of
`--help`, the restrictions of `list --json`.

usage: completion_test.py QUORVANE_CLI COMPLETION_FILE
Exits 77 (skipped) when bash-completion, whose helpers the completion uses, is not installed."""
import os
import subprocess
import sys
import tempfile

import cli_help

BASH_COMPLETION = "/usr/share/bash-completion/bash_completion"

DRIVER = r"""
source "$BASH_COMPLETION" || exit 1
source "$COMPLETION" || exit 1
read -ra COMP_WORDS <<<"$LINE"
[[ $LINE == *" " ]] && COMP_WORDS+=("")
COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
COMP_LINE=$LINE
COMP_POINT=${#LINE}
$(complete -p quorvane-cli | sed 's/.*-F \([^ ]*\) .*/\1/') quorvane-cli
printf '%s\n' "${COMPREPLY[@]}"
"""


def complete(completion_file, directory, line):
    """The offers for the command line `line`, completing its last word."""
    environment = dict(os.environ, BASH_COMPLETION=BASH_COMPLETION, COMPLETION=completion_file,
                       LINE=line)
    result = subprocess.run(["bash", "--norc", "--noprofile", "-c", DRIVER], capture_output=True,
                            text=True, env=environment, cwd=directory)
    if result.returncode != 0:
        raise AssertionError(f"completing {line!r} failed:\n{result.stderr}")
    return sorted(offer for offer in result.stdout.split("\n") if offer)


def escaped(value_name):
    return value_name.replace(" ", "\\ ")


def main(cli, completion_file):
    if not os.path.exists(BASH_COMPLETION):
        print(f"SKIP: {BASH_COMPLETION} is missing (Debian package bash-completion)")
        return 77
    help_text = cli_help.help_text(cli)
    rows = cli_help.list_json(cli)
    def offers(numbers):
        return sorted(word for row in rows if row["number"] in numbers
                      for word in (str(row["number"]), escaped(row["valueName"])))
    lift = offers(range(1, 25))
    impose = offers(range(1, 24))
    title = escaped(rows[23]["valueName"])

    with tempfile.TemporaryDirectory() as directory:
        os.mkdir(os.path.join(directory, "prefix"))
        open(os.path.join(directory, "notes.txt"), "w").close()
        # An installation's profile folders as a Linux mount shows them: any letter case, and
        # one without a hive.
        for home, hive in (("Ann", "NTUSER.DAT"), ("default", "ntuser.dat"), ("Public", None)):
            os.makedirs(os.path.join(directory, "prefix", "win", "users", home))
            if hive:
                open(os.path.join(directory, "prefix", "win", "users", home, hive), "w").close()
        cases = [
            # what was typed, what must be offered
            ("quorvane-cli ", sorted(cli_help.commands(help_text))),
            ("quorvane-cli -", sorted(cli_help.options(help_text))),
            ("quorvane-cli --registry prefix list --j", ["--json"]),
            ("quorvane-cli impose --j", []),
            ("quorvane-cli lift ", lift),
            ("quorvane-cli --registry prefix impose ", impose),
            ("quorvane-cli impose 4 ", impose),
            ("quorvane-cli lift 2", ["2", "20", "21", "22", "23", "24"]),
            ("quorvane-cli lift nobrowsercl", ["NoBrowserClose"]),
            ("quorvane-cli lift NOVIEW", ["NoViewSource"]),
            ("quorvane-cli lift " + title[:4], [title]),
            ("quorvane-cli impose " + title[:4], []),
            ("quorvane-cli remove-all ", []),
            ("quorvane-cli fix nobrowsercl", ["NoBrowserClose"]),
            ("quorvane-cli fix --d", ["--dry-run"]),
            ("quorvane-cli lift --d", []),
            ("quorvane-cli --registry ", ["prefix"]),
            ("quorvane-cli --registry=p", ["prefix"]),
            ("quorvane-cli list --json=", []),
            ("quorvane-cli --windows ", ["prefix"]),
            ("quorvane-cli --windows prefix/win --user ", ["Ann", "all", "default"]),
            ("quorvane-cli --windows=prefix/win --user a", ["Ann", "all"]),
            ("quorvane-cli --windows prefix/win --user ann ",
             sorted(cli_help.commands(help_text))),
            ("quorvane-cli --windows prefix/win --user ann lift 2",
             ["2", "20", "21", "22", "23", "24"]),
        ]
        failures = [f"{line!r}\n  expected {expected}\n  got      {got}"
                    for line, expected in cases
                    if (got := complete(completion_file, directory, line)) != expected]
    print(f"{len(cases) - len(failures)} passed, {len(failures)} failed")
    return cli_help.reported(failures)


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
