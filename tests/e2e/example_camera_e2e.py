#!/usr/bin/env python3
"""End to end: PELU_dbg with the example camera library that devices.ini in
its working directory names instead of the simulator. The status box names
the library, and the bias/dark frames it writes have the example cameras'
size and bias level (the simulator's are 512 x 512 and 1004 x 1002 at about
1000 ADU).

Usage: example_camera_e2e.py PELU_dbg SCRIPT SITE_DIR EXAMPLE_LIBRARY
"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile

from astropy.io import fits


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def main():
    program, script, site, library = sys.argv[1:5]
    work = tempfile.mkdtemp(prefix="pelu-example-camera-")
    try:
        for name in ("Wv.ini", "IPaddr.ini", "pelu.head", "pelu.tail"):
            shutil.copy(os.path.join(site, name), work)
        with open(os.path.join(work, "devices.ini"), "w") as ini:
            ini.write("# this site's cameras\ncamera = %s\n" % library)
        env = dict(os.environ, PELU_TIME_SCALE="0.01", PELU_DRIVE_E=os.path.join(work, "E"))
        env.pop("PELU_CAMERA_LIBRARY", None)
        run = subprocess.run([program, "--headless", "--script", script], cwd=work, env=env,
                             capture_output=True, text=True, timeout=600)
        sys.stdout.write(run.stdout)
        check(run.returncode == 0, "PELU_dbg failed: %s" % run.stderr)
        check("Camera library: %s (site library from devices.ini, version example 1.0)" % library
              in run.stdout, "the status box does not name the example library")

        frames = sorted(glob.glob(os.path.join(work, "E", "DRAV_Data", "*", "*_BiasDark.fts")))
        check(len(frames) == 2, "a bias/dark frame per camera expected, found %s" % frames)
        for path in frames:
            with fits.open(path) as hdul:
                data = hdul[0].data
                check(data.shape == (256, 256), "%s: 256 x 256 expected, got %s" % (path, data.shape))
                mean = float(data.mean())
                check(2900 < mean < 3200, "%s: bias near 3000 ADU expected, got %.1f" % (path, mean))
        print("example camera end to end: 1 passed, 0 failed")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    try:
        main()
    except AssertionError as error:
        print("example camera end to end: FAILED: %s" % error)
        sys.exit(1)
