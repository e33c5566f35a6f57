#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The command-line check's whole process in the steady state (every message
# on the server already in the box) against a private Dovecot with N seeded
# messages (default 2000), beside a raw POP3 client process's login + UIDL +
# QUIT; with the tree rebuilt from the profile at each start (the default)
# and kept between runs (OptimizeStartup).
# usage: bench/cli-check-bench.sh [N [RUNS]]
#        (after: cmake --preset release && cmake --build --preset release)
#        IW_BUILD=<dir> takes the programs from another release build tree,
#        IW_CLI=<file> the command-line program alone.
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-2000}
runs=${2:-11}
bin=${IW_BUILD:-build/release}
peers=tests/peers
w=$(mktemp -d /tmp/iw-clibench-XXXXXX)
trap '"$peers/stop-all.sh" "$w" >/dev/null 2>&1; rm -rf "$w"' EXIT
ports=($("$peers/free-ports.py" 2))
port=${ports[0]}
"$peers/make-test-pki.sh" "$w/pki" >/dev/null
DOVECOT_USERS="bench:benchpw" DOVECOT_UIDL_FORMAT=%f DOVECOT_TLS_CERT="$w/pki/good.pem" \
    DOVECOT_TLS_KEY="$w/pki/good.key" "$peers/start-dovecot.sh" "$w" "$port" "${ports[1]}" >/dev/null
/usr/bin/python3 "$peers/seed-maildir.py" "$w/mail/bench/Maildir" --reset -n "$n" --names msg- >/dev/null
export HOME=$w/home XDG_CONFIG_HOME=$w/config XDG_STATE_HOME=$w/state XDG_DATA_HOME=$w/data \
       XDG_CACHE_HOME=$w/cache XDG_RUNTIME_DIR=$w/run INBOXWARDEN_REGISTRY=$w/registry.db
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
cli=$(realpath "${IW_CLI:-$bin/src/cli/inboxwarden-cli}")
profile=$w/bench.iwpf
echo benchpw | "$cli" --profile "$profile" account add Bench ChkServer=127.0.0.1 ChkPort="$port" \
    ChkLogin=bench --chk-password-stdin >/dev/null
"$cli" --profile "$profile" check Bench >/dev/null # the first check: every message is new
echo "$n messages on the server"
echo "-- tree rebuilt from the profile at each start (OptimizeStartup 0)"
"$bin/bench/iw_bench_cli_check" "$cli" "$profile" Bench 127.0.0.1 "$port" bench benchpw "$runs"
"$cli" --profile "$profile" options set OptimizeStartup=1 >/dev/null
echo "-- tree kept between runs (OptimizeStartup 1)"
"$bin/bench/iw_bench_cli_check" "$cli" "$profile" Bench 127.0.0.1 "$port" bench benchpw "$runs"
