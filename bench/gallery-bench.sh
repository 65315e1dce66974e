#!/usr/bin/env bash
# Times a whole gallery run of fotolane-gallery (release build) on a folder of
# large real photographs beside libjpeg-turbo's djpeg decoding the same files,
# both on one core, and reports the gallery run's peak memory.
#
#   bench/gallery-bench.sh [PHOTO_FOLDER]
#
# Without a folder it takes the JPEG wallpapers of Debian's
# plasma-workspace-wallpapers (several 5120 x 2880), installing the package
# when it is missing. Each program runs REPEATS times (default 3); the best
# time counts, as the machine may be busy with other work.
#
# Targets: gallery time <= 1.15 x djpeg time; peak memory <= 2.2 x the
# largest decoded picture + 40 MB.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
repeats="${REPEATS:-3}"
min_pixels=3000000  # photographs of 3 megapixels and more

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
need_packages=()
command -v djpeg >/dev/null || need_packages+=(libjpeg-turbo-progs)
[ -x /usr/bin/time ] || need_packages+=(time)
if [ $# -eq 0 ] && [ ! -d /usr/share/wallpapers ]; then
    need_packages+=(plasma-workspace-wallpapers)
fi
if [ ${#need_packages[@]} -gt 0 ]; then
    echo "Installing: ${need_packages[*]}"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${need_packages[@]}" >/dev/null
fi

echo "== release build"
# Only the program is needed, not the benchmark programs of bench/.
(cd "$here" && cmake --preset release -DFOTOLANE_BUILD_BENCHMARKS=OFF >/dev/null &&
    cmake --build --preset release --target fotolane-gallery -j "$(nproc)" >/dev/null)
program="$here/build/release/app/batch/fotolane-gallery"

work="$(mktemp -d "${TMPDIR:-/tmp}/fotolane-bench-XXXXXX")"
trap 'rm -rf "$work"' EXIT
photos="$work/photos"
mkdir "$photos"

# Width and height of a JPEG from djpeg's PNM header.
jpeg_size() { djpeg -pnm "$1" 2>/dev/null | head -c 32 | sed -n 2p; }

# One copy of every distinct large JPEG (the wallpaper package links the same
# file under many names).
source="${1:-/usr/share/wallpapers}"
largest=0
count=0
declare -A seen=()
while IFS= read -r -d '' file; do
    real="$(readlink -f "$file")"
    [ -z "${seen[$real]:-}" ] || continue
    seen[$real]=1
    read -r width height < <(jpeg_size "$real") || continue
    pixels=$((width * height))
    [ "$pixels" -ge "$min_pixels" ] || continue
    count=$((count + 1))
    cp "$real" "$photos/photo-$count.jpg"
    # Decoded: rows of 3 bytes per pixel padded to a multiple of 4.
    bytes=$(((3 * width + 3) / 4 * 4 * height))
    [ "$bytes" -le "$largest" ] || largest=$bytes
    echo "  photo-$count.jpg  ${width}x${height}  ${real#/usr/share/wallpapers/}"
done < <(find -L "$source" -type f \( -iname '*.jpg' -o -iname '*.jpeg' \) -print0 | sort -z)
if [ "$count" -eq 0 ]; then
    echo "no JPEG of $min_pixels pixels or more below $source" >&2
    exit 1
fi

one_core=()
if command -v taskset >/dev/null; then one_core=(taskset -c 0); fi

now() { date +%s.%N; }
best() { printf '%s\n' "$@" | sort -g | head -n 1; }
# Floating-point arithmetic on its arguments: calc EXPRESSION.
calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }

echo "== $count photos, best of $repeats runs each"
djpeg_times=()
gallery_times=()
for ((run = 1; run <= repeats; run++)); do
    start=$(now)
    for photo in "$photos"/*.jpg; do
        "${one_core[@]}" djpeg -outfile /dev/null "$photo"
    done
    djpeg_times+=("$(calc "$(now) - $start")")

    rm -rf "$photos/Thumbnails"
    start=$(now)
    "${one_core[@]}" "$program" --jobs 1 "$photos"
    gallery_times+=("$(calc "$(now) - $start")")
done
djpeg_time=$(best "${djpeg_times[@]}")
gallery_time=$(best "${gallery_times[@]}")

rm -rf "$photos/Thumbnails"
peak_kb=$(/usr/bin/time -f '%M' "${one_core[@]}" "$program" --jobs 1 "$photos" 2>&1 >/dev/null | tail -n 1)
peak=$((peak_kb * 1024))
# What the decoder itself needs: a progressive JPEG keeps all its
# coefficients (2 bytes each) until the last scan.
djpeg_peak_kb=0
for photo in "$photos"/*.jpg; do
    kb=$(/usr/bin/time -f '%M' djpeg -outfile /dev/null "$photo" 2>&1 | tail -n 1)
    [ "$kb" -le "$djpeg_peak_kb" ] || djpeg_peak_kb=$kb
done
limit=$(calc "2.2 * $largest + 40 * 1024 * 1024")

ratio=$(calc "$gallery_time / $djpeg_time")
printf 'djpeg decoding:          %7.3f s   (runs: %s)\n' "$djpeg_time" "${djpeg_times[*]}"
printf 'fotolane-gallery run:    %7.3f s   (runs: %s)\n' "$gallery_time" "${gallery_times[*]}"
printf 'ratio:                   %7.3f   (target <= 1.15)\n' "$ratio"
printf 'largest decoded picture: %7.1f MB\n' "$(calc "$largest / 1048576")"
printf 'gallery peak memory:     %7.1f MB (target <= %.1f MB)\n' \
    "$(calc "$peak / 1048576")" "$(calc "$limit / 1048576")"
printf 'djpeg peak memory:       %7.1f MB (largest of the photos)\n' "$(calc "$djpeg_peak_kb / 1024")"
