#!/usr/bin/env bash
# Makes the seed corpora in fuzz/corpus/: for the decoder, small pictures
# taken from the shared test pictures and a few made here with libjpeg-turbo's
# cjpeg (EXIF segments in several places); for the sampling and page
# targets, inputs in their own encodings (see each target's comment).
# The corpora are committed, together with what campaigns added to them
# (scripts/fuzz.sh --merge, files named by their hash), which this leaves
# alone; run it only to change the seeds.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
testdata="${FOTOLANE_TESTDATA_DIR:-$here/../../shared/testdata}"
corpus="$here/corpus"
mkdir -p "$corpus/decode" "$corpus/sampling" "$corpus/page"

# --- decode: shared test pictures, one or two of each kind ---
taken=(
    jpeg-decoder/crashtest/missing-sof.jpg jpeg-decoder/crashtest/missing-sos.jpg
    jpeg-decoder/crashtest/max_size.jpg jpeg-decoder/crashtest/null_height.jpg
    jpeg-decoder/crashtest/invalid-dimensions.jpg jpeg-decoder/crashtest/dc-predictor-overflow.jpg
    jpeg-decoder/reftest/progressive-missing-ac.jpg jpeg-decoder/reftest/partial_progressive.jpg
    jpeg-decoder/reftest/grayscale_16x24_sampling2x2.jpg jpeg-decoder/reftest/non-interleaved-mcu.jpg
    jpeg-decoder/reftest/16bit-qtables.jpg jpeg-decoder/reftest/restarts.jpg
    jpeg-decoder/reftest/extraneous-data.jpg
    pillow/jpeg/orientation_rectangle.jpg pillow/jpeg/multiple_exif.jpg
    pillow/jpeg/icc-after-SOF.jpg pillow/jpeg/app13.jpg pillow/jpeg/empty_gps_ifd.jpg
    pillow/jpeg/pil_sample_cmyk.jpg libjpeg-turbo-testimages/testimgari.jpg
    image-rs/bmp/Info_1_Bit.bmp image-rs/bmp/Info_4_Bit.bmp image-rs/bmp/Info_8_Bit_Top_Down.bmp
    image-rs/bmp/Info_R8_G8_B8.bmp image-rs/bmp/Info_A8_R8_G8_B8.bmp
    image-rs/bmp/V3_R5_G6_B5.bmp image-rs/bmp/V3_A4_R4_G4_B4.bmp image-rs/bmp/V5_A1_R5_G5_B5.bmp
    image-rs/bmp-lenient/rle_overflow.bmp image-rs/bad-bmp/Bad_height.bmp
    image-rs/bad-bmp/Bad_clrsUsed.bmp bmpsuite/g/pal4rle.bmp bmpsuite/g/pal8os2.bmp
    bmpsuite/b/shortfile.bmp pillow/bmp/l2rgb_read.bmp
    image-gif/samples/2x2.gif image-gif/samples/beacon.gif image-gif/crashtest/issue-117-out-of-range.gif
    image-gif/crashtest/issue-96-small-codesize.gif image-gif/stall/issue-101-infinite-empty-loop.gif
    image-rs/gif/anim/oob.gif image-rs/gif/anim/interlaced.gif image-rs/gif/simple/issue_1455_oversized.gif
    pillow/gif/zero_width.gif pillow/gif/no_palette.gif pillow/gif/test_extents.gif
    pillow/gif/decompression_bomb.gif pillow/gif/first_frame_transparency.gif
)
for file in "${taken[@]}"; do
    cp "$testdata/$file" "$corpus/decode/$(echo "$file" | tr / -)"
    chmod 644 "$corpus/decode/$(echo "$file" | tr / -)"
done

# --- decode: JPEGs made here ---
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# A 16 x 8 colour gradient as a binary PPM.
{
    printf 'P6\n16 8\n255\n'
    for y in $(seq 0 7); do
        for x in $(seq 0 15); do printf "\\$(printf %o $((x * 16)))\\$(printf %o $((y * 32)))\\$(printf %o 128)"; done
    done
} >"$work/gradient.ppm"
cjpeg -quality 75 "$work/gradient.ppm" >"$work/base.jpg"
cp "$work/base.jpg" "$corpus/decode/made-baseline.jpg"
cjpeg -progressive -sample 1x1 "$work/gradient.ppm" >"$corpus/decode/made-progressive-444.jpg"
cjpeg -grayscale -restart 1 "$work/gradient.ppm" >"$corpus/decode/made-gray-restarts.jpg"

# A segment: marker, then its length (2 bytes, counting itself) and body.
segment() {  # marker-byte body-file
    local length=$(($(stat -c %s "$2") + 2))
    printf "\\xFF\\x$1\\x$(printf %02x $((length >> 8)))\\x$(printf %02x $((length & 255)))"
    cat "$2"
}
# EXIF, big-endian TIFF, one IFD entry: Orientation (0x0112), SHORT, 6.
printf 'Exif\0\0MM\0\x2a\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0' >"$work/exif"
printf 'http://ns.adobe.com/xap/1.0/\0<x:xmpmeta/>' >"$work/xmp"
printf 'made by a test' >"$work/comment"
printf 'Exif\0\0II\x2a\0\x08\0\0\0\xff\xff\x12\x01' >"$work/exif-damaged"
body() { tail -c +3 "$work/base.jpg"; }  # everything after SOI
with_segments() {  # output, then marker/body pairs
    local out="$1"; shift
    {
        printf '\xFF\xD8'
        while [ $# -gt 0 ]; do segment "$1" "$2"; shift 2; done
        body
    } >"$out"
}
with_segments "$corpus/decode/made-exif-first.jpg" E1 "$work/exif"
with_segments "$corpus/decode/made-exif-after-comment.jpg" FE "$work/comment" E1 "$work/exif"
with_segments "$corpus/decode/made-exif-after-xmp.jpg" E1 "$work/xmp" E1 "$work/exif"
with_segments "$corpus/decode/made-exif-damaged.jpg" E1 "$work/exif-damaged"
head -c 300 "$corpus/decode/made-exif-first.jpg" >"$corpus/decode/made-exif-truncated.jpg"

# A place in EXIF (GPS), XMP and IPTC beside a caption and the camera's
# facts, for the metadata read and the copy without location; then the same
# with a second EXIF segment and data after the end of the picture. With
# exiv2's command-line program (Debian's exiv2) where it is installed.
if command -v exiv2 >/dev/null; then
    located="$corpus/decode/made-location.jpg"
    cp "$work/base.jpg" "$located"
    exiv2 -M'set Exif.Image.Make Canon' -M'set Exif.Image.Model Canon EOS 5D' \
        -M'set Exif.Image.Orientation 6' -M'set Exif.Photo.DateTimeOriginal 2004:06:12 14:03:05' \
        -M'set Exif.Photo.OffsetTimeOriginal +02:00' -M'set Exif.Photo.FNumber 28/10' \
        -M'set Exif.Photo.ExposureTime 1/250' -M'set Exif.Photo.ISOSpeedRatings 400' \
        -M'set Exif.Photo.UserComment charset=Unicode Caf\u00e9' \
        -M'set Exif.GPSInfo.GPSLatitudeRef N' -M'set Exif.GPSInfo.GPSLatitude 48/1 51/1 2404/100' \
        -M'set Iptc.Application2.City Paris' -M'set Iptc.Application2.Caption Caption' \
        -M'set Xmp.dc.title lang=x-default Title' -M'set Xmp.photoshop.City Paris' \
        -M'set Xmp.exif.GPSLatitude 48,51.4N' "$located"
    python3 - "$located" "$corpus/decode/made-two-exif-trailer.jpg" <<'PY'
import sys
jpeg = open(sys.argv[1], 'rb').read()
at = jpeg.index(b'\xff\xe1')
exif = jpeg[at:at + 2 + (jpeg[at + 2] << 8 | jpeg[at + 3])]
open(sys.argv[2], 'wb').write(jpeg[:at] + exif + jpeg[at:] + b'Exif\0\0 after the end')
PY
fi

# --- decode: a 3 x 2 bitmap, 24 bits, bottom-up, rows padded to 12 bytes ---
{
    printf 'BM\x4e\0\0\0\0\0\0\0\x36\0\0\0'
    printf '\x28\0\0\0\x03\0\0\0\x02\0\0\0\x01\0\x18\0\0\0\0\0\x18\0\0\0\x13\x0b\0\0\x13\x0b\0\0\0\0\0\0\0\0\0\0'
    printf '\xff\0\0\0\xff\0\0\0\xff\0\0\0'
    printf '\xff\xff\xff\0\0\0\x80\x80\x80\0\0\0'
} >"$corpus/decode/made-24bit.bmp"

# --- decode: the album's formats, the table of the decoder tests (PNG of
# every colour type and depth, WebP, HEIC, AVIF); needs a dev build ---
decoder_tests="${DECODER_TESTS:-$here/../build/dev/tests/decoding/decoder_tests}"
FOTOLANE_FORMATS_DUMP="$work" "$decoder_tests" --gtest_filter='AlbumFormats.EachVariant*' >/dev/null
for file in "$work"/*.png "$work"/*.webp "$work"/*.heic "$work"/*.avif; do
    cp "$file" "$corpus/decode/made-$(basename "$file")"
done

# --- sampling: width, height, size for the sizing, then for the sampling,
# each 4 bytes big-endian, stored as the value minus the range's low end ---
sampling() {  # name, then six values as stored
    local name="$1"; shift
    for value in "$@"; do
        printf "\\x$(printf %02x $((value >> 24 & 255)))\\x$(printf %02x $((value >> 16 & 255)))\\x$(printf %02x $((value >> 8 & 255)))\\x$(printf %02x $((value & 255)))"
    done >"$corpus/sampling/$name"
}
sampling photo-at-70 3999 2999 2147483718 639 479 69
sampling square-at-150 99 99 2147483798 199 199 149
sampling enlarged 63 42 2147483648 63 42 299
sampling one-pixel 0 0 2147483648 0 0 0
sampling tall-strip 0 2147483646 2147483711 0 1023 1023

# --- page: flags (1 viewer, 2 typed title, 4 x (per row - 1)), 4 bytes of
# thumbnail size (as stored: the size plus 2^31), then NUL-separated title,
# folder name and picture names ---
page() {  # name flags text
    { printf "\\x$(printf %02x "$2")\\x80\\0\\0\\x46"; printf '%b' "$3"; } >"$corpus/page/$1"
}
page plain 4 'My title\0Summer\0a.jpg\0b.jpg\0c.jpg'
page viewer 5 '\0Trip 2004\0IMG_0001.JPG\0Beach party.gif\0002.bmp\0noextension'
page escapes 1 '\0Tom & Jerry <b>\0a&b.jpg\0"quoted".jpg\0<script>.bmp\0it'"'"'s.jpg\0back\\\\slash.gif\0100%.jpg'
page unicode 5 '\0\xc3\xa9t\xc3\xa9\0caf\xc3\xa9.jpg\0\xe6\x97\xa5\xe6\x9c\xac.jpg\0\xf0\x9f\x98\x80.gif\0\xe2\x80\xa8.jpg'
page invalid-utf8 1 '\0\xff\xfe\0\xc3.jpg\0\xe2\x82.bmp\0\xed\xa0\x80.gif\0\xc0\xaf.jpg'
page typed-title 6 'Line one\r\nline two\rthree\nfour <i>markup</i> &amp;\0Folder\0x.jpg\0y.jpg'
page dots 9 '\0.\0.hidden.jpg\0a.b.c.jpg\0...jpg\0.jpg\0trailing.'
page controls 1 '\0tab\there\0tab\there.jpg\0bell\x07.jpg\0del\x7f.jpg'
