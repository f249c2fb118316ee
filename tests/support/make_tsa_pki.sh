#!/usr/bin/env bash
# Makes a time-stamping authority and a TLS server certificate for 127.0.0.1,
# both issued by the test CA, and the `openssl ts -reply` configuration.
# Usage: make_tsa_pki.sh DIR CA_PEM CA_KEY
set -euo pipefail
out=${1:?usage: make_tsa_pki.sh DIR CA_PEM CA_KEY}
ca_pem=${2:?}
ca_key=${3:?}
mkdir -p "$out"
cd "$out"

cat > ext.cnf <<'CNF'
[tsa]
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=critical,timeStamping
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
[tls]
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=serverAuth
subjectAltName=IP:127.0.0.1
CNF

issue() { # name subject extensions
    openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$1.key" \
        -out "$1.csr" -subj "$2" 2>/dev/null
    openssl x509 -req -in "$1.csr" -CA "$ca_pem" -CAkey "$ca_key" -set_serial "0x$(openssl rand -hex 8)" \
        -days 30 -extfile ext.cnf -extensions "$3" -out "$1.pem" 2>/dev/null
}
issue tsa "/O=Quillseal Test/CN=Test Time-Stamping Authority" tsa
issue tls "/O=Quillseal Test/CN=127.0.0.1" tls
echo 01 > serial

cat > tsa.cnf <<CNF
[ tsa ]
default_tsa = granting

[ granting ]
dir = $out
serial = \$dir/serial
crypto_device = builtin
signer_cert = \$dir/tsa.pem
certs = $ca_pem
signer_key = \$dir/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
other_policies = 1.2.3.4.5
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
clock_precision_digits = 0
ordering = no
tsa_name = yes
ess_cert_id_chain = no
ess_cert_id_alg = sha256

[ reject ]
dir = $out
serial = \$dir/serial
crypto_device = builtin
signer_cert = \$dir/tsa.pem
signer_key = \$dir/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = md5
CNF
