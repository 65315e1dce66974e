#!/usr/bin/env bash
# Installs what bench/peers-bench.sh compares fotolane-gallery with, from
# Debian's packages: libjpeg-turbo's tools, Pillow, libvips's tools,
# ImageMagick, GNU time, and Debian's wallpapers as the large photos.
# Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(
    libjpeg-turbo-progs python3-pil libvips-tools imagemagick time
    plasma-workspace-wallpapers
)
"$(dirname "${BASH_SOURCE[0]}")/../scripts/apt-install-missing.sh" "${packages[@]}"
