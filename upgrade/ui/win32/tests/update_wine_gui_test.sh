#!/usr/bin/env bash
# The real Update.exe under Wine, on an X server of its own (Xvfb), driven with
# xdotool, in network and PID namespaces of its own: everything it reaches is on
# loopback. Wine, its wineserver included, starts inside them: the wineserver makes
# the program's sockets, so a server started outside would send from outside (the
# dialog's server listing broadcasts). A fresh Wine prefix with unmanaged windows
# (Wine draws the caption and gives the focus itself) and Tahoma linked to the CJK
# font for message boxes.
# ODBC goes through Wine's odbc32 to the host's 32-bit unixODBC and FreeTDS, with a
# driver registry and freetds.conf of the test's own.
#
# usage: update_wine_gui_test.sh --update Update.exe [--screenshot FILE.png]
#          [--tds-peer PATH --ladder-transcript PATH] CASE...
# CASE:
#   closed-port     the stored settings reach a closed port: the dialog comes; Esc
#                   brings exactly one "提示信息" box; Return ends the program with
#                   status 0; System.ini is unchanged
#   dialog-connect  the server typed into the dialog and F2: the driver reaches the
#                   typed address (a loopback listener that hangs up); the failure
#                   box "系统提示" comes, Return ends the program with status 0 and
#                   System.ini is unchanged
#   full-run        stored settings that reach the pretend SQL Server at 1.0.0.0.0:
#                   one box, status 0, the run log ends "升级成功！", the peer ends
#                   at 1.0.0.0.31 and received exactly ladder-transcript's
#                   operations (upgrade/tests/journal_matches_ladder.py)
#   dialog-peer     no System.ini: the peer's address and a Chinese database name
#                   typed into the dialog, F2: System.ini is written as a new file in
#                   code page 936, the ladder runs to "升级成功！" with the peer at
#                   1.0.0.0.31, status 0
#   status          /STATUS /json /settings FILE against the peer at 1.0.0.0.20: no
#                   window, status 4, the JSON object on stdout, the log beside FILE,
#                   and the peer saw only the version read and holds what it held
# These need host builds of tds-peer and ladder-transcript.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# Namespaces, Xvfb, and waiting for windows and for the program's end, as for the
# Linux program; the rest here is Wine's.
source "$here/../../../tests/x11_session.sh"
enter_own_namespaces "$0" "$@"

update= peer= transcript= screenshot=
cases=()
while [[ $# -gt 0 ]]; do
  case $1 in
    --update) update=$(realpath "$2"); shift 2 ;;
    --tds-peer) peer=$2; shift 2 ;;
    --ladder-transcript) transcript=$2; shift 2 ;;
    --screenshot) screenshot=$(realpath -m "$2"); shift 2 ;;
    *) cases+=("$1"); shift ;;
  esac
done
[[ -n $update && ${#cases[@]} -gt 0 ]] || { echo "usage: see the head of $0" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/update-wine-gui.XXXXXX")
update_pid= listener_pid= peer_pid=
export WINEPREFIX=$work/prefix WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
cleanup() {
  for pid in $update_pid $listener_pid $peer_pid; do kill "$pid" 2>/dev/null || true; done
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
current=
fail() {
  echo "FAIL${current:+ ($current)}: $*" >&2
  exit 1
}
for tool in wine wineserver Xvfb xdotool xmodmap python3; do
  command -v "$tool" >/dev/null || fail "$tool is missing; scripts/setup installs scripts/deps/windows.list"
done
[[ -e /usr/lib/i386-linux-gnu/odbc/libtdsodbc.so ]] ||
  fail "the 32-bit FreeTDS driver is missing (tdsodbc:i386, scripts/deps/windows.list)"

start_xvfb "$work/xvfb.log" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export LC_ALL=C.UTF-8
unset WAYLAND_DISPLAY

# The characters typed beyond ASCII get keycodes of their own before Wine starts.
# Left to itself, xdotool binds each such character to a spare keycode just before
# pressing it and takes the binding back after; Wine reads a keymap change after
# key events queued before it, so a keystroke could arrive under another binding:
# 测试库 came out as 测库 about once in eight runs. With the bindings in the keymap
# from the start, xdotool presses the keys as they are and the keymap never moves.
typed_beyond_ascii=(U6D4B U8BD5 U5E93) # 测 试 库
mapfile -t spare_keycodes < <(xmodmap -pke | awk 'NF == 3 { print $2 }')
((${#spare_keycodes[@]} >= ${#typed_beyond_ascii[@]})) || fail "Xvfb has no spare keycodes"
bindings=()
for i in "${!typed_beyond_ascii[@]}"; do
  bindings+=(-e "keycode ${spare_keycodes[i]} = ${typed_beyond_ascii[i]}")
done
xmodmap "${bindings[@]}" || fail "xmodmap could not bind the characters to type"

# The prefix is made with the display there, so that its server draws on it.
mkdir "$WINEPREFIX"
wine wineboot.exe --init >/dev/null 2>&1
wine reg.exe add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wine reg.exe add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
  /v Tahoma /t REG_MULTI_SZ /d 'wqy-zenhei.ttc,WenQuanYi Zen Hei' /f >/dev/null 2>&1
wine reg.exe add 'HKCU\Software\Wine\Fonts\Replacements' /v 宋体 /d 'WenQuanYi Zen Hei Sharp' \
  /f >/dev/null 2>&1
wineserver -w

# The driver registry: FreeTDS for 32 bits, and no freetds.conf of the machine's.
mkdir "$work/odbc"
printf '[FreeTDS]\nDescription = FreeTDS\nDriver = /usr/lib/i386-linux-gnu/odbc/libtdsodbc.so\n' \
  >"$work/odbc/odbcinst.ini"
: >"$work/odbc/odbc.ini"
printf '[global]\n' >"$work/odbc/freetds.conf"
export ODBCSYSINI=$work/odbc ODBCINI=$work/odbc/odbc.ini FREETDSCONF=$work/odbc/freetds.conf

settings() {  # server, port -> System.ini text
  printf '[ServerIP]\r\nServerIP1=%s\r\n[ServerPass]\r\nServerPass1=\r\n[Dbname]\r\nDbname1=Kvb\r\n[ServerPort]\r\nServerPort1=%s\r\n' "$1" "$2"
}

# A copy of the program in a directory of its own, started from elsewhere.
start_update() {
  app=$work/app-$current
  mkdir "$app"
  cp "$update" "$app/Update.exe"
  if [[ -n ${1:-} ]]; then
    printf '%s' "$1" >"$app/System.ini"
    cp "$app/System.ini" "$work/System.ini.before"
  fi
  (cd / && exec wine "$app/Update.exe" >"$work/update-$current.log" 2>&1) &
  update_pid=$!
}

# Line $2 of file $1 once it is there (bounded).
await_line() {
  local tries line
  for ((tries = 0; tries < 600; tries++)); do
    line=$(sed -n "$2p" "$1" 2>/dev/null)
    [[ -n $line ]] && { echo "$line"; return 0; }
    sleep 0.1
  done
  return 1
}

unchanged() {
  cmp -s "$app/System.ini" "$work/System.ini.before" || fail "System.ini was changed"
}

closed_port() {
  start_update "$(settings 127.0.0.1,1 1)"
  await_window '^服务器连接参数配置$'
  local dialog=$found
  [[ $(visible '^提示信息$') -eq 0 ]] || fail "a message box came with the dialog"
  [[ $(visible '^系统提示$') -eq 0 ]] || fail "the dialog reported a connection error by itself"
  if [[ -n $screenshot ]]; then
    command -v import >/dev/null || fail "ImageMagick's import is missing for the screenshot"
    import -window "$dialog" -frame "$screenshot"
  fi
  xdotool key Escape
  await_window '^提示信息$'
  [[ $(visible '^提示信息$') -eq 1 ]] || fail "expected exactly one message box"
  [[ $(visible '^服务器连接参数配置$') -eq 0 ]] || fail "the dialog stayed open behind the box"
  [[ $(visible '^系统提示$') -eq 0 ]] || fail "Esc tried to connect"
  xdotool key Return
  await_exit
  unchanged
}

dialog_connect() {
  # A listener that takes one connection, keeps its first bytes and hangs up.
  python3 -c '
import socket, sys
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(1)
print(s.getsockname()[1], flush=True)
c, _ = s.accept(); c.settimeout(30)
data = c.recv(8)
print(data.hex(), flush=True)
c.close()' >"$work/listener.out" 2>&1 &
  listener_pid=$!
  local port first
  port=$(await_line "$work/listener.out" 1) || fail "the listener did not start"
  start_update "$(settings 127.0.0.1,1 1)"
  await_window '^服务器连接参数配置$'
  # The server field has the focus with its text selected: typing replaces it.
  xdotool type --delay 20 "127.0.0.1,$port"
  xdotool key F2
  first=$(await_line "$work/listener.out" 2) || fail "nothing reached the address typed into the dialog"
  [[ $first == 12* ]] || fail "the driver sent $first, not a TDS pre-login"
  await_window '^系统提示$'
  xdotool key Return
  # The failed Connect ends every Update.exe, this one with status 0.
  await_exit
  unchanged
}

# The pretend SQL Server at $1 (default 1.0.0.0.0), keeping its journal; its port in $peer_port.
# It prints "port N" first, and at the end of its input the version it holds and
# its journal.
peer_port=
start_peer() {
  [[ -n $peer && -n $transcript ]] ||
    fail "needs host builds of the pretend SQL Server and the ladder: pass --tds-peer PATH --ladder-transcript PATH"
  [[ -x $peer ]] || fail "$peer is not an executable"
  [[ -x $transcript ]] || fail "$transcript is not an executable"
  rm -f "$work/peer.in"
  mkfifo "$work/peer.in"
  "$peer" --version "${1:-1.0.0.0.0}" --lifetime 240 --journal <"$work/peer.in" >"$work/peer.out" 2>"$work/peer.log" &
  peer_pid=$!
  exec {peer_input}>"$work/peer.in"
  local word
  read -r word peer_port < <(await_line "$work/peer.out" 1) ||
    fail "tds-peer did not start: $(cat "$work/peer.log")"
  [[ $word == port && -n $peer_port ]] || fail "tds-peer said: $word $peer_port"
}
# Ends the peer; it must have understood everything and hold 1.0.0.0.31 (or $1).
peer_ends_at_31() {
  local expected=${1:-1.0.0.0.31}
  exec {peer_input}>&-
  timeout 30 tail --pid="$peer_pid" -f /dev/null || fail "tds-peer did not end when its input closed"
  local status=0
  wait "$peer_pid" || status=$?
  peer_pid=
  [[ $status -eq 0 ]] || fail "tds-peer did not understand everything (status $status): $(cat "$work/peer.log")"
  grep -qxF "version $expected" "$work/peer.out" ||
    fail "the peer does not hold $expected: $(grep '^version' "$work/peer.out")"
}
# The run log beside the program ends with the closing message $1.
log_ends_with() {
  [[ -f $app/Update.log ]] || fail "no Update.log beside the program"
  [[ $(tail -n 1 "$app/Update.log") == *" message: $1" ]] ||
    fail "the run did not end \"$1\": $(tail -n 5 "$app/Update.log")"
}

full_run() {
  start_peer
  start_update "$(settings "127.0.0.1,$peer_port" "$peer_port")"
  await_window '^提示信息$'
  [[ $(visible '^提示信息$') -eq 1 ]] || fail "expected exactly one message box"
  [[ $(visible '^服务器连接参数配置$') -eq 0 ]] || fail "the dialog came although the settings connect"
  xdotool key Return
  await_exit
  log_ends_with 升级成功！
  peer_ends_at_31
  "$transcript" >"$work/transcript.jsonl" || fail "ladder-transcript failed"
  python3 "$here/../../../tests/journal_matches_ladder.py" "$work/peer.out" "$work/transcript.jsonl" ||
    fail "the peer's journal is not the ladder's operations"
}

dialog_peer() {
  start_peer
  # No System.ini: "." is tried, which nothing answers in this namespace.
  start_update ""
  await_window '^服务器连接参数配置$'
  # The server field has the focus; Enter walks to the database name, whose text
  # is selected: typing replaces both.
  xdotool type --delay 20 "127.0.0.1,$peer_port"
  xdotool key Return
  xdotool type --delay 20 测试库
  xdotool key F2
  await_window '^提示信息$'
  [[ -f $app/System.ini ]] || fail "Connect wrote no System.ini"
  # A new file is written in the Windows code page (936 here), with CR LF line
  # ends, as Windows' own profile functions write it.
  local dbname
  dbname=$(printf 'Dbname1=测试库\r' | iconv -f UTF-8 -t CP936)
  grep -qx $'ServerIP1=127.0.0.1,'"$peer_port"$'\r' "$app/System.ini" ||
    fail "System.ini does not hold the typed server: $(cat -A "$app/System.ini")"
  grep -qxF "$dbname" "$app/System.ini" ||
    fail "System.ini does not hold the database name in code page 936: $(cat -A "$app/System.ini")"
  xdotool key Return
  await_exit
  grep -qF "database \"测试库\" as sa: connected" "$app/Update.log" ||
    fail "the log does not show the typed database connected: $(cat "$app/Update.log")"
  log_ends_with 升级成功！
  peer_ends_at_31
}

status() {
  start_peer 1.0.0.0.20
  app=$work/app-$current
  mkdir "$app" "$work/venue"
  cp "$update" "$app/Update.exe"
  settings "127.0.0.1,$peer_port" "$peer_port" >"$work/venue/venue.ini"
  local code=0 file="Z:${work//\//\\}\\venue\\venue.ini"
  (cd / && exec timeout 120 wine "$app/Update.exe" /STATUS /json /settings "$file" \
    >"$work/status.out" 2>"$work/status.err") || code=$?
  [[ $code -eq 4 ]] || fail "exit status $code, not 4: $(cat "$work/status.out" "$work/status.err")"
  python3 -c '
import json, sys
o = json.load(open(sys.argv[1]))
assert (o["outcome"], o["version"], len(o["steps"])) == ("pending", "1.0.0.0.20", 11), o
' "$work/status.out" || fail "stdout was: $(cat "$work/status.out")"
  [[ -f $work/venue/Update.log && ! -e $app/Update.log ]] || fail "the log is not beside the named settings"
  peer_ends_at_31 1.0.0.0.20
  [[ $(grep -c '"request"' "$work/peer.out") -eq 3 ]] &&
    grep -qF '"request":"batch","text":"select * from ver\u000d\u000a"' "$work/peer.out" ||
    fail "the peer saw more than the version read: $(grep '"request"' "$work/peer.out")"
}

for current in "${cases[@]}"; do
  case $current in
    closed-port) closed_port ;;
    dialog-connect) dialog_connect ;;
    full-run) full_run ;;
    dialog-peer) dialog_peer ;;
    status) status ;;
    *) fail "unknown case" ;;
  esac
  echo "ok: $current"
done
