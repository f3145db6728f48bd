#!/usr/bin/env python3
"""End to end: the observer acts on PELU_dbg while a scan runs (headless, on
the simulated instrument) and the files and the observing log say what
happened. One case per script of tests/e2e/scan_control:

  stop         Stop in the middle of a scan: the frames taken are saved, one
               valid file per camera whose NAXIS3 is the number of frames
               taken, with a closing COMMENT card saying where it stopped.
  scanner_off  Switching the scanner off during a scan is refused; the scan
               goes on and both series are complete.
  quit         Quitting during a scan: the scan stops, its frames are saved,
               then the motors, the cameras and the scanner shut down in this
               order and the program ends.

Usage: scan_control_e2e.py PELU_dbg SCRIPT SITE_DIR CASE
"""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

from astropy.io import fits


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def series_files(work):
    return sorted(p for p in glob.glob(os.path.join(work, "E", "DRAV_Data", "*", "raw", "sunspot",
                                                    "*.fts"))
                  if re.search(r"_[AB](_\d+)?\.fts$", p))


def primary_cards(path):
    raw = open(path, "rb").read(2880 * 4).decode("ascii", "replace")
    cards = [raw[i:i + 80] for i in range(0, len(raw), 80)]
    return cards[:next(i for i, c in enumerate(cards) if c.startswith("END "))]


def fitsverify(path):
    verify = subprocess.run(["fitsverify", "-q", path], capture_output=True, text=True)
    check(verify.returncode == 0 and "OK" in verify.stdout,
          "fitsverify: %s %s" % (path, verify.stdout + verify.stderr))


def stopped_step(text):
    found = re.findall(r"Stopped at step (\d+) of (\d+)", text)
    check(len(found) == 1, "one \"Stopped at step k of N\" expected, found %s" % found)
    return int(found[0][0]), int(found[0][1])


def check_partial_series(work, steps, planned):
    files = series_files(work)
    check(len(files) == 2, "one series per camera expected, found %s" % files)
    for path in files:
        with fits.open(path) as hdul:
            h = hdul[0].header
            check(h["NAXIS"] == 3 and h["NAXIS3"] == steps,
                  "%s: NAXIS3 %s, not the %d frames taken" % (path, h.get("NAXIS3"), steps))
            check(hdul[0].data.shape[0] == steps, "%s: data of %d frames" % (path, steps))
            check(len(hdul) == 2 and hdul[1].name == "FRAMES" and len(hdul[1].data) == steps,
                  "%s: a frame table of %d rows expected" % (path, steps))
        cards = primary_cards(path)
        check(cards[-1].rstrip() == "COMMENT Scan stopped at step %d of %d" % (steps, planned),
              "%s: the header does not end with the stop comment: %r" % (path, cards[-1]))
        fitsverify(path)


def observing_log(work):
    logs = glob.glob(os.path.join(work, "E", "DRAV_Data", "ObservingLog_*.txt"))
    check(len(logs) == 1, "one observing log expected, found %s" % logs)
    return open(logs[0]).read()


def in_order(text, marks):
    """Each mark appears, after the one before it."""
    at = 0
    for mark in marks:
        found = text.find(mark, at)
        check(found >= 0, "%r missing or out of order after position %d" % (mark, at))
        at = found + len(mark)


def main():
    program, script, site, case = sys.argv[1:5]
    work = tempfile.mkdtemp(prefix="pelu-scan-control-")
    try:
        for name in ("Wv.ini", "IPaddr.ini", "pelu.head", "pelu.tail"):
            shutil.copy(os.path.join(site, name), work)
        env = dict(os.environ, PELU_TIME_SCALE="0.01", PELU_DRIVE_E=os.path.join(work, "E"))
        run = subprocess.run([program, "--headless", "--script", script], cwd=work, env=env,
                             capture_output=True, text=True, timeout=600)
        sys.stdout.write(run.stdout)
        check(run.returncode == 0, "PELU_dbg failed: %s" % run.stderr)
        log = observing_log(work)

        if case == "stop":
            steps, planned = stopped_step(run.stdout)
            check(0 < steps < planned, "stopped at step %d of %d: not in the middle" %
                  (steps, planned))
            in_order(run.stdout, ["Stopping...", "Stopped at step", "_A.fts", "_B.fts"])
            check_partial_series(work, steps, planned)
            check("Repetition 1 of 2 done" not in run.stdout, "the run went on after Stop")
        elif case == "scanner_off":
            check("Stopped at step" not in run.stdout, "the scan was stopped")
            check(run.stdout.count("frames stored 100 of 100") == 2,
                  "both series complete expected")
            files = series_files(work)
            check(len(files) == 2, "one series per camera expected, found %s" % files)
            for path in files:
                with fits.open(path) as hdul:
                    check(hdul[0].header["NAXIS3"] == 100, "%s: 100 frames expected" % path)
                fitsverify(path)
        elif case == "quit":
            steps, planned = stopped_step(log)
            check(0 < steps < planned, "stopped at step %d of %d" % (steps, planned))
            check_partial_series(work, steps, planned)
            # The scan stopped and its files were written before any device went
            # down; then motors, cameras (warmed, camera 1 before camera 2), scanner.
            in_order(log, ["Quit: the program ends once a run has stopped.",
                           "Stopped at step", "_A.fts", "_B.fts",
                           "-----------Disconnected-----------",
                           "Complete Shut Down", "Complete Shut Down",
                           "Device is Closed!"])
            check("scanner> &1 A" in log, "the motion program was not aborted")
        else:
            raise AssertionError("unknown case %s" % case)
        print("scan control end to end (%s): 1 passed, 0 failed" % case)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    try:
        main()
    except AssertionError as error:
        print("scan control end to end: FAILED: %s" % error)
        sys.exit(1)
