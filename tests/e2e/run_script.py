"""Runs a program (PELU_dbg or PELU) headless on a script in a fresh working folder holding the
site files, with the environment given as NAME=VALUE arguments; passes when
the script does (every `expect` met).

    run_script.py PROGRAM SCRIPT SITE [NAME=VALUE]...
"""
import os
import shutil
import subprocess
import sys
import tempfile


def main():
    program, script, site = sys.argv[1:4]
    env = dict(os.environ, PELU_TIME_SCALE="0.01")
    for assignment in sys.argv[4:]:
        name, value = assignment.split("=", 1)
        env[name] = value
    work = tempfile.mkdtemp(prefix="pelu-script-")
    try:
        for name in ("Wv.ini", "IPaddr.ini", "pelu.head", "pelu.tail"):
            shutil.copy(os.path.join(site, name), work)
        env["PELU_DRIVE_E"] = os.path.join(work, "E")
        run = subprocess.run([program, "--headless", "--script", script], cwd=work, env=env,
                             capture_output=True, text=True, timeout=600)
        sys.stdout.write(run.stdout)
        sys.stderr.write(run.stderr)
        return run.returncode
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
