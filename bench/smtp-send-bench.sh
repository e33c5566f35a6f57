#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Starts a private SMTP sink on loopback, sends one message with an N MB
# attachment (default 20) through it and stops the sink.
# usage: bench/smtp-send-bench.sh [MB]   (after: cmake --preset release && cmake --build --preset release)
set -euo pipefail
cd "$(dirname "$0")/.."
mb=${1:-20}
peers=tests/peers
w=$(mktemp -d /tmp/iw-smtpbench-XXXXXX)
trap '"$peers/stop-all.sh" "$w" >/dev/null 2>&1; rm -rf "$w"' EXIT
port=$("$peers/free-ports.py" 1)
"$peers/start-smtp.sh" "$w" "$port" -- --users bench:benchpw --size-limit 100000000 >/dev/null
build/release/bench/iw_bench_smtp_send 127.0.0.1 "$port" bench benchpw "$mb"
