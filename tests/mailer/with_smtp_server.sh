#!/bin/bash
# Runs a command beside Debian's aiosmtpd, listening on a free port of 127.0.0.1 and saving the
# messages it accepts (smtp_recorder.py) into a scratch directory; the command finds both in
# QUORVANE_SMTP_PORT and QUORVANE_SMTP_MAIL_DIR. For the Windows test under Wine: a Unix program
# that a Windows process starts is out of its reach (Wine hands back a process handle that does
# not follow it), so the server is started here instead.
# Usage: with_smtp_server.sh COMMAND [ARGS...]
set -u
here=$(cd "$(dirname "$0")" && pwd)
mail_dir=$(mktemp -d) || exit 1
port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
(cd "$mail_dir" && PYTHONPATH=$here exec /usr/bin/python3 -m aiosmtpd -n -l "127.0.0.1:$port" \
    -c smtp_recorder.Recorder) &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -rf -- "$mail_dir"' EXIT
QUORVANE_SMTP_PORT=$port QUORVANE_SMTP_MAIL_DIR=$mail_dir "$@"
