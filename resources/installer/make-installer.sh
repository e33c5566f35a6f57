#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the self-extracting per-user installer with makeself.
# usage: make-installer.sh OUTPUT VERSION BUILD_DATE_H PROGRAM CLI PLUGIN
#                          BUS_MODULE INSTALL_SH DESKTOP_FILE ICON_DIR
# The release date comes from the program's own generated build_date.h, so
# the installer's marker and the program's date can never disagree.
set -eu
out=$1 version=$2 datefile=$3 program=$4 cli=$5 plugin=$6 busmodule=$7 installsh=$8
desktopfile=$9 icons=${10}

num() { sed -n "s/.*IW_BUILD_$1 = \([0-9]*\);.*/\1/p" "$datefile"; }
year=$(num YEAR) month=$(num MONTH) day=$(num DAY)
if [ -z "$year" ] || [ -z "$month" ] || [ -z "$day" ]; then
  echo "make-installer: no date in $datefile" >&2
  exit 1
fi
marker=$(printf '# inboxwarden-release: %04d %02d %02d 0' "$year" "$month" "$day")

# A fixed place beside the output: makeself records the header's path, and
# two builds of one commit give the same installer.
stage=$out.stage
rm -rf "$stage"
mkdir "$stage"
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/pkg" "$stage/pkg/icons"
cp "$program" "$stage/pkg/inboxwarden"
cp "$cli" "$stage/pkg/inboxwarden-cli"
cp "$plugin" "$stage/pkg/libiwfilter.so"
cp "$busmodule" "$stage/pkg/libiwclibus.so"
sed "s/@IW_VERSION@/$version/g" "$installsh" >"$stage/pkg/install.sh"
chmod 755 "$stage/pkg/install.sh"
cp "$desktopfile" "$stage/pkg/inboxwarden.desktop"
for s in 32 48 64 128 256; do
  cp "$icons/inboxwarden-$s.png" "$stage/pkg/icons/"
done

# makeself's own header with the marker as its second line: the reader looks
# at the first 4 KB only.
sed "2a\\
$marker" /usr/share/makeself/makeself-header.sh >"$stage/header.sh"

# gzip without the time of compression in its header (makeself has no
# switch for that).
mkdir "$stage/tools"
gz=$(command -v gzip)
printf '#!/bin/sh\nexec %s -n "$@"\n' "$gz" >"$stage/tools/gzip"
chmod 755 "$stage/tools/gzip"

epoch=$(date -u -d "$year-$month-$day" +%s)
PATH=$stage/tools:$PATH makeself --quiet --nox11 --noprogress --header "$stage/header.sh" \
  --packaging-date "$year-$month-$day" \
  --tar-extra "--sort=name --mtime=@$epoch --owner=0 --group=0 --numeric-owner" \
  "$stage/pkg" "$out.tmp" "Inboxwarden $version" ./install.sh >/dev/null
head -c 4096 "$out.tmp" | grep -qxF "$marker" || {
  echo "make-installer: the marker is not in the first 4 KB" >&2
  exit 1
}
mv -f "$out.tmp" "$out"
