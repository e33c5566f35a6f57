#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Idle footprint of the tray program: 10 accounts checked automatically
# (every 10 minutes, the default) against a private Dovecot, the icon in an XEmbed tray on a
# private X server, no window open. Counts the process's wakeups (context
# switches of all its threads) and its resident memory over a minute, then
# opens and closes the MailBox, a message viewer and the settings dialog and
# measures again.
# usage: bench/idle-bench.sh [SECONDS]   (default 60; after: cmake --preset
#        release && cmake --build --preset release; needs Xvfb, trayer, xdotool)
#        IW_BUILD=<dir> takes the programs from another release build tree.
set -euo pipefail
cd "$(dirname "$0")/.."
span=${1:-60}
bin=${IW_BUILD:-build/release}
peers=tests/peers
w=$(mktemp -d /tmp/iw-idlebench-XXXXXX)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    "$peers/stop-all.sh" "$w" >/dev/null 2>&1 || true
    rm -rf "$w"
}
trap cleanup EXIT
ports=($("$peers/free-ports.py" 2))
port=${ports[0]}
"$peers/make-test-pki.sh" "$w/pki" >/dev/null
DOVECOT_USERS="bench:benchpw" DOVECOT_UIDL_FORMAT=%f DOVECOT_TLS_CERT="$w/pki/good.pem" \
    DOVECOT_TLS_KEY="$w/pki/good.key" "$peers/start-dovecot.sh" "$w" "$port" "${ports[1]}" >/dev/null
maildir=$w/mail/bench/Maildir
/usr/bin/python3 "$peers/seed-maildir.py" "$maildir" --reset -n 200 --names msg- >/dev/null
export HOME=$w/home XDG_CONFIG_HOME=$w/config XDG_STATE_HOME=$w/state XDG_DATA_HOME=$w/data \
       XDG_CACHE_HOME=$w/cache XDG_RUNTIME_DIR=$w/run INBOXWARDEN_REGISTRY=$w/registry.db \
       DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent QT_QPA_PLATFORM=xcb
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
cli=$bin/src/cli/inboxwarden-cli
for i in $(seq 0 9); do
    echo benchpw | "$cli" account add "Account $i" ChkServer=127.0.0.1 ChkPort="$port" \
        ChkLogin=bench ChkTmout=10 CheckIt=1 --chk-password-stdin >/dev/null
done
"$cli" check All >/dev/null # the boxes hold the 200 messages: the checks are steady
display=:$(( $(shuf -i 200-900 -n 1) ))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
trayer --edge top --align right --widthtype pixel --width 64 --height 24 >/dev/null 2>&1 &
pids+=($!)
log=$XDG_STATE_HOME/inboxwarden/debug_info.txt
"$bin/src/app/inboxwarden" >/dev/null 2>&1 &
pid=$!
pids+=("$pid")
until grep -q "End of Account_GetMessages" "$log" 2>/dev/null; do sleep 0.1; done

switches() { # "tid count" for each thread of the program, voluntary and not
    for t in /proc/"$pid"/task/*; do
        awk -v t="${t##*/}" '/ctxt_switches/ { n += $2 } END { print t, n }' "$t/status" 2>/dev/null
    done
}
# Switches between two snapshots: a thread that ended in between is not
# counted, one that began counts from its start.
delta() { awk 'NR == FNR { a[$1] = $2; next } { n += $2 - a[$1] } END { print n + 0 }' "$1" "$2"; }
measure() { # $1: label
    sleep 5 # let what the last step started settle
    local t0 t1
    switches >"$w/s0"
    t0=$(awk '{print $14 + $15}' /proc/"$pid"/stat)
    sleep "$span"
    switches >"$w/s1"
    t1=$(awk '{print $14 + $15}' /proc/"$pid"/stat)
    awk -v l="$1" -v s="$(delta "$w/s0" "$w/s1")" -v span="$span" -v cpu=$((t1 - t0)) -v hz="$(getconf CLK_TCK)" \
        -v rss="$(awk '/^VmRSS/ {print $2}' /proc/"$pid"/status)" \
        -v anon="$(awk '/^RssAnon/ {print $2}' /proc/"$pid"/status)" \
        'BEGIN { printf "%-28s %5.2f wakeups/s  CPU %5.2f %%  RSS %5.1f MB (anonymous %5.1f MB)\n",
                 l, s / span, 100 * cpu / hz / span, rss / 1024, anon / 1024 }'
}
key() { # $1: window title (regex), then keys
    local title=$1
    shift
    # A window that goes meanwhile is no failure: the waits below judge.
    xdotool search --sync --onlyvisible --name "$title" windowfocus --sync key --delay 100 "$@" \
        2>/dev/null || true
}
shown() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }
fail() {
    echo "$1; the windows shown:"
    for id in $(xdotool search --onlyvisible --name . 2>/dev/null); do xdotool getwindowname "$id"; done
    tail -5 "$log"
    [ -n "${IW_SHOT:-}" ] && import -window root "$IW_SHOT"
    exit 1
}
waitShown() { for _ in $(seq 600); do shown "$1" && return 0; sleep 0.1; done; fail "no window $1"; }
waitGone() { for _ in $(seq 600); do shown "$1" || return 0; sleep 0.1; done; fail "window $1 stays"; }

echo "10 accounts checked every 10 minutes, 200 messages each"
measure "idle, no window opened"

# New mail opens the MailBox (the default new-mail choice).
/usr/bin/python3 "$peers/seed-maildir.py" "$maildir" -n 1 --names new- >/dev/null
"$bin/src/app/inboxwarden" "/check:Account 0" >/dev/null 2>&1 || true
waitShown "^MailBox"
key "^MailBox" ctrl+Home Return # the first message, in a viewer
# The question how much of it to read is answered with its default.
for _ in $(seq 600); do
    shown "^Message preview" && break
    shown "^Inboxwarden$" && key "^Inboxwarden$" Return
    sleep 0.1
done
waitShown "^Message preview"
for _ in $(seq 100); do
    shown "^Inboxwarden$" && key "^Inboxwarden$" Escape
    shown "^Message preview" && key "^Message preview" Escape
    shown "^Message preview" || shown "^Inboxwarden$" || break
    sleep 0.3
done
waitGone "^Message preview"
key "^MailBox" alt+f s # File > Settings...
waitShown "^Settings"
# Its Cancel button, the last one at the bottom right (the keyboard does not
# reach a modal dialog without a window manager).
for _ in $(seq 20); do
    shown "^Settings" || break
    eval "$(xdotool search --onlyvisible --name "^Settings" getwindowgeometry --shell 2>/dev/null)"
    xdotool mousemove $((X + WIDTH - 45)) $((Y + HEIGHT - 22)) click 1 2>/dev/null || true
    sleep 0.5
done
waitGone "^Settings"
key "^MailBox" alt+f c # File > Close
waitGone "^MailBox"
measure "after MailBox, viewer, settings"
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
echo "ended by SIGTERM with status $status"
