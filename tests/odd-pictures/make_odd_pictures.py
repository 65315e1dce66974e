#!/usr/bin/env python3
"""Writes the odd pictures of this folder: JPEGs whose EXIF segment stands
among other segments, damaged JPEGs, GIFs whose first frame leaves the
logical screen or is damaged, BMPs with damaged colour tables.

    tests/odd-pictures/make_odd_pictures.py tests/odd-pictures

sizes.txt holds the size at which Chromium shows each (0 0: not at all);
tests/browser/odd_pictures_test.mjs checks that it still does. Needs cjpeg.
"""
import os
import struct
import subprocess
import sys

out = sys.argv[1]
os.makedirs(out, exist_ok=True)

def write(name, data):
    with open(os.path.join(out, name), 'wb') as f:
        f.write(data)

# JPEG
def base_jpeg(w=16, h=8, extra=()):
    px = bytearray()
    for y in range(h):
        for x in range(w):
            px += bytes((x * 255 // max(1, w - 1), y * 255 // max(1, h - 1), 64 if x < w // 2 else 200))
    ppm = b'P6 %d %d 255\n' % (w, h) + bytes(px)
    return subprocess.run(['cjpeg', *extra], input=ppm, capture_output=True, check=True).stdout

def seg(marker, payload):
    return bytes((0xFF, marker)) + struct.pack('>H', len(payload) + 2) + payload

def exif(orientation=None, big=False, fill=b'\0', bad_offset=False, extra_tags=()):
    e = '>' if big else '<'
    tags = list(extra_tags)
    if orientation is not None:
        tags.append((0x0112, 3, 1, struct.pack(e + 'HH', orientation, 0)))
    tags.sort()
    ifd = struct.pack(e + 'H', len(tags))
    for t, typ, cnt, val in tags:
        ifd += struct.pack(e + 'HHI', t, typ, cnt) + val
    ifd += struct.pack(e + 'I', 0)
    tiff = (b'MM' if big else b'II') + struct.pack(e + 'HI', 42, 0x7FFF0000 if bad_offset else 8) + ifd
    return b'Exif\0' + fill + tiff

JFIF = seg(0xE0, b'JFIF\0\x01\x01\0\0\x01\0\x01\0\0')
COM = seg(0xFE, b'made by hand')
XMP = seg(0xE1, b'http://ns.adobe.com/xap/1.0/\0<x:xmpmeta xmlns:x="adobe:ns:meta/"></x:xmpmeta>')
ICC = seg(0xE2, b'ICC_PROFILE\0\x01\x01' + b'\0' * 128)
ADOBE = seg(0xEE, b'Adobe\0\x64\0\0\0\0\x01')

def strip_app(j):
    # The file from its frame tables on: SOI and the APPn and COM segments
    # that follow it dropped.
    at = 2
    while j[at] == 0xFF and (0xE0 <= j[at + 1] <= 0xEF or j[at + 1] == 0xFE):
        at += 2 + struct.unpack('>H', j[at + 2:at + 4])[0]
    return j[at:]

J = base_jpeg()  # 16 x 8
rest = strip_app(J)
def jpeg(*segments):
    return b'\xFF\xD8' + b''.join(segments) + rest

E6 = seg(0xE1, exif(6))
write('exif-jfif-com-exif6.jpg', jpeg(JFIF, COM, E6))
write('exif-xmp-first-exif6.jpg', jpeg(XMP, E6))
write('exif-icc-adobe-exif6.jpg', jpeg(ICC, ADOBE, COM, E6))
write('exif-bigendian-exif8.jpg', jpeg(COM, seg(0xE1, exif(8, big=True))))
write('exif-fillbyte-exif6.jpg', jpeg(seg(0xE1, exif(6, fill=b'\xFF'))))
write('exif-damaged-offset.jpg', jpeg(COM, seg(0xE1, exif(6, bad_offset=True))))
write('exif-damaged-short.jpg', jpeg(COM, seg(0xE1, exif(6)[:12])))
write('exif-none-then-exif6.jpg', jpeg(seg(0xE1, exif(None, extra_tags=[(0x010F, 2, 4, b'abc\0')])), E6))
write('exif-garbage-between.jpg', jpeg(COM, b'\x00\x12\x34', E6))
# EXIF after the frame header: between SOF and SOS
sof_at = rest.find(b'\xFF\xC0')
sof_len = struct.unpack('>H', rest[sof_at + 2:sof_at + 4])[0]
write('exif-after-sof.jpg', b'\xFF\xD8' + JFIF + rest[:sof_at + 2 + sof_len] + E6 + rest[sof_at + 2 + sof_len:])

# corrupt entropy data
full = base_jpeg(64, 64)
sos = full.find(b'\xFF\xDA')
body = sos + 2 + struct.unpack('>H', full[sos + 2:sos + 4])[0]
d = bytearray(full); d[body + 20:body + 40] = b'\xFF' * 20
write('jpeg-corrupt-ff.jpg', bytes(d))
d = bytearray(full); d[body + 10:body + 14] = b'\xFF\xD0\xFF\xD3'
write('jpeg-stray-rst.jpg', bytes(d))
d = bytearray(full); d[body + 10:body + 30] = bytes(range(37, 57))
write('jpeg-bad-huffman.jpg', bytes(d))
write('jpeg-no-eoi.jpg', full[:-2])
write('jpeg-half.jpg', full[:body + (len(full) - body) // 2])
write('jpeg-header-only.jpg', full[:body])
prog = base_jpeg(64, 64, ['-progressive'])
write('jpeg-progressive-half.jpg', prog[:len(prog) * 2 // 3])

# GIF
def lzw(indices, min_code=2):
    # Literal codes only, with a clear code often enough that the decoder's
    # table never makes the code one bit wider.
    clear = 1 << min_code
    eoi = clear + 1
    size = min_code + 1
    bits = 0; nbits = 0; outb = bytearray()
    codes = [clear]
    count = 0
    for i in indices:
        codes.append(i)
        count += 1
        if count == (1 << size) - eoi - 2:  # keep code size fixed by clearing
            codes.append(clear); count = 0
    codes.append(eoi)
    for c in codes:
        bits |= c << nbits; nbits += size
        while nbits >= 8:
            outb.append(bits & 0xFF); bits >>= 8; nbits -= 8
    if nbits: outb.append(bits & 0xFF)
    return outb

def blocks(data):
    o = bytearray()
    for i in range(0, len(data), 255):
        o.append(len(data[i:i + 255])); o += data[i:i + 255]
    return bytes(o) + b'\0'

def gif(sw, sh, frames, gct=True, bg=0, trailer=True):
    o = bytearray(b'GIF89a' + struct.pack('<HH', sw, sh) + bytes((0x81 if gct else 0, bg, 0)))
    if gct:
        o += bytes((255, 0, 0, 0, 0, 255, 0, 255, 0, 0, 0, 0))[:12]
    for f in frames:
        o += f
    if trailer: o += b';'
    return bytes(o)

def frame(x, y, w, h, indices=None, data=None, lct=None):
    o = bytearray(b',' + struct.pack('<HHHH', x, y, w, h) + bytes((0,)))
    o.append(2)
    if data is None:
        data = blocks(lzw(indices if indices is not None else [i % 3 for i in range(w * h)]))
    o += data
    return bytes(o)

write('gif-screen0-frame20.gif', gif(0, 0, [frame(0, 0, 20, 20)]))
write('gif-screen10-frame40x30.gif', gif(10, 10, [frame(0, 0, 40, 30)]))
write('gif-screen30-frame20-at25.gif', gif(30, 30, [frame(25, 25, 20, 20)]))
# LZW code out of range: a code far above the next free one
bad = bytearray(lzw([1] * 50)); bad[5] = 0xFF; bad[6] = 0xFF
write('gif-lzw-out-of-range.gif', gif(20, 20, [frame(0, 0, 20, 20, data=blocks(bad))]))
good = lzw([i % 3 for i in range(400)])
write('gif-data-ends-early.gif', gif(20, 20, [b',' + struct.pack('<HHHH', 0, 0, 20, 20) + b'\0\x02' + bytes((60,)) + bytes(good[:60])], trailer=False))
write('gif-data-ends-early-trailer.gif', gif(20, 20, [frame(0, 0, 20, 20, data=blocks(good[:40]))]))
write('gif-frame-zero-width.gif', gif(20, 20, [frame(0, 0, 0, 20, indices=[])]))
write('gif-frame-zero-height.gif', gif(20, 20, [frame(0, 0, 20, 0, indices=[])]))
write('gif-frame-no-data.gif', gif(20, 20, [b',' + struct.pack('<HHHH', 0, 0, 20, 20) + b'\0\x02\0']))
write('gif-screen0-frame-zero.gif', gif(0, 0, [frame(0, 0, 0, 0, indices=[])]))
write('gif-no-frame.gif', gif(20, 20, []))
write('gif-screen0-no-frame.gif', gif(0, 0, []))
write('gif-descriptor-cut.gif', gif(20, 20, [b',' + struct.pack('<HH', 0, 0)], trailer=False))
write('gif-header-only.gif', gif(20, 20, [], trailer=False))
write('gif-no-colour-table.gif', gif(20, 20, [frame(0, 0, 20, 20)], gct=False))

def descriptor(x, y, w, h):
    return b',' + struct.pack('<HHHH', x, y, w, h) + b'\0'


write('gif-descriptor-then-end.gif', gif(20, 20, [descriptor(0, 0, 20, 20)], trailer=False))
write('gif-code-size-12.gif', gif(20, 20, [descriptor(0, 0, 20, 20) + b'\x0c' + blocks(lzw([1] * 400))]))
first_bad = bytearray(lzw([1] * 50)); first_bad[0] = 0xFF; first_bad[1] = 0xFF
write('gif-first-code-bad.gif', gif(20, 20, [frame(0, 0, 20, 20, data=blocks(first_bad))]))
write('gif-screen0-frame20-at5.gif', gif(0, 0, [frame(5, 5, 20, 20)]))
write('gif-screen0x5-frame-zero-width.gif', gif(0, 5, [frame(0, 0, 0, 3, indices=[])]))
write('gif-screen5-zero-frame-at10.gif', gif(5, 5, [frame(10, 10, 0, 0, indices=[])]))
write('gif-screen0-frame1-at1.gif', gif(0, 0, [frame(1, 1, 1, 1, indices=[1])]))
write('gif-extension-then-trailer.gif', gif(20, 20, [b'!\xf9\x04\x01\0\0\0\0']))
write('gif-screen0-frame-zero-height.gif', gif(0, 0, [frame(1, 1, 2, 0, indices=[])]))

# BMP
def bmp(w, h, bpp, palette, pixels, colours_used=None, offset=None, header=40, compression=0, size_image=0):
    pal = b''.join(bytes((b, g, r, 0)) for (r, g, b) in palette)
    off = offset if offset is not None else 14 + header + len(pal)
    info = struct.pack('<IiiHHIIiiII', header, w, h, 1, bpp, compression, size_image, 2835, 2835,
                       len(palette) if colours_used is None else colours_used, 0)
    info += b'\0' * (header - 40)
    fh = b'BM' + struct.pack('<IHHI', 14 + len(info) + len(pal) + len(pixels), 0, 0, off)
    return fh + info + pal + pixels

def rows8(w, h, f):
    stride = (w + 3) & ~3
    o = bytearray()
    for y in range(h):
        r = bytes(f(x, y) for x in range(w)); o += r + b'\0' * (stride - w)
    return bytes(o)

pal4 = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 0)]
px = rows8(8, 8, lambda x, y: (x + y) % 4)
write('bmp-good-pal8.bmp', bmp(8, 8, 8, pal4, px))
write('bmp-colours-used-too-many.bmp', bmp(8, 8, 8, pal4, px, colours_used=300))
write('bmp-colours-used-huge.bmp', bmp(8, 8, 8, pal4, px, colours_used=0x7FFFFFFF))
write('bmp-index-past-table.bmp', bmp(8, 8, 8, pal4, rows8(8, 8, lambda x, y: (x * 40) % 256)))
write('bmp-table-overlaps-pixels.bmp', bmp(8, 8, 8, pal4, px, offset=14 + 40 + 8))
write('bmp-table-cut.bmp', bmp(8, 8, 8, pal4, b'', colours_used=256)[:14 + 40 + 20])
write('bmp-no-pixels.bmp', bmp(8, 8, 24, [], b''))
write('bmp-half-pixels.bmp', bmp(8, 8, 24, [], b'\x80' * (8 * 24 // 2)))
