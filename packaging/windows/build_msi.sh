#!/usr/bin/env bash
# Builds the Windows Installer package of o-service.exe with wixl.
#
# Usage: build_msi.sh O_SERVICE_EXE VERSION OUTPUT_MSI
#   VERSION is the product version, major.minor.build (4.0.49).
# wixl may exit 0 on a broken package and only print CRITICAL or ERROR: that output fails
# the build here, and no package is left behind.
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
# wixl finds a file's source relative to the folder it runs in.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$exe" "$stage/o-service.exe"
messages="$stage/wixl.log"
status=0
(cd "$stage" && wixl -a x64 -D Version="$version" -o "$output" "$here/o-service.wxs") \
    >"$messages" 2>&1 || status=$?
cat "$messages"
if [ "$status" -ne 0 ] || grep -qE 'CRITICAL|ERROR' "$messages"; then
    rm -f "$output"
    echo "$0: wixl failed to build $output" >&2
    exit 1
fi
