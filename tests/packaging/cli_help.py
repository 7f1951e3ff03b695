"""What `quorvane-cli --help` names: its commands and its options. The manual page and the
shell completion are checked against these lists, so a command or option added to the program
but not to them (or the other way round) fails a test."""
import re
import subprocess


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
