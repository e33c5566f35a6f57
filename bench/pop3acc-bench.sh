#!/bin/bash
# Starts a private POP3 server on loopback with N seeded messages (default
# 10000), runs the account-check benchmark against it and stops the server.
# usage: bench/pop3acc-bench.sh [N]   (after: cmake --preset release && cmake --build --preset release)
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-10000}
peers=tests/peers
w=$(mktemp -d /tmp/iw-pop3bench-XXXXXX)
trap '"$peers/stop-all.sh" "$w" >/dev/null 2>&1; rm -rf "$w"' EXIT
port=$("$peers/free-ports.py" 1)
DOVECOT_USERS="bench:benchpw" DOVECOT_UIDL_FORMAT=%f "$peers/start-dovecot.sh" "$w" "$port" >/dev/null
/usr/bin/python3 "$peers/seed-maildir.py" "$w/mail/bench/Maildir" --reset -n "$n" --names msg- >/dev/null
build/release/bench/iw_bench_pop3acc 127.0.0.1 "$port" bench benchpw
