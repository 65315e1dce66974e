#!/usr/bin/env python3
"""Writes small hostile pictures, each into a folder of its own below FOLDER:
files of a few bytes whose headers claim huge pictures or hundreds of scans.

    bench/make_bombs.py FOLDER

bench/bombs.sh makes a gallery of each and measures time and peak memory.
"""
import os
import struct
import subprocess
import sys

root = sys.argv[1]


def write(folder, name, data):
    os.makedirs(os.path.join(root, folder), exist_ok=True)
    with open(os.path.join(root, folder, name), 'wb') as f:
        f.write(data)


def seg(marker, payload):
    return bytes((0xFF, marker)) + struct.pack('>H', len(payload) + 2) + payload


# JPEG pieces: one quantisation table, Huffman tables in which the one-bit
# code 0 is "DC difference 0" and "end of block", so zero bytes are valid data.
DQT = seg(0xDB, b'\x00' + bytes([1] * 64))
DHT = seg(0xC4, b'\x00' + bytes([1] + [0] * 15) + b'\x00') + \
    seg(0xC4, b'\x10' + bytes([1] + [0] * 15) + b'\x00')


def sof(marker, width, height, components=3):
    payload = struct.pack('>BHHB', 8, height, width, components)
    for c in range(components):
        payload += bytes((c + 1, 0x11, 0))
    return seg(marker, payload)


def sos(components=3, ss=0, se=0):
    payload = bytes((components,))
    for c in range(components):
        payload += bytes((c + 1, 0x00))
    return seg(0xDA, payload + bytes((ss, se, 0)))


def progressive(width, height, scans, data=b''):
    return (b'\xFF\xD8' + DQT + sof(0xC2, width, height) + DHT +
            b''.join(sos() + data for _ in range(scans)) + b'\xFF\xD9')


write('progressive-empty-26700', 'p.jpg', progressive(26700, 26700, 499))
write('progressive-empty-20000', 'p.jpg', progressive(20000, 20000, 499))
write('progressive-real-16000', 'p.jpg', progressive(16000, 16000, 499, bytes(1370)))
write('baseline-header-26700', 'b.jpg',
      b'\xFF\xD8' + seg(0xE0, b'JFIF\0\x01\x01\0\0\x01\0\x01\0\0') + DQT * 6 +
      sof(0xC0, 26700, 26700) + DHT * 4 + sos())
write('progressive-header-26700', 'p.jpg', b'\xFF\xD8' + DQT + sof(0xC2, 26700, 26700) + DHT + sos())

# GIF: a 16383 x 16383 logical screen, one 1 x 1 frame.
write('gif-screen-16383', 'g.gif',
      b'GIF89a' + struct.pack('<HH', 16383, 16383) + b'\x80\0\0' + b'\0\0\0\xff\xff\xff' +
      b',' + struct.pack('<HHHH', 0, 0, 1, 1) + b'\0\x02\x02\x4c\x01\0;')


def gif_frame(left, top, width, height, flags=0):
    """A 1 x 1 screen whose first frame, of a few pixels of data, widens it."""
    return (b'GIF89a' + struct.pack('<HH', 1, 1) + b'\x80\0\0' + b'\0\0\0\xff\xff\xff' + b',' +
            struct.pack('<HHHHB', left, top, width, height, flags) + b'\x02\x02\x4c\x01\0;')


write('gif-frame-19200x35980', 'g.gif', gif_frame(0, 0, 19200, 35980))
write('gif-interlaced-28073x21082', 'g.gif', gif_frame(17738, 21074, 10335, 8, 0x40))


def bmp(width, height, bpp, compression, palette, pixels, header=40, masks=b''):
    """A bitmap whose info header is 40 bytes (masks and palette after it) or
    longer (holding the masks); a negative height is stored top-down."""
    info = struct.pack('<IiiHHIIiiII', header, width, height, 1, bpp, compression, len(pixels), 2835,
                       2835, len(palette) // 4, 0)
    info += masks + bytes(header - 40 - len(masks)) if header > 40 else masks
    offset = 14 + len(info) + len(palette)
    return b'BM' + struct.pack('<IHHI', offset + len(pixels), 0, 0, offset) + info + palette + pixels


# RLE8: a few runs, then the end of the picture.
rle = b''.join(bytes((255, i % 2)) for i in range(500)) + b'\x00\x01'
write('bmp-rle8-16384', 'r.bmp', bmp(16384, 16384, 8, 1, b'\0\0\0\0\xff\xff\xff\0', rle))
write('bmp-header-16384', 'h.bmp', bmp(16384, 16384, 24, 0, b'', b''))
# Found by fuzzing: 16-bit bit fields on pictures of over 30 million lines,
# or lines of 16 million pixels, whose data ends at once or is missing.
masks565 = struct.pack('<IIII', 0xF800, 0x07E0, 0x001F, 0)
write('bmp-v5-16252928x16-bare', 'w.bmp', bmp(16252928, -16, 16, 3, b'', b'', 124, masks565))
write('bmp-16bit-6x33554471-cut', 't.bmp', bmp(6, 33554471, 16, 3, b'', b'\x7f' * 5, 56, masks565))
write('bmp-rle8-2x33554434', 'l.bmp',
      bmp(2, 33554434, 8, 1, b'\0\0\0\0\xff\xff\xff\0', b'\x02\x01\0\0\x02\x01'))
write('bmp-rle4-16384-topdown', 'r.bmp', bmp(16384, -16384, 4, 2, b'\0\0\0\0\xff\xff\xff\0', rle))
write('bmp-1bit-3735558x6-cut', 'm.bmp', bmp(3735558, 6, 1, 0, b'\0\0\0\0\xff\xff\xff\0', b'\x55' * 26))

# A 2 GiB file of nothing (sparse: it takes no room on the disk).
os.makedirs(os.path.join(root, 'sparse-2g'), exist_ok=True)
with open(os.path.join(root, 'sparse-2g', 'x.jpg'), 'wb') as f:
    f.truncate(2 << 30)

# A small real photo, for a gallery at size 30000.
ppm = b'P6 64 43 255\n' + bytes((x * 4, y * 5, 128) [c] for y in range(43) for x in range(64) for c in range(3))
write('typo-30000', 't.jpg', subprocess.run(['cjpeg'], input=ppm, capture_output=True, check=True).stdout)
