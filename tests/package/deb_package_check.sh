#!/usr/bin/env bash
# Makes the Debian package of this build tree with CPack, checks its control
# fields and its files, unpacks it with dpkg -x and signs a document with the
# unpacked program and library, as an installed system would. lintian, where
# installed, must report no error.
# Arguments: cpack, build dir, fixtures, version, public header folder, 1 when the Java bridge is built
set -euo pipefail
cpack=$1 build=$2 fixtures=$3 version=$4 headers=$5 jni=$6
work=$(mktemp -d /tmp/qsdeb-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# Whether text matches an extended regular expression (no pipe: grep -q may end before its writer).
has() { grep -Eq -- "$2" <<<"$1"; }

"$cpack" --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack"; }
deb=$work/out/quillseal_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { ls "$work/out"; fail "no package $deb"; }

# ---- control fields ----
field() { dpkg-deb -f "$deb" "$1"; }
expect_field() { # field, extended regular expression
    has "$(field "$1")" "$2" || fail "$1 is '$(field "$1")', expected /$2/"
}
expect_field Package '^quillseal$'
expect_field Version "^${version//./\\.}$"
expect_field Architecture "^$(dpkg --print-architecture)$"
expect_field Maintainer '^[^<]+ <[^@ ]+@[^> ]+>$'
expect_field Section '^[a-z]+$'
expect_field Recommends '^fonts-dejavu-core, pkcs11-provider \| libengine-pkcs11-openssl, parallel$'
# From dpkg-shlibdeps: the libraries the program and the library link with,
# each at the version that has their symbols; libcurl, which is opened at run
# time, named by hand.
for dep in 'libc6 \(>= ' 'libssl3[a-z0-9]* \(>= ' 'libqpdf[0-9]+' 'libjson-c[0-9]+' 'libhpdf-' 'libpng16-16' \
           'zlib1g' 'libstdc\+\+6' '(^|, )libcurl4'; do
    has "$(field Depends)" "$dep" || fail "Depends lacks /$dep/: $(field Depends)"
done
# A one-line synopsis and an extended description.
[ "$(field Description | sed -n 1p)" != "" ] && [ "$(field Description | wc -l)" -ge 3 ] ||
    fail "Description: $(field Description)"
dpkg-deb -e "$deb" "$work/control"
grep -qx "libquillseal 2 quillseal (>= $version)" "$work/control/shlibs" || fail "shlibs: $(cat "$work/control/shlibs")"
grep -qx 'activate-noawait ldconfig' "$work/control/triggers" || fail "no ldconfig trigger"

# ---- files: exactly these, nothing else ----
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null)
lib=usr/lib/$multiarch
{
    echo "usr/bin/quillseal"
    echo "$lib/libquillseal.so -> libquillseal.so.2"
    echo "$lib/libquillseal.so.2 -> libquillseal.so.$version"
    echo "$lib/libquillseal.so.$version"
    echo "$lib/pkgconfig/quillseal.pc"
    for h in "$headers"/*.h; do echo "usr/include/quillseal/$(basename "$h")"; done
    echo "usr/share/man/man1/quillseal.1.gz"
    echo "usr/share/doc/quillseal/copyright"
    echo "usr/share/doc/quillseal/changelog.gz"
    if [ "$jni" = 1 ]; then
        echo "$lib/jni/libquillsealjni.so"
        echo "usr/share/java/quillseal-jni-$version.jar"
        echo "usr/share/java/quillseal-jni.jar -> quillseal-jni-$version.jar"
    fi
} | sort >"$work/expected"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }' |
    sort >"$work/files"
diff -u "$work/expected" "$work/files" || fail "the package's files differ from the expected ones"

# ---- unpacked and used ----
root=$work/root
dpkg -x "$deb" "$root"
program=$root/usr/bin/quillseal
for elf in "$program" "$root/$lib/libquillseal.so.$version"; do
    has "$(readelf -d "$elf")" 'R(UN)?PATH' && fail "$elf carries a library search path"
    has "$(readelf -S "$elf")" '\.symtab' && fail "$elf is not stripped"
done
export LD_LIBRARY_PATH=$root/$lib
loaded=$(ldd "$program")
has "$loaded" "libquillseal\.so\.2 => $root/$lib/libquillseal\.so\.2 " ||
    fail "the program does not load the unpacked library: $loaded"
stored=$("$program" -e demo-pass | sed -n 's/^Encrypted password: //p')
[ -n "$stored" ] || fail "quillseal -e printed no stored password"
cat >"$work/quillseal.conf" <<CONF
certstore=PKCS12 KEYSTORE FILE
certfile=$fixtures/signer.p12
certpasswd=$stored
cachedir=$work
CONF
line=$("$program" -i "$fixtures/one-page.pdf" -o "$work/signed.pdf" -z "$work/quillseal.conf" -r "Installed")
[ "$line" = "0#Document signed: input[$fixtures/one-page.pdf] output[$work/signed.pdf]" ] || fail "signing: $line"
report=$(pdfsig "$work/signed.pdf" 2>&1) || true
has "$report" 'Signature is Valid' || fail "pdfsig: $report"
unset LD_LIBRARY_PATH

# ---- documentation ----
manual=$(zcat "$root/usr/share/man/man1/quillseal.1.gz")
has "$manual" "^\.TH QUILLSEAL 1 [^ ]+ \"Quillseal $version\"" ||
    fail "the manual page does not name version $version"
warnings=$(groff -man -ww -z <<<"$manual" 2>&1)
[ -z "$warnings" ] || fail "groff: $warnings"
has "$(zcat "$root/usr/share/doc/quillseal/changelog.gz" | sed -n 1p)" "^quillseal \($version\) " ||
    fail "the changelog's newest entry is not version $version"

# ---- lintian, where installed ----
if command -v lintian >/dev/null; then
    lintian "$deb" >"$work/lintian.log" 2>&1 || true
    if grep -q '^E: ' "$work/lintian.log"; then cat "$work/lintian.log"; fail "lintian reports errors"; fi
fi
echo "package $(basename "$deb") checked"
