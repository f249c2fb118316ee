#!/usr/bin/env bash
# Installs what is needed, builds, and signs a demo document with a demo key
# store, all inside ./demo. Prints the status line of the signing.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQS_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" >/dev/null
quillseal=$PWD/build/quillseal

mkdir -p demo
cd demo
if [ ! -f demo.p12 ]; then
    openssl req -x509 -newkey rsa:2048 -nodes -keyout demo.key -out demo.pem -days 365 \
        -subj "/C=DE/O=Quillseal Demo/CN=Quillseal Demo Signer" 2>/dev/null
    openssl pkcs12 -export -inkey demo.key -in demo.pem -name demo -passout pass:demo-pass -out demo.p12
fi
stored=$("$quillseal" -e demo-pass | sed -n 's/^Encrypted password: //p')
cat > quillseal.conf <<CONF
# Demo configuration: a PKCS#12 key store whose password is stored encrypted.
certstore=PKCS12 KEYSTORE FILE
certfile=$PWD/demo.p12
certpasswd=$stored
hashalgo=SHA256
CONF
echo "/Helvetica findfont 24 scalefont setfont 72 720 moveto (Quillseal demo document) show showpage" |
    gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite -sPAPERSIZE=a4 -sOutputFile=demo.pdf - >/dev/null
rm -f demo-signed.pdf
"$quillseal" -i demo.pdf -o demo-signed.pdf -z quillseal.conf -r "Demo signature" -l "Server room"
