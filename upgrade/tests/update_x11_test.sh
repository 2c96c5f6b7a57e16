#!/usr/bin/env bash
# The real Update in a real X server: with stored settings that point at a closed
# loopback port, the server connection dialog "服务器连接参数配置" comes up; Esc in
# it brings exactly one message box, "服务器连接失败！" under the title "提示信息";
# the main form is never shown, and the program exits with status 0 once the box is
# confirmed. Runs in a network namespace of its own, with its own Xvfb, so it needs
# no display and reaches nothing but loopback.
#
# usage: update_x11_test.sh path/to/Update
# With UPDATE_X11_SCREENSHOT=file.png (and ImageMagick's import installed), the
# dialog is also saved as a picture.
set -euo pipefail

if [[ ${UPDATE_X11_TEST_INSIDE:-} != 1 ]]; then
  exec env UPDATE_X11_TEST_INSIDE=1 unshare --net "$0" "$@"
fi
ip link set lo up

here=$(cd "$(dirname "$0")" && pwd)
update=$(realpath "$1")
work=$(mktemp -d)
xvfb_pid=
update_pid=
cleanup() {
  [[ -n $update_pid ]] && kill "$update_pid" 2>/dev/null || true
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  [[ -f $work/update.log ]] && sed 's/^/  Update: /' "$work/update.log" >&2
  exit 1
}

# A copy of the program with its settings beside it; nothing listens on port 1.
cp "$update" "$work/Update"
printf '[ServerIP]\nServerIP1=127.0.0.1,1\n[ServerPass]\nServerPass1=\n[Dbname]\nDbname1=Kvb\n[ServerPort]\nServerPort1=1\n' \
  >"$work/System.ini"
cp "$work/System.ini" "$work/System.ini.before"

# Xvfb picks a free display and writes its number once it accepts clients.
coproc XVFB { exec Xvfb -displayfd 1 -nolisten tcp -screen 0 1024x768x24 2>"$work/xvfb.log"; }
xvfb_pid=$XVFB_PID
read -r -t 60 display <&"${XVFB[0]}" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$display"
export LC_ALL=C.UTF-8
unset WAYLAND_DISPLAY

# Under AddressSanitizer, strict string checks trip over Qt's X11 event thread,
# which passes strndup a buffer that is not NUL-terminated, and D-Bus leaks a read
# buffer; neither is this program's memory.
if [[ -n ${ASAN_OPTIONS:-} ]]; then
  export ASAN_OPTIONS="$ASAN_OPTIONS:strict_string_checks=0"
  export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$here/x11_lsan.supp"
fi

# Started from elsewhere: the settings are found beside the program, not in the
# working directory.
(cd / && QT_QPA_PLATFORM=xcb exec "$work/Update" >"$work/update.log" 2>&1) &
update_pid=$!

# Waits for a visible window whose title matches $1 and puts its id in $found;
# fails if the program ends first.
found=
await_window() {
  timeout 60 xdotool search --sync --onlyvisible --limit 1 --name "$1" >"$work/found" &
  local search_pid=$! first
  wait -n -p first "$search_pid" "$update_pid" || true
  if [[ $first == "$update_pid" ]]; then
    kill "$search_pid" 2>/dev/null || true
    update_pid=
    fail "Update ended while waiting for a window titled $1"
  fi
  wait "$search_pid" || fail "no window titled $1 appeared"
  found=$(cat "$work/found")
}
visible() { xdotool search --onlyvisible --name "$1" | wc -l; }

# The stored settings do not connect, so the dialog comes, and nothing else.
await_window '^服务器连接参数配置$'
dialog=$found
[[ $(visible '^提示信息$') -eq 0 ]] || fail "a message box came with the dialog"
[[ $(visible '^系统提示$') -eq 0 ]] || fail "the dialog reported a connection error by itself"
if grep -q 'background picture' "$work/update.log"; then
  fail "the dialog's JPEG background was not decoded"
fi
if [[ -n ${UPDATE_X11_SCREENSHOT:-} ]]; then
  import -window "$dialog" "$UPDATE_X11_SCREENSHOT"
fi

# Esc ends the program without trying to connect: exactly one box follows.
xdotool windowfocus --sync "$dialog"
xdotool key --clearmodifiers Escape
await_window '^提示信息$'
box=$found
boxes=$(visible '^提示信息$')
[[ $boxes -eq 1 ]] || fail "expected one message box, found $boxes"
[[ $(visible '^系统提示$') -eq 0 ]] || fail "Esc tried to connect"
[[ $(visible '^服务器连接参数配置$') -eq 0 ]] || fail "the dialog stayed open behind the box"
if xdotool search --onlyvisible --name '升级程序' >/dev/null; then
  fail "the main form became visible"
fi
# Qt draws the text itself, so the window shows it only as pixels; the text is
# checked by the offscreen tests. Here: the box is Qt's message box under the run's
# title, and with no connection the run has no other message to give.
xdotool windowfocus --sync "$box"
xdotool key --clearmodifiers Return

status=0
timeout 60 tail --pid="$update_pid" -f /dev/null || fail "Update did not end after the box"
wait "$update_pid" || status=$?
update_pid=
[[ $status -eq 0 ]] || fail "Update exited with status $status"
cmp -s "$work/System.ini" "$work/System.ini.before" || fail "System.ini was changed"
echo "ok: the dialog, Esc, one message box 提示信息, exit status 0"
