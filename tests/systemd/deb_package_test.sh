#!/bin/bash
# The Debian package, built from this build folder, checked by lintian, then installed,
# started, upgraded and purged under a real systemd in a container. In between: hardening-check,
# and two more builds from clean folders that must give the same bytes.
#
#   deb_package_test.sh BUILD_DIR VERSION STANDIN
#
# Prints BENCH lines: package size, and install, upgrade and purge times measured inside
# the container.
set -euo pipefail

build=$1
version=$2
standin=$3
suite=(o-alerts.exe o-graphs.exe vantorelle_snmptrap.exe vantorelle_manager.exe
    vantorelle_watcher.exe)
unit=/etc/systemd/system/ostrivan.service
parameters=/etc/systemd/system/ostrivan.parameters

# shellcheck source=container.sh
source "$OSTRIVAN_CONTAINER_LIBRARY"
ct_require_tools
if ! command -v lintian >/dev/null || ! command -v hardening-check >/dev/null; then
    echo "SKIP: lintian or hardening-check is missing (Debian packages lintian, devscripts)" >&2
    exit "$CT_SKIP"
fi
# The suite's programs in the container are processes of this machine too: tests from other
# build folders that end them by name wait for this one, as it waits for them.
exec 8>/tmp/ostrivan-process-table.lock
flock 8
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# TEXT holds a line that matches the extended regular expression PATTERN.
holds() { grep -qE -- "$2" <<<"$1"; }

failures=0
check() {
    local what=$1
    shift
    if "$@"; then
        echo "ok: $what"
    else
        echo "FAILED: $what" >&2
        failures=$((failures + 1))
    fi
}

# --- the packages: this version, and one build number lower to upgrade from
work=$build/deb-package-test
rm -rf "$work"
mkdir -p "$work"
number=${version##*.}
older=${version%.*}.$(printf '%0*d' "${#number}" $((10#$number - 1)))
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/new" >"$work/cpack-new.log"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/old" \
    -D CPACK_PACKAGE_VERSION="$older" >"$work/cpack-old.log"
deb=$work/new/ostrivan-service_${version}_amd64.deb
old_deb=$work/old/ostrivan-service_${older}_amd64.deb
[ -f "$deb" ] || ct_fail "no $deb: $(ls "$work/new")"
[ -f "$old_deb" ] || ct_fail "no $old_deb: $(ls "$work/old")"
echo "BENCH: package size $(stat -c %s "$deb") bytes"

contents=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | sort | tr '\n' ' ')
check "the package holds o-service, its copyright, changelog, lintian override, alert rules and engine definitions only" \
    [ "$contents" = "./opt/ostrivan/o-service ./usr/share/doc/ostrivan-service/changelog.gz ./usr/share/doc/ostrivan-service/copyright ./usr/share/lintian/overrides/ostrivan-service ./usr/share/ostrivan-service/ostrivan.cfg ./usr/share/ostrivan-service/ostrivan.rules.yml " ]

lintian_output=$(lintian --display-info "$deb" 2>&1 | grep -v 'running with root privileges' || true)
echo "lintian:"
echo "${lintian_output:-(nothing)}"
lintian_clean() { ! holds "$lintian_output" '^[EW]: '; }
check "lintian reports no error and no warning" lintian_clean
check "lintian reports no hardening tag" eval '! holds "$lintian_output" hardening-'

# --- the packaged executable's protections. Debian 12's start files (Scrt1.o, crti.o) lack
# the IBT/SHSTK note, so no program linked here has one: that check alone is left out.
dpkg-deb -x "$deb" "$work/unpacked"
hardening=$(hardening-check --nocfprotection "$work/unpacked/opt/ostrivan/o-service" 2>&1) ||
    hardening="$hardening (failed)"
echo "$hardening"
protected() { ! holds "$hardening" '[(]failed[)]$' && [ "$(grep -c ': yes' <<<"$hardening")" -ge 5 ]; }
check "hardening-check: PIE, stack protector, fortified calls, full RELRO, immediate binding" protected

# --- two builds from clean folders, the second of a copy of the tree dated from outside: the same bytes.
clean_package() { # SOURCE FOLDER; without the tests, which cpack would build first
    cmake -S "$1" --preset default -B "$2" -DOSTRIVAN_BUILD_TESTS=OFF &&
        cmake --build "$2" --target o-service -j2 &&
        cpack --config "$2/CPackConfig.cmake" -G DEB -B "$2/package"
}
mkdir "$work/tree"
git -C "$source_dir" ls-files -z | tar -C "$source_dir" --null -T - -cf - | tar -C "$work/tree" -xf -
started=$SECONDS
clean_package "$source_dir" "$work/first" >"$work/first.log" 2>&1 || ct_fail "$(tail -20 "$work/first.log")"
SOURCE_DATE_EPOCH=$(git -C "$source_dir" log -1 --format=%ct) \
    clean_package "$work/tree" "$work/second" >"$work/second.log" 2>&1 ||
    ct_fail "$(tail -20 "$work/second.log")"
echo "BENCH: two clean builds of o-service and its package $((SECONDS - started)) s"
same_bytes() { cmp "$1" "$2" || { diffoscope "$1" "$2" | head -80; false; }; }
check "two clean builds give the same package" \
    same_bytes "$work"/{first,second}/package/ostrivan-service_"${version}"_amd64.deb

# --- in the container
container_start "$OSTRIVAN_SYSTEMD_TREE_ROOT"
ct_put "$deb" /root/new.deb
ct_put "$old_deb" /root/old.deb

# Runs CMD inside the container, its output into $work/last.log; prints the milliseconds it
# took, measured inside.
timed() {
    ct sh -c 'start=$(date +%s%N); "$@"; status=$?; end=$(date +%s%N)
        echo $(((end - start) / 1000000)) >/tmp/timed.ms; exit $status' sh "$@" \
        >"$work/last.log" 2>&1 || { cat "$work/last.log" >&2; return 1; }
    ct cat /tmp/timed.ms
}
state() { ct systemctl show -p "$1" --value ostrivan.service; }
# How many of the suite's programs run in the container (zombies have no exe link).
suite_count() {
    ct sh -c 'for p in /proc/[0-9]*; do readlink "$p/exe"; done 2>/dev/null' |
        grep -cE '^/opt/ostrivan/(o-alerts|o-graphs|vantorelle_snmptrap|vantorelle_manager|vantorelle_watcher)\.exe$' || true
}
suite_count_is() { [ "$(suite_count)" -eq "$1" ]; }
# CMD... succeeds within 10 s.
eventually() {
    local _
    for _ in $(seq 50); do
        "$@" && return 0
        sleep 0.2
    done
    return 1
}
nothing_left() {
    ct test ! -e "$unit" && ct test ! -e "$parameters" &&
        ct test ! -L /etc/systemd/system/multi-user.target.wants/ostrivan.service &&
        ct test ! -e /opt/ostrivan/o-service && ct test ! -e /usr/share/doc/ostrivan-service &&
        ct test ! -e /usr/share/ostrivan-service &&
        [ -z "$(ct systemctl list-unit-files --no-legend ostrivan.service)" ] &&
        ! ct dpkg -s ostrivan-service >/dev/null 2>&1
}
# The journal of this boot holds a line with TEXT among those that match FILTER.
journal_has() { ct journalctl -b "$1" --no-pager -o cat | grep -q "$2"; }

# A first installation before the suite's programs are there: registered, enabled, not
# started, and one line saying why.
ms=$(timed dpkg -i /root/new.deb)
echo "BENCH: dpkg -i (registration, suite missing) $ms ms"
check "dpkg -i without the suite says so in one line" \
    [ "$(grep -c "not in /opt/ostrivan yet" "$work/last.log")" -eq 1 ]
check "the unit is enabled" [ "$(ct systemctl is-enabled ostrivan.service || true)" = enabled ]
check "the unit is not started without the suite" [ "$(state ActiveState)" = inactive ]

for program in "${suite[@]}"; do
    ct_put "$standin" "/opt/ostrivan/$program"
done
ct systemctl start ostrivan.service
check "systemctl start returns once the service is ready" [ "$(state ActiveState)" = active ]
check "systemctl status shows the service's status line" \
    holds "$(ct systemctl status ostrivan.service --no-pager || true)" \
    'Status: "Ostrivan Monitoring Service Running"'
check "the whole suite runs" eventually suite_count_is ${#suite[@]}
check "journalctl -u ostrivan holds the launch lines" \
    eventually journal_has --unit=ostrivan.service "launched vantorelle_watcher.exe"
ct systemctl stop ostrivan.service
check "systemctl stop ends the suite" eventually suite_count_is 0
check "the service is stopped" [ "$(state ActiveState)" = inactive ]

ms=$(timed dpkg --purge ostrivan-service)
echo "BENCH: dpkg --purge (stopped) $ms ms"
check "a purge leaves no unit, no parameters, no file" nothing_left

# An upgrade from a lower build number, the suite in place: the earlier version's unit
# (marked here, as its text would differ) gives way to this version's, which stays
# enabled and runs this version's executable.
ms=$(timed dpkg -i /root/old.deb)
echo "BENCH: dpkg -i (registration and start) $ms ms"
check "the lower version starts at installation" [ "$(state ActiveState)" = active ]
ct sh -c "echo '# written by $older' >>$unit"
ct systemctl daemon-reload
old_pid=$(state MainPID)
ms=$(timed dpkg -i /root/new.deb)
echo "BENCH: dpkg -i (upgrade, restart) $ms ms"
check "the upgraded package is this version" \
    [ "$(ct dpkg-query -W -f '${Version}' ostrivan-service)" = "$version" ]
check "after the upgrade the unit is enabled" \
    [ "$(ct systemctl is-enabled ostrivan.service || true)" = enabled ]
check "after the upgrade the service runs" [ "$(state ActiveState)" = active ]
new_pid=$(state MainPID)
check "after the upgrade the service is a new process" [ "$new_pid" != "$old_pid" ]
check "after the upgrade the service runs the new executable" \
    [ "$(ct readlink "/proc/$new_pid/exe")" = /opt/ostrivan/o-service ]
ct mkdir -p /tmp/fresh
ct env OSTRIVAN_UNIT_DIR=/tmp/fresh /opt/ostrivan/o-service -install >/dev/null
check "after the upgrade the unit text is this version's" \
    [ "$(ct cat "$unit")" = "$(ct cat /tmp/fresh/ostrivan.service)" ]
check "systemd reads this version's unit" [ "$(state NeedDaemonReload)" = no ]
check "the upgraded service launches the suite" eventually suite_count_is ${#suite[@]}
check "the upgraded service's launch lines reach the journal" \
    eventually journal_has "_PID=$new_pid" "launched vantorelle_watcher.exe"

ms=$(timed dpkg --purge ostrivan-service)
echo "BENCH: dpkg --purge (running, stop) $ms ms"
check "a purge of the running service ends the suite" eventually suite_count_is 0
check "a purge leaves no unit, no parameters, no file" nothing_left

echo "--- journal of ostrivan.service"
ct journalctl -b -u ostrivan.service --no-pager -o short-monotonic | tail -n 40 || true
[ "$failures" -eq 0 ] || ct_fail "$failures checks failed"
echo "all checks passed"
