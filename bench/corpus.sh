# The photos the benchmarks time, sourced by bench/peers-bench.sh and
# bench/album-bench.sh (ImageMagick's identify and convert, Debian's
# wallpapers: bench/setup-peers.sh).
#
#   make_corpus large|mixed|FOLDER DIR [COUNT]
#
# large: every distinct JPEG wallpaper of Debian's plasma-workspace-wallpapers
#        of 3 megapixels or more (2560x1600 to 5120x2880).
# mixed: camera-size photos: 11 crops of 1600x1200 from each of those,
#        quality 90, chroma 4:2:0 and 4:2:2 in turn.
# FOLDER: the JPEGs of that folder.
# COUNT keeps the first COUNT photos only.

# One copy of every distinct large wallpaper (the package links the same
# file under many names).
large_photos() {
    local real width height
    declare -A seen=()
    while IFS= read -r -d '' file; do
        real="$(readlink -f "$file")"
        [ -z "${seen[$real]:-}" ] || continue
        seen[$real]=1
        read -r width height < <(identify -format '%w %h\n' "$real" 2>/dev/null | head -n 1) || continue
        [ $((width * height)) -ge 3000000 ] || continue
        printf '%s\n' "$real"
    done < <(find -L /usr/share/wallpapers -type f -iname '*.jpg' -print0 | sort -z)
}

make_corpus() {
    local kind="$1" photos="$2" limit="${3:-0}" i=0 file width height x y sampling k
    case "$kind" in
        large)
            while IFS= read -r file; do
                i=$((i + 1))
                cp "$file" "$photos/photo-$(printf %02d $i).jpg"
            done < <(large_photos)
            ;;
        mixed)
            while IFS= read -r file; do
                read -r width height < <(identify -format '%w %h\n' "$file" | head -n 1)
                for ((k = 0; k < 11; k++)); do
                    i=$((i + 1))
                    x=$(((width - 1600) * k / 10))
                    y=$(((height - 1200) * ((k * 7) % 11) / 10))
                    sampling=$([ $((i % 2)) -eq 0 ] && echo 2x2 || echo 2x1)
                    convert "$file" -crop "1600x1200+$x+$y" +repage -quality 90 \
                        -sampling-factor "$sampling" "$photos/crop-$(printf %03d $i).jpg"
                done
            done < <(large_photos)
            ;;
        *)
            cp "$kind"/*.[jJ][pP][gG] "$photos/"
            ;;
    esac
    if [ "$limit" -gt 0 ]; then
        find "$photos" -maxdepth 1 -type f -name '*.jpg' | sort | tail -n +$((limit + 1)) | xargs -r rm -f
    fi
}
