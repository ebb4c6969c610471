#!/usr/bin/env bash
# Builds the Windows Installer package of o-service.exe with wixl.
#
# Usage: build_msi.sh O_SERVICE_EXE VERSION OUTPUT_MSI
#   VERSION is the product version, major.minor.build (4.0.49).
# wixl may exit 0 on a broken package and only print CRITICAL or ERROR: that output fails
# the build here, and no package is left behind.
#
# The same inputs give the same package: its times are SOURCE_DATE_EPOCH, by default the last
# commit's time (the summary's through faketime: wixl and msibuild take the clock's); the
# product code is named by the upgrade code and the version (a new one per version, as a
# major upgrade needs), the package code by everything packed (wixl draws a random one,
# msibuild replaces it).
# With OSTRIVAN_SIGNING_PKCS12 and OSTRIVAN_SIGNING_PASSWORD_FILE set (and
# OSTRIVAN_SIGNING_TIMESTAMP_URL where a time-stamp server is wanted), the package is signed.
set -euo pipefail

if [ $# -ne 3 ]; then
    echo "usage: $0 O_SERVICE_EXE VERSION OUTPUT_MSI" >&2
    exit 2
fi
exe=$1 version=$2 output=$3
here=$(cd "$(dirname "$0")" && pwd)

command -v wixl >/dev/null 2>&1 || { echo "$0: wixl is not installed (apt-get install wixl)" >&2; exit 1; }
[ -f "$exe" ] || { echo "$0: $exe does not exist" >&2; exit 1; }
[[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "$0: version \"$version\" is not major.minor.build" >&2; exit 1; }

output=$(cd "$(dirname "$output")" && pwd)/$(basename "$output")
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$here" log -1 --format=%ct 2>/dev/null || true)}
[[ "$epoch" =~ ^[0-9]+$ ]] || { echo "$0: neither SOURCE_DATE_EPOCH nor a commit to date the package by" >&2; exit 1; }

# A GUID named by TEXT: the first 128 bits of its SHA-256 as a version 5 (name-based) GUID.
named_guid() {
    local h
    h=$(printf '%s' "$1" | sha256sum | cut -c1-32)
    printf '%s-%s-5%s-%x%s-%s' "${h:0:8}" "${h:8:4}" "${h:13:3}" $(( (0x${h:16:1} & 3) | 8 )) \
        "${h:17:3}" "${h:20:12}"
}
upgrade_code=$(grep -o 'UpgradeCode="[^"]*"' "$here/o-service.wxs" | cut -d'"' -f2)
product_code=$(named_guid "$upgrade_code $version")
monitoring=("$here/../prometheus/ostrivan.rules.yml" "$here/../nagios/ostrivan.cfg")
package_code=$(named_guid "$version $(cat "$exe" "$here/o-service.wxs" "${monitoring[@]}" | sha256sum)")
# wixl finds a file's source relative to the folder it runs in.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$exe" "$stage/o-service.exe"
cp "${monitoring[@]}" "$stage/"
touch -d "@$epoch" "$stage"/*
frozen_clock=()
if command -v faketime >/dev/null 2>&1; then
    frozen_clock=(faketime -f "$(date -u -d "@$epoch" '+%Y-%m-%d %H:%M:%S')")
else
    echo "$0: faketime is not installed: the package's summary holds the time of this build"
fi
messages="$stage/wixl.log"
status=0
(cd "$stage" && TZ=UTC "${frozen_clock[@]}" wixl -a x64 -D Version="$version" \
    -D ProductCode="$product_code" -o "$output" "$here/o-service.wxs") >"$messages" 2>&1 ||
    status=$?
cat "$messages"
if [ "$status" -ne 0 ] || grep -qE 'CRITICAL|ERROR' "$messages"; then
    rm -f "$output"
    echo "$0: wixl failed to build $output" >&2
    exit 1
fi
summary() { msiinfo suminfo "$output" | sed -n "s/^$1: //p"; }
TZ=UTC "${frozen_clock[@]}" msibuild "$output" -s "$(summary Subject)" "$(summary Author)" \
    "$(summary Template)" "{${package_code^^}}"
if [ -n "${OSTRIVAN_SIGNING_PKCS12:-}" ]; then
    timestamp=()
    [ -z "${OSTRIVAN_SIGNING_TIMESTAMP_URL:-}" ] || timestamp=(--timestamp="$OSTRIVAN_SIGNING_TIMESTAMP_URL")
    bash "$here/sign.sh" "$OSTRIVAN_SIGNING_PKCS12" "${OSTRIVAN_SIGNING_PASSWORD_FILE:-}" \
        "${timestamp[@]}" "$output"
fi
