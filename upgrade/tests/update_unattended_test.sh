#!/usr/bin/env bash
# The real Update with --unattended where there is no display at all: with stored
# settings that point at a closed loopback port it shows nothing, prints
# "服务器连接失败！" on standard output and exits with the connection-failure status
# 2, leaving System.ini alone. Qt is told to use X11, so a toolkit made by mistake
# would fail for want of a display. Runs in network and PID namespaces of its own.
#
# usage: update_unattended_test.sh path/to/Update
set -euo pipefail

source "$(dirname "$0")/own_namespaces.sh"
enter_own_namespaces "$0" "$@"

update=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  sed 's/^/  Update stderr: /' "$work/stderr" >&2 || true
  exit 1
}

cp "$update" "$work/Update"
printf '[ServerIP]\nServerIP1=127.0.0.1,1\n[ServerPort]\nServerPort1=1\n' >"$work/System.ini"
cp "$work/System.ini" "$work/System.ini.before"

status=0
(cd / && exec env -u DISPLAY -u WAYLAND_DISPLAY -u XAUTHORITY QT_QPA_PLATFORM=xcb \
  timeout 60 "$work/Update" --unattended >"$work/stdout" 2>"$work/stderr") || status=$?
[[ $status -eq 2 ]] || fail "exit status $status, not 2"
printf '服务器连接失败！\n' | cmp -s - "$work/stdout" || fail "stdout was: $(cat "$work/stdout")"
cmp -s "$work/System.ini" "$work/System.ini.before" || fail "System.ini was changed"
echo "ok: no display, connection-failure status 2 and its message on stdout"
