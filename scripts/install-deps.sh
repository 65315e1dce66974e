#!/usr/bin/env bash
# Installs everything the build, the tests and the benchmarks need, from
# Debian's packages and the npm registry. Safe to run again: it installs only
# what is missing. Works as root, and through sudo otherwise.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config clang-format
    qt6-base-dev qt6-base-dev-tools
    libturbojpeg0-dev libjpeg62-turbo-dev libjpeg-turbo-progs libexiv2-dev
    exiv2  # its command writes the browser test's camera details
    libspng-dev libwebp-dev libheif-dev zlib1g-dev  # the album's PNG, WebP, HEIC and AVIF
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth chromium
    twm x11-apps netpbm  # the screenshot: a window manager, xwd, PNG conversion
    dpkg-dev file man-db appstream desktop-file-utils  # the package and its checks
)
# Node.js may come from elsewhere than Debian with its own npm; only fill gaps.
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)
"$(dirname "${BASH_SOURCE[0]}")/apt-install-missing.sh" "${packages[@]}"

# The browser tests drive Debian's Chromium through playwright-core and run
# axe-core in it; no browser download, the package ships none.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [ -f "$here/tests/browser/package.json" ] && { [ ! -d "$here/tests/browser/node_modules/playwright-core" ] ||
    [ ! -d "$here/tests/browser/node_modules/axe-core" ]; }; then
    (cd "$here/tests/browser" && npm ci --no-audit --no-fund --loglevel=error)
fi
