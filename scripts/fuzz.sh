#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time
# (FUZZ_SECONDS, default 60) from the seed corpus in tests/fuzz/corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQS_FUZZ=ON \
    -DQS_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in conf_file json_config file_tail signature_update dss_update verify; do
    mkdir -p "$work/$target"
    cp -r tests/fuzz/corpus/$target/. "$work/$target/"
    echo "fuzz_$target: ${seconds}s"
    # A fixed seed makes runs repeatable from one machine to the next.
    if ! ASAN_OPTIONS=detect_leaks=1 ./build-fuzz/tests/fuzz/fuzz_$target -seed=1 -max_total_time="$seconds" \
            -max_len=65536 -timeout=20 -rss_limit_mb=2048 -print_final_stats=0 \
            -artifact_prefix="$work/" "$work/$target" >"$work/$target.log" 2>&1; then
        echo "fuzz_$target FAILED"; tail -40 "$work/$target.log"; status=1
        mkdir -p build-fuzz/artifacts && cp "$work"/crash-* "$work"/leak-* "$work"/timeout-* build-fuzz/artifacts/ 2>/dev/null || true
    else
        grep -E '^Done|#[0-9]+.*DONE' "$work/$target.log" | tail -1 || true
    fi
done
exit $status
