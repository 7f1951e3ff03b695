#!/bin/bash
# Runs a command beside Debian's aiosmtpd, listening on a free port of 127.0.0.1 and saving the
# messages it accepts (smtp_recorder.py) into a scratch directory; the command finds both in
# QUORVANE_SMTP_PORT and QUORVANE_SMTP_MAIL_DIR, and the server accepts connections before it
# starts. Outside the test the server is easy to start and stop, also for the Windows test under
# Wine, where a Unix program that a Windows process starts is out of its reach (Wine hands back a
# process handle that does not follow it).
# Usage: with_smtp_server.sh COMMAND [ARGS...]
set -u
here=$(cd "$(dirname "$0")" && pwd)
mail_dir=$(mktemp -d) || exit 1
port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
# Debian's interpreter, which has python3-aiosmtpd, whatever python3 comes first in PATH.
(cd "$mail_dir" && PYTHONPATH=$here exec /usr/bin/python3 -m aiosmtpd -n -l "127.0.0.1:$port" \
    -c smtp_recorder.Recorder) &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -rf -- "$mail_dir"' EXIT
until /usr/bin/python3 -c "import socket; socket.create_connection(('127.0.0.1', $port))" 2>/dev/null; do
    kill -0 "$server" 2>/dev/null || { echo "aiosmtpd ended before it listened" >&2; exit 1; }
    sleep 0.1
done
QUORVANE_SMTP_PORT=$port QUORVANE_SMTP_MAIL_DIR=$mail_dir "$@"
