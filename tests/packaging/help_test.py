"""`--help` (and `-h`) after every command that `quorvane-cli --help` lists prints that same help
and exits 0, without reading any registry.

usage: help_test.py QUORVANE_CLI"""
import os
import subprocess
import sys

import cli_help


def main(cli):
    overall = cli_help.help_text(cli)
    failures = []
    commands = sorted(cli_help.commands(overall))
    if len(commands) < 8:
        failures.append(f"the help lists too few commands: {commands}")
    for command in commands:
        for option in ("--help", "-h"):
            result = subprocess.run([cli, "--registry", "/nonexistent", command, option],
                                    capture_output=True, text=True,
                                    env=dict(os.environ, QUORVANE_CONFIG=os.devnull))
            if result.returncode != 0 or result.stdout != overall:
                failures.append(f"{command} {option}: exit {result.returncode}, "
                                f"{result.stderr.strip() or 'other output'}")
    return cli_help.reported(failures)


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
