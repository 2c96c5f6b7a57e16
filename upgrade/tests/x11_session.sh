# Shared by the scripts that drive the real Update in an X server: namespaces of
# their own, an Xvfb (unless a display is given), a pretend SQL Server, a copy of
# the program with System.ini beside it, and waiting for its windows.
# Source it from bash with `set -euo pipefail`, then call begin_session "$0" "$@"
# before anything else: it starts the script again in its namespaces and makes the
# scratch directory $work, removed on exit with everything started here.

x11_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$x11_here/own_namespaces.sh"

# Runs the calling script again in namespaces of its own (own_namespaces.sh).
begin_session() {
  enter_own_namespaces "$@"
  work=$(mktemp -d)
  trap x11_cleanup EXIT
}

work=
update_pid=
peer_pid=
x11_cleanup() {
  [[ -n $update_pid ]] && kill "$update_pid" 2>/dev/null || true
  [[ -n $peer_pid ]] && kill "$peer_pid" 2>/dev/null || true
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
  # Whatever else the script left running, or the wait below lasts its lifetime.
  local others
  others=$(jobs -p)
  [[ -z $others ]] || kill $others 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
fail() {
  echo "FAIL: $*" >&2
  [[ -f $work/update.out ]] && sed 's/^/  Update: /' "$work/update.out" >&2
  [[ -f $work/Update.log ]] && sed 's/^/  Update.log: /' "$work/Update.log" >&2
  exit 1
}

# An X server for the program: an Xvfb of its own. With keep_display=1 and a
# DISPLAY set, that one.
start_x() {
  if [[ ${keep_display:-0} == 1 && -n ${DISPLAY:-} ]]; then
    return
  fi
  start_xvfb "$work/xvfb.log" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
}

# Under AddressSanitizer, strict string checks trip over Qt's X11 event thread,
# which passes strndup a buffer that is not NUL-terminated, and D-Bus leaks a read
# buffer; neither is this program's memory.
sanitizer_options_for_qt() {
  if [[ -n ${ASAN_OPTIONS:-} ]]; then
    export ASAN_OPTIONS="$ASAN_OPTIONS:strict_string_checks=0"
    export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$x11_here/x11_lsan.supp"
  fi
}

# System.ini beside the copy of the program: server, password, database, port.
write_settings() {
  printf '[ServerIP]\nServerIP1=%s\n[ServerPass]\nServerPass1=%s\n[Dbname]\nDbname1=%s\n[ServerPort]\nServerPort1=%s\n' \
    "$1" "$2" "$3" "$4" >"$work/System.ini"
}

# Starts the pretend SQL Server with the given options; its port goes to $peer_port.
# It talks through two pipes: commands in, answers out.
peer_port=
start_peer() {
  local peer=$1
  shift
  mkfifo "$work/peer.in" "$work/peer.out"
  "$peer" "$@" <"$work/peer.in" >"$work/peer.out" 2>"$work/peer.err" &
  peer_pid=$!
  exec {peer_in}>"$work/peer.in" {peer_out}<"$work/peer.out"
  local word
  read -r -t 30 word peer_port <&"$peer_out" || fail "tds-peer did not start: $(cat "$work/peer.err")"
  [[ $word == port ]] || fail "tds-peer said: $word $peer_port"
}
peer_version() {
  echo version >&"$peer_in"
  local word version
  read -r -t 30 word version <&"$peer_out" || fail "tds-peer did not answer"
  echo "$version"
}
stop_peer() {
  echo quit >&"$peer_in"
  exec {peer_in}>&-
  local status=0
  wait "$peer_pid" || status=$?
  peer_pid=
  # Only after it ended: what it prints on its way out must find a reader.
  exec {peer_out}<&-
  rm -f "$work/peer.in" "$work/peer.out"
  [[ $status -eq 0 ]] || fail "tds-peer did not understand everything (status $status): $(cat "$work/peer.err")"
}

# Starts a copy of the program beside System.ini, from elsewhere: the settings are
# found beside the program, not in the working directory.
start_update() {
  cp "$1" "$work/Update"
  export LC_ALL=C.UTF-8
  unset WAYLAND_DISPLAY
  (cd / && QT_QPA_PLATFORM=xcb exec "$work/Update" >"$work/update.out" 2>&1) &
  update_pid=$!
}

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
visible() { xdotool search --onlyvisible --name "$1" 2>/dev/null | wc -l; }

# Confirms the window $1 with Return.
confirm() {
  xdotool windowfocus --sync "$1"
  xdotool key --clearmodifiers Return
}

# Waits for the program to end and requires exit status 0.
await_exit() {
  local status=0
  timeout 60 tail --pid="$update_pid" -f /dev/null || fail "Update did not end after the box"
  wait "$update_pid" || status=$?
  update_pid=
  [[ $status -eq 0 ]] || fail "Update exited with status $status"
}
