#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a temporary prefix and checks what a user and a
# packager get: the layout, the desktop entry and AppStream file as their
# validators see them, the man pages as man sees them (and that they name
# every switch and command the programs know), the manual's links, the
# shell completion. A validator that is not installed is skipped, not failed.
# Usage: install_test.sh BUILD_DIR
set -u
build=${1:?usage: install_test.sh BUILD_DIR}
work=$(mktemp -d "${TMPDIR:-/tmp}/iw-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
bad=0
fail() { echo "FAIL: $*"; bad=1; }

cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; echo "FAIL: cmake --install"; exit 1; }
# The install may not write outside its prefix.
if grep -E '^-- (Installing|Up-to-date): ' "$work/install.log" | grep -vF -- "$prefix/"; then
  fail "files installed outside the prefix"
fi

libdir=$(cd "$prefix" && ls -d lib*/inboxwarden lib/*/inboxwarden 2>/dev/null | head -1)
[[ -n $libdir ]] || fail "no lib*/inboxwarden folder"
expect=(bin/inboxwarden bin/inboxwarden-cli "$libdir/libiwfilter.so" "$libdir/libiwclibus.so"
        share/applications/inboxwarden.desktop share/metainfo/com.corvale.inboxwarden.metainfo.xml
        share/icons/hicolor/scalable/apps/inboxwarden.svg
        share/man/man1/inboxwarden.1 share/man/man1/inboxwarden-cli.1
        share/bash-completion/completions/inboxwarden-cli share/inboxwarden/manual/index.html)
for s in 32 48 64 128 256; do expect+=("share/icons/hicolor/${s}x$s/apps/inboxwarden.png"); done
for f in "${expect[@]}"; do [[ -f $prefix/$f ]] || fail "missing $f"; done
[[ -x $prefix/bin/inboxwarden && -x $prefix/bin/inboxwarden-cli ]] || fail "programs not executable"
# Nothing of the build tree's plug-in placement: the plug-in lives in its own folder.
[[ -e $prefix/bin/libiwfilter.so || -e $prefix/bin/libiwclibus.so ]] &&
  fail "plug-in installed beside the programs"

# Every image and link of the manual resolves inside the installation.
for page in "$prefix"/share/inboxwarden/manual/*.html; do
  [[ -f $page ]] || continue
  while IFS= read -r ref; do
    [[ $ref == *://* || $ref == \#* ]] && continue
    [[ -f $(dirname "$page")/${ref%%#*} ]] || fail "$(basename "$page") links to missing $ref"
  done < <(grep -oE '(src|href)="[^"]+"' "$page" | sed -E 's/^[a-z]+="(.*)"$/\1/')
done

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/inboxwarden.desktop" || fail "desktop-file-validate"
  grep -q '^Exec=inboxwarden$' "$prefix/share/applications/inboxwarden.desktop" ||
    fail "Exec line passes arguments the program does not take"
else
  echo "SKIP: desktop-file-validate not installed"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$prefix"/share/metainfo/*.xml || fail "appstreamcli validate"
else
  echo "SKIP: appstreamcli not installed"
fi

cli=$prefix/bin/inboxwarden-cli
if command -v man >/dev/null && command -v groff >/dev/null; then
  for page in "$prefix"/share/man/man1/*.1; do
    out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [[ -z $out ]] || fail "man --warnings $(basename "$page"): $out"
  done
else
  echo "SKIP: man or groff not installed"
fi
# The pages name every command and switch the programs list in --help.
commands=$("$cli" --help | sed -n '/^Subcommands:/,$p' | sed -nE 's/^  ([a-z]+) .*/\1/p')
[[ -n $commands ]] || fail "no commands in inboxwarden-cli --help"
for c in $commands; do
  grep -qE "^(\\\\fB)?$c\\b" "$prefix/share/man/man1/inboxwarden-cli.1" ||
    fail "inboxwarden-cli(1) does not describe '$c'"
done
for s in $("$prefix/bin/inboxwarden" --help | grep -oE '^  /[a-z]+'); do
  grep -qE "^\.B[IR]? $s\b" "$prefix/share/man/man1/inboxwarden.1" ||
    fail "inboxwarden(1) does not describe '$s'"
done
"$cli" --version | grep -qx "inboxwarden-cli [0-9.]*" || fail "inboxwarden-cli --version"

# The installed program finds the installed plug-in (relative to itself:
# the prefix is not the one it was configured for), checking an account whose
# server refuses at once, in a home of its own.
home=$work/home
mkdir -p "$home"
run_cli() {
  env -u INBOXWARDEN_PLUGIN_DIR -u INBOXWARDEN_REGISTRY HOME="$home" XDG_CONFIG_HOME="$home/.config" \
    XDG_STATE_HOME="$home/.local/state" XDG_DATA_HOME="$home/.local/share" "$cli" "$@"
}
printf 'pw\n' | run_cli account add T ChkServer=127.0.0.1 ChkPort=1 ChkLogin=x --chk-password-stdin ||
  fail "account add"
loaded=$(LD_DEBUG=files run_cli check T 2>&1 >/dev/null | grep -oE 'file=[^ ]*libiwfilter\.so' | head -1)
[[ $loaded == "file=$prefix/bin/../$libdir/libiwfilter.so" ]] ||
  fail "the installed inboxwarden-cli loaded '${loaded#file=}', not the installed plug-in"
# While the program holds the store (its lock held here) the command line
# loads its bus module from the installation, and says so clearly when that
# is missing. No session bus: the module's own answer does not matter here.
lock=$home/.config/inboxwarden/registry.db.lock
loaded=$( (flock -n 9 && DBUS_SESSION_BUS_ADDRESS=unix:path=$work/nobus LD_DEBUG=files \
  run_cli accounts 2>&1 >/dev/null) 9>"$lock" | grep -oE 'file=[^ ]*libiwclibus\.so' | head -1)
[[ $loaded == "file=$prefix/bin/../$libdir/libiwclibus.so" ]] ||
  fail "the installed inboxwarden-cli loaded '${loaded#file=}', not the installed bus module"
mkdir -p "$work/empty"
said=$( (flock -n 9 && env -u INBOXWARDEN_REGISTRY INBOXWARDEN_PLUGIN_DIR="$work/empty" HOME="$home" \
  XDG_CONFIG_HOME="$home/.config" XDG_STATE_HOME="$home/.local/state" \
  XDG_DATA_HOME="$home/.local/share" "$cli" accounts 2>&1) 9>"$lock")
[[ $? == 1 && $said == "inboxwarden-cli: cannot reach the running Inboxwarden: $work/empty/libiwclibus.so:"* ]] ||
  fail "without its bus module: '$said'"

# The completion, with stand-ins for the bash-completion helpers it uses and
# for the account list.
mkdir -p "$work/stub"
printf '#!/bin/sh\n[ "$1" = accounts ] && printf "Work\\tpop.example.org:110\\t1\\n"\n' \
  >"$work/stub/inboxwarden-cli"
chmod +x "$work/stub/inboxwarden-cli"
complete_words() {
  PATH=$work/stub:$PATH bash -c '
    _init_completion() { words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD
                         cur=${words[cword]}; prev=${words[cword-1]}; }
    _filedir() { COMPREPLY=(FILE); }
    compopt() { :; }
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    _inboxwarden_cli; echo "${COMPREPLY[*]}"' _ "$prefix/share/bash-completion/completions/inboxwarden-cli" "$@"
}
check_completion() {
  local want=$1; shift
  local got; got=$(complete_words inboxwarden-cli "$@")
  [[ $got == "$want" ]] || fail "completing '$*': '$got', want '$want'"
}
check_completion "mark" ma
check_completion "add set rename delete" account ""
check_completion "Work All AllInc" check ""
check_completion "read unread delete" mark Work msg-1 ""
check_completion "FILE" --profile x.iwpf decode ""
check_completion "--json --password-stdin --help" check Work --

exit $bad
