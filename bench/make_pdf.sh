#!/usr/bin/env bash
# Writes a one-page PDF of about the given size (bytes): the page draws an
# image XObject whose stream holds incompressible bytes.
# usage: make_pdf.sh OUT SIZE
set -euo pipefail
out=${1:?out}; size=${2:?size}
payload=$(( size > 2000 ? size - 1200 : 800 ))
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
side=$(( payload / 3 )); w=1; h=$side   # one pixel wide, RGB, 8 bits
payload=$(( side * 3 ))
head -c "$payload" /dev/urandom > "$tmp/data"

offsets=()
pos=0
emit() { printf '%s' "$1" >> "$out"; pos=$(( pos + ${#1} )); }
: > "$out"
emit $'%PDF-1.7\n%\xe2\xe3\xcf\xd3\n'
pos=$(stat -c %s "$out")
offsets[1]=$pos; emit $'1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n'
offsets[2]=$pos; emit $'2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n'
offsets[3]=$pos; emit $'3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /XObject << /Im0 5 0 R >> >> /Contents 4 0 R >>\nendobj\n'
content=$'q 100 0 0 700 50 50 cm /Im0 Do Q\n'
offsets[4]=$pos; emit "4 0 obj"$'\n'"<< /Length ${#content} >>"$'\nstream\n'"$content"$'endstream\nendobj\n'
offsets[5]=$pos; emit "5 0 obj"$'\n'"<< /Type /XObject /Subtype /Image /Width $w /Height $h /ColorSpace /DeviceRGB /BitsPerComponent 8 /Length $payload >>"$'\nstream\n'
cat "$tmp/data" >> "$out"; pos=$(( pos + payload ))
emit $'\nendstream\nendobj\n'
offsets[6]=$pos; emit $'6 0 obj\n<< /Title (Benchmark document) /Producer (bench) >>\nendobj\n'
xref=$pos
emit $'xref\n0 7\n0000000000 65535 f \n'
for i in 1 2 3 4 5 6; do emit "$(printf '%010d 00000 n \n' "${offsets[$i]}")"$'\n'; done
emit $'trailer\n<< /Size 7 /Root 1 0 R /Info 6 0 R >>\nstartxref\n'"$xref"$'\n%%EOF\n'
