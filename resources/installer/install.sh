#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs Inboxwarden for the current user under ~/.local; run by the
# self-extracting installer from the folder it unpacked into.
#
#   /quite      say nothing (the program's update passes it)
#   /start      start the installed program afterwards
#   /creategrp  an entry in the desktop's application menu
#   /addicon    an icon on the desktop
#
# Run without switches it makes the menu entry, as any desktop program has.
# Every file it writes and every folder it creates is listed in
# ~/.local/lib/inboxwarden/install-manifest: the program's removal deletes
# only what is listed there.
set -eu

quiet=0 start=0 group=0 icon=0 any=0
for a in "$@"; do
  case $a in
    /quite | /quiet) quiet=1 any=1 ;;
    /start) start=1 any=1 ;;
    /creategrp) group=1 any=1 ;;
    /addicon) icon=1 any=1 ;;
    '') ;;
    *) echo "inboxwarden installer: unknown switch: $a" >&2; exit 2 ;;
  esac
done
[ "$any" = 1 ] || group=1

say() { [ "$quiet" = 1 ] || echo "$@"; }
fail() { echo "inboxwarden installer: $*" >&2; exit 1; }

case ${HOME:-} in /*) ;; *) fail "HOME is not an absolute path" ;; esac
[ -d "$HOME" ] || fail "HOME ($HOME) is not a folder"
# Only folders inside the home: removal deletes nothing outside it.
data=${XDG_DATA_HOME:-}
case $data in "$HOME"/*) ;; *) data=$HOME/.local/share ;; esac
bindir=$HOME/.local/bin
libdir=$HOME/.local/lib/inboxwarden
desktop=$(xdg-user-dir DESKTOP 2>/dev/null || true)
case $desktop in "$HOME"/*) ;; *) desktop=$HOME/Desktop ;; esac

manifest=$libdir/install-manifest
new=$(mktemp)
trap 'rm -f "$new"' EXIT
echo "# inboxwarden install manifest: what removal may delete" >"$new"
# The folders an earlier install created stay listed, so that removal takes
# them away again once they are empty.
if [ -f "$manifest" ] && [ ! -L "$manifest" ]; then
  grep '^dir /' "$manifest" >>"$new" || true
fi

# Creates a folder and its missing parents, listing each one it creates.
mkd() {
  [ -d "$1" ] && return 0
  mkd "$(dirname "$1")"
  mkdir -m 755 "$1"
  echo "dir $1" >>"$new"
}

# Copies a file into place through a temporary name: a program that is
# running from the old file keeps it until it ends.
put() { # source target mode
  mkd "$(dirname "$2")"
  cp "$1" "$2.iw-new"
  chmod "$3" "$2.iw-new"
  mv -f "$2.iw-new" "$2"
  echo "file $2" >>"$new"
}

# The Exec key's quoting: the path in double quotes, with ", ` and $
# escaped and every backslash written as four.
execq() {
  printf '"%s"' "$(printf '%s' "$1" | sed -e 's/\\/\\\\\\\\/g' -e 's/["`$]/\\&/g')"
}

entry() { # target
  mkd "$(dirname "$1")"
  sed -e "s|^Exec=.*|Exec=$(execq "$bindir/inboxwarden" | sed 's/[|&\\]/\\&/g')|" \
    -e "/^TryExec=/d" inboxwarden.desktop >"$1.iw-new"
  chmod 755 "$1.iw-new"
  mv -f "$1.iw-new" "$1"
  echo "file $1" >>"$new"
}

put inboxwarden "$bindir/inboxwarden" 755
put inboxwarden-cli "$bindir/inboxwarden-cli" 755
put libiwfilter.so "$libdir/libiwfilter.so" 644
put libiwclibus.so "$libdir/libiwclibus.so" 644
for f in icons/*.png; do
  s=${f#icons/inboxwarden-}
  s=${s%.png}
  put "$f" "$data/icons/hicolor/${s}x$s/apps/inboxwarden.png" 644
done
[ "$group" = 1 ] && entry "$data/applications/inboxwarden.desktop"
[ "$icon" = 1 ] && entry "$desktop/inboxwarden.desktop"

# Files an earlier install listed and this one did not write stay listed
# while they exist.
if [ -f "$manifest" ] && [ ! -L "$manifest" ]; then
  grep '^file /' "$manifest" | while IFS= read -r line; do
    f=${line#file }
    [ "$f" != "$manifest" ] && [ -e "$f" ] && ! grep -qxF "$line" "$new" && echo "$line"
  done >>"$new.old" || true
  cat "$new.old" >>"$new" 2>/dev/null || true
  rm -f "$new.old"
fi
echo "file $manifest" >>"$new"
chmod 644 "$new"
mv -f "$new" "$manifest"
trap - EXIT

say "Inboxwarden @IW_VERSION@ is installed in $HOME/.local."
if [ "$start" = 1 ]; then
  cd "$HOME"
  if command -v setsid >/dev/null; then
    setsid "$bindir/inboxwarden" </dev/null >/dev/null 2>&1 &
  else
    "$bindir/inboxwarden" </dev/null >/dev/null 2>&1 &
  fi
fi
exit 0
