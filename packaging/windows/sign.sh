#!/usr/bin/env bash
# Signs a Windows file (an .exe or an .msi) in place with osslsigncode: SHA-256, the
# product's name, and an RFC 3161 time stamp only when a server is named.
#
# Usage: sign.sh PKCS12 PASSWORD_FILE [--timestamp=URL] FILE
set -euo pipefail

if [ $# -lt 3 ] || [ $# -gt 4 ]; then
    echo "usage: $0 PKCS12 PASSWORD_FILE [--timestamp=URL] FILE" >&2
    exit 2
fi
pkcs12=$1 password_file=$2
timestamp=()
if [ $# -eq 4 ]; then
    [[ "$3" == --timestamp=?* ]] || { echo "$0: expected --timestamp=URL, got $3" >&2; exit 2; }
    timestamp=(-ts "${3#--timestamp=}")
fi
file=${!#}

command -v osslsigncode >/dev/null 2>&1 ||
    { echo "$0: osslsigncode is not installed (apt-get install osslsigncode)" >&2; exit 1; }
for input in "$pkcs12" "$password_file" "$file"; do
    [ -f "$input" ] || { echo "$0: $input does not exist" >&2; exit 1; }
done

signed="$file.signing"
trap 'rm -f "$signed"' EXIT
osslsigncode sign -pkcs12 "$pkcs12" -readpass "$password_file" -h sha256 \
    -n "Ostrivan Monitoring Service" "${timestamp[@]}" -in "$file" -out "$signed" >/dev/null
mv "$signed" "$file"
echo "signed $file"
