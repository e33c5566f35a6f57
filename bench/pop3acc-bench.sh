#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Starts a private POP3 server on loopback with N seeded messages (default
# 10000), plain and POP3S with a certificate of a test CA made for the run,
# runs the account-check benchmark against it and stops the server.
# usage: bench/pop3acc-bench.sh [N]   (after: cmake --preset release && cmake --build --preset release)
#        IW_BUILD=<dir> takes the benchmark from another release build tree.
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-10000}
peers=tests/peers
w=$(mktemp -d /tmp/iw-pop3bench-XXXXXX)
trap '"$peers/stop-all.sh" "$w" >/dev/null 2>&1; rm -rf "$w"' EXIT
ports=($("$peers/free-ports.py" 2))
port=${ports[0]} tls_port=${ports[1]}
"$peers/make-test-pki.sh" "$w/pki" >/dev/null
DOVECOT_USERS="bench:benchpw" DOVECOT_UIDL_FORMAT=%f DOVECOT_TLS_CERT="$w/pki/good.pem" \
    DOVECOT_TLS_KEY="$w/pki/good.key" "$peers/start-dovecot.sh" "$w" "$port" "$tls_port" >/dev/null
/usr/bin/python3 "$peers/seed-maildir.py" "$w/mail/bench/Maildir" --reset -n "$n" --names msg- >/dev/null
# The test CA is the whole CA store of the run.
SSL_CERT_FILE="$w/pki/ca.pem" SSL_CERT_DIR="$w/pki" \
    "${IW_BUILD:-build/release}/bench/iw_bench_pop3acc" 127.0.0.1 "$port" bench benchpw "$tls_port"
