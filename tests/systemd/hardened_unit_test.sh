#!/bin/bash
# The unit that `o-service -install` writes, under a real systemd: it passes
# `systemd-analyze verify` and rates 5.0 or lower in `systemd-analyze security`, and inside
# its restrictions the suite keeps what monitoring needs. Sweeps come every second through
# libfaketime. Strays run under another account, so that ending them needs CAP_KILL, and
# recognising one whose name is longer than its 15-character comm needs CAP_SYS_PTRACE
# (reading its /proc/PID/exe).
# -check answers the same as nobody and as a real engine's account (nagios4-core in the tree).
#
# Usage: hardened_unit_test.sh O-SERVICE STANDIN
set -euo pipefail

# The service in the container ends processes by suite name, as do the host's own service
# tests machine-wide, which reach into the container: wait for them as they wait for us.
readonly table_lock=/tmp/ostrivan-process-table.lock
if [ -z "${OSTRIVAN_TABLE_LOCKED:-}" ] && command -v flock >/dev/null; then
    OSTRIVAN_TABLE_LOCKED=1 exec flock --close "$table_lock" bash "$0" "$@"
fi

readonly service=$1 standin=$2
readonly suite=/opt/ostrivan
readonly report=$suite/network-report
readonly faketime=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1

# shellcheck source=container.sh
source "$OSTRIVAN_CONTAINER_LIBRARY"
systemd_tree "$OSTRIVAN_SYSTEMD_TREE_ROOT"
container_start "$OSTRIVAN_SYSTEMD_TREE_ROOT"

fail() {
    echo "FAIL: $*" >&2
    ct journalctl -b -u ostrivan --no-pager >&2 || true
    exit 1
}

# The journal may show an entry a moment after the event: up to 10 s.
journal_has() {
    ct_wait 10 sh -c 'journalctl -b -u ostrivan --no-pager | grep -qF -- "$1"' sh "$1"
}

# `o-service -check` until it exits with $2, for up to $1 s (0: once), into check_line, check_code.
wait_check() {
    local deadline=$((SECONDS + $1))
    while check_code=0; check_line=$(ct "$suite/o-service" -check) || check_code=$?
        [ "$check_code" -ne "$2" ] && [ "$SECONDS" -lt "$deadline" ]; do sleep 0.5; done
    echo "-check $3: $check_line (exit $check_code)"
    [[ $check_line == "OSTRIVAN "* ]] || fail "-check $3 printed more than its line: $check_line"
    [ "$check_code" -eq "$2" ] || [ "$1" -eq 0 ] || fail "-check $3 exited $check_code, not $2: $check_line"
}

# A real engine runs the shipped definition's -check as its own account every 2 s, with its
# package's own templates; host checks are off, as the host's command needs no plugin.
readonly engine=/var/lib/ostrivan-engine
start_engine() {
    ct mkdir -p $engine/results
    { cat "$(dirname "$0")/../../packaging/nagios/ostrivan.cfg"
        printf 'define host {\n use linux-server\n host_name here\n address 127.0.0.1\n check_command check_ostrivan\n}
define service {\n use ostrivan-service,generic-service\n host_name here\n check_interval 2
 retry_interval 2\n max_check_attempts 1\n}\n'; } | ct sh -c "cat >$engine/ostrivan.cfg"
    printf '%s\n' cfg_file=/etc/nagios4/objects/{commands,contacts,timeperiods,templates}.cfg cfg_file=$engine/ostrivan.cfg \
        status_file=$engine/status.dat check_result_path=$engine/results log_file=$engine/log lock_file=$engine/pid \
        temp_file=$engine/tmp {status_update_interval,interval_length,check_result_reaper_frequency}=1 nagios_{user,group}=nagios \
        service_inter_check_delay_method=n {execute_host_checks,enable_notifications}=0 | ct sh -c "cat >$engine/nagios.cfg"
    ct chown -R nagios:nagios $engine
    verify=$(ct nagios4 -v $engine/nagios.cfg 2>&1) || fail "the engine refuses the definition: $verify"
    ct nagios4 -d $engine/nagios.cfg || fail "the engine did not start"
}
# Until the engine's first check from now on is in, for up to 20 s: its state must be $1.
wait_engine() {
    local deadline=$((SECONDS + 20)) state= since; since=$(date +%s)
    while [ -z "$state" ] && [ "$SECONDS" -lt "$deadline" ]; do sleep 0.2
        state=$(awk -F= -v since="$since" '/^servicestatus/ {s = 1} s && $1 == "\tcurrent_state" {st = $2}
            s && $1 == "\tlast_check" && $2 > since {print st}' "/proc/$CT_LEADER/root$engine/status.dat" || true); done
    [ "$state" = "$1" ] || fail "the engine's first check $2 gave state ${state:-none}, not $1"
}
# Pids of the processes running from the suite's copy of a program.
pids_of() {
    ct sh -c 'for p in /proc/[0-9]*; do
        [ "$(readlink "$p/exe" 2>/dev/null)" = "$1" ] && echo "${p#/proc/}"; done; true' \
        sh "$suite/$1"
}

ct_put "$service" "$suite/o-service"
for program in o-alerts.exe o-graphs.exe vantorelle_snmptrap.exe vantorelle_manager.exe \
    vantorelle_watcher.exe rrdtool.exe; do
    ct_put "$standin" "$suite/$program"
done
ct "$suite/o-service" -install >/dev/null || fail "o-service -install"

# The unit as -install wrote it, before the test's own drop-in.
verify=$(ct systemd-analyze verify ostrivan.service 2>&1) || fail "verify: $verify"
[ -z "$verify" ] || fail "systemd-analyze verify ostrivan.service: $verify"
exposure=$(ct systemd-analyze security --offline=true --threshold=50 ostrivan.service 2>&1) ||
    fail "exposure above 5.0: $(tail -n 1 <<<"$exposure")"
tail -n 1 <<<"$exposure"

# Sweeps every second; the alert program reports what the network lets it do.
ct mkdir -p /etc/systemd/system/ostrivan.service.d
ct sh -c 'cat >/etc/systemd/system/ostrivan.service.d/test.conf' <<EOF
[Service]
Environment=LD_PRELOAD=$faketime "FAKETIME=+0 x60"
Environment="STANDIN_O_ALERTS_EXE=net=$report"
Environment="STANDIN_VANTORELLE_MANAGER_EXE=term=ignore"
LimitCORE=0
EOF
ct systemctl daemon-reload
ct systemctl start ostrivan || fail "systemctl start ostrivan"

# The restrictions reach the suite.
alerts=$(pids_of o-alerts.exe)
[ -n "$alerts" ] || fail "o-alerts.exe was not launched"
status=$(ct cat "/proc/$alerts/status")
grep -qP '^Seccomp:\t2$' <<<"$status" || fail "no system-call filter on the suite: $status"
grep -qP '^NoNewPrivs:\t1$' <<<"$status" || fail "no NoNewPrivileges on the suite: $status"

# A port below 1024 and raw ICMP, reported into the suite's own folder.
ct_wait 30 test -s "$report" || fail "o-alerts.exe wrote no network report"
network=$(ct cat "$report")
grep -qx 'udp 162: ok' <<<"$network" || fail "binding UDP port 162: $network"
grep -qx 'raw icmp: ok' <<<"$network" || fail "raw ICMP socket: $network"

# A stray tool of another account is ended by a sweep.
stray=$(ct sh -c "setpriv --reuid=65534 --regid=65534 --clear-groups $suite/rrdtool.exe \
    </dev/null >/dev/null 2>&1 & echo \$!")
ct_wait 30 sh -c "journalctl -b -u ostrivan | grep -qF 'terminated rrdtool.exe (pid $stray,'" ||
    fail "the stray rrdtool.exe (pid $stray, another account) was not ended"
ct_wait 10 test ! -e "/proc/$stray" || fail "rrdtool.exe (pid $stray) still runs"

# -status while it runs: five programs, each with the pid the process table shows.
wait_check 30 0 running
table=$(ct "$suite/o-service" -status) || fail "-status exited $? while running"
for program in o-alerts.exe o-graphs.exe vantorelle_snmptrap.exe vantorelle_manager.exe vantorelle_watcher.exe; do
    pid=$(pids_of "$program")
    [ -n "$pid" ] && grep -qE "^$program +running +$pid " <<<"$table" || fail "-status shows no running $program, pid $pid: $table"
done
ct setpriv --reuid=65534 --regid=65534 --clear-groups "$suite/o-service" -check >/dev/null || fail "-check as nobody: $?"
code=0; line=$(ct setpriv --reuid=65534 --regid=65534 --clear-groups "$suite/o-service" -check x) || code=$?
[ "$code $line" = '3 OSTRIVAN UNKNOWN - unexpected argument "x"' ] || fail "-check x exited $code: $line"
start_engine
wait_engine 0 running

# A real node exporter on this machine's loopback serves the metrics file of the container.
exporter_port=$((20000 + RANDOM % 20000))
prometheus-node-exporter --web.listen-address="127.0.0.1:$exporter_port" --collector.disable-defaults \
    --collector.textfile --collector.textfile.directory="/proc/$CT_LEADER/root/run/ostrivan" >/dev/null 2>&1 &
trap 'status=$?; kill '$!' 2>/dev/null || true; (exit $status); ct_on_exit' EXIT
scrape() { exec 3<>"/dev/tcp/127.0.0.1/$exporter_port" && printf 'GET /metrics HTTP/1.0\r\n\r\n' >&3 &&
    grep -E '^(# (HELP|TYPE) )?ostrivan_' <&3; }
served() { metrics=$(scrape 2>/dev/null) && grep -q '^ostrivan_program_running{program="vantorelle_manager.exe"} 1$' <<<"$metrics"; }
tries=0
until served; do ((++tries < 50)) || fail "the node exporter serves no running manager: $metrics"; sleep 0.2; done
lint=$(promtool check metrics <<<"$metrics" 2>&1) && [ -z "$lint" ] || fail "promtool check metrics: $lint"
echo "node exporter on 127.0.0.1:$exporter_port: $(grep -c '^ostrivan_' <<<"$metrics") ostrivan_ samples, promtool clean"

ct systemctl kill --kill-who=main -s SIGUSR1 ostrivan
wait_check 10 1 paused
wait_engine 1 "while paused"
ct "$suite/o-service" -status | grep -q '^Service: paused' || fail "-status does not show the pause"
sleep 4 # over three sweep intervals of the service's sped-up clock, in which no sweep was due
ct systemctl kill --kill-who=main -s SIGUSR2 ostrivan
wait_check 0 0 "right after the continue"
[ "$check_code" -eq 0 ] || fail "-check right after the continue exited $check_code: $check_line"
wait_engine 0 "after the continue"

# A killed manager is launched again.
manager=$(pids_of vantorelle_manager.exe)
[ -n "$manager" ] || fail "no manager runs"
ct sh -c "kill -KILL $manager"
wait_check 0 2 "with the manager killed"
# 1 or 2; 0 only once a sweep in between has relaunched the manager.
[[ $check_code == [12] ]] || { [ "$check_code" -eq 0 ] && ! ct grep -q "\"pid\": $manager," /run/ostrivan/status.json; } ||
    fail "-check exited $check_code with the manager $manager killed: $check_line"
ct_wait 30 sh -c "test -n \"\$(for p in /proc/[0-9]*; do
    [ \"\${p#/proc/}\" != $manager ] &&
    [ \"\$(readlink \$p/exe 2>/dev/null)\" = $suite/vantorelle_manager.exe ] && echo x; done)\"" ||
    fail "the killed manager (pid $manager) was not launched again"

# Well again once a sweep has relaunched it and an hour of the sped-up clock has passed.
wait_check 120 0 "after the relaunch"

# A stop ends the suite, each program by the service itself, and a copy of another account
# known only by its exe. Each is asked first; the manager and the copy ignore it until the list.
copy=$(ct sh -c "setpriv --reuid=65534 --regid=65534 --clear-groups $suite/vantorelle_snmptrap.exe \
    term=ignore </dev/null >/dev/null 2>&1 & echo \$!")
ct_wait 10 sh -c "[ \"\$(readlink /proc/$copy/exe)\" = $suite/vantorelle_snmptrap.exe ]" ||
    fail "the copy of vantorelle_snmptrap.exe did not start"
ct systemctl stop ostrivan || fail "systemctl stop ostrivan"
journal_has "terminated vantorelle_snmptrap.exe (pid $copy," ||
    fail "the stop did not end vantorelle_snmptrap.exe of another account (pid $copy)"
[ "$(ct systemctl show -p Result --value ostrivan)" = success ] || fail "the stop did not succeed"
for program in o-alerts.exe o-graphs.exe vantorelle_snmptrap.exe vantorelle_manager.exe \
    vantorelle_watcher.exe; do
    journal_has "asked $program (pid" || fail "the stop did not ask $program to end"
    [ -z "$(pids_of "$program")" ] || fail "$program still runs after the stop"
done
[ "$(ct journalctl -b -u ostrivan MESSAGE_ID=63237c19f59f48fbb50e3d6ae4d08bb2 -o verbose --no-pager | grep -cxE \
    '    OSTRIVAN_(ASKED=6|ENDED_IN_TIME=4|TERMINATED=2|REFUSED=0)')" -eq 4 ] || fail "the stop's sum is not 6, 4, 2, 0"
wait_check 10 2 stopped
wait_engine 2 "after the stop"
status_code=0; ct "$suite/o-service" -status >/dev/null || status_code=$?
[ "$status_code" -eq 3 ] || fail "-status exited $status_code after the stop, not 3"
# In real time, not restarted: killed outright, the unit's ExecStopPost says so in the metrics.
ct sh -c 'f=/etc/systemd/system/ostrivan.service.d/test.conf; sed -i /FAKETIME/d $f; printf "TimeoutStopSec=4\nRestart=no\n" >>$f'
ct systemctl daemon-reload
ct systemctl start ostrivan || fail "systemctl start ostrivan, in real time"
ct_wait 10 grep -qx 'ostrivan_up 1' /run/ostrivan/ostrivan.prom || fail "the metrics do not say up"
ct sh -c "kill -KILL $(ct systemctl show -p MainPID --value ostrivan)"
ct_wait 10 grep -qx 'ostrivan_up 0' /run/ostrivan/ostrivan.prom || fail "the metrics still say up after kill -KILL"
ct grep -q '"state": "stopped"' /run/ostrivan/status.json || fail "the status file does not say stopped"
# A stop longer than TimeoutStopSec= (the manager ignores the request) is extended (EXTEND_TIMEOUT_USEC).
ct systemctl start ostrivan || fail "systemctl start ostrivan, again"
# Until the manager, launched once the start has returned, ignores SIGTERM (bit 15 of SigIgn).
ct_wait 10 sh -c 'for p in /proc/[0-9]*; do [ "$(readlink $p/exe)" = "$1" ] && m=$(sed -n "s/^SigIgn:\t//p" $p/status) &&
    [ $((0x$m & 0x4000)) -ne 0 ] && exit; done; exit 1' sh "$suite/vantorelle_manager.exe" 2>/dev/null || fail "no manager"
stop_began=$(date +%s%3N)
ct systemctl stop ostrivan || fail "systemctl stop ostrivan, in real time"
echo "systemctl stop took $(( $(date +%s%3N) - stop_began )) ms with a manager that ignores SIGTERM"
[ "$(ct systemctl show -p Result --value ostrivan)" = success ] || fail "a stop longer than TimeoutStopSec= was killed"
# pidfd_open answered with EPERM, as by some container runtimes: one line, nothing launched.
ct sh -c 'printf "[Service]\nSystemCallFilter=~pidfd_open\nSystemCallErrorNumber=EPERM\n" >>/etc/systemd/system/ostrivan.service.d/test.conf'
ct systemctl daemon-reload
ct systemctl start ostrivan 2>/dev/null && fail "the service started without pidfd_open"
journal_has "pidfd_open fails on the service's own process: Operation not permitted (EPERM)" || fail "no pidfd_open line"
[ -z "$(pids_of vantorelle_manager.exe)" ] || fail "a manager runs, launched without pidfd_open"
echo "PASS: the hardened unit runs the suite; without pidfd_open it starts nothing"
