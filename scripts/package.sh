#!/usr/bin/env bash
# Builds the Debian package build-deb/quillseal_<version>_<architecture>.deb in a
# Release tree of its own, with the compiler and linker hardening flags that
# Debian builds its packages with. Install it with
#   apt-get install ./build-deb/quillseal_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

flags() { dpkg-buildflags --get "$1"; }
cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release -DQS_BUILD_TESTS=OFF \
    -DCMAKE_C_FLAGS="$(flags CPPFLAGS) $(flags CFLAGS)" \
    -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" \
    -DCMAKE_SHARED_LINKER_FLAGS="$(flags LDFLAGS)" >/dev/null
cmake --build build-deb -j"$(nproc)"
cpack --config build-deb/CPackConfig.cmake -B build-deb
