#!/bin/bash
# Checks the layer rule on the sources: a layer includes only its own headers
# and those of the layers below it, and the layers below core/ include no Qt.
set -u
src=${1:?usage: layering.sh SRC_DIR}
declare -A allowed=(
  [common]="common"
  [platform]="platform common"
  [settings]="settings platform common"
  [net]="net platform common"
  [message]="message platform common"
  [crash]="crash platform common"
  [core]="core settings net message crash platform common"
  [ui]="ui core settings net message crash platform common"
  [cli]="cli core settings net message crash platform common"
)
noqt="common platform settings net message crash"
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
    if grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$src/$layer"; then
      echo "layering: $layer/ must not include Qt headers"; bad=1
    fi
  fi
done
if (( bad )); then echo "1 failed"; exit 1; fi
echo "layering: ok"
