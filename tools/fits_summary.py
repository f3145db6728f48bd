#!/usr/bin/env python3
"""Lists the FITS files below a folder with what they hold (astropy)."""
import os
import sys

from astropy.io import fits


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "."
    found = 0
    for folder, _, names in sorted(os.walk(root)):
        for name in sorted(names):
            if not name.endswith((".fts", ".fits", ".fit")):
                continue
            path = os.path.join(folder, name)
            found += 1
            with fits.open(path) as hdul:
                h = hdul[0].header
                data = hdul[0].data
                shape = "x".join(str(n) for n in reversed(data.shape)) if data is not None else "-"
                cards = " ".join(
                    "%s=%s" % (k, h[k])
                    for k in ("EXPTIME", "PELUMODE", "TARGET", "WAVELEN", "DATE_OBS")
                    if k in h)
                print("%s  %s (BITPIX %d)  %s" % (os.path.relpath(path, root), shape,
                                                 h["BITPIX"], cards))
    if not found:
        print("no FITS files below " + root)


if __name__ == "__main__":
    main()
