#!/usr/bin/env bash
# Times fotolane-gallery against its peers on the same photos, in one run,
# the programs taking turns, with one and with two workers, and reports each
# program's time as a ratio to Pillow's and its peak memory.
#
#   bench/setup-peers.sh                     # the peers, once
#   bench/peers-bench.sh large|mixed|FOLDER  # REPEATS=5 by default
#   BASELINE=/path/to/fotolane-gallery bench/peers-bench.sh mixed
#                       # also times an earlier build, as "fotolane-gallery (baseline)"
#
# large, mixed: the photos of bench/corpus.sh.
#
# Thumbnails of 150 pixels. Peers: libjpeg-turbo decoding every file in
# memory at full size and at 1/8 (the limits of whole-picture and of
# shrink-on-load thumbnailers), Pillow's thumbnail() (draft mode),
# vipsthumbnail, ImageMagick's -sample. One worker: each program pinned to
# one core; two workers: fotolane-gallery -j 2, each peer as two processes
# on half of the files each. The best of REPEATS runs counts (the machine may
# be busy with other work); memory is the largest resident size of one
# process. Then, unless ALBUM=0, the album's rows: bench/album-bench.sh on
# the same kind of photos (COUNT of them, 40 by default), fotolane-gallery
# --index against the album makers lazygal, fgallery and thumbsup.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
repeats="${REPEATS:-5}"
size=150
kind="${1:-mixed}"

for tool in djpeg vipsthumbnail mogrify identify /usr/bin/python3 /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing $tool: run bench/setup-peers.sh" >&2; exit 1; }
done
/usr/bin/python3 -c 'import PIL' 2>/dev/null || { echo "missing Pillow: run bench/setup-peers.sh" >&2; exit 1; }

echo "== release build" >&2
(cd "$here" && cmake --preset release >/dev/null &&
    cmake --build --preset release --target fotolane-gallery jpeg_decode_limits >/dev/null)
gallery="$here/build/release/app/batch/fotolane-gallery"
limits="$here/build/release/bench/jpeg_decode_limits"
# --jobs where the program has it; before, it had one worker only.
jobs=()
if "$gallery" --help 2>&1 | grep -q -- --jobs; then jobs=(--jobs); fi

work="$(mktemp -d "${TMPDIR:-/tmp}/fotolane-peers-XXXXXX")"
trap 'rm -rf "$work"' EXIT
photos="$work/photos"
mkdir "$photos"

# shellcheck source=bench/corpus.sh
. "$here/bench/corpus.sh"
make_corpus "$kind" "$photos"
mapfile -t files < <(find "$photos" -maxdepth 1 -type f -name '*.jpg' | sort)
count=${#files[@]}
half=$(((count + 1) / 2))
first=("${files[@]:0:$half}")
second=("${files[@]:$half}")
megapixels=$(identify -format '%w %h\n' "${files[@]}" | awk '{ s += $1 * $2 } END { printf "%.1f", s / 1e6 }')
echo "== $kind: $count photos, $megapixels megapixels in all; best of $repeats runs" >&2

cat > "$work/pillow.py" <<'PY'
import os, sys
from PIL import Image
out, size = sys.argv[1], int(sys.argv[2])
for name in sys.argv[3:]:
    with Image.open(name) as picture:
        picture.thumbnail((size, size))
        picture.save(os.path.join(out, os.path.basename(name)), quality=80)
PY

# Each program on a list of files, writing its thumbnails to a folder.
run_program() {
    local program="$1" out="$2"
    shift 2
    case "$program" in
        "libjpeg-turbo full") "$limits" full "$@" ;;
        "libjpeg-turbo 1/8") "$limits" eighth "$@" ;;
        "Pillow thumbnail()") /usr/bin/python3 "$work/pillow.py" "$out" "$size" "$@" ;;
        vipsthumbnail) VIPS_CONCURRENCY=1 vipsthumbnail -s "$size" -o "$out/%s.jpg[Q=80]" "$@" ;;
        "ImageMagick -sample") mogrify -path "$out" -sample "${size}x${size}" -quality 80 "$@" ;;
    esac
}

now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.3f\", $1 }"; }
programs=("fotolane-gallery" "libjpeg-turbo full" "libjpeg-turbo 1/8" "Pillow thumbnail()" \
          "vipsthumbnail" "ImageMagick -sample")
if [ -n "${BASELINE:-}" ]; then programs=("fotolane-gallery (baseline)" "${programs[@]}"); fi
declare -A best=() peak=()

# One timed run: workers 1 or 2; sets last_time and last_peak (kB).
timed() {
    local program="$1" workers="$2" start out="$work/out" m1="$work/m1" m2="$work/m2"
    rm -rf "$out" "$photos/Thumbnails" "$photos"/*.htm
    mkdir "$out"
    : > "$m2"; echo 0 > "$m2"
    start=$(now)
    if [ "${program#fotolane-gallery}" != "$program" ]; then
        local binary="$gallery" with=("${jobs[@]}")
        if [ "$program" != fotolane-gallery ]; then
            binary="$BASELINE"
            with=()
            if "$binary" --help 2>&1 | grep -q -- --jobs; then with=(--jobs); fi
        fi
        if [ "$workers" -eq 1 ]; then
            /usr/bin/time -f %M -o "$m1" taskset -c 0 "$binary" --size "$size" ${with[@]+"${with[@]}" 1} "$photos"
        else
            /usr/bin/time -f %M -o "$m1" "$binary" --size "$size" ${with[@]+"${with[@]}" 2} "$photos"
        fi
    elif [ "$workers" -eq 1 ]; then
        /usr/bin/time -f %M -o "$m1" taskset -c 0 bash -c "$(declare -f run_program); work='$work'; limits='$limits'; size=$size; run_program \"\$@\"" _ "$program" "$out" "${files[@]}"
    else
        /usr/bin/time -f %M -o "$m1" bash -c "$(declare -f run_program); work='$work'; limits='$limits'; size=$size; run_program \"\$@\"" _ "$program" "$out" "${first[@]}" &
        /usr/bin/time -f %M -o "$m2" bash -c "$(declare -f run_program); work='$work'; limits='$limits'; size=$size; run_program \"\$@\"" _ "$program" "$out" "${second[@]}" &
        wait
    fi
    last_time=$(calc "$(now) - $start")
    last_peak=$(cat "$m1" "$m2" | grep -E '^[0-9]+$' | sort -n | tail -n 1)
}

for ((run = 1; run <= repeats; run++)); do
    for workers in 1 2; do
        for program in "${programs[@]}"; do
            timed "$program" "$workers" >/dev/null 2>&1
            key="$program/$workers"
            if [ -z "${best[$key]:-}" ] || awk "BEGIN { exit !($last_time < ${best[$key]}) }"; then
                best[$key]=$last_time
            fi
            if [ -z "${peak[$key]:-}" ] || [ "$last_peak" -gt "${peak[$key]}" ]; then
                peak[$key]=$last_peak
            fi
        done
    done
    echo "   run $run done" >&2
done

echo
echo "$kind: $count photos ($megapixels MP), thumbnails $size px, best of $repeats"
echo
echo "| program | 1 worker | ratio to Pillow | peak MB | 2 workers | ratio to Pillow | peak MB per process |"
echo "|---|---|---|---|---|---|---|"
for program in "${programs[@]}"; do
    line="| $program"
    for workers in 1 2; do
        key="$program/$workers"
        line+=" | $(calc "${best[$key]}") s | $(calc "${best[$key]} / ${best[Pillow thumbnail()/$workers]}")"
        line+=" | $(calc "${peak[$key]} / 1024")"
    done
    echo "$line |"
done

if [ "${ALBUM:-1}" != 0 ]; then
    echo
    "$here/bench/album-bench.sh" "$kind"
fi
