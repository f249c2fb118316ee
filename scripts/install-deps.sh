#!/usr/bin/env bash
# Installs the Debian packages that building, packaging, the demo, the tests and the benchmarks need.
set -euo pipefail
packages=(build-essential cmake pkg-config libgtest-dev
          libssl-dev libqpdf-dev libcurl4-openssl-dev libjson-c-dev libpng-dev zlib1g-dev libhpdf-dev
          openssl qpdf poppler-utils ghostscript python3 fonts-dejavu-core clang libclang-rt-14-dev
          softhsm2 libengine-pkcs11-openssl python3-cryptography opensc-pkcs11 opensc libnss3-tools default-jdk-headless parallel procps
          dpkg-dev groff-base file man-db curl python3-pikepdf pkcs11-provider)
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
done

# pkcs11-provider is in Debian's main suite from Debian 13 on; Debian 12 has it
# in its backports suite, added here from the address of the machine's own
# sources, and only that package is taken from it.
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
provider=pkcs11-provider
if [ "$codename" = bookworm ] && ! installed pkcs11-provider; then
    provider=pkcs11-provider/bookworm-backports
    if ! grep -rqsE -- '^[^#]*bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/; then
        IFS=$'\t' read -r archive keyring < <(bash "$(dirname "$0")/debian-mirror.sh" bookworm) || true
        if [ -z "${archive:-}" ]; then
            echo "install-deps: no Debian source for bookworm in /etc/apt; cannot add bookworm-backports" >&2
            exit 1
        fi
        {
            echo "Types: deb"
            echo "URIs: $archive"
            echo "Suites: bookworm-backports"
            echo "Components: main"
            [ -n "${keyring:-}" ] && echo "Signed-By: $keyring"
        } > /etc/apt/sources.list.d/quillseal-backports.sources
    fi
fi

if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]/#pkcs11-provider/$provider}" >/dev/null
fi
