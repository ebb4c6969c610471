#!/usr/bin/env bash
# The Windows Installer package: its tables read back, then one pass under Wine on a fresh
# prefix: install into a folder with blanks beside stand-in suite programs, a failed
# second -install, a major upgrade to a later build, a refused downgrade, uninstall, and a
# failed -remove. Every wait polls with a deadline; the measured times are printed.
# First it is built twice from clean folders to the same bytes, then signed.
#
# Usage: wine_msi_test.sh SOURCE_DIR PROJECT_VERSION   (KEEP_WORK=1 keeps the prefix and logs)
# Exit status: 0 passed, 1 failed, 77 skipped (a tool missing: Wine, mingw-w64, wixl, ...).
set -euo pipefail

SOURCE_DIR=$(cd "$1" && pwd)
VERSION=$2
SKIP=77

for tool in wine wineserver x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-windres \
            x86_64-w64-mingw32-windmc x86_64-w64-mingw32-objdump wixl msiinfo openssl osslsigncode; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIPPED: $tool is not installed; the package test needs g++-mingw-w64-x86-64-posix," \
             "wine, wine64, wixl, msitools, openssl and osslsigncode (.ci/run installs them)."
        exit $SKIP
    fi
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/ostrivan-msi.XXXXXX")
export WINEPREFIX="$WORK/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

XVFB_PID=
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
    [ -n "${KEEP_WORK:-}" ] || rm -rf "$WORK"
}
trap cleanup EXIT

log() { printf '[%s] %s\n' "$(date +%T)" "$*"; }
pass() { log "ok: $*"; }
fail() {
    exec >&2 # also seen from inside $(...)
    log "FAILED: $*"
    for install_log in "$WORK"/prefix/drive_c/*.log; do
        [ -f "$install_log" ] || continue
        echo "--- actions and errors of $(basename "$install_log")"
        tr -d '\r\0' <"$install_log" | grep -iE 'action ended|error|in use|reboot' | tail -40
    done
    echo "--- processes"; tool procs 2>/dev/null || true
    exit 1
}
trap 'fail "line $LINENO: unexpected failure of: $BASH_COMMAND"' ERR

wine_out() { wine "$@" | tr -d '\r'; }
tool() { wine_out 'C:\svctool.exe' "$@"; }
poll() {
    local deadline=$(( SECONDS + $1 )); shift
    until "$@" >/dev/null 2>&1; do
        (( SECONDS < deadline )) || return 1
        sleep 0.2
    done
}
expect_eq() { # what expected actual
    [ "$2" = "$3" ] || fail "$1: expected \"$2\", got \"$3\""
    pass "$1"
}

# A failed -install or -remove writes exactly one event line: "<action> failed: [code] ... (call)".
expect_failure_line() { # exe action code call
    local events="$WORK/failure$2.log" line
    WINEDEBUG=-all,+eventlog wine "$1" "$2" >/dev/null 2>"$events" || true
    line=$(grep -o "L\"$2 failed: [^\"]*\"" "$events") || fail "no event line: $(cat "$events")"
    [ "$(wc -l <<<"$line")" = 1 ] || fail "more than one line: $line"
    [[ "$line" == "L\"$2 failed: [$3] "*" ($4)\"" ]] || fail "the line reads $line"
    pass "event log: $line"
}

# Seconds with milliseconds since $1 (from now_ms).
now_ms() { date +%s%3N; }
elapsed() { local ms=$(( $(now_ms) - $1 )); printf '%d.%03d s' $(( ms / 1000 )) $(( ms % 1000 )); }

# The package's file name: major.minor (two digits).build (four digits).
IFS=. read -r major minor build <<<"$VERSION"
msi_name() { printf 'o-service-%d.%02d.%04d-x64.msi' "$1" "$2" "$3"; }
MSI_NAME=$(msi_name "$major" "$minor" "$build")
NEXT_VERSION="$major.$minor.$(( build + 1 ))"
NEXT_NAME=$(msi_name "$major" "$minor" $(( build + 1 )))

# ---------------------------------------------------------------------------------------
log "building the windows preset, which builds $MSI_NAME"
if ! (cd "$SOURCE_DIR" && cmake --preset windows && cmake --build --preset windows) \
        >"$WORK/build.log" 2>&1; then
    cat "$WORK/build.log"
    fail "the windows preset does not build"
fi
BUILD="$SOURCE_DIR/build-windows"
MSI="$BUILD/$MSI_NAME"
[ -f "$MSI" ] || fail "$MSI_NAME was not built"
pass "$MSI_NAME, $(stat -c %s "$MSI") bytes"

log "o-service.exe and $MSI_NAME from two clean folders, the second a copy of the tree"
signing=(OSTRIVAN_SIGNING_PKCS12 OSTRIVAN_SIGNING_PASSWORD_FILE OSTRIVAN_SIGNING_TIMESTAMP_URL)
clean_build() { # SOURCE FOLDER [CMAKE ARGUMENTS]: the executable and the package only
    env "${signing[@]/#/-u}" cmake -S "$1" --preset windows -B "$2" "${@:3}" &&
        cmake --build "$2" --target msi -j2
}
mkdir "$WORK/tree"
git -C "$SOURCE_DIR" ls-files -z | tar -C "$SOURCE_DIR" --null -T - -cf - | tar -C "$WORK/tree" -xf -
export SOURCE_DATE_EPOCH
started=$(now_ms)
clean_build "$SOURCE_DIR" "$WORK/first" >"$WORK/first.log" 2>&1 || { tail -30 "$WORK/first.log"; fail "first build"; }
SOURCE_DATE_EPOCH=$(git -C "$SOURCE_DIR" log -1 --format=%ct)
clean_build "$WORK/tree" "$WORK/second" >"$WORK/second.log" 2>&1 || { tail -30 "$WORK/second.log"; fail "second build"; }
pass "two clean builds in $(elapsed "$started")"
expect_eq "without a certificate the build says once that the files are not signed" 1 "$(grep -c 'are not signed' "$WORK/first.log")"
for file in o-service.exe "$MSI_NAME"; do
    cmp "$WORK/first/$file" "$WORK/second/$file" ||
        fail "two clean builds differ: $(diffoscope "$WORK/first/$file" "$WORK/second/$file" | head -80)"
    pass "two clean builds give the same $file ($(sha256sum <"$WORK/first/$file" | cut -c1-16))"
done

EXE="$WORK/second/o-service.exe"
header=$(x86_64-w64-mingw32-objdump -p -t "$EXE")
for mark in HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT __stack_chk_fail __chk_fail; do
    grep -qE "[[:space:]]$mark\$" <<<"$header" || fail "o-service.exe lacks $mark"
done
pass "PE header: HIGH_ENTROPY_VA, DYNAMIC_BASE, NX_COMPAT; stack protector and fortified calls linked in"

openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Ostrivan test code signing" \
    -addext extendedKeyUsage=codeSigning -keyout "$WORK/key.pem" -out "$WORK/cert.pem" 2>/dev/null
openssl rand -hex 16 >"$WORK/password"
openssl pkcs12 -export -inkey "$WORK/key.pem" -in "$WORK/cert.pem" -passout "file:$WORK/password" \
    -out "$WORK/cert.p12"
clean_build "$WORK/tree" "$WORK/second" -DOSTRIVAN_SIGNING_PKCS12="$WORK/cert.p12" \
    -DOSTRIVAN_SIGNING_PASSWORD_FILE="$WORK/password" >"$WORK/signed.log" 2>&1 \
    || { tail -30 "$WORK/signed.log"; fail "signed build"; }
MSI="$WORK/second/$MSI_NAME"
export OSTRIVAN_SIGNING_PKCS12="$WORK/cert.p12" OSTRIVAN_SIGNING_PASSWORD_FILE="$WORK/password"
bash "$SOURCE_DIR/packaging/windows/build_msi.sh" "$BUILD/o-service.exe" "$NEXT_VERSION" \
    "$WORK/$NEXT_NAME" >"$WORK/next.log" 2>&1 || { cat "$WORK/next.log"; fail "$NEXT_NAME"; }
for file in "$EXE" "$MSI" "$WORK/$NEXT_NAME"; do # signed by the test's certificate alone
    osslsigncode verify -CAfile "$WORK/cert.pem" -in "$file" >"$WORK/verify.log" 2>&1 \
        || { cat "$WORK/verify.log"; fail "$(basename "$file") does not verify"; }
done
pass "osslsigncode verify: o-service.exe, $MSI_NAME and a later build $NEXT_NAME signed by the test's certificate"

# ---------------------------------------------------------------------------------------
log "the package's tables"
table() { msiinfo export "$MSI" "$1" | tr -d '\r' | tail -n +4; }
row() { # TABLE ROW: the table holds ROW (tab-separated) exactly
    table "$1" | grep -qxF "$2" || fail "$1 lacks \"$2\": $(table "$1")"
}
msiinfo suminfo "$MSI" | grep -qxF 'Template: x64;1033' || fail "not an x64 package"
expect_eq "ALLUSERS=1 (per machine)" 1 "$(table Property | awk -F'\t' '$1=="ALLUSERS"{print $2}')"
expect_eq "ProductVersion" "$VERSION" "$(table Property | awk -F'\t' '$1=="ProductVersion"{print $2}')"
row Directory $'INSTALLDIR\tProgramFiles64Folder\tOstrivan'
# 256: a 64-bit component.
table Component | awk -F'\t' '$1=="Service" && $3=="INSTALLDIR" && $4=="256" && $6=="ServiceExe"{f=1} END{exit !f}' \
    || fail "Component: $(table Component)"
table File | awk -F'\t' '$1=="ServiceExe" && $2=="Service" && $3=="o-service.exe"{f=1} END{exit !f}' \
    || fail "File: $(table File)"
pass "o-service.exe in INSTALLDIR, by default \"C:\\Program Files\\Ostrivan\", 64-bit, per machine"
[ -z "$(table ServiceInstall)" ] || fail "ServiceInstall registers on its own: $(table ServiceInstall)"
# 3090: an installed file run deferred (1024) without impersonation (2048), its exit code
# checked; 3154: the same, its exit code ignored (64).
row CustomAction $'RegisterService\t3090\tServiceExe\t-install\t'
row CustomAction $'UnregisterService\t3154\tServiceExe\t-remove\t'
row CustomAction $'UnregisterOnRollback\t2130\tServiceExe\t-remove\t'
pass "registered and removed only by the installed o-service.exe -install / -remove"
# 35: start at install (1), stop at install (2) and uninstall (32), waiting.
row ServiceControl $'Service\tOstrivan\t35\t\t1\tService'
pass "ServiceControl: starts Ostrivan after install, stops it (waiting) before install and uninstall"
sequence_of() { table InstallExecuteSequence | awk -F'\t' -v a="$1" '$1==a{print $3}'; }
in_order() {
    local previous=0 action at
    for action in "$@"; do
        at=$(sequence_of "$action")
        [ -n "$at" ] && (( at > previous )) || fail "$action is not after $previous: $(table InstallExecuteSequence)"
        previous=$at
    done
}
in_order InstallValidate RemoveExistingProducts InstallInitialize StopServices UnregisterService \
         DeleteServices RemoveFiles InstallFiles RegisterService UnregisterOnRollback \
         StartServices InstallFinalize
row InstallExecuteSequence $'UnregisterService\t$Service=2\t1950'
row InstallExecuteSequence $'RegisterService\t$Service=3 AND NOT Installed\t5850'
pass "sequence: old version removed first, stop → -remove → files; files → -install → start"
upgrade_code=$(table Property | awk -F'\t' '$1=="UpgradeCode"{print toupper($2)}')
row Upgrade "$(printf '%s\t\t%s\t\t1\t\tWIX_UPGRADE_DETECTED' "$upgrade_code" "$VERSION")"
row Upgrade "$(printf '%s\t%s\t\t\t2\t\tWIX_DOWNGRADE_DETECTED' "$upgrade_code" "$VERSION")"
table LaunchCondition | grep -q $'^NOT WIX_DOWNGRADE_DETECTED\tA newer version of the Ostrivan Monitoring Service is already installed' \
    || fail "no downgrade refusal: $(table LaunchCondition)"
[ "$(msiinfo export "$WORK/$NEXT_NAME" Property | tr -d '\r' | awk -F'\t' '$1=="UpgradeCode"{print toupper($2)}')" \
    = "$upgrade_code" ] || fail "the later build has another UpgradeCode"
pass "upgrade rule: lower versions of UpgradeCode $upgrade_code are replaced, higher ones refuse the install"
table Registry | awk -F'\t' '$2=="2" && $3=="SOFTWARE\\Ostrivan\\Service" && $4=="InstallDir" &&
                      $5=="[INSTALLDIR]" && $6=="Service" {f=1} END {exit !f}' \
    || fail "the chosen folder is not stored: $(table Registry)"
table RegLocator | grep -qxF $'InstalledFolder\t2\tSOFTWARE\\Ostrivan\\Service\tInstallDir\t18' \
    || fail "the chosen folder is not read back: $(table RegLocator)"
pass "the chosen folder is remembered (HKLM\\SOFTWARE\\Ostrivan\\Service InstallDir) and read back"

# ---------------------------------------------------------------------------------------
log "making a fresh prefix"
# A desktop for the one message an administrator is meant to see: the refused downgrade.
if command -v Xvfb >/dev/null 2>&1; then
    Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$WORK/display" >/dev/null 2>&1 &
    XVFB_PID=$!
    poll 30 test -s "$WORK/display" || fail "Xvfb did not start"
    export DISPLAY=":$(cat "$WORK/display")"
fi
wineserver -k >/dev/null 2>&1 || true
wine wineboot -i >"$WORK/wineboot.log" 2>&1 || fail "wineboot: $(cat "$WORK/wineboot.log")"
wineserver -w
# One session for the whole test, so that the service is not started a second time by
# a new session's automatic start.
wineserver -p
wine 'C:\windows\system32\cmd.exe' /c exit >/dev/null 2>&1

C_DRIVE="$WINEPREFIX/drive_c"
SUITE="$C_DRIVE/Program Files/Ostrivan Suite"
SUITE_WIN='C:\Program Files\Ostrivan Suite'
SERVICE_EXE="$SUITE_WIN\\o-service.exe"
mkdir -p "$SUITE"
cp "$BUILD/svctool.exe" "$C_DRIVE/"
cp "$MSI" "$WORK/$NEXT_NAME" "$C_DRIVE/"
SUITE_PROGRAMS=(o-alerts.exe o-graphs.exe vantorelle_snmptrap.exe vantorelle_manager.exe
                vantorelle_watcher.exe)
for program in "${SUITE_PROGRAMS[@]}"; do cp "$BUILD/standin.exe" "$SUITE/$program"; done

msiexec() { # LOG ARGUMENTS...: msiexec's status (Wine reports it modulo 256)
    local log=$1; shift
    local status=0
    wine msiexec "$@" /qn /l*v "C:\\$log" >/dev/null 2>&1 || status=$?
    echo "$status"
}

service_key='HKLM\System\CurrentControlSet\Services\Ostrivan'
event_source_key='HKLM\System\CurrentControlSet\Services\EventLog\Application\Ostrivan'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
# The installed-programs entries of this product: one "DisplayVersion" line each.
installed_versions() {
    wine_out reg query "$uninstall_key" /s | awk 'BEGIN { RS = "" }
        /DisplayName +REG_SZ +Ostrivan Monitoring Service(\n|$)/ {
            if (match($0, /DisplayVersion +REG_SZ +[^\n]+/)) {
                version = substr($0, RSTART, RLENGTH); sub(/.*REG_SZ +/, "", version); print version
            }
        }'
}
running_suite() { # PID: each suite program runs once, launched by PID from the suite folder
    local program pid parent name path
    for program in "${SUITE_PROGRAMS[@]}"; do
        poll 30 tool waitcount "$program" 1 1000 || fail "$program is not running once"
        read -r pid parent name path <<<"$(tool procs "$program")"
        [ "$parent $path" = "$1 $SUITE_WIN\\$program" ] \
            || fail "$program: launched by $parent from $path"
    done
}
running_service() { # prints the service's process id once it runs
    tool wait Ostrivan RUNNING 60000 >/dev/null || fail "the service is not RUNNING: $(tool query Ostrivan)"
    local state pid
    read -r state pid <<<"$(tool query Ostrivan)"
    echo "$pid"
}
registration_as_install() {
    local registration
    registration=$(wine_out reg query "$service_key")
    grep -qF "ImagePath    REG_SZ    \"$SERVICE_EXE\"" <<<"$registration" \
        || fail "the image path is not the quoted executable: $registration"
    grep -qE 'Start +REG_DWORD +0x2$' <<<"$registration" || fail "not automatic start: $registration"
    grep -qE 'Type +REG_DWORD +0x10$' <<<"$registration" || fail "not an own-process service: $registration"
    grep -qF 'DisplayName    REG_SZ    Ostrivan Monitoring Service' <<<"$registration" \
        || fail "display name: $registration"
    wine_out reg query "$service_key\\Parameters" | grep -qE 'TimerInterval +REG_SZ +60000$' \
        || fail "Parameters\\TimerInterval is not \"60000\""
    wine_out reg query "$event_source_key" | grep -qF "EventMessageFile    REG_EXPAND_SZ    $SERVICE_EXE" \
        || fail "the event source does not name the executable as its message file"
}

# ---------------------------------------------------------------------------------------
log "install into \"$SUITE_WIN\""
started=$(now_ms)
status=$(msiexec install.log /i "C:\\$MSI_NAME" "INSTALLDIR=$SUITE_WIN")
INSTALL_TIME=$(elapsed "$started")
expect_eq "msiexec /i ends with 0 ($INSTALL_TIME)" 0 "$status"
[ -f "$SUITE/o-service.exe" ] || fail "o-service.exe is not in the suite folder"
for shipped in prometheus/ostrivan.rules.yml nagios/ostrivan.cfg; do
    cmp -s "$SUITE/monitoring/${shipped#*/}" "$SOURCE_DIR/packaging/$shipped" || fail "$shipped is not in the monitoring folder"
done
[ ! -e "$C_DRIVE/Program Files/Ostrivan" ] || fail "the default folder was used too"
registration_as_install
pass "registration as -install makes it: quoted image path, display name, automatic start," \
     "own process, Parameters\\TimerInterval \"60000\", event source with the executable"
SERVICE_PID=$(running_service)
running_suite "$SERVICE_PID"
pass "the service runs (process $SERVICE_PID) and launched the suite from its folder"
expect_eq "one installed-programs entry" "$VERSION" "$(installed_versions)"

log "a second -install fails and says why in the event log"
expect_failure_line "$SERVICE_EXE" -install 1073 CreateService
registration_as_install
expect_eq "the running service is untouched" "RUNNING $SERVICE_PID" "$(tool query Ostrivan)"

# ---------------------------------------------------------------------------------------
log "upgrade to $NEXT_NAME, without naming the folder again"
started=$(now_ms)
status=$(msiexec upgrade.log /i "C:\\$NEXT_NAME")
UPGRADE_TIME=$(elapsed "$started")
expect_eq "msiexec /i of the later build ends with 0 ($UPGRADE_TIME)" 0 "$status"
[ -f "$SUITE/o-service.exe" ] || fail "o-service.exe is not in the suite folder after the upgrade"
[ ! -e "$C_DRIVE/Program Files/Ostrivan" ] || fail "the upgrade installed into the default folder"
registration_as_install
expect_eq "one installed-programs entry, the later version" "$NEXT_VERSION" "$(installed_versions)"
NEW_PID=$(running_service)
[ "$NEW_PID" != "$SERVICE_PID" ] || fail "the service was not restarted by the upgrade"
running_suite "$NEW_PID"
pass "one registration, running again (process $NEW_PID) with the suite relaunched by it"

log "a downgrade is refused"
refusal='A newer version of the Ostrivan Monitoring Service is already installed. Uninstall it before installing this older version.'
if [ -n "$XVFB_PID" ]; then
    # Basic UI, as an administrator starting the package by hand sees it.
    wine msiexec /i "C:\\$MSI_NAME" /qb >/dev/null 2>&1 &
    downgrade=$!
    box=$(wine_out 'C:\svctool.exe' -s - box 60000 OK) || fail "no message box for the downgrade"
    expect_eq "the downgrade shows why it is refused" "Install Failed|$refusal" "$box"
    status=0; wait "$downgrade" || status=$?
else
    log "SKIPPED the refusal's message box: Xvfb is not installed (apt-get install xvfb)"
    status=$(msiexec downgrade.log /i "C:\\$MSI_NAME")
    tr -d '\0\r' <"$C_DRIVE/downgrade.log" | grep -q 'LaunchConditions. Return value 0' \
        || fail "the downgrade was not stopped by its launch condition"
fi
[ "$status" != 0 ] || fail "the older package installed over the newer one"
pass "the older package ends with status $status (1603 modulo 256 under Wine)"
expect_eq "still the later version, running" "$NEXT_VERSION RUNNING $NEW_PID" \
    "$(installed_versions) $(tool query Ostrivan)"

# ---------------------------------------------------------------------------------------
log "uninstall"
started=$(now_ms)
status=$(msiexec uninstall.log /x "C:\\$NEXT_NAME")
UNINSTALL_TIME=$(elapsed "$started")
expect_eq "msiexec /x ends with 0 ($UNINSTALL_TIME)" 0 "$status"
expect_eq "the service is gone" "MISSING 0" "$(tool query Ostrivan)"
for key in "$service_key" "$event_source_key" 'HKLM\SOFTWARE\Ostrivan\Service'; do
    if wine reg query "$key" >/dev/null 2>&1; then fail "$key is still there"; fi
done
pass "service key with its Parameters, event source and remembered folder are gone"
[ ! -e "$SUITE/o-service.exe" ] || fail "o-service.exe is still there"
[ ! -e "$SUITE/monitoring" ] || fail "the monitoring folder is still there"
for program in "${SUITE_PROGRAMS[@]}"; do
    [ -f "$SUITE/$program" ] || fail "the uninstall removed the suite's $program"
done
pass "o-service.exe is gone; the suite's own programs beside it stay"
expect_eq "no installed-programs entry" "" "$(installed_versions)"
for program in "${SUITE_PROGRAMS[@]}" o-service.exe; do
    poll 30 tool waitcount "$program" 0 1000 || fail "$program is still running"
done
pass "no program of the suite is left running"

log "-remove with nothing registered fails and says why in the event log"
cp "$BUILD/o-service.exe" "$C_DRIVE/o-service.exe"
expect_failure_line 'C:\o-service.exe' -remove 1060 OpenService

log "package $MSI_NAME: $(stat -c %s "$MSI") bytes; install $INSTALL_TIME, upgrade $UPGRADE_TIME," \
    "uninstall $UNINSTALL_TIME"
log "all passed"
