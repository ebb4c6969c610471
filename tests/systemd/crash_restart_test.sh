#!/usr/bin/env bash
# The service installed under a real systemd (PID 1 of a container) dies of SIGSEGV:
# systemd notes the failure, ends every program of the dead run, restarts the service
# after RestartSec, and the new run launches exactly one suite (after SIGSTOP as well, by the
# watchdog); a stop afterwards still ends the suite by the service's own sequence.
#
# Usage: crash_restart_test.sh O_SERVICE STANDIN
# Exit status: 0 passed, 1 failed, 77 skipped (no systemd-nspawn or debootstrap).
set -euo pipefail

SERVICE_BINARY=$1
STANDIN=$2
# shellcheck source=container.sh
source "${OSTRIVAN_CONTAINER_LIBRARY:?}"
exec 8>/tmp/ostrivan-process-table.lock
flock 8

SUITE=/opt/ostrivan
UNIT=/etc/systemd/system/ostrivan.service
PROGRAMS=(o-alerts.exe o-graphs.exe vantorelle_snmptrap.exe vantorelle_manager.exe
          vantorelle_watcher.exe)

log() { printf '[%s] %s\n' "$(date +%T)" "$*"; }
pass() { log "ok: $*"; }
fail() {
    log "FAILED: $*"
    echo "--- journal of ostrivan.service"
    ct journalctl -b -u ostrivan --no-pager 2>/dev/null | tail -n 60 || true
    exit 1
}

# Process ids running the suite folder's copy of a program, one a line.
pids_of() {
    ct sh -c 'for p in /proc/[0-9]*; do
        [ "$(readlink "$p/exe" 2>/dev/null)" = "$1" ] && echo "${p#/proc/}"; done; true' \
        sh "$SUITE/$1"
}
# True when exactly one process runs each program of the suite.
one_suite() {
    local program
    for program in "${PROGRAMS[@]}"; do
        [ "$(pids_of "$program" | wc -l)" -eq 1 ] || return 1
    done
}
no_suite() {
    local program
    for program in "${PROGRAMS[@]}"; do
        [ -z "$(pids_of "$program")" ] || return 1
    done
}
suite_pids() {
    local program
    for program in "${PROGRAMS[@]}"; do pids_of "$program"; done | sort -n | tr '\n' ' '
}
none_left() { # WHAT: no process of OLD_SUITE is in NEW_SUITE
    local pid
    for pid in $OLD_SUITE; do [[ " $NEW_SUITE " != *" $pid "* ]] || fail "process $pid of the $1 run still runs"; done
}
poll() { # SECONDS COMMAND...: on this machine
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.2
    done
}
journal_has() { ct journalctl -b -u ostrivan --no-pager | grep -qF -- "$1"; }
main_pid() { ct systemctl show -p MainPID --value ostrivan; }
restarts() { [ "$(ct systemctl show -p NRestarts --value ostrivan)" = "$1" ]; }
active() { [ "$(ct systemctl is-active ostrivan)" = active ]; }

systemd_tree "${OSTRIVAN_SYSTEMD_TREE_ROOT:?}"
log "booting the container"
container_start "$OSTRIVAN_SYSTEMD_TREE_ROOT"

ct_put "$SERVICE_BINARY" "$SUITE/o-service"
for program in "${PROGRAMS[@]}"; do ct_put "$STANDIN" "$SUITE/$program"; done
ct chmod 755 "$SUITE/o-service" "${PROGRAMS[@]/#/$SUITE/}"

log "installing"
ct "$SUITE/o-service" -install || fail "-install failed"
unit=$(ct cat "$UNIT") || fail "-install wrote no unit"
for line in Restart=on-failure RestartSec=5 KillMode=mixed StartLimitIntervalSec=600 \
            StartLimitBurst=5 WatchdogSec=120; do
    grep -qxF "$line" <<<"$unit" || fail "the unit lacks $line: $unit"
done
pass "the unit restarts on failure after 5 s, at most 5 starts in 10 minutes, KillMode=mixed"
verify=$(ct systemd-analyze verify "$UNIT" 2>&1) || fail "systemd-analyze verify: $verify"
[ -z "$verify" ] || fail "systemd-analyze verify is not clean: $verify"
pass "systemd-analyze verify is clean"

# A shorter wait before the restart, no core file in the tree, a sweep every second (libfaketime)
# and a 5 s watchdog (systemd keeps real time), so that a hang is found in seconds.
ct mkdir -p "$UNIT.d"
ct sh -c "printf '[Service]\nRestartSec=1\nLimitCORE=0\nWatchdogSec=5\nTimeoutAbortSec=5\n%s\n' \
    'Environment=LD_PRELOAD=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1 \"FAKETIME=+0 x60\"' >$UNIT.d/test.conf"
ct systemctl daemon-reload

log "starting"
ct systemctl start ostrivan || fail "systemctl start"
poll 30 one_suite || fail "the suite was not launched: $(suite_pids)"
OLD_MAIN=$(main_pid)
OLD_SUITE=$(suite_pids)
pass "running as $OLD_MAIN with its suite: $OLD_SUITE"

relaunches() { ct journalctl -b -u ostrivan MESSAGE_ID=5671f2af7e794f05817423a701fabbc6 -o json |
    grep -F '"OSTRIVAN_REASON":"manager_ended"'; }
ct sh -c "kill -KILL $(pids_of vantorelle_manager.exe)"
poll 30 eval 'relaunches >/dev/null' || fail "no relaunch of the killed manager under its message id"
entry=$(relaunches | tail -n 1)
poll 30 one_suite || fail "no single manager after the relaunch: $(suite_pids)"
NEW_MANAGER=$(pids_of vantorelle_manager.exe)
for field in '"OSTRIVAN_PROGRAM":"vantorelle_manager.exe"' "\"OSTRIVAN_PROGRAM_PID\":\"$NEW_MANAGER\"" \
             '"PRIORITY":"5"' "\"_PID\":\"$OLD_MAIN\"" '"OSTRIVAN_EXIT_SIGNAL":"SIGKILL"'; do
    grep -qF -- "$field" <<<"$entry" || fail "the relaunch entry lacks $field: $entry"
done
grep -qF '"OSTRIVAN_EXIT_CODE":"0"' <<<"$entry" && fail "the relaunch claims exit code 0 for a killed manager: $entry"
pass "journal: the killed manager's relaunch (pid $NEW_MANAGER) under its message id, with name, pid, reason and priority notice"
OLD_SUITE=$(suite_pids)

log "killing the service's main process with SIGSEGV"
ct sh -c "kill -SEGV $OLD_MAIN"
poll 30 journal_has "Main process exited, code=killed, status=11/SEGV" \
    || fail "the journal shows no failure"
pass "journal: Main process exited, code=killed, status=11/SEGV"
poll 30 restarts 1 || fail "the service was not restarted"
poll 30 active || fail "the restarted service is not active"
NEW_MAIN=$(main_pid)
[ "$NEW_MAIN" != "$OLD_MAIN" ] || fail "the main process is the old one"
pass "restarted once (NRestarts=1), now as $NEW_MAIN"
poll 30 one_suite || fail "not exactly one suite after the restart: $(suite_pids)"
NEW_SUITE=$(suite_pids)
none_left dead
pass "none of the dead run's programs is left; one new suite runs: $NEW_SUITE"

# Paused for longer than the watchdog's time, it still feeds the watchdog.
ct systemctl kill --kill-who=main -s SIGUSR1 ostrivan && sleep 8
restarts 1 || fail "the paused service was restarted: the watchdog went unfed"
ct systemctl kill --kill-who=main -s SIGUSR2 ostrivan

log "stopping the service's main process with SIGSTOP"
OLD_MAIN=$NEW_MAIN
OLD_SUITE=$NEW_SUITE
ct sh -c "kill -STOP $OLD_MAIN"
poll 60 journal_has "Watchdog timeout (limit 5s)!" || fail "the watchdog did not notice the hang"
pass "journal: Watchdog timeout (limit 5s)!"
poll 60 restarts 2 || fail "the hung service was not restarted"
NEW_MAIN=$(main_pid)
poll 30 one_suite || fail "not exactly one suite after the watchdog's restart: $(suite_pids)"
NEW_SUITE=$(suite_pids)
none_left hung
pass "ended by the watchdog, restarted (NRestarts=2) as $NEW_MAIN with one new suite: $NEW_SUITE"

log "stopping"
declare -A running
for program in "${PROGRAMS[@]}"; do running[$program]=$(pids_of "$program"); done
ct systemctl stop ostrivan || fail "systemctl stop"
poll 10 no_suite || fail "the stop left programs of the suite: $(suite_pids)"
for program in "${PROGRAMS[@]}"; do
    # The journal may show an entry a moment after the stop returned.
    poll 10 journal_has "$program (pid ${running[$program]}) ended when asked" \
        || fail "the service did not end $program (pid ${running[$program]}) itself"
done
poll 10 journal_has "Configuration Service Stopped" || fail "the service did not report its stop"
pass "the stop ended the suite by the service's own sequence"
state=$(ct systemctl is-active ostrivan || true)
[ "$state" = inactive ] || fail "after the stop the unit is $state"
pass "the unit is inactive"
log "a sweep every 4 s (x15) under a 2 s watchdog: the keep-alives do not wait for the sweeps"
ct sed -i 's/WatchdogSec=5/WatchdogSec=2/; s/x60/x15/' "$UNIT.d/test.conf"
ct systemctl daemon-reload
ct systemctl start ostrivan || fail "systemctl start with WatchdogSec=2"
OLD_MAIN=$(main_pid)
three_sweeps() { jq -e '.service.lastSweepUtc - .service.startedUtc >= 180' "/proc/$CT_LEADER/root/run/ostrivan/status.json"; }
poll 60 three_sweeps >/dev/null || fail "no three sweeps within 60 s"
journal_has "Watchdog timeout (limit 2s)" && fail "the watchdog ended the healthy service"
[ "$(main_pid)" = "$OLD_MAIN" ] || fail "the service was restarted"
pass "three sweeps under WatchdogSec=2: the same main process, no watchdog timeout"
log "all passed"
