#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Starts a private POP3 server on loopback, plain and POP3S with a certificate
# of a test CA made for the run, and runs the account-check benchmark against
# it once for each message count given (default 2000 and 10000 seeded
# messages), then the soak: SOAK_CHECKS checks in a row (default 2000) on a
# box of 200 messages while mail arrives and goes between them. Stops the
# server.
# usage: bench/pop3acc-bench.sh [N ...]   (after: cmake --preset release &&
#        cmake --build --preset release --target iw_bench_pop3acc iw_bench_pop3acc_soak)
#        IW_BUILD=<dir> takes the benchmarks from another release build tree.
set -euo pipefail
cd "$(dirname "$0")/.."
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(2000 10000)
build=${IW_BUILD:-build/release}
peers=tests/peers
w=$(mktemp -d /tmp/iw-pop3bench-XXXXXX)
trap '"$peers/stop-all.sh" "$w" >/dev/null 2>&1; rm -rf "$w"' EXIT
# What the program writes (its store, its logs) stays inside the run.
export HOME="$w/home" XDG_CONFIG_HOME="$w/home/.config" XDG_DATA_HOME="$w/home/.local/share" \
    XDG_CACHE_HOME="$w/home/.cache" XDG_STATE_HOME="$w/home/.local/state"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME"
ports=($("$peers/free-ports.py" 2))
port=${ports[0]} tls_port=${ports[1]}
"$peers/make-test-pki.sh" "$w/pki" >/dev/null
DOVECOT_USERS="bench:benchpw" DOVECOT_UIDL_FORMAT=%f DOVECOT_TLS_CERT="$w/pki/good.pem" \
    DOVECOT_TLS_KEY="$w/pki/good.key" "$peers/start-dovecot.sh" "$w" "$port" "$tls_port" >/dev/null
maildir="$w/mail/bench/Maildir"
for n in "${counts[@]}"; do
    /usr/bin/python3 "$peers/seed-maildir.py" "$maildir" --reset -n "$n" --names msg- >/dev/null
    # The test CA is the whole CA store of the run.
    SSL_CERT_FILE="$w/pki/ca.pem" SSL_CERT_DIR="$w/pki" \
        "$build/bench/iw_bench_pop3acc" 127.0.0.1 "$port" bench benchpw "$tls_port"
    echo
done
/usr/bin/python3 "$peers/seed-maildir.py" "$maildir" --reset -n 200 --names msg- >/dev/null
"$build/bench/iw_bench_pop3acc_soak" 127.0.0.1 "$port" bench benchpw "$maildir" \
    "${SOAK_CHECKS:-2000}"
