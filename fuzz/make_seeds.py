#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into the folder given: the
site's files, the resource files and demo script, and small files laid out
as the programs write their products (FITS in both layouts, an 8-bit BMP)."""
import os
import shutil
import struct
import sys

top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
out = sys.argv[1]


def put(target, name, data):
    os.makedirs(os.path.join(out, target), exist_ok=True)
    with open(os.path.join(out, target, name), "wb") as f:
        f.write(data)


def copy(target, path):
    os.makedirs(os.path.join(out, target), exist_ok=True)
    shutil.copy(os.path.join(top, path), os.path.join(out, target, os.path.basename(path)))


def header(cards, fixed):
    block = b""
    for key, value in cards:
        if key == "END":
            text = "END"
        elif fixed:
            text = "%-8s= %20s" % (key, value) if not value.startswith("'") else "%-8s= %s" % (key, value)
        else:
            text = "%-8s= %s" % (key, value)
        block += text.ljust(80).encode()
    return block.ljust(2880 * ((len(block) + 2879) // 2880), b" ")


def samples(values):
    return b"".join(struct.pack(">H", v ^ 0x8000) for v in values)


# The one-camera program's layout: free-format cards, unpadded data.
one = [("SIMPLE", "T"), ("BITPIX", "16"), ("NAXIS", "2"), ("NAXIS1", "4"), ("NAXIS2", "2"),
       ("NAXIS3", "1"), ("DATE", "08/12/2009"), ("BZERO", "32768.0"), ("BSCALE", "1.0"),
       ("EXPTIME", "0.100"), ("TELE", "KORVAN"), ("INST", "PELU Spectrograph"),
       ("CAMERANO", "100"), ("END", "")]
put("fits_earlier", "single.fts", header(one, False) + samples([0, 65535, 1, 32768, 2, 3, 4, 5]))
cube = [c if c[0] not in ("NAXIS", "NAXIS3") else (c[0], "3") for c in one]
put("fits_earlier", "cube.fts", header(cube, False) + samples(range(0, 24 * 1000, 1000)))

# Standard fixed-format FITS as PELU_dbg's products are (padded to blocks).
for name, cards, count in [
        ("image.fts", [("SIMPLE", "T"), ("BITPIX", "16"), ("NAXIS", "2"), ("NAXIS1", "4"),
                       ("NAXIS2", "2"), ("EXTEND", "T"), ("BZERO", "32768"),
                       ("EXPTIME", "0.1"), ("END", "")], 8),
        ("cube.fts", [("SIMPLE", "T"), ("BITPIX", "16"), ("NAXIS", "3"), ("NAXIS1", "3"),
                      ("NAXIS2", "2"), ("NAXIS3", "2"), ("BZERO", "32768"),
                      ("TARGET", "'Sunspot '"), ("END", "")], 12),
        ("flat.fts", [("SIMPLE", "T"), ("BITPIX", "-32"), ("NAXIS", "3"), ("NAXIS1", "2"),
                      ("NAXIS2", "2"), ("NAXIS3", "7"), ("END", "")], 28)]:
    data = samples(range(count)) if "-32" not in str(cards) else struct.pack(">%df" % count, *range(count))
    data = data.ljust(2880 * ((len(data) + 2879) // 2880), b"\0")
    put("fits_viewer", name, header(cards, True) + data)
    put("fits_earlier", "dbg_" + name, header(cards, True) + data)
for name in os.listdir(os.path.join(out, "fits_earlier")):
    if not name.startswith("dbg_"):
        shutil.copy(os.path.join(out, "fits_earlier", name), os.path.join(out, "fits_viewer", "pelu_" + name))

# An 8-bit grey BMP as the export writes it: 5 x 3 pixels, rows padded to 8 bytes.
width, height = 5, 3
stride = (8 * width + 31) // 32 * 4
pixels = b"".join(bytes(range(r * 10, r * 10 + width)).ljust(stride, b"\0") for r in range(height))
palette = b"".join(bytes([k, k, k, 0]) for k in range(256))
offset = 14 + 40 + len(palette)
bmp = (b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) +
       struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(pixels), 0, 0, 256, 256) +
       palette + pixels)
put("bmp", "export.bmp", bmp)
top_down = bmp[:22] + struct.pack("<i", -height) + bmp[26:]
put("bmp", "top_down.bmp", top_down)

for path in ["resources/PELU.uir", "resources/Lintab.uir"]:
    copy("uir", path)
shutil.copy(os.path.join(top, "resources/earlier/PELU.uir"), os.path.join(out, "uir", "PELU_earlier.uir"))
copy("script", "demo/observe.pelu")
copy("wv", "resources/site/Wv.ini")
# The one-camera program's layout: 1000-byte header of text slots, 12-byte records.
slots = [b"NUMBER OF WV    = 3", b"CURRENT_SELECT  = 1", b"STARTING POS    = 0"]
wv = b"".join(t.ljust(100, b"\0") for t in slots).ljust(1000, b"\0")
wv += b"".join(struct.pack("<fif", w, st, a) for w, st, a in [(6562.8, 100, 1.5), (8542.0, 200, 2.5), (5890.0, -30, 0.25)])
put("wv", "Wv_earlier.ini", wv)
copy("replies", "resources/site/IPaddr.ini")
for name, reply in [("position", b"-1234.5\r"), ("bit", b"1\r"), ("steps", b"17\r"),
                    ("encoder", b"  250000 \r")]:
    put("replies", name, reply)
put("script", "waits.pelu", b"timeout 2\nwait 0.5\nexpect status \"x\"\n")
