#!/usr/bin/env bash
# Renders Fotolane's real window on a virtual X display (Xvfb, with the twm
# window manager for the title bar) and saves a picture of it, frame and
# all, as docs/screenshot.png (or the file given). The window opens on a
# made-up folder of pictures with a fresh configuration folder, so the
# picture never shows the user's own settings or files.
#
#   scripts/screenshot.sh [PROGRAM] [OUTPUT.png]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

program="${1:-build/release/app/fotolane}"
output="${2:-docs/screenshot.png}"
if [ ! -x "$program" ]; then
    echo "No program at $program: build it first (cmake --preset release && cmake --build --preset release)." >&2
    exit 1
fi
for tool in Xvfb twm xwininfo xwd xwdtopnm pnmtopng; do
    command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/install-deps.sh" >&2; exit 1; }
done

work="$(mktemp -d /tmp/fotolane-screenshot.XXXXXX)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The pictures' names are all the window shows of them; the note is left out
# by the file list's pattern.
pictures="$work/Pictures/Holiday"
mkdir -p "$pictures/Thumbnails" "$pictures/Day two"
for name in beach.jpg Harbour.JPG lighthouse.jpeg sunset.bmp waves.gif notes.txt; do
    : >"$pictures/$name"
done
mkdir -p "$work/config/Quarvell"
printf '[HKEY_LOCAL_MACHINE]\nSOFTWARE\\Quarvell\\Fotolane\\Path=%s\n' "$pictures" \
    >"$work/config/Quarvell/Fotolane.ini"

cat >"$work/twmrc" <<'EOF'
UsePPosition "on"
RandomPlacement
NoGrabServer
NoMenuShadows
BorderWidth 1
NoIconManagers
TitleFont "fixed"
ResizeFont "fixed"
MenuFont "fixed"
IconFont "fixed"
IconManagerFont "fixed"
EOF

# Xvfb picks a free display itself and writes its number to the descriptor.
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 50); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || { echo "Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

LC_ALL=C twm -f "$work/twmrc" 2>"$work/twm.log" &
pids+=($!)
sleep 0.5

XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb "$program" 2>"$work/program.log" &
pids+=($!)
window=""
for _ in $(seq 100); do
    # The main window carries the program's class; Qt's hidden leader
    # window bears the same title.
    window="$(xwininfo -root -tree 2>/dev/null |
        awk '/"Fotolane": \("fotolane" "Fotolane"\)/ {print $1; exit}')" || true
    [ -n "$window" ] && [ "$(xwininfo -id "$window" -tree | awk '/Parent window id:/ {print $4}')" != \
        "$(xwininfo -root | awk '/Window id:/ {print $4}')" ] && break
    sleep 0.1
done
[ -n "$window" ] || { echo "The window did not appear:" >&2; cat "$work/program.log" >&2; exit 1; }
sleep 1  # let it paint

mkdir -p "$(dirname "$output")"
# The window manager's frame is the parent of the program's window; the
# picture is cut from the whole screen along the frame's outer edge.
frame="$(xwininfo -id "$window" -tree | awk '/Parent window id:/ {print $4}')"
xwininfo -id "$frame" >"$work/frame"
field() { awk -F: -v name="$1" '$1 ~ name {gsub(/ /, "", $2); print $2}' "$work/frame"; }
border="$(field 'Border width')"
left=$(($(field 'Absolute upper-left X') - border))
top=$(($(field 'Absolute upper-left Y') - border))
width=$(($(field 'Width') + 2 * border))
height=$(($(field 'Height') + 2 * border))
xwd -root -silent | xwdtopnm 2>/dev/null |
    pamcut -left "$left" -top "$top" -width "$width" -height "$height" | pnmtopng >"$output"
echo "Saved $output"
