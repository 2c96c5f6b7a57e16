#!/usr/bin/env bash
# The real Update in a real X server: with stored settings that point at a closed
# loopback port, the server connection dialog "服务器连接参数配置" comes up; Esc in
# it brings exactly one message box, "服务器连接失败！" under the title "提示信息";
# the main form is never shown, and the program exits with status 0 once the box is
# confirmed. Runs in network and PID namespaces of its own, with its own Xvfb, so it
# needs no display, reaches nothing but loopback and sees no other test's program.
#
# usage: update_x11_test.sh path/to/Update
# With UPDATE_X11_SCREENSHOT=file.png (and ImageMagick's import installed), the
# dialog is also saved as a picture.
set -euo pipefail

source "$(dirname "$0")/x11_session.sh"
begin_session "$0" "$@"

# A copy of the program with its settings beside it; nothing listens on port 1.
write_settings 127.0.0.1,1 "" Kvb 1
cp "$work/System.ini" "$work/System.ini.before"
start_x
sanitizer_options_for_qt
start_update "$1"

# The stored settings do not connect, so the dialog comes, and nothing else.
await_window '^服务器连接参数配置$'
dialog=$found
[[ $(visible '^提示信息$') -eq 0 ]] || fail "a message box came with the dialog"
[[ $(visible '^系统提示$') -eq 0 ]] || fail "the dialog reported a connection error by itself"
if grep -q 'background picture' "$work/update.out"; then
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
# Qt draws the text itself, so the window shows it only as pixels; the run log
# beside System.ini carries it, with the driver's reason for the failed start.
confirm "$box"
await_exit
grep -q 'message: 服务器连接失败！$' "$work/Update.log" || fail "the log lacks the closing message"
grep -q 'start-up: connect to server "127.0.0.1,1", database "Kvb" as sa: failed: .' \
  "$work/Update.log" || fail "the log lacks the failed start-up connection"
cmp -s "$work/System.ini" "$work/System.ini.before" || fail "System.ini was changed"
echo "ok: the dialog, Esc, one message box 提示信息, exit status 0"
