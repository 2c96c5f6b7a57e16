#!/usr/bin/env bash
# The real Update over the wire: in its own X server and namespaces, with
# System.ini pointing at the pretend SQL Server on loopback. A run from "1.0.0.0.0"
# ends with one box, exit status 0, "升级成功！" in the run log and "1.0.0.0.31" held
# by the peer; a run whose step fails ends with that step's message, the statement
# and the server's reason in the log, and the peer at the step before.
#
# usage: update_x11_wire_test.sh path/to/Update path/to/tds-peer
set -euo pipefail

source "$(dirname "$0")/x11_session.sh"
begin_session "$0" "$@"
update=$1
peer=$2
start_x
sanitizer_options_for_qt

# One run against a fresh peer started with the given options; leaves the peer's
# final version in $final and the log in $work/Update.log.
run_against_peer() {
  rm -f "$work/Update.log"
  start_peer "$peer" --lifetime 120 "$@"
  write_settings "127.0.0.1,$peer_port" secret-pw Kvb "$peer_port"
  start_update "$update"
  await_window '^提示信息$'
  [[ $(visible '^提示信息$') -eq 1 ]] || fail "expected one message box"
  [[ $(visible '^服务器连接参数配置$') -eq 0 ]] || fail "the dialog came although the peer answers"
  confirm "$found"
  await_exit
  final=$(peer_version)
  stop_peer
  ! grep -q secret-pw "$work/Update.log" || fail "the password reached the log"
}
expect_log() {
  grep -qF -- "$1" "$work/Update.log" || fail "the log lacks: $1"
}

run_against_peer
[[ $final == 1.0.0.0.31 ]] || fail "the peer holds $final after a full run"
expect_log "connect to server \"127.0.0.1,$peer_port\", database \"Kvb\" as sa: connected"
expect_log "step 1.0.0.0.30 -> 1.0.0.0.31: committed"
[[ $(tail -n 1 "$work/Update.log") == *" message: 升级成功！" ]] || fail "the run did not end 升级成功！"
echo "ok: a full run over the wire, 升级成功！, the peer at 1.0.0.0.31"

run_against_peer --version 1.0.0.0.20 --error "DROP COLUMN zkmxcode"
[[ $final == 1.0.0.0.20 ]] || fail "the peer holds $final after a failed step"
expect_log 'step 1.0.0.0.20 -> 1.0.0.0.21: failed at "ALTER TABLE zkmx  DROP COLUMN zkmxcode": [FreeTDS][SQL Server]'
expect_log "step 1.0.0.0.20 -> 1.0.0.0.21: rolled back"
[[ $(tail -n 1 "$work/Update.log") == *" message: 向V1.0.0.0.21升级时失败！" ]] ||
  fail "the run did not end with the failing step's message"
echo "ok: a failing step over the wire, 向V1.0.0.0.21升级时失败！, the peer at 1.0.0.0.20"
