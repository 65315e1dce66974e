#!/usr/bin/env bash
# Renders the album of test photos (the browser test's album, made by
# fotolane-gallery --index) in Debian's Chromium and saves
# docs/album-desktop.png (1280 x 800), docs/album-phone.png (390 x 844) and
# their dark variants docs/album-desktop-dark.png and docs/album-phone-dark.png.
#
#   scripts/album-screenshots.sh [FOTOLANE_GALLERY] [TESTDATA]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

program="${1:-build/dev/app/batch/fotolane-gallery}"
testdata="${2:-../shared/testdata}"
if [ ! -x "$program" ]; then
    echo "No program at $program: build it first (cmake --preset dev && cmake --build build/dev)." >&2
    exit 1
fi
if [ ! -d tests/browser/node_modules ]; then
    echo "tests/browser/node_modules is missing: see tests/README.md for the browser tests' packages." >&2
    exit 1
fi
node tests/browser/album_test.mjs "$program" "$testdata" --screenshots docs
