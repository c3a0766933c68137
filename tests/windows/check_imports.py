#!/usr/bin/python3
"""Reads the import table of qltmsi32.dll and compares it with the list of
functions the DLL may import, kept beside this script for each processor.
A name missing from the list fails, and so does a listed name whose systems
are newer than the oldest ones the DLL must load on: a DLL importing one
function that the system lacks is refused by the loader as a whole.

usage: check_imports.py DLL ALLOWED_IMPORTS
"""
import sys

import pefile

# Systems in the order they came, each family on its own scale. "-" marks a
# family the list does not serve.
NT = ["NT3.1", "NT3.5", "NT3.51", "NT4", "2000", "XP", "2003", "Vista", "7"]
FAMILY_95 = ["95", "95-stub", "95-redist", "98", "98SE", "ME"]
# What each mark means for the loader on the oldest system of the family.
# 95-stub:   exported, but fails when called; the narrow calls of the platform
#            table stand in for it on the 95 family.
# 95-redist: in a DLL that Windows 95 gets from a redistributable rather than
#            in the box: msvcrt.dll (names checked against the msvcrt.dll of
#            98 and of NT 4) and Windows Installer's msi.dll.
LOADS_ON_95 = {"95", "95-stub", "95-redist"}


def read_allowed(path):
    """{(module, function): (family95, nt)} and the requirement line."""
    allowed, oldest = {}, None
    with open(path, encoding="utf-8") as source:
        for number, line in enumerate(source, start=1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            fields = line.split()
            if fields[0] == "oldest":
                oldest = (fields[1], fields[2])
                continue
            if len(fields) != 4:
                sys.exit(f"{path}:{number}: want MODULE FUNCTION FAMILY95 NT")
            module, function, family95, nt = fields
            if family95 != "-" and family95 not in FAMILY_95 or nt not in NT:
                sys.exit(f"{path}:{number}: unknown system in {line!r}")
            allowed[(module.lower(), function)] = (family95, nt)
    if oldest is None:
        sys.exit(f"{path}: no 'oldest FAMILY95 NT' line")
    return allowed, oldest


def imports_of(dll):
    pe = pefile.PE(dll, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]])
    found = set()
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        for symbol in entry.imports:
            name = symbol.name.decode() if symbol.name else f"#{symbol.ordinal}"
            found.add((entry.dll.decode().lower(), name))
    return found


def too_new(marks, oldest):
    family95, nt = marks
    want95, want_nt = oldest
    reasons = []
    if want95 != "-" and family95 not in LOADS_ON_95:
        reasons.append(f"95 family from {family95}")
    if NT.index(nt) > NT.index(want_nt):
        reasons.append(f"NT family from {nt}")
    return reasons


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[-1])
    dll, allowed_path = sys.argv[1:3]
    allowed, oldest = read_allowed(allowed_path)
    found = imports_of(dll)
    failures = []
    for module, function in sorted(found):
        marks = allowed.get((module, function))
        if marks is None:
            failures.append(f"{module} {function}: not in {allowed_path}")
            continue
        reasons = too_new(marks, oldest)
        if reasons:
            failures.append(f"{module} {function}: {', '.join(reasons)}")
    modules = sorted({module for module, _ in found})
    print(f"{dll}: {len(found)} imports from {', '.join(modules)}")
    unused = sorted(key for key in allowed if key not in found)
    if unused:
        print(f"listed but not imported ({len(unused)}): " + " ".join(f for _, f in unused))
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
