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
missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
