#!/usr/bin/env bash
# Installs the build into a scratch prefix and builds a C program against the
# installed header and library through the installed pkg-config file.
set -euo pipefail
build=${1:?build dir}; src=${2:?source of the C program}
prefix=$(mktemp -d); trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/quillseal include/quillseal/quillseal.h; do [ -e "$prefix/$f" ] || { echo "missing $f"; exit 1; }; done
# The Java bridge and its class, when this build has them.
if [ -e "$build/libquillsealjni.so" ]; then
    [ -n "$(find "$prefix" -name libquillsealjni.so)" ] || { echo "missing libquillsealjni.so"; exit 1; }
    [ -n "$(find "$prefix" -name quillseal-jni.jar)" ] || { echo "missing quillseal-jni.jar"; exit 1; }
fi
pc=$(find "$prefix" -name quillseal.pc)
[ -n "$pc" ] || { echo "missing quillseal.pc"; exit 1; }
flags=$(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --cflags --libs quillseal)
cc -std=c99 -Wall -Wextra -pedantic -Werror "$src" $flags -o "$prefix/abi_check"
LD_LIBRARY_PATH=$(dirname "$(dirname "$pc")") "$prefix/abi_check"
LD_LIBRARY_PATH=$(dirname "$(dirname "$pc")") "$prefix/bin/quillseal" -h | head -1 | grep -q '^Quillseal v2.7.1, '
