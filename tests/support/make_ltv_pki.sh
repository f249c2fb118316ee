#!/usr/bin/env bash
# Makes a test PKI whose certificates name a revocation service at BASE_URL:
# a root CA, an intermediate CA and signers issued by it, each CA with its
# `openssl ca` database, an OCSP responder certificate and a CRL (DER).
#
#   root/                    root CA (self-signed), its database and responder
#   inter/                   intermediate CA: OCSP BASE_URL/ocsp/root, CRL BASE_URL/crl/root.crl
#   crl/root.crl crl/inter.crl
#   signer.p12               signer, intermediate and root: OCSP BASE_URL/ocsp/inter, CRL BASE_URL/crl/inter.crl
#   second.p12               another signer of the intermediate, with two CRL distribution
#                            points: BASE_URL/crl/inter.crl first, an unreachable one after it
#   revoked.p12              a signer the intermediate has revoked
#   unknown.p12              a signer missing from the intermediate's database (OCSP: unknown)
#   unreachable.p12          a signer whose OCSP responder and CRL point refuse connections
#   silent.p12               a signer whose OCSP responder (BASE_URL/ocsp/silent) never answers
#   ldap.p12                 a signer whose only CRL point is an LDAP URL (OCSP as signer)
#   self.p12                 a self-signed signer
#   tsa/                     a time-stamping authority of the intermediate (OCSP and CRL as signer)
#                            and its `openssl ts -reply` configuration tsa/tsa.cnf, which puts the
#                            chain into every token (its section "own" puts the TSA's certificate alone)
#   forger/ca.pem            a self-signed certificate with the intermediate's name and a key of
#                            its own, and crl/forged.crl: a CRL naming the intermediate that it signed
# With "rsa", also a chain shaped like those certificate authorities issue, all RSA-2048:
#   rsaroot/ rsainter/       root and intermediate (OCSP BASE_URL/ocsp/rsaroot, CRL BASE_URL/crl/rsaroot.crl),
#                            each with an RSA responder
#   rsa.p12, rsa.key         a signer of rsainter (OCSP BASE_URL/ocsp/rsainter, CRL BASE_URL/crl/rsainter.crl,
#                            CA issuers and a policy) with intermediate and root
#   rsa-chain.pem            intermediate and root; rsa-fullchain.pem: signer, intermediate and root
#   rsa-repeats.p12          the same signer, its CA list holding the intermediate twice and the signer itself
# Usage: make_ltv_pki.sh DIR BASE_URL [rsa]
set -euo pipefail
out=${1:?usage: make_ltv_pki.sh DIR BASE_URL [rsa]}
base=${2:?}
with_rsa=${3:-}
pass=demo-pass
mkdir -p "$out"
cd "$out"
out=$(pwd)
mkdir -p crl

cat > ext.cnf <<CNF
[inter_ca]
basicConstraints=critical,CA:TRUE,pathlen:0
keyUsage=critical,keyCertSign,cRLSign
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
authorityInfoAccess=OCSP;URI:$base/ocsp/root
crlDistributionPoints=URI:$base/crl/root.crl
[responder]
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=OCSPSigning
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
[signer]
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,nonRepudiation
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
authorityInfoAccess=OCSP;URI:$base/ocsp/inter
crlDistributionPoints=URI:$base/crl/inter.crl
[second]
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,nonRepudiation
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
authorityInfoAccess=OCSP;URI:$base/ocsp/inter
crlDistributionPoints=URI:$base/crl/inter.crl,URI:http://127.0.0.1:1/other.crl
[unreachable]
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,nonRepudiation
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
authorityInfoAccess=OCSP;URI:http://127.0.0.1:1/ocsp
crlDistributionPoints=URI:http://127.0.0.1:1/inter.crl
[silent]
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,nonRepudiation
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
authorityInfoAccess=OCSP;URI:$base/ocsp/silent
crlDistributionPoints=URI:$base/crl/inter.crl
[tsa]
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=critical,timeStamping
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
authorityInfoAccess=OCSP;URI:$base/ocsp/inter
crlDistributionPoints=URI:$base/crl/inter.crl
[ldap]
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,nonRepudiation
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
authorityInfoAccess=OCSP;URI:$base/ocsp/inter
crlDistributionPoints=URI:ldap://127.0.0.1:1/cn=Test%20Intermediate?certificateRevocationList
[rsa_inter_ca]
basicConstraints=critical,CA:TRUE,pathlen:0
keyUsage=critical,keyCertSign,cRLSign
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
authorityInfoAccess=OCSP;URI:$base/ocsp/rsaroot,caIssuers;URI:$base/ca/rsaroot.crt
crlDistributionPoints=URI:$base/crl/rsaroot.crl
certificatePolicies=2.23.140.1.2.2
[rsa_signer]
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,nonRepudiation
extendedKeyUsage=emailProtection
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
authorityInfoAccess=OCSP;URI:$base/ocsp/rsainter,caIssuers;URI:$base/ca/rsainter.crt
crlDistributionPoints=URI:$base/crl/rsainter.crl
certificatePolicies=1.3.6.1.4.1.55555.1.2.1
subjectAltName=email:anna.schmidt@example.com
CNF

ca_config() { # dir
    cat > "$1/ca.cnf" <<CNF
[ca]
default_ca = this
[this]
dir = $out/$1
database = \$dir/index.txt
new_certs_dir = \$dir/issued
serial = \$dir/serial
crlnumber = \$dir/crlnumber
certificate = \$dir/ca.pem
private_key = \$dir/ca.key
default_md = sha256
default_days = 30
default_crl_days = 7
policy = anything
unique_subject = no
copy_extensions = none
[anything]
commonName = supplied
organizationName = optional
CNF
    mkdir -p "$1/issued"
    : > "$1/index.txt"
    openssl rand -hex 8 > "$1/serial"
    echo 01 > "$1/crlnumber"
}

new_key() { # file [rsa]
    if [ "${2:-}" = rsa ]; then
        openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$1" 2>/dev/null
    else
        openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:prime256v1 -out "$1" 2>/dev/null
    fi
}

issue() { # ca-dir name subject section [rsa]
    new_key "$2.key" "${5:-}"
    openssl req -new -key "$2.key" -out "$2.csr" -subj "$3" 2>/dev/null
    openssl ca -batch -notext -config "$1/ca.cnf" -extfile ext.cnf -extensions "$4" \
        -in "$2.csr" -out "$2.pem" 2>/dev/null
}

mkdir -p root inter
new_key root/ca.key
openssl req -x509 -new -key root/ca.key -out root/ca.pem -days 30 -subj "/O=Quillseal Test/CN=LTV Test Root" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
ca_config root
issue root inter/ca "/O=Quillseal Test/CN=LTV Test Intermediate" inter_ca
ca_config inter
issue root root/responder "/O=Quillseal Test/CN=LTV Root Responder" responder
issue inter inter/responder "/O=Quillseal Test/CN=LTV Intermediate Responder" responder

cat inter/ca.pem root/ca.pem > chain.pem
store() { # name subject section
    issue inter "$1" "$2" "$3"
    openssl pkcs12 -export -inkey "$1.key" -in "$1.pem" -certfile chain.pem -name "$1" \
        -passout pass:$pass -out "$1.p12"
}
store signer "/O=Quillseal Test/CN=LTV Signer" signer
store second "/O=Quillseal Test/CN=LTV Second Signer" second
store revoked "/O=Quillseal Test/CN=LTV Revoked Signer" signer
store unreachable "/O=Quillseal Test/CN=LTV Unreachable Signer" unreachable
store silent "/O=Quillseal Test/CN=LTV Silent Signer" silent
store ldap "/O=Quillseal Test/CN=LTV LDAP Signer" ldap
openssl ca -batch -config inter/ca.cnf -revoke revoked.pem 2>/dev/null
new_key unknown.key
openssl req -new -key unknown.key -out unknown.csr -subj "/O=Quillseal Test/CN=LTV Unknown Signer" 2>/dev/null
openssl x509 -req -in unknown.csr -CA inter/ca.pem -CAkey inter/ca.key -set_serial "0x$(openssl rand -hex 8)" \
    -days 30 -extfile ext.cnf -extensions signer -out unknown.pem 2>/dev/null
openssl pkcs12 -export -inkey unknown.key -in unknown.pem -certfile chain.pem -name unknown \
    -passout pass:$pass -out unknown.p12

new_key self.key
openssl req -x509 -new -key self.key -out self.pem -days 30 -subj "/O=Quillseal Test/CN=LTV Self Signed" 2>/dev/null
openssl pkcs12 -export -inkey self.key -in self.pem -name self -passout pass:$pass -out self.p12

mkdir -p tsa
issue inter tsa/tsa "/O=Quillseal Test/CN=LTV Time-Stamping Authority" tsa
echo 01 > tsa/serial
# One section per way of answering: "granting" sends the TSA's chain with its
# tokens, "own" (an authority whose tokens carry its certificate alone) does not.
tsa_section() {  # name, then the certs line or nothing
    printf '[ %s ]\ndir = %s/tsa\nserial = $dir/serial\ncrypto_device = builtin\n' "$1" "$out"
    printf 'signer_cert = $dir/tsa.pem\n%ssigner_key = $dir/tsa.key\nsigner_digest = sha256\n' "$2"
    printf 'default_policy = 1.2.3.4.1\ndigests = sha256, sha384, sha512\naccuracy = secs:1\nordering = no\n'
    printf 'tsa_name = yes\ness_cert_id_chain = no\ness_cert_id_alg = sha256\n'
}
{ printf '[ tsa ]\ndefault_tsa = granting\n'
  tsa_section granting "certs = $out/chain.pem"$'\n'
  tsa_section own ""; } > tsa/tsa.cnf

cas="root inter"
if [ "$with_rsa" = rsa ]; then
    mkdir -p rsaroot rsainter
    new_key rsaroot/ca.key rsa
    openssl req -x509 -new -key rsaroot/ca.key -out rsaroot/ca.pem -days 30 -sha256 \
        -subj "/C=DE/O=Quillseal Test Trust Services/OU=Certification Authority/CN=Quillseal Test RSA Root CA 2024" \
        -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
    ca_config rsaroot
    issue rsaroot rsainter/ca "/C=DE/O=Quillseal Test Trust Services/CN=Quillseal Test RSA Issuing CA 2024" \
        rsa_inter_ca rsa
    ca_config rsainter
    issue rsaroot rsaroot/responder "/C=DE/O=Quillseal Test Trust Services/CN=RSA Root OCSP Responder" responder rsa
    issue rsainter rsainter/responder "/C=DE/O=Quillseal Test Trust Services/CN=RSA Issuing CA OCSP Responder" \
        responder rsa
    issue rsainter rsa "/C=DE/ST=Berlin/L=Berlin/O=Example Trading GmbH/OU=Purchasing/CN=Anna Schmidt" rsa_signer rsa
    cat rsainter/ca.pem rsaroot/ca.pem > rsa-chain.pem
    cat rsa.pem rsa-chain.pem > rsa-fullchain.pem
    openssl pkcs12 -export -inkey rsa.key -in rsa.pem -certfile rsa-chain.pem -name rsa \
        -passout pass:$pass -out rsa.p12
    cat rsainter/ca.pem rsa-fullchain.pem > rsa-repeats.pem
    openssl pkcs12 -export -inkey rsa.key -in rsa.pem -certfile rsa-repeats.pem -name rsa \
        -passout pass:$pass -out rsa-repeats.p12
    cas="$cas rsaroot rsainter"
fi

for ca in $cas; do
    openssl ca -batch -gencrl -config $ca/ca.cnf -out $ca/crl.pem 2>/dev/null
    openssl crl -in $ca/crl.pem -outform DER -out crl/$ca.crl
done

mkdir -p forger
new_key forger/ca.key
openssl req -x509 -new -key forger/ca.key -out forger/ca.pem -days 30 \
    -subj "/O=Quillseal Test/CN=LTV Test Intermediate" -addext basicConstraints=critical,CA:TRUE 2>/dev/null
openssl ca -batch -gencrl -config inter/ca.cnf -keyfile forger/ca.key -cert forger/ca.pem \
    -out forger/crl.pem 2>/dev/null
openssl crl -in forger/crl.pem -outform DER -out crl/forged.crl
