#!/usr/bin/env python3
"""End to end: PELU_dbg runs the shipped observation script headless on the
simulated instrument, and the files it writes are read back with astropy and
checked with fitsverify.

Usage: observe_e2e.py PELU_dbg SCRIPT SITE_DIR
"""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

import numpy as np
from astropy.io import fits


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def main():
    program, script, site = sys.argv[1:4]
    work = tempfile.mkdtemp(prefix="pelu-e2e-")
    try:
        for name in ("Wv.ini", "IPaddr.ini", "pelu.head", "pelu.tail"):
            shutil.copy(os.path.join(site, name), work)
        env = dict(os.environ, PELU_TIME_SCALE="0.01", PELU_DRIVE_E=os.path.join(work, "E"))
        run = subprocess.run([program, "--headless", "--script", script], cwd=work, env=env,
                             capture_output=True, text=True, timeout=600)
        sys.stdout.write(run.stdout)
        check(run.returncode == 0, "PELU_dbg failed: %s" % run.stderr)
        check("frames stored 100 of 100" in run.stdout, "a scan lost frames")

        # The observing log beside the data: the status lines and the commands
        # to both controllers with their replies.
        logs = glob.glob(os.path.join(work, "E", "DRAV_Data", "ObservingLog_*.txt"))
        check(len(logs) == 1, "one observing log expected, found %s" % logs)
        log = open(logs[0]).read()
        for text in ("status  Starting Scan.", "scanner> i900 -> \"3", "motor> SETUP:",
                     "scanner> m180 -> "):
            check(text in log, "the observing log lacks %r" % text)

        day = [p for p in glob.glob(os.path.join(work, "E", "DRAV_Data", "*")) if os.path.isdir(p)]
        check(len(day) == 1, "one day folder expected, found %s" % day)
        # Observation series: ..._A.fts, ..._B.fts (or ..._A_1.fts when a name was taken).
        series = sorted(p for p in glob.glob(os.path.join(day[0], "raw", "sunspot", "*.fts"))
                        if re.search(r"_[AB](_\d+)?\.fts$", p))
        check(len(series) == 4, "two repetitions x two cameras expected, found %d" % len(series))
        flats = sorted(glob.glob(os.path.join(day[0], "cal", "*_Flat.fts")))
        check(len(flats) == 2, "one flat per camera expected, found %d" % len(flats))
        # ..._A_BiasDark.fts, or ..._A_BiasDark_1.fts when two saves fell in one second.
        bias = [p for p in glob.glob(os.path.join(day[0], "**", "*.fts"), recursive=True)
                if re.search(r"_BiasDark(_\d+)?\.fts$", p)]
        check(len(bias) == 4, "a bias/dark frame per camera and OK expected, found %s" % bias)

        for path in series:
            with fits.open(path) as hdul:
                h, data = hdul[0].header, hdul[0].data
                check(h["NAXIS"] == 3 and h["NAXIS3"] == 100, "%s: 100 frames expected" % path)
                check(h["PELUMODE"] == "Spectrograph", "%s: mode card" % path)
                check(h["TARGET"] == "Sunspot", "%s: target card" % path)
                check(abs(h["EXPTIME"] - 0.2) < 1e-6, "%s: exposure" % path)
                check(abs(h["STEPTIME"] - 470.0) < 1e-3, "%s: step time" % path)
                check(h["STEPSIZE"] == 4, "%s: step size" % path)
                # The primary header as written (astropy reports an EXTEND card of
                # its own once it sees the frame table after it).
                raw = open(path, "rb").read(2880 * 4).decode("ascii", "replace")
                cards = [raw[i:i + 80] for i in range(0, len(raw), 80)]
                primary = cards[:next(i for i, c in enumerate(cards) if c.startswith("END "))]
                check(not any(c.startswith(("EXTEND ", "COMMENT ")) for c in primary),
                      "%s: EXTEND/COMMENT left" % path)
                check(len(hdul) == 2 and hdul[1].name == "FRAMES" and len(hdul[1].data) == 100,
                      "%s: a frame table of 100 rows expected" % path)
                # Every frame was exposed: bias near 1000 plus light.
                per_frame = data.astype(np.int64).reshape(100, -1).mean(axis=1)
                check((per_frame > 1000).all(), "%s: an empty frame" % path)
        for path in flats:
            with fits.open(path) as hdul:
                check(hdul[0].header["BITPIX"] == -32, "%s: flats are float" % path)
                check(hdul[0].data.shape[0] == 7, "%s: seven grating positions" % path)
        for path in series + flats + bias:
            verify = subprocess.run(["fitsverify", "-q", path], capture_output=True, text=True)
            check(verify.returncode == 0 and "OK" in verify.stdout,
                  "fitsverify: %s %s" % (path, verify.stdout + verify.stderr))
        print("observation end to end: 1 passed, 0 failed")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    try:
        main()
    except AssertionError as error:
        print("observation end to end: FAILED: %s" % error)
        sys.exit(1)
