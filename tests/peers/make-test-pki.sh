#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Make a test CA and server certificates for the TLS tests under DIR.
#
# usage: make-test-pki.sh DIR
# Files (EC P-256 keys, which are quick to make):
#   ca.pem                 the CA a test trusts (point SSL_CERT_FILE at it)
#   good.{pem,key}         from ca, for localhost and 127.0.0.1
#   good2.{pem,key}        the same names, another key: "the certificate changed"
#   wronghost.{pem,key}    from ca, for wrong.example only
#   expired.{pem,key}      from ca, for localhost and 127.0.0.1, expired yesterday
#   stranger.{pem,key}     from a second CA nobody trusts, for localhost and 127.0.0.1
#   NAME.sha256            SHA-256 of NAME.pem's DER bytes, 64 lower-case hex digits
# Prints PKI_READY when done.
set -euo pipefail
[[ $# -eq 1 ]] || { echo "usage: $0 DIR" >&2; exit 2; }
mkdir -p "$1"
cd "$1"

newkey=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
ca() { # NAME CN
    openssl req -x509 "${newkey[@]}" -days 30 -subj "/CN=$2" \
        -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
        -keyout "$1.key" -out "$1.pem" 2>/dev/null
}
leaf() { # NAME CA DAYS SAN
    openssl req -new "${newkey[@]}" -subj /CN=localhost -keyout "$1.key" -out "$1.csr" 2>/dev/null
    printf 'subjectAltName=%s\nextendedKeyUsage=serverAuth\n' "$4" > "$1.ext"
    openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" -CAcreateserial -days "$3" \
        -extfile "$1.ext" -out "$1.pem" 2>/dev/null
    openssl x509 -in "$1.pem" -outform DER | sha256sum | cut -c1-64 > "$1.sha256"
    rm -f "$1.csr" "$1.ext"
}

ca ca "Inboxwarden Test CA"
ca otherca "Someone Else's CA"
leaf good ca 30 DNS:localhost,IP:127.0.0.1
leaf good2 ca 30 DNS:localhost,IP:127.0.0.1
leaf wronghost ca 30 DNS:wrong.example
# A negative validity puts notAfter a day before notBefore (now).
leaf expired ca -1 DNS:localhost,IP:127.0.0.1
leaf stranger otherca 30 DNS:localhost,IP:127.0.0.1
chmod 600 ./*.key
echo PKI_READY
