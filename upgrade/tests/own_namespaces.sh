# Sourced by the scripts that run the real program (Update, Update.exe under Wine):
# namespaces of their own, and an X server that no other running test shares.

# Runs the calling script again in fresh network, PID and mount namespaces, with
# only loopback up: the program reaches nothing but loopback, and sees, and so can
# end, no process but the test's own (the dialog ends every process of its name).
# The script is the namespace's first process; when it ends, whatever it started
# ends with it. Without root, the namespaces come with a user namespace.
# Call it first, as: enter_own_namespaces "$0" "$@"
enter_own_namespaces() {
  if ! in_own_namespaces; then
    local as_root=()
    [[ $(id -u) -eq 0 ]] || as_root=(--map-root-user)
    exec env OWN_NAMESPACES=1 unshare "${as_root[@]}" --net --pid --fork --kill-child --mount-proc "$@"
  fi
  ip link set lo up
}
in_own_namespaces() { [[ $$ -eq 1 && ${OWN_NAMESPACES:-} == 1 ]]; }

# Starts Xvfb with its log in $1; sets xvfb_pid and DISPLAY, or returns 1.
#
# The display number is claimed under a lock held until the script ends. Left to
# choose (-displayfd alone), Xvfb takes the first number whose socket it can bind,
# but in a network namespace of its own the abstract socket is always free: every
# test took :0, and servers in different namespaces replaced one another's socket
# file and compiled keymap (/var/lib/xkb/server-0.xkm). A server whose socket file
# had vanished recreated its listener when its last client left, and then never
# served the client that came next on the reused descriptor: xdotool waited for
# ever for its connection and missed a box that was on the screen.
# -nolock: the usual lock file names the server's process id, which means nothing
# outside its PID namespace.
xvfb_pid=
start_xvfb() {
  local number lock
  for ((number = 200; number < 1000; number++)); do
    [[ -e /tmp/.X$number-lock ]] && continue # a server that locks the usual way
    lock=/tmp/.venue-backoffice-display-$number.lock
    exec {xvfb_lock}>>"$lock" || continue
    flock --nonblock "$xvfb_lock" && break
    exec {xvfb_lock}>&-
  done 2>/dev/null
  ((number < 1000)) || return 1 # every display number is taken
  coproc XVFB { exec Xvfb ":$number" -displayfd 1 -nolock -nolisten tcp -screen 0 1024x768x24 2>"$1"; }
  xvfb_pid=$XVFB_PID
  local ready
  read -r -t 60 ready <&"${XVFB[0]}" || return 1
  export DISPLAY=":$ready"
}
