#!/usr/bin/env bash
# Makes the test PKI and the test documents in the folder given as $1.
# Everything is generated here with openssl, ghostscript and qpdf.
set -euo pipefail
out=${1:?usage: make_fixtures.sh DIR}
mkdir -p "$out"
cd "$out"
[ -f .complete ] && exit 0

pass=demo-pass

# ---- PKI ----
cat > ext.cnf <<'CNF'
[qs_ca]
basicConstraints=critical,CA:TRUE
keyUsage=critical,keyCertSign,cRLSign
subjectKeyIdentifier=hash
[qs_leaf]
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,nonRepudiation
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
CNF

make_ca() { # name bits subject
    openssl req -x509 -newkey rsa:"$2" -nodes -keyout "$1.key" -out "$1.pem" -days 3650 \
        -subj "$3" -addext basicConstraints=critical,CA:TRUE \
        -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
}
make_leaf() { # name keyspec issuer subject ext
    openssl req -new -newkey "$2" -nodes -keyout "$1.key" -out "$1.csr" -subj "$4" 2>/dev/null
    openssl x509 -req -in "$1.csr" -CA "$3.pem" -CAkey "$3.key" -set_serial "0x$(openssl rand -hex 8)" \
        -days 3650 -extfile ext.cnf -extensions "qs_${5:-leaf}" -out "$1.pem" 2>/dev/null
}

make_ca ca 2048 "/C=DE/O=Quillseal Test/CN=Quillseal Test Root CA"
make_leaf signer rsa:2048 ca "/C=DE/ST=Berlin/L=Berlin/O=Quillseal Test/OU=Signing/CN=Test Signer/emailAddress=signer@example.com"
openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem -name signer \
    -passout pass:$pass -out signer.p12
openssl pkcs12 -export -legacy -inkey signer.key -in signer.pem -certfile ca.pem -name signer \
    -passout pass:$pass -out signer-legacy.p12

make_leaf ec-signer ec:<(openssl ecparam -name prime256v1) ca "/C=DE/O=Quillseal Test/CN=EC Signer"
openssl pkcs12 -export -inkey ec-signer.key -in ec-signer.pem -certfile ca.pem -name ec \
    -passout pass:$pass -out ec-signer.p12

openssl req -x509 -newkey rsa:2048 -nodes -keyout self.key -out self.pem -days 3650 \
    -subj "/O=Quillseal Test/CN=Self Signed" 2>/dev/null
openssl pkcs12 -export -inkey self.key -in self.pem -name self -passout pass:$pass -out self.p12

# A 4096-bit chain: signer, intermediate and root, which overflows the default placeholder.
make_ca big-root 4096 "/O=Quillseal Test/CN=Big Root"
make_leaf big-inter rsa:4096 big-root "/O=Quillseal Test/CN=Big Intermediate" ca
make_leaf big-signer rsa:4096 big-inter "/O=Quillseal Test/CN=Big Signer"
cat big-inter.pem big-root.pem > big-chain.pem
openssl pkcs12 -export -inkey big-signer.key -in big-signer.pem -certfile big-chain.pem \
    -name big -passout pass:$pass -out big-signer.p12

# ---- Documents ----
page_ps() { # pages
    for i in $(seq 1 "$1"); do
        echo "/Helvetica findfont 24 scalefont setfont 72 720 moveto (Quillseal test page $i) show showpage"
    done
}
gs_pdf() { # pages file
    page_ps "$1" | gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite -sPAPERSIZE=a4 \
        -dFIXEDMEDIA -sOutputFile="$2" - >/dev/null
}
gs_pdf 1 one-page.pdf
gs_pdf 10 ten-pages.pdf
qpdf --object-streams=generate one-page.pdf objstm.pdf
qpdf --linearize ten-pages.pdf linearized.pdf
qpdf --object-streams=disable one-page.pdf classic.pdf

# A document without an information dictionary, written by hand and normalised by qpdf.
cat > noinfo-src.pdf <<'PDF'
%PDF-1.4
1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj
2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj
3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] >> endobj
trailer << /Root 1 0 R /Size 4 >>
%%EOF
PDF
qpdf noinfo-src.pdf noinfo.pdf 2>/dev/null || [ $? -eq 3 ]
rm -f noinfo-src.pdf

# Tail variants of the same document.
base=classic.pdf
strip_eol() { head -c -1 "$1"; }   # the pdf ends "%%EOF\n"
strip_eol $base > eof-bare.pdf
{ strip_eol $base; printf '\r\n'; } > eof-crlf.pdf
{ strip_eol $base; printf '\r'; } > eof-cr.pdf
{ cat $base; printf '\n\n  garbage after the end\n'; } > eof-trailing.pdf

touch .complete
