#!/usr/bin/env bash
# Installs what is needed, builds, and runs the whole test suite twice: once in
# the normal build and once under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)

# The tests are asked for by name: the demo configures the same tree without them.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQS_BUILD_TESTS=ON >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure --no-tests=error -j"$jobs")

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DQS_SANITIZE=ON -DQS_BUILD_TESTS=ON >/dev/null
cmake --build build-sanitize -j"$jobs"
(cd build-sanitize && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure --no-tests=error -j"$jobs")

# A bounded fuzzing run of every target from the seed corpus.
FUZZ_SECONDS=${FUZZ_SECONDS:-60} bash scripts/fuzz.sh
