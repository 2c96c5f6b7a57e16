#!/usr/bin/env bash
# The update package as an administrator installs it and an operator uses it: dpkg,
# its maintainer scripts and the program run on this machine's Debian, in mount,
# network and PID namespaces of its own over overlays of /etc, /opt, /usr and /var,
# so nothing changes outside. Over an install of the earlier kind, then as an
# unprivileged operator in group venue-operators: the dialog (Xvfb, xdotool) against
# the pretend SQL Server, then an unattended run past decoy settings; then an
# upgrade, a removal and a purge. Needs root, as dpkg does.
#
# usage: check_install.sh update_VERSION_ARCH.deb path/to/tds-peer
set -euo pipefail

if [[ $(id -u) -ne 0 ]]; then
  echo "FAIL: check_install.sh needs root, as dpkg does" >&2
  exit 1
fi
source "$(dirname "$0")/../../../upgrade/tests/x11_session.sh"
# --mount-proc gives the run a mount namespace of its own, where the overlays stay.
enter_own_namespaces "$0" "$@"
deb=$(realpath "$1")
peer=$(realpath "$2")

opt=/opt/venue-backoffice
state=/var/lib/venue-backoffice
operator=4242

layers=$(mktemp -d)
work=$(mktemp -d)
chmod 0755 "$work"
trap 'x11_cleanup; for d in /usr /var /opt /etc; do umount -l "$d" || true; done; rm -rf "$layers"' EXIT
for d in /etc /opt /usr /var; do
  mkdir -p "$layers$d/upper" "$layers$d/work"
  mount -t overlay overlay -o "lowerdir=$d,upperdir=$layers$d/upper,workdir=$layers$d/work" "$d"
done
export DEBIAN_FRONTEND=noninteractive
dpkg_() { dpkg "$@" >"$work/dpkg.out" 2>&1 || fail "dpkg $*: $(cat "$work/dpkg.out")"; }
expect_mode() {
  [[ $(stat -c '%u:%G %a' "$1") == "$2" ]] || fail "$1 is $(stat -c '%u:%G %a' "$1"), not $2"
}

# The install the README used to describe.
mkdir -p "$opt"
printf '[ServerIP]\nServerIP1=127.0.0.1,1\n[ServerPass]\nServerPass1=old-pw\n' >"$opt/System.ini"
echo "2024-01-01 00:00:00.000Z from the earlier install" >"$opt/Update.log"
chmod 0775 "$opt"

dpkg_ -i "$deb"
gid=$(getent group venue-operators | cut -d: -f3) || fail "no group venue-operators"
expect_mode "$opt" "0:root 755"
expect_mode "$state" "0:venue-operators 2775"
expect_mode "$state/System.ini" "0:venue-operators 660"
[[ $(readlink "$opt/System.ini") == "$state/System.ini" ]] || fail "$opt/System.ini is no link to $state"
grep -q 'ServerIP1=127.0.0.1,1' "$state/System.ini" || fail "the earlier settings were not moved"
grep -q 'from the earlier install' "$state/Update.log" || fail "the earlier log was not moved"
echo "ok: installed over an earlier install; settings and log moved to $state"

program_dir() { find "$opt" /usr/bin/update -printf '%p %l %U:%G %m %s\n' | sort; sha256sum "$opt/Update"; }
before=$(program_dir)
as_operator() {
  cd "$work/home" && umask 022 && exec setpriv --reuid="$operator" --regid="$operator" \
    --groups="$gid" --inh-caps=-all env HOME="$work/home" LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb "$@"
}
mkdir "$work/home"
chown "$operator:$operator" "$work/home"

# The operator corrects the server in the dialog; the run then upgrades.
start_x
start_peer "$peer" --lifetime 120
(as_operator /usr/bin/update >"$work/update.out" 2>&1) &
update_pid=$!
await_window '^服务器连接参数配置$'
xdotool windowfocus --sync "$found"
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 20 "127.0.0.1,$peer_port"
xdotool key --clearmodifiers F2
await_window '^提示信息$'
confirm "$found"
await_exit
[[ $(peer_version) == 1.0.0.0.31 ]] || fail "the run did not upgrade the pretend server"
grep -q "^ServerIP1=127.0.0.1,$peer_port" "$state/System.ini" || fail "the dialog's write did not reach $state"
expect_mode "$state/System.ini" "$operator:venue-operators 660"
log=$state/Update.log
grep -q "dialog: connect to server \"127.0.0.1,$peer_port\", database \"Kvb\" as sa: connected" "$log" ||
  fail "the log in $state lacks the dialog's connection"
[[ $(tail -n 1 "$log") == *" message: 升级成功！" ]] || fail "the log in $state lacks the closing message"
! grep -q old-pw "$log" || fail "the password reached the log"
[[ $(program_dir) == "$before" ]] || fail "the program's directory changed: $(program_dir)"
for path in "$opt" "$opt/Update"; do
  ! (as_operator test -w "$path") || fail "the operator may write $path"
done
! (as_operator mv "$opt/Update" "$work/home" 2>/dev/null) || fail "the operator moved the program"
echo "ok: the operator's dialog wrote $state/System.ini, the log is $log; $opt unchanged and closed"

# Unattended through the command, from elsewhere: the settings behind the link.
decoy='[ServerIP]\nServerIP1=127.0.0.1,1\n'
printf "$decoy" >/usr/bin/System.ini
printf "$decoy" >"$work/home/System.ini"
status=0
(unset DISPLAY && as_operator timeout 60 update --unattended >"$work/stdout" 2>"$work/update.out") ||
  status=$?
[[ $status -eq 0 && $(cat "$work/stdout") == 升级成功！ ]] ||
  fail "unattended through /usr/bin/update: status $status, stdout $(cat "$work/stdout")"
stop_peer
echo "ok: update --unattended from elsewhere used $state/System.ini"

settings=$(sha256sum <"$state/System.ini")
dpkg_ -i "$deb"
[[ $(sha256sum <"$state/System.ini") == "$settings" ]] || fail "an upgrade changed the settings"
dpkg_ -r update
[[ $(sha256sum <"$state/System.ini") == "$settings" ]] || fail "a removal changed the settings"
[[ ! -e $opt/Update ]] || fail "the program is still there after a removal"
dpkg_ -P update
[[ ! -e $state ]] || fail "$state is still there after a purge"
echo "ok: the settings survive an upgrade and a removal and go with a purge"
