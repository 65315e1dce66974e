#!/usr/bin/env bash
# Installs what bench/peers-bench.sh and bench/album-bench.sh compare
# fotolane-gallery with, from Debian's packages: libjpeg-turbo's tools,
# Pillow, libvips's tools, ImageMagick, GNU time, Debian's wallpapers as the
# large photos, the album makers lazygal and fgallery (and GraphicsMagick and
# exiftool for thumbsup); then thumbsup from npm into ~/.cache/fotolane-peers,
# where it can be had (its SQLite module is built from source).
# Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(
    libjpeg-turbo-progs python3-pil libvips-tools imagemagick time
    plasma-workspace-wallpapers lazygal fgallery liblcms2-utils graphicsmagick libimage-exiftool-perl
)
"$(dirname "${BASH_SOURCE[0]}")/../scripts/apt-install-missing.sh" "${packages[@]}"

peers="$HOME/.cache/fotolane-peers"
if [ ! -x "$peers/node_modules/.bin/thumbsup" ]; then
    mkdir -p "$peers"
    (cd "$peers" && npm install --no-audit --no-fund thumbsup &&
        cd node_modules/better-sqlite3 && npx --yes node-gyp rebuild --release --nodedir=/usr) ||
        echo "thumbsup could not be installed: bench/album-bench.sh leaves it out" >&2
fi
