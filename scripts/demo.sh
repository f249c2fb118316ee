#!/usr/bin/env bash
# Installs what is needed, builds, and signs a demo document with a demo key
# store and a visible signature (a seal image and text), all inside ./demo.
# Prints the status line of the signing and renders the top of the signed page
# into demo/demo-signed.png.
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
# A seal on a transparent background, drawn by ghostscript into an RGBA PNG.
gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pngalpha -r72 -g240x120 -sOutputFile=seal.png - <<'PS' >/dev/null
0.55 0.7 0.95 setrgbcolor 5 setlinewidth 120 60 50 0 360 arc stroke
3 setlinewidth 120 60 40 0 360 arc stroke
8 setlinewidth 1 setlinecap 1 setlinejoin 98 62 moveto 114 46 lineto 144 80 lineto stroke
showpage
PS
stored=$("$quillseal" -e demo-pass | sed -n 's/^Encrypted password: //p')
cat > quillseal.conf <<CONF
# Demo configuration: a PKCS#12 key store whose password is stored encrypted,
# and the look of a visible signature (-v).
certstore=PKCS12 KEYSTORE FILE
certfile=$PWD/demo.p12
certpasswd=$stored
hashalgo=SHA256
sigrect=[-300 -95 -40 -35]
sigtext=Digitally signed by %N\nReason: %R\nLocation: %L\nDate: %T
sigimage=$PWD/seal.png
CONF
echo "/Helvetica findfont 24 scalefont setfont 72 720 moveto (Quillseal demo document) show showpage" |
    gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite -sPAPERSIZE=a4 -sOutputFile=demo.pdf - >/dev/null
rm -f demo-signed.pdf
"$quillseal" -i demo.pdf -o demo-signed.pdf -z quillseal.conf -r "Contract approval" -l "Zürich server room" -v
pdftoppm -r 100 -png -x 0 -y 0 -W 827 -H 260 -singlefile demo-signed.pdf demo-signed 2>/dev/null
