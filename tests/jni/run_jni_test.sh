#!/usr/bin/env bash
# Runs the Java test program against the bridge in a fresh work folder: once
# through every method, and once under a file size limit that a signed output
# exceeds, for the reply that carries the system error.
# Arguments: java, class path, bridge library, fixtures, quillseal, two-phase tool
set -euo pipefail
java=$1 classpath=$2 bridge=$3 fixtures=$4 cli=$5 tool=$6
work=$(mktemp -d /tmp/qsjni-XXXXXX)
support=$(cd "$(dirname "$0")/../support" && pwd)
service= signing=
trap '[ -n "$service" ] && kill "$service" 2>/dev/null; [ -n "$signing" ] && kill "$signing" 2>/dev/null; rm -rf "$work"' EXIT
# The revocation services and time-stamping authority of a test PKI, on a free
# loopback port, for the PAdES methods.
mkdir "$work/pki"
exec 3< <(python3 "$support/http_service.py" --mode revocation --pki "$work/pki" --log "$work/service.log" \
    --tsa-config "$work/pki/tsa/tsa.cnf" --max-requests 200 --lifetime 300)
service=$!
read -r port <&3
base=http://127.0.0.1:$port
bash "$support/make_ltv_pki.sh" "$work/pki" "$base" >/dev/null 2>&1
# A remote signing service holding the fixtures' EC key, on another free port.
python=python3; [ -x /usr/bin/python3 ] && python=/usr/bin/python3
exec 4< <("$python" "$support/csc_service.py" --credential "ec=$fixtures/ec-signer.p12" --token jni-token-51 \
    --log "$work/signing.log" --lifetime 300)
signing=$!
read -r signing_port <&4
# Paths with characters beyond ASCII pass through the JVM only in a UTF-8 locale.
export LC_ALL=C.UTF-8
options=(-XX:-UsePerfData -Dquillseal.jni.library="$bridge" -cp "$classpath")
# A sanitized bridge needs the sanitizer runtimes it links loaded before
# anything else; the JVM handles SIGSEGV itself and keeps its memory until exit.
runtimes=$(ldd "$bridge" | awk '/lib(asan|ubsan)\.so/ {print $3}' | paste -sd: -)
if [ -n "$runtimes" ]; then
    export LD_PRELOAD=$runtimes
    export ASAN_OPTIONS=handle_segv=0:allow_user_segv_handler=1:detect_leaks=0:use_sigaltstack=0
fi
"$java" "${options[@]}" QuillsealJNITest all "$fixtures" "$cli" "$tool" "$work" "$work/pki" "$base" \
    "http://127.0.0.1:$signing_port/csc/v2" jni-token-51
# A key on a SoftHSM2 token through the PKCS#11 provider, when both are
# installed; not in a sanitizer build: the provider opens the module with
# RTLD_DEEPBIND, which AddressSanitizer refuses.
module=$(dpkg -L libsofthsm2 2>/dev/null | grep '/libsofthsm2\.so$' | head -n1 || true)
if [ -n "$module" ] && [ -z "$runtimes" ] && dpkg -L pkcs11-provider 2>/dev/null | grep -q '/ossl-modules/pkcs11\.so$' \
    && command -v pkcs11-tool >/dev/null; then
    mkdir "$work/tokens"
    printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$work/tokens" \
        > "$work/softhsm2.conf"
    export SOFTHSM2_CONF=$work/softhsm2.conf
    softhsm2-util --init-token --free --label jni --so-pin 12345678 --pin 735911 >/dev/null
    softhsm2-util --import "$fixtures/signer.key" --token jni --label signer --id 01 --pin 735911 >/dev/null
    openssl x509 -in "$fixtures/signer.pem" -outform der -out "$work/signer.der"
    pkcs11-tool --module "$module" --token-label jni --login --pin 735911 --write-object "$work/signer.der" \
        --type cert --label signer --id 01 >/dev/null 2>&1
    for pin in 735911 999999; do
        printf '%s\n' 'certstore=OPENSSL STORE' 'provider=pkcs11' "providermodule=$module" \
            'keyuri=pkcs11:token=jni;object=signer;type=private' "pin=$("$cli" -e "$pin" | sed 's/^.*: //')" \
            "capem=$fixtures/ca.pem" > "$work/device-$pin.conf"
    done
    "$java" "${options[@]}" QuillsealJNITest device "$fixtures" "$cli" "$tool" "$work" \
        "$work/device-735911.conf" "$work/device-999999.conf"
fi
# 4 KiB: the copied input fits, the appended signature update does not.
( ulimit -f 4 && "$java" "${options[@]}" QuillsealJNITest errno "$fixtures" "$cli" "$tool" "$work" )
