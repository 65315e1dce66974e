#!/bin/bash
# Makes a gallery of each hostile picture of bench/make_bombs.py, alone in its
# folder, with the release fotolane-gallery, and prints its wall time, peak
# memory and how the run ended; then the same with the album (--index).
#
#   bench/bombs.sh [FOTOLANE_GALLERY]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=${1:-$here/../build/release/app/batch/fotolane-gallery}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$here/make_bombs.py" "$work"
for index in '' --index; do
    echo "${index:-without --index}"
    printf '%-26s %8s %10s  %s\n' case seconds 'peak MB' outcome
    for folder in "$work"/*/; do
        name=$(basename "$folder")
        size=70
        [ "$name" = typo-30000 ] && size=30000
        set +e
        /usr/bin/time -f '%e %M' -o "$work/time" "$program" $index --size "$size" "$folder" \
            2>"$work/err" >/dev/null
        set -e
        read -r seconds kilobytes < <(tail -n 1 "$work/time")
        outcome=$(tail -n 1 "$work/err" | sed "s|$work/||")
        done=thumbnail
        [ -n "$index" ] && done='thumbnail and album'
        printf '%-26s %8s %10d  %s\n' "$name" "$seconds" $((kilobytes / 1024)) "${outcome:-$done}"
    done
done
