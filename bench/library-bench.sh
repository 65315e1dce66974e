#!/usr/bin/env bash
# Times the first run over a photo library: 5,000 camera-size photos in 100
# folders of 50 (the mixed crops of bench/corpus.sh, each used about 23
# times), the gallery alone (-r) against the gallery and the album (-r -i),
# both with --jobs 2 (JOBS), best of REPEATS (2), everything made anew each
# time; and the cores kept busy (CPU time / wall time) and the peak memory.
#
#   bench/setup-peers.sh        # ImageMagick and the wallpapers, once
#   bench/library-bench.sh
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
repeats="${REPEATS:-2}"
jobs="${JOBS:-2}"

(cd "$here" && cmake --preset release >/dev/null &&
    cmake --build --preset release --target fotolane-gallery >/dev/null)
gallery="$here/build/release/app/batch/fotolane-gallery"

work="$(mktemp -d "${TMPDIR:-/tmp}/fotolane-library-XXXXXX")"
trap 'rm -rf "$work"' EXIT
mkdir "$work/crops" "$work/library"
# shellcheck source=bench/corpus.sh
. "$here/bench/corpus.sh"
make_corpus mixed "$work/crops" 2>/dev/null
crops=("$work"/crops/*.jpg)
n=0
for folder in $(seq -w 1 100); do
    mkdir "$work/library/folder-$folder"
    for photo in $(seq -w 1 50); do
        cp "${crops[$((n % ${#crops[@]}))]}" "$work/library/folder-$folder/photo-$photo.jpg"
        n=$((n + 1))
    done
done

clean() {
    find "$work/library" -mindepth 2 -maxdepth 2 \( -name 'Thumbnails*' -o -name Previews \
        -o -name '*.htm' -o -name index.html \) -exec rm -rf {} +
}

declare -A best=() busy=() peak=()
for ((run = 1; run <= repeats; run++)); do
    for options in "-r" "-r -i"; do
        clean
        sync
        # shellcheck disable=SC2086
        /usr/bin/time -f '%e %U %S %M' -o "$work/time" \
            "$gallery" -q $options --jobs "$jobs" "$work/library"
        read -r wall user system kb <"$work/time"
        if [ -z "${best[$options]:-}" ] || awk "BEGIN { exit !($wall < ${best[$options]}) }"; then
            best[$options]=$wall
            busy[$options]=$(awk "BEGIN { printf \"%.2f\", ($user + $system) / $wall }")
            peak[$options]=$((kb / 1024))
        fi
    done
done

echo "| run | wall | ratio to -r | cores busy | peak MB |"
echo "|---|---|---|---|---|"
for options in "-r" "-r -i"; do
    echo "| \`$options --jobs $jobs\` | ${best[$options]} s | $(awk "BEGIN { printf \"%.2f\", ${best[$options]} / ${best["-r"]} }") | ${busy[$options]} | ${peak[$options]} |"
done
