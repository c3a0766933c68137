#!/usr/bin/python3
"""Runs the platform probe natively (over winsys) and under Wine (over the
Windows SDK) and compares their observations line by line.

Each side runs in fresh surroundings: winsys with a new prefix and a new
temporary directory, Wine in the given prefix. Both outputs are kept in the
output directory (probe-winsys.txt, probe-wine.txt) for reading after a
failure. Differences named in the known-differences file are reported and
allowed; any other difference, or a line only one side printed, fails.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile


def observations(text):
    result = {}
    for line in text.replace("\r", "").splitlines():
        name, sep, value = line.partition(": ")
        if sep:
            result[name] = value
        else:
            result[line] = ""
    return result


def run_native(probe):
    scratch = tempfile.mkdtemp(prefix="qltmsi-probe-")
    try:
        env = dict(os.environ, QLTMSI_PREFIX=os.path.join(scratch, "prefix"), TMPDIR=os.path.join(scratch, "tmp"))
        os.mkdir(env["TMPDIR"])
        return subprocess.run([probe], env=env, capture_output=True, text=True, timeout=120).stdout
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def run_wine(probe, default_prefix):
    env = dict(os.environ, WINEDEBUG="-all")
    env.setdefault("WINEPREFIX", default_prefix)
    return subprocess.run(["wine", probe], env=env, capture_output=True, text=True, timeout=240).stdout


def known_reason(known, name):
    if name in known:
        return known[name]
    for pattern, reason in known.items():
        if pattern.endswith("*") and name.startswith(pattern[:-1]):
            return reason
    return None


def read_known(path):
    known = {}
    with open(path, encoding="utf-8") as source:
        for line in source:
            if line.strip() and not line.startswith("#"):
                name, _, reason = line.rstrip("\n").partition("\t")
                known[name] = reason
    return known


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--native", required=True)
    parser.add_argument("--windows", required=True)
    parser.add_argument("--known", required=True)
    parser.add_argument("--wine-prefix", required=True)
    parser.add_argument("--output", required=True)
    args = parser.parse_args()

    native_text = run_native(args.native)
    wine_text = run_wine(args.windows, args.wine_prefix)
    with open(os.path.join(args.output, "probe-winsys.txt"), "w") as out:
        out.write(native_text)
    with open(os.path.join(args.output, "probe-wine.txt"), "w") as out:
        out.write(wine_text.replace("\r", ""))

    native, wine = observations(native_text), observations(wine_text)
    known = read_known(args.known)
    failures = 0
    for name in list(wine) + [n for n in native if n not in wine]:
        if name not in native or name not in wine:
            print(f"MISSING {name}: wine {wine.get(name, '(absent)')!r} winsys {native.get(name, '(absent)')!r}")
            failures += 1
        elif native[name] != wine[name]:
            reason = known_reason(known, name)
            if reason is not None:
                print(f"known   {name}: wine {wine[name]!r} winsys {native[name]!r} ({reason})")
            else:
                print(f"DIFFERS {name}: wine {wine[name]!r} winsys {native[name]!r}")
                failures += 1
    print(f"{len(wine)} observations, {failures} unexplained differences")
    return 1 if failures or not wine else 0


if __name__ == "__main__":
    sys.exit(main())
