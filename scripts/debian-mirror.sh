#!/usr/bin/env bash
# Prints the address of the Debian archive this machine's own apt sources use
# (the main archive, not the security one), so that scripts reach the same
# archive without naming a host themselves.
set -euo pipefail
shopt -s nullglob
files=()
for f in /etc/apt/sources.list.d/*.sources /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -r "$f" ] && files+=("$f")
done
[ ${#files[@]} -gt 0 ] || files=(/dev/null)
address=$(awk '
    FILENAME ~ /\.sources$/ && $1 == "URIs:" {
        for (i = 2; i <= NF; i++) if ($i ~ /\/debian\/?$/) { print $i; exit }
    }
    FILENAME !~ /\.sources$/ && $1 == "deb" {
        for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\// && $i ~ /\/debian\/?$/) { print $i; exit }
    }' "${files[@]}")
if [ -z "$address" ]; then
    echo "No Debian archive was found in this machine's apt sources" >&2
    exit 1
fi
echo "$address"
