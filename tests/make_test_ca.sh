#!/usr/bin/env bash
# Makes a throwaway certificate authority and two server certificates it
# signed, for the HTTPS tests on loopback (native and under Wine):
#   DIR/ca.pem, ca.der          the test CA (trusted only where a test says so)
#   DIR/localhost.pem, .key     a server certificate for "localhost"
#   DIR/otherhost.pem, .key     one for "otherhost.invalid": the wrong name
# Usage: tests/make_test_ca.sh DIR
set -euo pipefail
dir=${1:?usage: make_test_ca.sh DIR}
mkdir -p "$dir"
cd "$dir"

openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
  -subj "/CN=Mailbeacon test CA" \
  -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl x509 -in ca.pem -outform DER -out ca.der

server_certificate() {  # NAME
  printf 'subjectAltName=DNS:%s\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n' \
    "$1" >"$1.ext"
  openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$1" 2>/dev/null
  openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -extfile "$1.ext" -out "$1.pem" 2>/dev/null
  rm -f "$1.csr" "$1.ext"
}
server_certificate localhost
server_certificate otherhost.invalid
mv otherhost.invalid.pem otherhost.pem
mv otherhost.invalid.key otherhost.key
# Nothing more is signed with it.
rm -f ca.key ca.srl
