#!/usr/bin/env bash
# The real o-service.exe under Wine, on a fresh prefix: registration, start, the suite's
# launches, sweeps, pause, continue, user controls, the close request, stop, removal and
# the rejected argument. Every wait polls with a deadline.
#
# Usage: wine_service_test.sh SOURCE_DIR
# Exit status: 0 passed, 1 failed, 77 skipped (no Wine or no mingw-w64 on this machine).
set -euo pipefail

SOURCE_DIR=$(cd "$1" && pwd)
SKIP=77

for tool in wine wineserver x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-windres \
            x86_64-w64-mingw32-windmc; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIPPED: $tool is not installed; the Wine test needs" \
             "g++-mingw-w64-x86-64-posix, wine and wine64 (.ci/run installs them)."
        exit $SKIP
    fi
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/ostrivan-wine.XXXXXX")
export WINEPREFIX="$WORK/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Headless: a standalone process finds no desktop, as a service finds none a person sees.
unset DISPLAY WAYLAND_DISPLAY
EVENTS="$WORK/events.log"
FAILED=0

XVFB_PID=
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
    rm -rf "$WORK"
}
trap cleanup EXIT

log() { printf '[%s] %s\n' "$(date +%T)" "$*"; }
pass() { log "ok: $*"; }
diagnose() {
    echo "--- event log (Wine's eventlog channel)"; cat "$EVENTS" 2>/dev/null || true
    echo "--- standin.log"; cat "$SUITE/standin.log" 2>/dev/null || true
    echo "--- processes"; tool procs 2>/dev/null || true
}
fail() {
    log "FAILED: $*"
    diagnose
    exit 1
}

trap 'fail "line $LINENO: unexpected failure of: $BASH_COMMAND"' ERR

# Wine's programs print CRLF.
wine_out() { wine "$@" | tr -d '\r'; }
tool() { wine_out 'C:\svctool.exe' "$@"; }

# Retries a command until it succeeds or the deadline (seconds) passes.
poll() {
    local deadline=$(( SECONDS + $1 )); shift
    until "$@" >/dev/null 2>&1; do
        (( SECONDS < deadline )) || return 1
        sleep 0.2
    done
}

event_logged() { grep -qF -- "$1" "$EVENTS"; }
# "TYPE ID" of the entry whose text line holds TEXT, from the note ReportEventW wrote just
# before it on the same thread: "0128:fixme:advapi:ReportEventW (h,0x0004,0x0000,0x00000005,...".
event_type_and_id() {
    local type id
    read -r type id < <(awk -v text="$1" '
        /:fixme:advapi:ReportEventW / { split($0, a, ":"); header[a[1]] = $0 }
        index($0, text) && /:eventlog:ReportEventW / {
            split($0, a, ":"); split(header[a[1]], f, ","); print f[2], f[4]; exit }' "$EVENTS")
    printf '%d %d\n' "${type:-0}" "${id:-0}"
}

expect_eq() { # what expected actual
    [ "$2" = "$3" ] || fail "$1: expected \"$2\", got \"$3\""
    pass "$1"
}

# ---------------------------------------------------------------------------------------
log "building o-service.exe with the windows preset"
if ! (cd "$SOURCE_DIR" && cmake --preset windows && cmake --build --preset windows) \
        >"$WORK/build.log" 2>&1; then
    cat "$WORK/build.log"
    fail "the windows preset does not build"
fi
BUILD="$SOURCE_DIR/build-windows"
for exe in o-service.exe svctool.exe standin.exe windows_platform_checks.exe; do
    [ -f "$BUILD/$exe" ] || fail "$exe was not built"
done

log "making a fresh prefix"
wineserver -k >/dev/null 2>&1 || true
wine wineboot -i >/dev/null 2>&1
wineserver -w
# One session for the whole test. Its first program passes its standard error and debug
# channels on to the service manager and so to the service: Wine's event log is that
# channel. A later session would also start the service on its own (automatic start)
# where no one could see its log.
wineserver -p
# Wine's notes: fixme+service for the failure actions, fixme+advapi for each entry's type and id.
WINEDEBUG=-all,+eventlog,fixme+service,fixme+advapi,trace+service wine 'C:\windows\system32\cmd.exe' /c exit \
    >/dev/null 2>"$EVENTS"

C_DRIVE="$WINEPREFIX/drive_c"
SUITE="$C_DRIVE/Program Files/Ostrivan Suite"
SUITE_WIN='C:\Program Files\Ostrivan Suite'
SERVICE_EXE="$SUITE_WIN\\o-service.exe"
CAPTION="Ostrivan Monitoring Service"
mkdir -p "$SUITE" "$C_DRIVE/tools"
cp "$BUILD/o-service.exe" "$SUITE/"
cp "$BUILD/svctool.exe" "$C_DRIVE/"
SUITE_PROGRAMS=(o-alerts.exe o-graphs.exe vantorelle_snmptrap.exe vantorelle_manager.exe
                vantorelle_watcher.exe)
for program in "${SUITE_PROGRAMS[@]}"; do cp "$BUILD/standin.exe" "$SUITE/$program"; done
echo 7 >"$SUITE/o-alerts.exe.window" # a window that closes with exit code 7,
echo ignore >"$SUITE/o-graphs.exe.window" # and one that ignores WM_CLOSE
for program in rrdtool.exe nightly_check.exe; do cp "$BUILD/standin.exe" "$C_DRIVE/tools/$program"; done

# ---------------------------------------------------------------------------------------
log "the platform layer's own checks"
mkdir -p "$C_DRIVE/checks"
cp "$BUILD/windows_platform_checks.exe" "$BUILD/standin.exe" "$C_DRIVE/checks/"
if ! wine 'C:\checks\windows_platform_checks.exe' >"$WORK/checks.log" 2>&1; then
    tr -d '\r' <"$WORK/checks.log"
    fail "windows_platform_checks.exe"
fi
pass "windows_platform_checks.exe: $(tr -d '\r' <"$WORK/checks.log" | grep -F '[  PASSED  ]')"

# ---------------------------------------------------------------------------------------
log "the executable's resources"
version=$(tool version "$SERVICE_EXE")
for field in "FileVersion=4.00.0049" "ProductVersion=4.00.0049" "InternalName=o-service" \
             "FILEVERSION 4.0.0.49"; do
    grep -qxF "$field" <<<"$version" || fail "version resource lacks $field: $version"
done
pass "version resource: file and product version 4.00.0049, internal name o-service"
for id in 1 5 6 7 8 9 109 110; do
    expect_eq "message table entry $id shows its text as written" \
        "[5] Access is denied" "$(tool message "$SERVICE_EXE" $id '[5] Access is denied')"
done

# ---------------------------------------------------------------------------------------
log "-install"
# Wine keeps no security descriptor of its own on a file: it shows the Unix mode as the
# DACL, and a mode that lets every account write grants Everyone write access.
chmod o+w "$SUITE/vantorelle_watcher.exe"
status=0
WINEDEBUG=-all,+eventlog wine "$SERVICE_EXE" -install >/dev/null 2>"$WORK/install.log" \
    || status=$?
chmod o-w "$SUITE/vantorelle_watcher.exe"
expect_eq "-install ends with exit code 0" 0 "$status"
grep -qF 'warn:eventlog:ReportEventW L"C:\\Program Files\\Ostrivan Suite\\vantorelle_watcher.exe can be changed by Everyone: ' \
    "$WORK/install.log" || fail "no warning of the world-writable watcher: $(cat "$WORK/install.log")"
expect_eq "one warning: the folder and the other programs are safe" \
    1 "$(grep -cF ' can be changed by ' "$WORK/install.log")"
pass "a program every account may change is warned of, as a warning, with Everyone named"
for program in "${SUITE_PROGRAMS[@]}"; do
    [ -z "$(tool procs "$program")" ] || fail "-install started $program"
done
pass "-install started nothing"
service_key='HKLM\System\CurrentControlSet\Services\Ostrivan'
registration=$(wine_out reg query "$service_key")
grep -qF "ImagePath    REG_SZ    \"$SERVICE_EXE\"" <<<"$registration" \
    || fail "the image path is not the quoted executable: $registration"
pass "image path is quoted"
grep -qE 'Start +REG_DWORD +0x2$' <<<"$registration" || fail "not automatic start: $registration"
grep -qE 'Type +REG_DWORD +0x10$' <<<"$registration" || fail "not an own-process service: $registration"
grep -qF 'DisplayName    REG_SZ    Ostrivan Monitoring Service' <<<"$registration" \
    || fail "display name: $registration"
pass "automatic start (2), own process, display name"
grep -qF 'Description    REG_SZ    Keeps the programs of the Ostrivan monitoring suite running: ' \
    <<<"$registration" || fail "no description for the Services console: $registration"
pass "a description for the Services console"
# Wine's service manager keeps no failure actions (no FailureActions value; QueryServiceConfig2
# answers error 124): it only notes the call, with the reset period.
grep -qF 'SERVICE_CONFIG_FAILURE_ACTIONS not implemented: period 86400 ' "$EVENTS" \
    || fail "no failure actions were set: $(grep -F fixme: "$EVENTS" || true)"
pass "failure actions set, their count reset after a day (86400 s)"
grep -qF 'warn:eventlog:ReportEventW L"-install registered the service without the restart after a stop with an error: [124] ' \
    "$WORK/install.log" || fail "no warning of Wine's refusal (error 124) of SERVICE_CONFIG_FAILURE_ACTIONS_FLAG"
grep -qE 'PreshutdownTimeout +REG_DWORD +0x7530$' <<<"$registration" || fail "no pre-shutdown timeout of 30 s"
pass "failure actions asked to apply to a stop with an error (Wine refuses: warned of); a pre-shutdown timeout of 30 s"
wine_out reg query "$service_key\\Parameters" | grep -qE 'TimerInterval +REG_SZ +60000$' \
    || fail "Parameters\\TimerInterval is not \"60000\""
pass "Parameters\\TimerInterval = \"60000\""
wine_out reg query 'HKLM\System\CurrentControlSet\Services\EventLog\Application\Ostrivan' \
    | grep -qF "EventMessageFile    REG_EXPAND_SZ    $SERVICE_EXE" \
    || fail "the event source does not name the executable as its message file"
pass "event source Ostrivan with the executable as message file"

# ---------------------------------------------------------------------------------------
log "starting the service"
tool start Ostrivan || fail "StartService refused"
tool wait Ostrivan RUNNING 60000 >/dev/null || fail "the service never reached RUNNING"
read -r _ SERVICE_PID <<<"$(tool query Ostrivan)"
pass "RUNNING, process $SERVICE_PID"
expect_eq "accepted while running: stop, pause and continue, shutdown, pre-shutdown (which Wine never sends)" \
    0x107 "$(tool controls Ostrivan)"
label=$(tool waitlabel "$CAPTION" "Ostrivan Monitoring Service Running" 30000) \
    || fail "status label: $label"
pass "status label reads \"$label\""

for program in "${SUITE_PROGRAMS[@]}"; do
    poll 30 tool waitcount "$program" 1 1000 || fail "$program was not launched"
    read -r pid parent name path <<<"$(tool procs "$program")"
    expect_eq "$program launched by the service from its folder" \
        "$SERVICE_PID $SUITE_WIN\\$program" "$parent $path"
done
grep -qF "\"$SUITE_WIN\\vantorelle_watcher.exe\" 900" "$SUITE/standin.log" \
    || fail "the watcher was not started with 900"
pass "the watcher runs with the argument 900"
suite_pids() { for program in "${SUITE_PROGRAMS[@]}"; do tool procs "$program"; done; }
SUITE_BEFORE=$(suite_pids) status=0
WINEDEBUG=-all,+eventlog timeout 60 wine "$SERVICE_EXE" >/dev/null 2>"$WORK/second.log" || status=$?
grep -qF "err:eventlog:ReportEventW L\"already running as pid $SERVICE_PID " "$WORK/second.log" ||
    fail "no \"already running\" with the service's pid: $(cat "$WORK/second.log")"
expect_eq "a copy started by hand beside the service says so, ends with exit code 1, touches no process" \
    "1 $SUITE_BEFORE" "$status $(suite_pids)"

# ---------------------------------------------------------------------------------------
log "sweeps, run now by the form's timer message"
# The form's own timer keeps sweeping too: no sweep can see the check program before this.
CHECK_SPAWNED=$(date +%s)
RRD_PID=$(tool spawn 'C:\tools\rrdtool.exe')
CHECK_PID=$(tool spawn 'C:\tools\nightly_check.exe')
poll 30 tool waitcount nightly_check.exe 1 1000 || fail "the check program did not start"
tool tick "$CAPTION" >/dev/null || fail "the first sweep"
FIRST_SWEEP=$(date +%s)
wine 'C:\svctool.exe' waitexit "$RRD_PID" 30000 2>/dev/null | tr -d '\r' >"$WORK/rrd_exit" &
waiter=$!
tool tick "$CAPTION" >/dev/null || fail "the second sweep"
wait "$waiter" || fail "the second sweep left rrdtool.exe running"
expect_eq "rrdtool.exe terminated by the sweep after the one that saw it, exit code 0" \
    0 "$(cat "$WORK/rrd_exit")"
SUMMARY='trace:eventlog:ReportEventW L"Ended 1 short-lived tool: rrdtool.exe (1)"'
poll 30 event_logged "$SUMMARY" || fail "no summary of the short-lived tool that sweep ended"
expect_eq "one summary entry (information, id 8) for the sweep that ended it" \
    "1 4 8" "$(grep -cF -- "$SUMMARY" "$EVENTS") $(event_type_and_id "$SUMMARY")"

log "the status file and -status"
STATUS_JSON="$C_DRIVE/ProgramData/Ostrivan/status.json"
poll 30 test -s "$STATUS_JSON" || fail "no C:\\ProgramData\\Ostrivan\\status.json after the sweeps"
read -r MANAGER_PID _ <<<"$(tool procs vantorelle_manager.exe)"
expect_eq "status.json parses and names the manager's pid" "$MANAGER_PID" "$(jq -r .manager.pid "$STATUS_JSON")"
wine "$SERVICE_EXE" -status >"$WORK/out.txt" 2>/dev/null || fail "-status exited $? while the service runs"
for row in "Service: running \(service control manager: RUNNING\), pid $SERVICE_PID" "vantorelle_manager.exe +running +$MANAGER_PID .*"; do
    tr -d '\r' <"$WORK/out.txt" | grep -qxE "$row" || fail "-status printed no line \"$row\": $(cat "$WORK/out.txt")"
done
pass "-status prints its table to the file it was started with"
# As typed in cmd, a blank before the ">"; from a batch file, as Wine's cmd /c mangles a quoted path.
printf '"%s" -status > C:\\status.txt\r\n' "$SERVICE_EXE" >"$C_DRIVE/status.bat"
wine cmd /c 'C:\status.bat' >/dev/null 2>&1 || true
tr -d '\r' <"$C_DRIVE/status.txt" | grep -qxE "vantorelle_manager.exe +running +$MANAGER_PID .*" ||
    fail "cmd's redirection got no -status table: $(cat "$C_DRIVE/status.txt")"
pass "cmd /c \"o-service.exe -status > C:\\status.txt\" holds the table"

log "pause and continue"
# An exporter holds the metrics open while the pause replaces them.
wine 'C:\svctool.exe' hold 'C:\ProgramData\Ostrivan\ostrivan.prom' 15000 >"$WORK/hold.out" 2>&1 &
holder=$!
poll 30 grep -q held "$WORK/hold.out" || fail "could not hold ostrivan.prom open: $(cat "$WORK/hold.out")"
expect_eq "pause is passed on" PAUSE_PENDING "$(tool control Ostrivan 2)"
tool wait Ostrivan PAUSED 30000 >/dev/null || fail "the service never reached PAUSED"
pass "the manager sees PAUSED"
poll 10 grep -qx 'ostrivan_paused 1' "${STATUS_JSON%/*}/ostrivan.prom" && kill -0 "$holder" ||
    fail "the metrics were not replaced while an exporter held them: $(grep -F 'Cannot replace' "$EVENTS" || true)"
pass "the metrics are replaced while an exporter holds the old file open"
label=$(tool waitlabel "$CAPTION" "Configuration Service Paused" 30000) || fail "label: $label"
pass "status label reads \"$label\""
poll 30 event_logged 'L"Service paused"' || fail "no \"Service paused\" entry"
expect_eq "event log: Service paused, at Information level" "4 109" "$(event_type_and_id 'L"Service paused"')"
PAUSED_RRD=$(tool spawn 'C:\tools\rrdtool.exe')
tool tick "$CAPTION" >/dev/null; tool tick "$CAPTION" >/dev/null
tool procs rrdtool.exe | grep -q "^$PAUSED_RRD " || fail "a sweep ran while paused"
pass "no sweep runs while paused"
expect_eq "continue is passed on" CONTINUE_PENDING "$(tool control Ostrivan 3)"
tool wait Ostrivan RUNNING 30000 >/dev/null || fail "the service never came back to RUNNING"
pass "the manager sees RUNNING again"
label=$(tool waitlabel "$CAPTION" "Ostrivan Monitoring Service Running" 30000) || fail "label: $label"
pass "status label reads \"$label\""
poll 30 event_logged 'L"Service continued"' || fail "no \"Service continued\" entry"
pass "event log: Service continued"
tool tick "$CAPTION" >/dev/null; tool tick "$CAPTION" >/dev/null
poll 30 tool waitcount rrdtool.exe 0 1000 || fail "sweeps after continue left rrdtool.exe"
pass "sweeps run again after continue"

log "user control codes"
for code in 128 255; do
    tool control Ostrivan $code >/dev/null || fail "control $code refused"
    label=$(tool waitlabel "$CAPTION" "Ostrivan Monitoring Service Control signal $code" 30000) \
        || fail "label after control $code: $label"
    pass "control $code: \"$label\""
done

log "closing the window while running"
tool close "$CAPTION" >/dev/null || fail "WM_CLOSE"
poll 30 event_logged 'answered No (no one can see this desktop): Are you sure you want to unload the service?' \
    || fail "the unload question was neither shown nor logged"
pass "the unload question, which no one can see here, is logged and answered No"
tool exists "$CAPTION" >/dev/null || fail "the window went away"
expect_eq "the service keeps running" "RUNNING $SERVICE_PID" "$(tool query Ostrivan)"

log "the manager keeper"
read -r OLD_MANAGER _ <<<"$(tool procs vantorelle_manager.exe)"
echo 300 >"$SUITE/vantorelle_manager.exe.grow"
tool kill "$OLD_MANAGER" 7 >/dev/null || fail "could not end the manager"
poll 30 tool waitcount vantorelle_manager.exe 0 1000 || fail "the manager did not end"
tool tick "$CAPTION" >/dev/null
poll 30 grep -q 'vantorelle_manager.exe" \[holding 300 MiB\]' "$SUITE/standin.log" \
    || fail "the sweep did not relaunch the ended manager"
BIG_MANAGER=$(grep 'vantorelle_manager.exe" \[holding 300 MiB\]' "$SUITE/standin.log" | cut -d' ' -f1)
pass "an ended manager is relaunched by the next sweep (process $BIG_MANAGER)"
RELAUNCH="trace:eventlog:ReportEventW L\"launched vantorelle_manager.exe (pid $BIG_MANAGER): the manager had ended"
poll 30 event_logged "$RELAUNCH" || fail "the relaunch is not in the event log"
expect_eq "the relaunch is in the event log with its reason, information, id 5" \
    "4 5" "$(event_type_and_id "$RELAUNCH")"
event_logged "$RELAUNCH with exit code 0" && fail "the relaunch claims exit code 0 for a manager ended with 7"
wine 'C:\svctool.exe' waitexit "$BIG_MANAGER" 30000 2>/dev/null | tr -d '\r' >"$WORK/big_exit" &
waiter=$!
mv "$SUITE/vantorelle_manager.exe" "$WORK/vantorelle_manager.exe" # its relaunch fails
tool tick "$CAPTION" >/dev/null
wait "$waiter" || fail "a manager holding 300 MiB was left running"
expect_eq "a manager past 250 MiB is terminated with exit code 259" 259 "$(cat "$WORK/big_exit")"
poll 30 grep -qE ':err:eventlog:ReportEventW.*L"\[[0-9-]+\] .*vantorelle_manager\.exe' "$EVENTS" \
    || fail "no error report at Error level for the manager that cannot be launched"
pass "a manager that cannot be launched is an error report at Error level"
mv "$WORK/vantorelle_manager.exe" "$SUITE/vantorelle_manager.exe"
tool tick "$CAPTION" >/dev/null
poll 30 tool waitcount vantorelle_manager.exe 1 1000 || fail "no manager after the restart"
pass "and a fresh one is launched"

# ---------------------------------------------------------------------------------------
log "waiting for three minute boundaries after the check program's first sighting"
# Before three boundaries have passed since it started, no sweep may even mark it.
young_until=$(( (CHECK_SPAWNED / 60 + 3) * 60 - 2 ))
ready_at=$(( (FIRST_SWEEP / 60 + 3) * 60 + 1 ))
while (( $(date +%s) < young_until )); do
    tool procs nightly_check.exe | grep -q . || fail "the check program was terminated while young"
    sleep 2
done
pass "the check program is left alone while fewer than three minute boundaries have passed"
while (( $(date +%s) < ready_at )); do sleep 1; done
wine 'C:\svctool.exe' waitexit "$CHECK_PID" 60000 2>/dev/null | tr -d '\r' >"$WORK/check_exit" &
waiter=$!
tool tick "$CAPTION" >/dev/null
tool tick "$CAPTION" >/dev/null
wait "$waiter" || fail "the overdue check program was left running"
expect_eq "the overdue check program is terminated with exit code 3 (UNKNOWN)" 3 "$(cat "$WORK/check_exit")"

# ---------------------------------------------------------------------------------------
log "stopping the service"
read -r ALERTS_PID _ <<<"$(tool procs o-alerts.exe)"
read -r GRAPHS_PID _ <<<"$(tool procs o-graphs.exe)"
wine 'C:\svctool.exe' waitexit "$ALERTS_PID" 60000 2>/dev/null | tr -d '\r' >"$WORK/alerts_exit" &
waiter=$!
stop_began=$(date +%s%3N)
expect_eq "stop is passed on" STOP_PENDING "$(tool control Ostrivan 1)"
tool wait Ostrivan STOPPED 60000 >/dev/null || fail "the service never reached STOPPED"
pass "the manager sees STOPPED"
stop_took=$(( $(date +%s%3N) - stop_began ))
# The wait hint of each stop-pending status reported (trace: "0x10 0x3 0 0 0 CHECKPOINT WAIT_HINT").
hints=($(grep -oE 'SetServiceStatus [0-9A-F]+ 0x10 0x3 0 0 0 0x[0-9a-f]+ 0x[0-9a-f]+$' "$EVENTS" | awk '{ print $NF }'))
(( stop_took >= 10000 && ${#hints[@]} >= 8 && hints[-1] == 20000 && hints[1] < hints[0] )) ||
    fail "after $stop_took ms, the stop-pending status did not advance while the suite was given its grace period: ${hints[*]}"
wait "$waiter" || fail "o-alerts.exe was left running"
expect_eq "o-alerts.exe closed on WM_CLOSE, with its own exit code" 7 "$(cat "$WORK/alerts_exit")"
STOP_ENTRY="L\"Stop: asked 2 programs of the suite (o-alerts.exe, pid $ALERTS_PID; o-graphs.exe, pid $GRAPHS_PID) to end; 1 ended within 10 s; the shutdown list then terminated 4 processes (o-graphs.exe, pid $GRAPHS_PID; "
poll 30 event_logged "$STOP_ENTRY" || fail "no event-log entry for the stop"
expect_eq "one entry for the stop (information, id 9): o-graphs.exe, which ignores WM_CLOSE, terminated by the list" \
    "1 4 9" "$(grep -cF -- "$STOP_ENTRY" "$EVENTS") $(event_type_and_id "$STOP_ENTRY")"
poll 30 tool waitcount o-service.exe 0 1000 || fail "the service's process stayed"
for program in "${SUITE_PROGRAMS[@]}"; do
    poll 30 tool waitcount "$program" 0 1000 || fail "$program survived the stop"
done
pass "no program of the suite is left, and the service's process has ended"

log "the service's process ended outright"
tool start Ostrivan || fail "StartService refused the second start"
tool wait Ostrivan RUNNING 60000 >/dev/null || fail "the second start never reached RUNNING"
read -r _ SERVICE_PID <<<"$(tool query Ostrivan)"
for program in "${SUITE_PROGRAMS[@]}"; do
    poll 30 tool waitcount "$program" 1 1000 || fail "$program was not launched again"
done
# A copy of a suite program that the service did not launch: ending it is not the job's.
FOREIGN_PID=$(tool spawn "$SUITE_WIN\o-alerts.exe")
poll 30 tool waitcount o-alerts.exe 2 1000 || fail "the foreign o-alerts.exe did not start"
tool kill "$SERVICE_PID" 9 >/dev/null || fail "could not end the service's process"
poll 30 tool waitcount o-service.exe 0 1000 || fail "the service's process did not end"
for program in "${SUITE_PROGRAMS[@]:1}"; do
    poll 10 tool waitcount "$program" 0 1000 || fail "$program outlived the service"
done
poll 10 tool waitcount o-alerts.exe 1 1000 || fail "the launched o-alerts.exe outlived the service"
tool procs o-alerts.exe | grep -q "^$FOREIGN_PID " || fail "the foreign o-alerts.exe was ended"
pass "every program the service launched ended with it; the one it did not launch runs on"
tool kill "$FOREIGN_PID" >/dev/null
log "the service manager starts the service beside a copy started by hand"
wine "$SERVICE_EXE" >/dev/null 2>&1 &
poll 30 tool waitcount vantorelle_watcher.exe 1 1000 || fail "the copy started by hand launched nothing"
read -r HAND_PID _ <<<"$(tool procs o-service.exe)"
SUITE_BEFORE=$(suite_pids)
tool start Ostrivan >/dev/null 2>&1 || true # Wine answers 1053 for a service that stops at once
poll 30 event_logged "already running as pid $HAND_PID " || fail "the service did not say \"already running\""
tool wait Ostrivan STOPPED 30000 >/dev/null || fail "the refused service never reached STOPPED"
expect_eq "it stops with ERROR_SERVICE_ALREADY_RUNNING (1056) and touches no process" "1056 $SUITE_BEFORE" \
    "$(wine_out sc query Ostrivan | awk '/WIN32_EXIT_CODE/ { print $3 }') $(suite_pids)"
tool kill "$HAND_PID" >/dev/null

log "-remove"
status=0; wine "$SERVICE_EXE" -remove >/dev/null 2>&1 || status=$?
expect_eq "-remove ends with exit code 0" 0 "$status"
expect_eq "the service is gone" "MISSING 0" "$(tool query Ostrivan)"
if wine reg query 'HKLM\System\CurrentControlSet\Services\EventLog\Application\Ostrivan' \
        >/dev/null 2>&1; then
    fail "the event source is still registered"
fi
pass "the event source is gone"

log "an invalid argument"
status=0
WINEDEBUG=-all,+eventlog wine "$SERVICE_EXE" -Install >/dev/null 2>"$WORK/invalid.log" || status=$?
expect_eq "\"-Install\" ends with exit code 2" 2 "$status"
grep -qF 'answered OK (no one can see this desktop): Invalid Parameter' "$WORK/invalid.log" \
    || fail "no \"Invalid Parameter\" box: $(cat "$WORK/invalid.log")"
pass "\"Invalid Parameter\", answered OK where no one can see it"
expect_eq "nothing registered by it" "MISSING 0" "$(tool query Ostrivan)"

# ---------------------------------------------------------------------------------------
if ! command -v Xvfb >/dev/null 2>&1; then
    log "SKIPPED the part on a visible desktop: Xvfb is not installed (apt-get install xvfb)"
    log "all other parts passed"
    exit 0
fi
log "standalone, on a desktop someone sees (Xvfb)"
wineserver -k >/dev/null 2>&1 || true
wineserver -w
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$WORK/display" >/dev/null 2>&1 &
XVFB_PID=$!
poll 30 test -s "$WORK/display" || fail "Xvfb did not start"
export DISPLAY=":$(cat "$WORK/display")"
# The tool stays on its own window station (-s -), where a program started by hand lives.
desk() { tool -s - "$@"; }

wine "$SERVICE_EXE" -bogus >/dev/null 2>&1 &
invalid=$!
box=$(desk box 60000 OK) || fail "no message box for an invalid argument"
expect_eq "an invalid argument shows its box" "o-service|Invalid Parameter" "$box"
status=0; wait "$invalid" || status=$?
expect_eq "the process ends with exit code 2 once the box is dismissed" 2 "$status"

# A suite folder that lacks o-graphs.exe: the launch fails on the real CreateProcess.
: >"$SUITE/standin.log"
mv "$SUITE/o-graphs.exe" "$WORK/o-graphs.exe"
wine "$SERVICE_EXE" >/dev/null 2>&1 &
standalone=$!
box=$(desk box 60000 OK) || fail "no box for the program that cannot be launched"
# The second line is the system's own text for error 2, then the program.
[[ "$box" == $'Error|Error Shelling file.\n'*" ($SUITE_WIN\\o-graphs.exe)" ]] \
    || fail "the launch failure box reads: $box"
pass "a failed launch is shown: ${box//$'\n'/ / }"
label=$(desk waitlabel "$CAPTION" "Ostrivan Monitoring Service Running" 60000) \
    || fail "the standalone process never started: $label"
pass "not started by the service manager, it started on its own: \"$label\""
for program in o-alerts.exe vantorelle_snmptrap.exe vantorelle_manager.exe vantorelle_watcher.exe; do
    poll 30 tool waitcount "$program" 1 1000 || fail "$program was not launched"
done
pass "the programs after the missing one are launched all the same"
question=$'Stop Service|Are you sure you want to unload the service?...\nthe service will be stopped'
desk close "$CAPTION" >/dev/null
expect_eq "closing the window asks the unload question" "$question" "$(desk box 30000 No)"
poll 30 sh -c "! wine 'C:\\svctool.exe' -s - box 0 >/dev/null 2>&1" || fail "the box stayed"
desk exists "$CAPTION" >/dev/null || fail "No closed the window"
kill -0 "$standalone" 2>/dev/null || fail "No ended the process"
expect_eq "after No the window stays and the status is unchanged" \
    "Ostrivan Monitoring Service Running" "$(desk label "$CAPTION")"
desk close "$CAPTION" >/dev/null
expect_eq "closing again asks again" "$question" "$(desk box 30000 Yes)"
status=0; wait "$standalone" || status=$?
expect_eq "Yes stops the service and ends the process with exit code 0" 0 "$status"
poll 30 tool waitcount o-alerts.exe 0 1000 || fail "o-alerts.exe survived the stop"
pass "the stop terminated the suite"

log "all passed"
