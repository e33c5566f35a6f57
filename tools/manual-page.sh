#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Renders the manual's first page, as a browser window 900 pixels wide shows
# it, into docs/screenshots/manual.png. Needs weasyprint and pdftoppm
# (poppler-utils).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
echo '@page { size: 900px 1500px; margin: 0; }' >"$tmp/page.css"
weasyprint -q -s "$tmp/page.css" "$root/docs/manual/index.html" "$tmp/index.pdf"
pdftoppm -png -r 96 -f 1 -l 1 -singlefile "$tmp/index.pdf" "$root/docs/screenshots/manual"
echo "docs/screenshots/manual.png"
