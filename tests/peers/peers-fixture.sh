#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Starts and stops the real servers the integration tests share: one dovecot
# POP3 server, one dante SOCKS 4/5 proxy and one SMTP sink, on free loopback
# ports, everything under one work directory.
#
# usage: peers-fixture.sh up ENV_FILE WORKDIR
#        peers-fixture.sh down ENV_FILE
#
# "up" writes ENV_FILE (KEY=VALUE lines, readable by bash and by
# tests/support/real_peers.cpp) only once every server answers. When a server
# is not installed it writes IW_PEERS_UNAVAILABLE=<reason> instead and exits 77
# (CTest shows the setup as skipped and the tests skip with that reason), or
# exits 1 when IW_REQUIRE_PEERS=1.
# "down" stops what "up" started, by pid, plus any private instance a crashed
# test left under WORKDIR/private, and removes ENV_FILE. The work directory
# stays until the next "up" so the server logs can be read after a failure.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/lib.sh"

# One mailbox (and SMTP login) per test process running at the same time;
# real_peers.cpp leases them with flock() on WORKDIR/leases/<user>.lock.
USERS="test:secret"
for i in 1 2 3 4 5 6 7 8; do USERS+=" user$i:pass$i"; done

# Dovecot's deepest socket is WORKDIR/private/XXXXXX/dovecot/run/token-login/tokenlogin
# and a unix socket path must fit in 108 bytes, so a long build directory
# gets a work directory under /tmp instead.
MAX_WORKDIR_LEN=48

env_get() { # FILE KEY
    [[ -f $1 ]] || return 0
    sed -n "s/^$2=//p" "$1" 2>/dev/null | tail -n 1 | sed "s/^'\\(.*\\)'\$/\\1/"
}

# names_dir PID DIR: true when an argument of PID's command line is DIR or a
# path below it.
names_dir() {
    local arg
    while IFS= read -r -d '' arg; do
        [[ $arg == "$2" || $arg == "$2"/* ]] && return 0
    done <"/proc/$1/cmdline"
    return 1
} 2>/dev/null

# Stops the servers whose pid files lie under DIR, but only pids whose command
# line still names DIR: after a crash or reboot a pid file may point at an
# unrelated process that reused the number.
stop_dir() { # DIR
    local d=$1 f pid
    [[ -d $d ]] || return 0
    for f in "$d"/dovecot/dovecot.pid "$d"/socks/*.pid "$d"/smtp/smtp.pid; do
        [[ -s $f ]] || continue
        pid=$(cat "$f")
        if ! [[ $pid =~ ^[0-9]+$ ]] || ! names_dir "$pid" "$d"; then
            rm -f "$f"
        fi
    done
    "$here/stop-all.sh" "$d"
}

stop_workdir() { # WORKDIR
    local p
    [[ -n $1 && -d $1 ]] || return 0
    for p in "$1"/private/*/; do
        [[ -d $p ]] && stop_dir "${p%/}"
    done
    stop_dir "$1"
}

unavailable() { # REASON
    if [[ ${IW_REQUIRE_PEERS:-0} == 1 ]]; then
        echo "real peers are required (IW_REQUIRE_PEERS=1), but $1" >&2
        exit 1
    fi
    printf "IW_PEERS_UNAVAILABLE='%s'\n" "$1" >"$ENV_FILE"
    echo "real peers unavailable, integration tests will skip: $1" >&2
    exit 77
}

check_installed() {
    local f
    for f in /usr/sbin/dovecot /usr/lib/dovecot/pop3 /usr/lib/dovecot/pop3-login \
             /usr/sbin/danted /usr/bin/python3; do
        [[ -x $f ]] || unavailable "$f is not installed (scripts/deps test installs the servers)"
    done
    # (a look at the package's folder: importing it costs a python start)
    [[ -d /usr/lib/python3/dist-packages/aiosmtpd ]] ||
        unavailable "python3-aiosmtpd is not installed (scripts/deps test installs the servers)"
    if [[ $(id -u) == 0 ]]; then
        for f in dovenull nobody; do
            getent passwd "$f" >/dev/null || unavailable "user $f is missing (dovecot runs as it under root)"
        done
        getent group nogroup >/dev/null || unavailable "group nogroup is missing"
    fi
}

up() {
    local want=$1 W old started starting attempt ports ok pid name t0
    old=$(env_get "$ENV_FILE" IW_PEERS_WORKDIR)
    rm -f "$ENV_FILE"
    stop_workdir "$old"
    check_installed

    W=$want
    if (( ${#W} > MAX_WORKDIR_LEN )); then
        W=/tmp/iw-peers-$(id -u)-$(printf '%s' "$want" | cksum | cut -d' ' -f1)
        rm -rf "$want"
        mkdir -p "$(dirname "$want")"
        ln -sfn "$W" "$want"     # so the logs are still found from the build tree
    fi
    stop_workdir "$W"
    rm -rf "$W"
    mkdir -p "$W/leases" "$W/private"

    t0=$(rp_now_ms)
    for attempt in 1 2 3; do
        mapfile -t ports < <("$here/free-ports.py" 3)
        # The three start in parallel (they share nothing but the work
        # directory); each writes NAME_PID=<pid> to its .out file.
        DOVECOT_USERS=$USERS DOVECOT_UIDL_FORMAT=%f \
            "$here/start-dovecot.sh" "$W" "${ports[0]}" >"$W/dovecot.out" &
        starting=($!)
        "$here/start-socks.sh" "$W" "${ports[1]}" dante >"$W/socks.out" &
        starting+=($!)
        "$here/start-smtp.sh" "$W" "${ports[2]}" -- --users "$USERS" >"$W/smtp.out" &
        starting+=($!)
        ok=1
        for pid in "${starting[@]}"; do wait "$pid" || ok=0; done
        (( ok )) && break
        # Another process may have taken a port between free-ports.py and the
        # start; the script then refused it, and the next attempt picks new ones.
        stop_workdir "$W"
        (( attempt == 3 )) && { echo "could not start the real peers, see $W" >&2; exit 1; }
        rm -rf "$W/dovecot" "$W/socks" "$W/smtp" "$W/mail"
    done
    started=()
    for name in dovecot socks smtp; do
        started+=("$(sed -n 's/^[A-Z]*_PID=//p' "$W/$name.out")")
    done

    {
        echo "# written by peers-fixture.sh; removed by its 'down'"
        echo "IW_PEERS_WORKDIR=$W"
        echo "IW_PEERS_SCRIPTS=$here"
        echo "IW_PEERS_HOST=127.0.0.1"
        echo "IW_POP3_PORT=${ports[0]}"
        echo "IW_SOCKS_PORT=${ports[1]}"
        echo "IW_SMTP_PORT=${ports[2]}"
        echo "IW_DOVECOT_PID=${started[0]}"
        echo "IW_SOCKS_PID=${started[1]}"
        echo "IW_SMTP_PID=${started[2]}"
        echo "IW_POP3_UIDL_FORMAT=%f"
        echo "IW_PEERS_USERS='$USERS'"
    } >"$ENV_FILE.tmp"
    mv "$ENV_FILE.tmp" "$ENV_FILE"
    echo "real peers up in $(( $(rp_now_ms) - t0 )) ms: pop3 ${ports[0]}, socks ${ports[1]}," \
         "smtp ${ports[2]}, work dir $W" >&2
}

down() {
    local W t0
    t0=$(rp_now_ms)
    W=$(env_get "$ENV_FILE" IW_PEERS_WORKDIR)
    stop_workdir "$W"
    rm -f "$ENV_FILE"
    echo "real peers down in $(( $(rp_now_ms) - t0 )) ms" >&2
}

case ${1:-} in
up) [[ $# -eq 3 ]] || { echo "usage: $0 up ENV_FILE WORKDIR" >&2; exit 2; }
    ENV_FILE=$2; mkdir -p "$(dirname "$ENV_FILE")"; up "$3" ;;
down) [[ $# -eq 2 ]] || { echo "usage: $0 down ENV_FILE" >&2; exit 2; }
    ENV_FILE=$2; down ;;
*) echo "usage: $0 up ENV_FILE WORKDIR | down ENV_FILE" >&2; exit 2 ;;
esac
