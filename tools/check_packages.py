#!/usr/bin/python3
"""Proves that scripts/setup.sh installs everything a build and its tests use.

Collects every file under /usr that a configured build folder reads (the CMake
files the configure step read, the pkg-config files it asked for, the headers
in `ninja -t deps`, the shared libraries the built programs load) and the
programs and Python modules the tests start, finds the Debian package of each,
and checks that the package is in setup.sh's list or in the closure of that
list under Depends and Pre-Depends (Recommends and Suggests do not count: the
set-up installs without them), or is an Essential package, which every Debian
system has. Whatever was installed by hand on this machine, a file outside
that set would be missing on a fresh machine: each one is listed.

    tools/check_packages.py BUILD_FOLDER [--setup scripts/setup.sh] [--without PACKAGE]...

--without drops a package from setup.sh's list (to show the check notices).
Exit 0 when every file is covered, 1 when some are not, 2 on a usage error.
"""
import argparse
import glob
import os
import re
import shutil
import subprocess
import sys

# What the tests start besides the built programs.
TEST_PROGRAMS = ["fitsverify", "/usr/bin/python3", "Xvfb", "xauth"]
# What the tests import in Debian's python3 (the end-to-end and products tests).
TEST_PYTHON_MODULES = ["astropy.io.fits", "astropy.table", "numpy"]


def setup_packages(setup_script):
    text = open(setup_script, encoding="utf-8").read()
    match = re.search(r"^packages=\((.*?)^\)", text, re.S | re.M)
    if not match:
        sys.exit(f"check_packages: no packages=( ... ) list in {setup_script}")
    body = re.sub(r"#.*", "", match.group(1))
    return body.split()


def installed_packages():
    """name -> (depends text, provides text, essential) of every installed package."""
    out = subprocess.run(
        ["dpkg-query", "-W", "-f",
         "${Package}\t${db:Status-Abbrev}\t${Depends}\t${Pre-Depends}\t${Provides}\t${Essential}\n"],
        check=True, capture_output=True, text=True).stdout
    packages = {}
    for line in out.splitlines():
        name, status, depends, predepends, provides, essential = (line.split("\t") + [""] * 6)[:6]
        if not status.startswith("ii"):
            continue
        packages[name] = (", ".join(x for x in (depends, predepends) if x), provides,
                          essential == "yes")
    return packages


def bare_name(text):
    """'libfoo:amd64 (>= 1.2)' -> 'libfoo'."""
    return text.strip().split(" ")[0].split(":")[0]


def closure(roots, packages):
    providers = {}
    for name, (_, provides, _) in packages.items():
        for entry in provides.split(","):
            if entry.strip():
                providers.setdefault(bare_name(entry), []).append(name)
    seen = set()
    todo = list(roots)
    while todo:
        name = todo.pop()
        if name in seen:
            continue
        seen.add(name)
        depends = packages.get(name, ("", "", False))[0]
        for clause in depends.split(","):
            if not clause.strip():
                continue
            # Of alternatives, apt installs the first one on a fresh machine.
            first = bare_name(clause.split("|")[0])
            todo.extend([first] if first in packages else providers.get(first, [first]))
    return seen


def files_read_by_build(build):
    files = set()
    ninja_file = os.path.join(build, "build.ninja")
    for line in open(ninja_file, encoding="utf-8"):
        if line.startswith("build build.ninja: RERUN_CMAKE |"):
            files.update(line.split("|", 1)[1].split())
    deps = subprocess.run(["ninja", "-C", build, "-t", "deps"], check=True,
                          capture_output=True, text=True).stdout
    for line in deps.splitlines():
        if line.startswith("    "):
            files.add(line.strip())
    cache = open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8").read()
    for name in ("CMAKE_CXX_COMPILER", "CMAKE_C_COMPILER", "CMAKE_MAKE_PROGRAM",
                 "CMAKE_COMMAND", "CMAKE_CXX_COMPILER_LAUNCHER", "CMAKE_C_COMPILER_LAUNCHER"):
        match = re.search(rf"^{name}:\w+=(.+)$", cache, re.M)
        if match and match.group(1).startswith("/"):
            files.add(match.group(1))
    for match in re.finditer(r"^__pkg_config_arguments_\w+:INTERNAL=(.*)$", cache, re.M):
        for module in match.group(1).split(";"):
            if module in ("", "REQUIRED", "QUIET", "IMPORTED_TARGET", "GLOBAL", "NO_CMAKE_PATH",
                          "NO_CMAKE_ENVIRONMENT_PATH"):
                continue
            module = re.split(r"[<>=]", module)[0]
            found = subprocess.run(["pkg-config", "--path", module],
                                   capture_output=True, text=True)
            if found.returncode == 0:
                files.add(found.stdout.strip())
    binaries = [p for p in glob.glob(os.path.join(build, "bin", "*"))
                if os.path.isfile(p) and os.access(p, os.X_OK)]
    binaries += glob.glob(os.path.join(build, "**", "*.so"), recursive=True)
    for binary in binaries:
        out = subprocess.run(["ldd", binary], capture_output=True, text=True).stdout
        for match in re.finditer(r"=> (/\S+)", out):
            files.add(match.group(1))
    return files


def files_used_by_tests():
    files = set()
    for program in TEST_PROGRAMS:
        path = program if program.startswith("/") else shutil.which(program)
        if path is None:
            print(f"check_packages: the tests start {program}, which is not installed")
            files.add(f"/usr/bin/{program}")
        else:
            files.add(path)
    # Only what importing the tests' modules loads: start-up hooks of other
    # packages (.pth files) are not something the tests use.
    script = ("import importlib, sys\n"
              "before = set(sys.modules)\n"
              f"for m in {TEST_PYTHON_MODULES!r}: importlib.import_module(m)\n"
              "for name, m in list(sys.modules.items()):\n"
              "    f = getattr(m, '__file__', None)\n"
              "    if f and name not in before: print(f)\n")
    out = subprocess.run(["/usr/bin/python3", "-c", script], capture_output=True, text=True)
    if out.returncode != 0:
        print(f"check_packages: Debian's python3 cannot import the tests' modules:\n{out.stderr}")
        files.update(f"/usr/lib/python3/dist-packages/{m.split('.')[0]}" for m in TEST_PYTHON_MODULES)
    files.update(out.stdout.split())
    return files


def owners(paths):
    """path -> set of packages owning it ('' when none)."""
    result = {}
    candidates = {}
    for path in paths:
        forms = [path, os.path.realpath(path)]
        # Merged /usr: dpkg may list the file under /lib or /bin.
        for form in list(forms):
            for prefix in ("/usr/lib/", "/usr/bin/", "/usr/sbin/"):
                if form.startswith(prefix):
                    forms.append(form[len("/usr"):])
        candidates[path] = list(dict.fromkeys(forms))
    queries = sorted({form for forms in candidates.values() for form in forms})
    owned = {}
    for start in range(0, len(queries), 500):
        out = subprocess.run(["dpkg", "-S"] + queries[start:start + 500],
                             capture_output=True, text=True).stdout
        for line in out.splitlines():
            if ": " not in line or line.startswith("diversion"):
                continue
            names, path = line.rsplit(": ", 1)
            owned.setdefault(path, set()).update(bare_name(n) for n in names.split(","))
    for path, forms in candidates.items():
        result[path] = set().union(*(owned.get(form, set()) for form in forms))
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("--setup", default=os.path.join(os.path.dirname(__file__), "..",
                                                        "scripts", "setup.sh"))
    parser.add_argument("--without", action="append", default=[])
    args = parser.parse_args()
    if not os.path.isfile(os.path.join(args.build, "build.ninja")):
        print(f"check_packages: {args.build} is not a configured build folder", file=sys.stderr)
        return 2

    listed = [p for p in setup_packages(args.setup) if p not in args.without]
    packages = installed_packages()
    allowed = closure(listed + [n for n, v in packages.items() if v[2]], packages)

    used = {f for f in files_read_by_build(args.build) | files_used_by_tests()
            if f.startswith("/usr/") or f.startswith("/lib")}
    missing = {}
    for path, names in sorted(owners(used).items()):
        if not names:
            missing.setdefault("(no Debian package)", []).append(path)
        elif not names & allowed:
            missing.setdefault(", ".join(sorted(names)), []).append(path)

    print(f"check_packages: {len(used)} files under /usr used by {args.build} and the tests; "
          f"{len(listed)} packages listed, {len(allowed)} with their Depends")
    if not missing:
        print("check_packages: every one comes from setup.sh's packages or what they depend on")
        return 0
    for owner, paths in sorted(missing.items()):
        shown = paths[:5] + ([f"... and {len(paths) - 5} more"] if len(paths) > 5 else [])
        print(f"check_packages: not installed by setup.sh: {owner}:")
        for path in shown:
            print(f"    {path}")
    return 1


if __name__ == "__main__":
    sys.exit(main())
