#!/usr/bin/env bash
# The real Update where there is no display at all, in network and PID namespaces
# of its own. Qt is told to use X11, so a toolkit made by mistake finds no display.
# - With --unattended and stored settings that point at a closed loopback port it
#   shows nothing, prints "服务器连接失败！" on standard output and exits with the
#   connection-failure status 2, leaving System.ini alone.
# - Against the pretend SQL Server, with standard output a pipe nobody reads any
#   more (update --unattended | true), the run still upgrades and exits 0.
# - Without the switch (a typo) it says on stderr and in the log that there is no
#   display, and exits 1 instead of aborting.
#
# usage: update_unattended_test.sh path/to/Update path/to/tds-peer
set -euo pipefail

source "$(dirname "$0")/x11_session.sh"
begin_session "$0" "$@"
peer=$2
cp "$1" "$work/Update"

# Runs the copy with the given arguments and no display; leaves the status in $status.
run_without_display() {
  status=0
  (cd / && exec env -u DISPLAY -u WAYLAND_DISPLAY -u XAUTHORITY QT_QPA_PLATFORM=xcb \
    timeout 60 "$work/Update" "$@" >"$work/stdout" 2>"$work/update.out") || status=$?
}

write_settings 127.0.0.1,1 "" Kvb 1
cp "$work/System.ini" "$work/System.ini.before"
run_without_display --UNATTENDED
[[ $status -eq 2 ]] || fail "exit status $status, not 2"
printf '服务器连接失败！\n' | cmp -s - "$work/stdout" || fail "stdout was: $(cat "$work/stdout")"
cmp -s "$work/System.ini" "$work/System.ini.before" || fail "System.ini was changed"
echo "ok: no display, connection-failure status 2 and its message on stdout"

run_without_display --unatended
[[ $status -eq 1 ]] || fail "a mistyped switch without a display: status $status, not 1"
grep -q 'Update --unattended' "$work/update.out" || fail "stderr does not say how to run without a display"
grep -q ' no display: nothing was done' "$work/Update.log" || fail "the log does not say why nothing was done"
cmp -s "$work/System.ini" "$work/System.ini.before" || fail "System.ini was changed"
echo "ok: no display and no switch, status 1 and the reason on stderr and in the log"

start_peer "$peer" --lifetime 120
write_settings "127.0.0.1,$peer_port" secret-pw Kvb "$peer_port"
status=$(cd / && env -u DISPLAY QT_QPA_PLATFORM=xcb python3 -c '
import os, subprocess, sys
read, write = os.pipe()
os.close(read)  # the reader is gone before the program writes a byte
print(subprocess.call(sys.argv[1:], stdout=write, stderr=subprocess.DEVNULL, timeout=60))
' "$work/Update" --unattended)
[[ $status -eq 0 ]] || fail "with its output closed the run exited $status, not 0"
[[ $(peer_version) == 1.0.0.0.31 ]] || fail "the peer was not upgraded"
stop_peer
[[ $(tail -n 1 "$work/Update.log") == *" message: 升级成功！" ]] || fail "the run did not end 升级成功！"
echo "ok: update --unattended | true keeps status 0"
