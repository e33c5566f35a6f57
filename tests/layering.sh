#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks the layer rule: a layer includes only its own headers and those of
# the layers below it; the engine and everything below it include no Qt
# header and, once built, reference no Qt symbol; the command-line program
# uses Qt only in its bus module (cli/bus_module.cpp, QtCore and QtDBus alone),
# and links no Qt, GLib, libsecret or OpenSSL itself (it loads them when it
# needs them); the layers below the windows show no box.
set -u
src=${1:?usage: layering.sh SRC_DIR [BUILD_DIR]}
build=${2:-}
declare -A allowed=(
  [common]="common"
  [platform]="platform common"
  [settings]="settings platform common"
  [net]="net platform common"
  [message]="message platform common"
  [crash]="crash platform common"
  [engine]="engine settings net message crash platform common"
  [ui]="ui engine settings net message crash platform common"
  [app]="app ui engine settings net message crash platform common"
  [cli]="cli engine settings net message crash platform common"
)
noqt="common platform settings net message crash engine cli"
bad=0
for layer in "${!allowed[@]}"; do
  [[ -d $src/$layer ]] || continue
  while IFS= read -r hit; do
    file=${hit%%:*}; inc=${hit#*:}
    dep=$(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([a-z_]+)\/.*/\1/p' <<<"$inc")
    [[ -z $dep ]] && continue
    [[ " ${allowed[$layer]} " == *" $dep "* ]] && continue
    echo "layering: $file includes $dep/ (not allowed for $layer/)"; bad=1
  done < <(grep -rHE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$src/$layer" 2>/dev/null)
  if [[ " $noqt " == *" $layer "* ]]; then
    if grep -rnE --exclude='bus_module.cpp' '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$src/$layer"; then
      echo "layering: $layer/ must not include Qt headers"; bad=1
    fi
  fi
done
# The layers below the windows show no box: they return the text and the
# caller shows it.
for layer in settings net message; do
  [[ -d $src/$layer ]] || continue
  while IFS= read -r file; do
    echo "layering: ${file#"$src"/} shows a message box (return the text to the caller)"; bad=1
  done < <(grep -rlE 'UserMsg_[A-Za-z]+[[:space:]]*\(|#[[:space:]]*include[[:space:]]*"platform/user_message\.h"' "$src/$layer" 2>/dev/null)
done
for dir in "$src"/*/; do
  layer=$(basename "$dir")
  [[ -n ${allowed[$layer]:-} || $layer == cmake ]] && continue
  echo "layering: $layer/ is no known layer"; bad=1
done

# What was linked, not only what was included.
if [[ -n $build ]]; then
  for layer in $noqt; do
    lib=$(find "$build/src/$layer" -maxdepth 1 -name "libiw_$layer.a" 2>/dev/null | head -1)
    [[ -z $lib ]] && continue
    if nm -C --undefined-only "$lib" 2>/dev/null | grep -qE '\bQ[A-Z][A-Za-z]*::'; then
      echo "layering: libiw_$layer.a uses Qt symbols"; bad=1
    fi
  done
  cli=$build/src/cli/inboxwarden-cli
  if [[ -x $cli ]] && readelf -d "$cli" | grep -E 'NEEDED.*(libQt|libglib|libgio|libgobject|libsecret|libssl|libcrypto)'; then
    echo "layering: inboxwarden-cli links Qt, GLib, libsecret or OpenSSL"; bad=1
  fi
  [[ -x $cli ]] || { echo "layering: $cli not built"; bad=1; }
  mod=$build/src/cli/libiwclibus.so
  if [[ -f $mod ]] && readelf -d "$mod" | grep -E 'NEEDED.*libQt' | grep -vE 'libQt6(Core|DBus)\.'; then
    echo "layering: libiwclibus.so links Qt beyond QtCore and QtDBus"; bad=1
  fi
  [[ -f $mod ]] || { echo "layering: $mod not built"; bad=1; }
fi
if (( bad )); then echo "1 failed"; exit 1; fi
echo "layering: ok"
