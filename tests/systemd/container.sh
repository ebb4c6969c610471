# A real systemd as PID 1 of a systemd-nspawn container, for the tests of the Linux
# service, its unit and its package. Source this file from a bash script that runs with
# `set -euo pipefail`, as root.
#
#   systemd_tree ROOT         a debootstrap tree (systemd, dbus, libfaketime, nagios4-core) at ROOT, built
#                             once under a lock; OSTRIVAN_SYSTEMD_TREE names one to use instead
#   container_start ROOT      boots it with a throw-away overlay and a private network; sets
#                             CT_LEADER (the container's PID 1 as seen from here) and halts
#                             the container and removes its cgroups on exit, on every path
#   ct CMD...                 runs CMD inside the container
#   ct_put FILE PATH          copies a file of this machine to PATH inside the container
#   ct_wait SECONDS CMD...    runs CMD inside until it succeeds; fails after SECONDS
#   container_stop            halts the container now (the exit trap does it otherwise)
#
# The tree itself is never written: every container starts from the same state.

readonly CT_SKIP=77
readonly CT_PACKAGES=systemd,systemd-sysv,dbus,libfaketime
# Installed by apt once the base is there: debootstrap cannot choose among the mail
# transports that the engine's mailer may use.
readonly CT_APT_PACKAGES=nagios4-core

ct_fail() {
    echo "container: $*" >&2
    exit 1
}

ct_require_tools() {
    local tool
    for tool in systemd-nspawn debootstrap nsenter flock; do
        if ! command -v "$tool" >/dev/null; then
            echo "SKIP: $tool is missing (Debian packages systemd-container, debootstrap)" >&2
            exit "$CT_SKIP"
        fi
    done
    [ "$(id -u)" -eq 0 ] || { echo "SKIP: booting a container needs root" >&2; exit "$CT_SKIP"; }
}

# The mirror this machine's apt already uses.
ct_mirror() {
    local mirror
    mirror=$(awk '/^URIs:/{print $2; exit}' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
    [ -n "$mirror" ] ||
        mirror=$(awk '$1 == "deb" {print $2; exit}' /etc/apt/sources.list 2>/dev/null || true)
    [ -n "$mirror" ] || ct_fail "no Debian mirror in this machine's apt sources"
    echo "$mirror"
}

systemd_tree() {
    local root=$1
    ct_require_tools
    if [ -n "${OSTRIVAN_SYSTEMD_TREE:-}" ]; then
        [ -f "$OSTRIVAN_SYSTEMD_TREE/.ostrivan-tree" ] ||
            [ -x "$OSTRIVAN_SYSTEMD_TREE/lib/systemd/systemd" ] ||
            ct_fail "OSTRIVAN_SYSTEMD_TREE=$OSTRIVAN_SYSTEMD_TREE holds no systemd tree"
        return 0
    fi
    mkdir -p "$(dirname "$root")"
    (
        flock 9
        [ -f "$root/.ostrivan-tree" ] && exit 0
        rm -rf "$root" "$root.partial"
        debootstrap --variant=minbase --include="$CT_PACKAGES" bookworm "$root.partial" \
            "$(ct_mirror)" >"$root.log" 2>&1 || {
            tail -n 20 "$root.log" >&2
            ct_fail "debootstrap failed (log: $root.log)"
        }
        # No service of a package may start while the tree is made.
        printf '#!/bin/sh\nexit 101\n' >"$root.partial/usr/sbin/policy-rc.d"
        chmod +x "$root.partial/usr/sbin/policy-rc.d"
        chroot "$root.partial" sh -c "apt-get update -qq && DEBIAN_FRONTEND=noninteractive \
            apt-get install -y -qq --no-install-recommends $CT_APT_PACKAGES" >>"$root.log" 2>&1 ||
            ct_fail "apt-get install $CT_APT_PACKAGES in the tree failed (log: $root.log)"
        rm "$root.partial/usr/sbin/policy-rc.d"
        ln -sf /dev/null "$root.partial/etc/systemd/system/nagios4.service" # started by a test only
        touch "$root.partial/.ostrivan-tree"
        mv "$root.partial" "$root"
    ) 9>"$root.lock"
}

ct_tree() {
    if [ -n "${OSTRIVAN_SYSTEMD_TREE:-}" ]; then echo "$OSTRIVAN_SYSTEMD_TREE"; else echo "$1"; fi
}

CT_NAME=""
CT_NSPAWN=""
CT_LEADER=""
CT_LOG=""

ct_cgroups() {
    local c
    for c in /sys/fs/cgroup/unified /sys/fs/cgroup/systemd; do
        [ -d "$c" ] && echo "$c/$CT_NAME.scope"
    done
    return 0
}

# Removes a cgroup tree depth-first; a folder still busy is left to a later attempt.
ct_remove_cgroup() {
    [ -d "$1" ] || return 0
    find "$1" -depth -type d -exec rmdir {} + 2>/dev/null || true
}

container_stop() {
    [ -n "$CT_NAME" ] || return 0
    if [ -n "$CT_NSPAWN" ] && kill -0 "$CT_NSPAWN" 2>/dev/null; then
        kill -TERM "$CT_NSPAWN" 2>/dev/null || true
        local i
        for i in $(seq 1 100); do
            kill -0 "$CT_NSPAWN" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$CT_NSPAWN" 2>/dev/null || true
    fi
    local group
    for group in $(ct_cgroups); do
        # Anything still in the scope belongs to the container: end it, then remove it.
        find "$group" -name cgroup.procs -exec cat {} + 2>/dev/null | xargs -r kill -KILL 2>/dev/null || true
        sleep 0.2
        ct_remove_cgroup "$group"
    done
    CT_NAME=""
    CT_NSPAWN=""
    CT_LEADER=""
}

ct_on_exit() {
    local status=$?
    if [ "$status" -ne 0 ] && [ "$status" -ne "$CT_SKIP" ] && [ -n "$CT_LOG" ] && [ -f "$CT_LOG" ]; then
        echo "--- container console (last lines) ---" >&2
        tail -n 30 "$CT_LOG" >&2 || true
    fi
    container_stop
    exit "$status"
}

# The container's PID 1 as this machine sees it: the child of nspawn whose command is
# systemd.
ct_find_leader() {
    local child
    for child in $(cat /proc/"$CT_NSPAWN"/task/*/children 2>/dev/null); do
        if [ "$(cat /proc/"$child"/comm 2>/dev/null)" = systemd ]; then
            echo "$child"
            return 0
        fi
    done
    return 1
}

container_start() {
    local root
    root=$(ct_tree "$1")
    ct_require_tools
    [ -x "$root/lib/systemd/systemd" ] || ct_fail "no systemd tree at $root"
    CT_NAME="ostrivan-ct-$$-$RANDOM"
    CT_LOG=$(mktemp "${TMPDIR:-/tmp}/$CT_NAME.XXXXXX.log")
    trap ct_on_exit EXIT
    trap 'exit 130' INT TERM

    local group
    for group in $(ct_cgroups); do mkdir -p "$group"; done
    # nspawn asks the host's systemd for a scope unless it is already in a cgroup of its
    # own: it is put in one before it starts.
    ROOT=$root NAME=$CT_NAME setsid sh -c 'for g in "$@"; do echo $$ >"$g/cgroup.procs"; done
        exec systemd-nspawn -q -D "$ROOT" -M "$NAME" --keep-unit --register=no \
            --private-network --volatile=overlay --console=read-only -b' \
        sh $(ct_cgroups) >"$CT_LOG" 2>&1 </dev/null &
    CT_NSPAWN=$!
    local i
    for i in $(seq 1 300); do
        CT_LEADER=$(ct_find_leader) && break
        kill -0 "$CT_NSPAWN" 2>/dev/null || ct_fail "systemd-nspawn ended at once"
        sleep 0.1
    done
    [ -n "$CT_LEADER" ] || ct_fail "the container's systemd did not start"
    ct_wait 60 sh -c 'state=$(systemctl is-system-running --wait); [ "$state" = running ] || [ "$state" = degraded ]' ||
        ct_fail "the container's systemd did not come up: $(ct systemctl is-system-running || true)"
}

ct() {
    [ -n "$CT_LEADER" ] || ct_fail "no container is running"
    nsenter -t "$CT_LEADER" -a -- env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"
}

ct_put() {
    local file=$1 path=$2
    ct mkdir -p "$(dirname "$path")"
    # The container's root, seen through its PID 1.
    cp -- "$file" "/proc/$CT_LEADER/root$path"
}

ct_wait() {
    local seconds=$1
    shift
    local deadline=$((SECONDS + seconds))
    until ct "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.2
    done
}
