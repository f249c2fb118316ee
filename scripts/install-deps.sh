#!/usr/bin/env bash
# Installs the Debian packages that building, packaging, the demo and the tests need.
set -euo pipefail
packages=(build-essential cmake pkg-config libgtest-dev
          libssl-dev libqpdf-dev libcurl4-openssl-dev libjson-c-dev libpng-dev zlib1g-dev libhpdf-dev
          openssl qpdf poppler-utils ghostscript python3 fonts-dejavu-core clang libclang-rt-14-dev
          softhsm2 libengine-pkcs11-openssl opensc-pkcs11 libnss3-tools default-jdk-headless parallel procps
          dpkg-dev groff-base file man-db)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
