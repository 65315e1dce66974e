#!/bin/bash
# Times a re-run of a published site over 5,000 small photos in 100 folders
# with nothing changed (what a site costs to keep up to date), beside the
# album beside the pictures (-r -i -u) over the same photos. Best of 5.
#
#   bench/site-rerun.sh [FOTOLANE_GALLERY]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=${1:-$here/../build/release/app/batch/fotolane-gallery}
photo=$here/../../shared/testdata/pillow/jpeg/hopper.jpg
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for f in $(seq -w 1 100); do
    mkdir -p "$work/photos/f$f"
    for p in $(seq -w 1 50); do cp "$photo" "$work/photos/f$f/p$p.jpg"; done
done
best() {
    local best=999
    for _ in 1 2 3 4 5; do
        local start end
        start=$(date +%s.%N)
        "$@" >/dev/null 2>&1 || true
        end=$(date +%s.%N)
        best=$(echo "$end - $start" | bc | awk -v b="$best" '{ print ($1 < b) ? $1 : b }')
    done
    echo "$best"
}
start=$(date +%s.%N)
"$program" -rq --keep-location -o "$work/site" "$work/photos"
echo "first site run (makes everything): $(echo "$(date +%s.%N) - $start" | bc) s"
echo "site re-run, nothing changed: $(best "$program" -rq --keep-location -o "$work/site" "$work/photos") s"
"$program" -rqi "$work/photos"
echo "album beside the pictures, -r -i -u, nothing changed: $(best "$program" -rqiu "$work/photos") s"
