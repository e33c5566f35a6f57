#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Unpacks and lists every TNEF file of a folder with inboxwarden-cli and with
# Debian's tnef program (package tnef), and compares: the same file names,
# in the same order when listed, and the same bytes for every unpacked file.
# Usage: tnef_differential.sh INBOXWARDEN_CLI DATA_DIR
set -uo pipefail
exec </dev/null # neither program may read the runner's standard input

cli=$1
data=$2
command -v tnef >/dev/null || { echo "tnef is not installed (scripts/deps test)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

passed=0
failed=0
files=0
fail() {
  echo "FAIL $1: $2" >&2
  failed=$((failed + 1))
}

for f in "$data"/*.tnef; do
  name=$(basename "$f" .tnef)
  ours=$work/ours/$name
  ref=$work/ref/$name
  mkdir -p "$ours" "$ref"

  # Two files of one name: the later one replaces the earlier in both.
  tnef --overwrite -C "$ref" "$f" 2>/dev/null
  ref_rc=$?
  "$cli" tnef extract "$f" "$ours" >"$work/written" 2>"$work/err"
  ours_rc=$?
  if [[ $ref_rc != 0 || $ours_rc != 0 ]]; then
    fail "$name" "exit status tnef $ref_rc, inboxwarden-cli $ours_rc: $(head -3 "$work/err")"
    continue
  fi
  if ! diff -r "$ours" "$ref" >"$work/diff" 2>&1; then
    fail "$name" "unpacked files differ: $(head -5 "$work/diff")"
    continue
  fi
  files=$((files + $(find "$ref" -type f | wc -l)))

  tnef -t "$f" 2>/dev/null | awk -F '\t[|]\t' '{print $1}' >"$work/ref-list"
  "$cli" tnef list "$f" >"$work/our-list" 2>/dev/null
  if ! diff "$work/our-list" "$work/ref-list" >"$work/diff"; then
    fail "$name" "listed names differ: $(head -5 "$work/diff")"
    continue
  fi
  passed=$((passed + 1))
done

echo "$files unpacked files compared"
# An empty folder or a tool that unpacks nothing must not pass unnoticed.
(( files == 0 )) && fail corpus "no file was unpacked"
echo "$passed passed, $failed failed"
(( failed == 0 && passed > 0 ))
