#!/usr/bin/env bash
# Signing benchmarks: time and peak memory for a 10 KB, a 10 MB and a 200 MB
# document beside the floor of copying and hashing the same file in the same
# run, and the directory route over 200 small documents.
# usage: bench/run.sh [work folder]   (the work folder holds ~650 MB while it runs)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/install-deps.sh
command -v /usr/bin/time >/dev/null || { DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time >/dev/null; }
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DQS_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" >/dev/null
qs=$root/build-bench/quillseal

work=${1:-$(mktemp -d /tmp/qs-bench-XXXXXX)}
mkdir -p "$work"; cd "$work"
trap 'rm -rf "$work"/docs "$work"/signed "$work"/*.pdf' EXIT

# Key store and configuration.
if [ ! -f bench.p12 ]; then
    openssl req -x509 -newkey rsa:2048 -nodes -keyout bench.key -out bench.pem -days 30 \
        -subj "/O=Quillseal Bench/CN=Bench Signer" 2>/dev/null
    openssl pkcs12 -export -inkey bench.key -in bench.pem -passout pass:bench -out bench.p12
fi
stored=$("$qs" -e bench | sed -n 's/^Encrypted password: //p')
printf 'certstore=PKCS12 KEYSTORE FILE\ncertfile=%s/bench.p12\ncertpasswd=%s\n' "$work" "$stored" > bench.conf

# seconds and peak KiB of a command, as "S KIB"
measure() { /usr/bin/time -f '%e %M' -o time.out "$@" >/dev/null 2>&1; cat time.out; }
# best wall time in milliseconds over N runs (rusage resolution is 10 ms, so time with date)
best_ms() {
    local n=$1; shift; local best=999999
    for _ in $(seq "$n"); do
        local t0 t1; t0=$(date +%s%N); "$@" >/dev/null 2>&1; t1=$(date +%s%N)
        local ms=$(( (t1 - t0) / 1000 )); [ "$ms" -lt "$best" ] && best=$ms
    done
    printf '%d.%03d' $((best / 1000)) $((best % 1000))
}
floor() { cp "$1" copy.pdf && openssl dgst -sha256 copy.pdf >/dev/null; }

printf '%-12s %12s %12s %8s %14s %10s\n' "document" "floor (ms)" "sign (ms)" "ratio" "peak memory" "status"
for doc in 10k:10240 10m:10485760 200m:209715200; do
    name=${doc%%:*}; size=${doc#*:}
    bash "$root/bench/make_pdf.sh" "doc-$name.pdf" "$size"
    runs=$([ "$name" = 200m ] && echo 3 || echo 15)
    cat "doc-$name.pdf" > /dev/null   # page cache warm for both
    f=$(best_ms "$runs" floor "doc-$name.pdf")
    s=$(best_ms "$runs" "$qs" -i "doc-$name.pdf" -o "out-$name.pdf" -z bench.conf)
    read -r _ kib < <(measure "$qs" -i "doc-$name.pdf" -o "out-$name.pdf" -z bench.conf)
    status=$("$qs" -i "doc-$name.pdf" -o "out-$name.pdf" -z bench.conf | cut -c1-2)
    ratio=$(awk -v s="$s" -v f="$f" 'BEGIN { printf "%.2f", s / f }')
    printf '%-12s %12s %12s %8s %10.1f MiB %10s\n' "$name" "$f" "$s" "${ratio}x" "$(awk -v k="$kib" 'BEGIN{print k/1024}')" "$status"
    rm -f "out-$name.pdf" copy.pdf
done

# Directory route: 200 small documents.
mkdir -p docs signed
bash "$root/bench/make_pdf.sh" small.pdf 10240
for i in $(seq -w 1 200); do cp small.pdf "docs/doc$i.pdf"; done
t0=$(date +%s%N)
"$qs" -i docs -o signed -z bench.conf > dir.out
t1=$(date +%s%N)
ok=$(grep -c '^0#Document signed' dir.out || true)
awk -v n="$ok" -v ns=$((t1 - t0)) 'BEGIN { printf "directory route: %d documents signed in %.2f s, %.0f documents per second\n", n, ns / 1e9, n / (ns / 1e9) }'
