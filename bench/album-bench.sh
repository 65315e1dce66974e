#!/usr/bin/env bash
# Times the album against the gallery alone and against the album makers of
# Debian and npm on the same photos, in one run, the programs taking turns,
# with one worker (each program pinned to one core) and with two, and
# reports each time as a ratio to fotolane-gallery --index, the cores kept
# busy (CPU time / wall time) and the peak memory.
#
#   bench/setup-peers.sh                     # the peers, once
#   bench/album-bench.sh large|mixed|FOLDER  # REPEATS=3, COUNT=40 by default
#
# large, mixed: the photos of bench/corpus.sh; COUNT keeps the first COUNT.
#
# What each makes, asked for outputs alike (thumbnails of about 600 pixels
# high, pictures for the screen of at most 2048):
# - fotolane-gallery --size 70: the page, its 70-pixel thumbnails; the
#   gallery alone, the floor of the album's cost.
# - fotolane-gallery --size 70 --index: the same and the album: tiles 600
#   and 300 pixels high and previews of 2048 pixels for larger pictures.
# - lazygal: 800x600 thumbnails and one size of 2048x2048 with its pages
#   (single process; the same in both columns).
# - fgallery -s -d (only with FGALLERY=1: it blurs a background behind
#   each thumbnail, which at 600 pixels took it over 18 minutes for the 40
#   mixed photos on one core): 600-pixel-high thumbnails of its own cut,
#   previews of 2048x2048, no copies of the originals and no zip.
# - thumbsup (npm, when bench/setup-peers.sh could install it): 600-pixel
#   thumbnails, 2048-pixel large photos, originals linked.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
repeats="${REPEATS:-3}"
count="${COUNT:-40}"
kind="${1:-mixed}"
thumbsup="${THUMBSUP:-$HOME/.cache/fotolane-peers/node_modules/.bin/thumbsup}"

for tool in identify convert /usr/bin/time taskset; do
    command -v "$tool" >/dev/null || { echo "missing $tool: run bench/setup-peers.sh" >&2; exit 1; }
done

echo "== release build" >&2
(cd "$here" && cmake --preset release >/dev/null &&
    cmake --build --preset release --target fotolane-gallery >/dev/null)
gallery="$here/build/release/app/batch/fotolane-gallery"

work="$(mktemp -d "${TMPDIR:-/tmp}/fotolane-album-XXXXXX")"
trap 'rm -rf "$work"' EXIT
photos="$work/photos"
mkdir "$photos"
# shellcheck source=bench/corpus.sh
. "$here/bench/corpus.sh"
make_corpus "$kind" "$photos" "$count"
count=$(find "$photos" -maxdepth 1 -type f -name '*.jpg' | wc -l)
megapixels=$(identify -format '%w %h\n' "$photos"/*.jpg | awk '{ s += $1 * $2 } END { printf "%.1f", s / 1e6 }')
echo "== $kind: $count photos, $megapixels megapixels in all; best of $repeats runs" >&2

programs=("fotolane-gallery" "fotolane-gallery --index")
command -v lazygal >/dev/null && programs+=(lazygal)
[ "${FGALLERY:-0}" = 1 ] && command -v fgallery >/dev/null && programs+=(fgallery)
[ -x "$thumbsup" ] && command -v gm >/dev/null && programs+=(thumbsup)

# One program's run; workers 1 or 2.
run_program() {
    local program="$1" workers="$2" out="$3"
    case "$program" in
        "fotolane-gallery") "$gallery" -q --size 70 --jobs "$workers" "$photos" ;;
        "fotolane-gallery --index") "$gallery" -q --size 70 --index --jobs "$workers" "$photos" ;;
        lazygal) lazygal --quiet -o "$out" -T 800x600 -s screen=2048x2048 "$photos" ;;
        fgallery) fgallery -s -d -j "$workers" --max-thumb 900x600 --min-thumb 600x600 \
            --max-full 2048x2048 "$photos" "$out/album" ;;
        thumbsup) "$thumbsup" --input "$photos" --output "$out" --concurrency "$workers" \
            --thumb-size 600 --large-size 2048 --photo-download link --log default ;;
    esac
}

calc() { awk "BEGIN { printf \"%.3f\", $1 }"; }
declare -A best=() cores=() peak=()

for ((run = 1; run <= repeats; run++)); do
    for workers in 1 2; do
        for program in "${programs[@]}"; do
            out="$work/out"
            rm -rf "$out" "$photos"/Thumbnails* "$photos/Previews" "$photos"/*.htm "$photos/index.html"
            mkdir "$out"
            pin=()
            [ "$workers" -eq 1 ] && pin=(taskset -c 0)
            start=$(date +%s.%N)
            if ! /usr/bin/time -f '%e %U %S %M' -o "$work/time" "${pin[@]}" \
                bash -c "$(declare -f run_program); gallery='$gallery'; photos='$photos'; thumbsup='$thumbsup'; run_program \"\$@\"" \
                _ "$program" "$workers" "$out" >"$work/log" 2>&1; then
                echo "   $program failed:" >&2
                tail -n 5 "$work/log" >&2
                continue
            fi
            wall=$(calc "$(date +%s.%N) - $start")
            read -r _ user system kb < <(tail -n 1 "$work/time")
            key="$program/$workers"
            if [ -z "${best[$key]:-}" ] || awk "BEGIN { exit !($wall < ${best[$key]}) }"; then
                best[$key]=$wall
                cores[$key]=$(calc "($user + $system) / ($wall > 0 ? $wall : 1)")
            fi
            if [ -z "${peak[$key]:-}" ] || [ "$kb" -gt "${peak[$key]}" ]; then peak[$key]=$kb; fi
        done
    done
    echo "   run $run done" >&2
done

echo
echo "$kind: $count photos ($megapixels MP), best of $repeats"
echo
echo "| program | 1 worker | ratio to --index | peak MB | 2 workers | ratio to --index | cores busy | peak MB |"
echo "|---|---|---|---|---|---|---|---|"
for program in "${programs[@]}"; do
    line="| $program"
    for workers in 1 2; do
        key="$program/$workers"
        if [ -z "${best[$key]:-}" ]; then
            line+=" | failed | | "
            [ "$workers" -eq 2 ] && line+=" | "
            continue
        fi
        line+=" | $(calc "${best[$key]}") s | $(calc "${best[$key]} / ${best[fotolane-gallery --index/$workers]}")"
        [ "$workers" -eq 2 ] && line+=" | ${cores[$key]}"
        line+=" | $(calc "${peak[$key]} / 1024")"
    done
    echo "$line |"
done
