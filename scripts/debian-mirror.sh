#!/usr/bin/env bash
# Prints the address of the Debian archive this machine's own apt sources use
# for a release's own suite (bookworm by default), followed by a tab and the
# keyring its source names (empty when it names none), so that scripts reach
# the same archive without naming a host themselves. Both the one-line and
# the deb822 formats are read; fails when no source names the suite.
set -euo pipefail
codename=${1:-bookworm}
files=()
[ -f /etc/apt/sources.list ] && files+=(/etc/apt/sources.list)
for f in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && files+=("$f")
done
found=""
if [ ${#files[@]} -gt 0 ]; then
    found=$(awk -v want="$codename" '
        function flush() {
            if (types ~ /(^| )deb( |$)/ && (" " suites " ") ~ (" " want " ") && uris != "" && !found) {
                split(uris, u, " "); print u[1] "\t" signed; found = 1
            }
            types = ""; uris = ""; suites = ""; signed = ""
        }
        FNR == 1 { flush() }
        /^[[:space:]]*#/ { next }
        /^[[:space:]]*$/ { flush(); next }
        /^deb[[:space:]]/ {
            line = $0; keyring = ""
            if (match(line, /signed-by=[^] ]*/)) keyring = substr(line, RSTART + 10, RLENGTH - 10)
            sub(/\[[^]]*\]/, "", line); split(line, w, /[[:space:]]+/)
            if (w[3] == want && !found) { print w[2] "\t" keyring; found = 1 }
            next
        }
        /^Types:/ { sub(/^Types:[[:space:]]*/, ""); types = $0; next }
        /^URIs:/ { sub(/^URIs:[[:space:]]*/, ""); uris = $0; next }
        /^Suites:/ { sub(/^Suites:[[:space:]]*/, ""); suites = $0; next }
        /^Signed-By:/ { sub(/^Signed-By:[[:space:]]*/, ""); signed = $0; next }
        END { flush() }' "${files[@]}")
fi
if [ -z "$found" ]; then
    echo "No Debian source for $codename was found in this machine's apt sources" >&2
    exit 1
fi
printf '%s\n' "$found"
