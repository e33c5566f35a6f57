#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Start-up of the tray program with large message boxes: the time from exec
# to "Messages loaded" in the debug log (the tray icon then shows the loaded
# state), for the full path (the profile imported into an empty store) and
# the fast path (the tree kept from the previous run), the memory the process
# holds at that point, and the shutdown that exports the profile.
# usage: bench/startup-bench.sh [ACCOUNTS [RECORDS]]   (defaults 10 10000;
#        after: cmake --preset release && cmake --build --preset release)
set -euo pipefail
cd "$(dirname "$0")/.."
accounts=${1:-10}
records=${2:-10000}
bin=build/release
w=$(mktemp -d /tmp/iw-startbench-XXXXXX)
trap 'rm -rf "$w"' EXIT
export HOME=$w/home XDG_CONFIG_HOME=$w/config XDG_STATE_HOME=$w/state XDG_DATA_HOME=$w/data \
       XDG_CACHE_HOME=$w/cache XDG_RUNTIME_DIR=$w/run INBOXWARDEN_REGISTRY=$w/registry.db \
       QT_QPA_PLATFORM=offscreen
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
profile=$w/bench.iwpf
"$bin/bench/iw_bench_startup_fixture" "$profile" "$accounts" "$records"
log=$XDG_STATE_HOME/inboxwarden/debug_info.txt
awk -v a="$accounts" -v r="$records" -v b="$(stat -c %s "$profile")" \
    'BEGIN { printf "profile: %d accounts x %d records, %.1f MB\n", a, r, b / 1e6 }'

run() { # $1: label
    rm -f "$log"
    local t0 t1 pid kb hwm anon
    t0=$(date +%s%N)
    "$bin/src/app/inboxwarden" "/profile:$profile" >/dev/null 2>&1 &
    pid=$!
    until grep -q "Messages loaded" "$log" 2>/dev/null; do
        kill -0 "$pid" 2>/dev/null || { echo "$1: the program ended before loading"; exit 1; }
        sleep 0.005
    done
    t1=$(date +%s%N)
    kb=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status")
    hwm=$(awk '/^VmHWM/ {print $2}' "/proc/$pid/status")
    anon=$(awk '/^RssAnon/ {print $2}' "/proc/$pid/status")
    local path=full
    grep -q "WM_LOAD_MESSAGES_FAST" "$log" && path=fast
    local inproc
    inproc=$(sed -n 's/.*Messages loaded: .* in \([0-9]*\) ms.*/\1/p' "$log")
    local s0 s1
    s0=$(date +%s%N)
    kill -TERM "$pid"
    wait "$pid" || true
    s1=$(date +%s%N)
    printf '%-6s path=%s  exec->loaded %5d ms (box loading %d ms)  RSS %6.1f MB (anonymous %5.1f MB, peak %6.1f MB)  shutdown %5d ms\n' \
        "$1" "$path" $(((t1 - t0) / 1000000)) "$inproc" "$(awk -v k="$kb" 'BEGIN { print k / 1024 }')" "$(awk -v k="$anon" 'BEGIN { print k / 1024 }')" \
        "$(awk -v k="$hwm" 'BEGIN { print k / 1024 }')" $(((s1 - s0) / 1000000))
}

run first   # full: the tree was deleted after the profile was written
run second  # fast: clean shutdown, OptimizeStartup, same profile unchanged
run third
touch "$profile"
run touched # full again: the profile changed behind the kept tree
