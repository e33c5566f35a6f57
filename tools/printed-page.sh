#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Renders the first page of a printed message (the printing test's long
# message with its heading, printed to PDF) into docs/screenshots.
# Usage: tools/printed-page.sh [BUILD_DIR] (default build/asan, with
# ui_print_test built). Needs pdftoppm (poppler-utils).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/asan}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
IW_PRINT_KEEP_PDF=$tmp/page.pdf "$build/tests/ui/ui_print_test" \
  --gtest_filter='Print.LongMessage*' >/dev/null
pdftoppm -png -r 60 -f 1 -l 1 -singlefile "$tmp/page.pdf" "$root/docs/screenshots/printed-page"
echo "docs/screenshots/printed-page.png"
