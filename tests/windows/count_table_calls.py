#!/usr/bin/python3
"""Counts, per test, the platform-table calls that qltmsi32.dll made in a run
of windows_dll_test under Wine's relay trace: the narrow ("A") and the wide
("W") form of each operation. A call counts when its return address lies in
a loaded qltmsi32.dll, in the test program or in a rundll32 it started. With
Wine reporting the 95 family, every such call must be narrow: the wide forms
are stubs there.

usage: count_table_calls.py RELAY_LOG DLL OPERATION...
"""
import re
import sys

import pefile

ATTACH = re.compile(r'Call PE DLL \(proc=\w+,module=(\w+) L"qltmsi32\.dll",reason=PROCESS_ATTACH')
CALL = re.compile(r':Call [\w.]+\.(\w+)\(.*\) ret=(\w+)$')
RUN = re.compile(r'^\[ RUN      \] (\S+)')


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__.strip().splitlines()[-1])
    log_path, dll = sys.argv[1:3]
    operations = set(sys.argv[3:])
    size = pefile.PE(dll, fast_load=True).OPTIONAL_HEADER.SizeOfImage
    bases = set()
    current = "(before the first test)"
    order = [current]
    counts = {current: {"A": 0, "W": 0, "wide": []}}
    with open(log_path, encoding="utf-8", errors="replace") as log:
        for line in log:
            line = line.rstrip("\n")
            if match := RUN.match(line):
                current = match.group(1)
                order.append(current)
                counts[current] = {"A": 0, "W": 0, "wide": []}
            elif match := ATTACH.search(line):
                bases.add(int(match.group(1), 16))
            elif match := CALL.search(line):
                name, ret = match.group(1), int(match.group(2), 16)
                form, operation = name[-1], name[:-1]
                if operation not in operations or form not in "AW":
                    continue
                if not any(base <= ret < base + size for base in bases):
                    continue
                counts[current][form] += 1
                if form == "W":
                    counts[current]["wide"].append(name)
    print("Platform-table calls made by qltmsi32.dll, Wine reporting Windows 98:")
    for test in order:
        entry = counts[test]
        wide = f" ({' '.join(sorted(set(entry['wide'])))})" if entry["wide"] else ""
        print(f"  {test:<72} narrow {entry['A']:4}  wide {entry['W']}{wide}")
    narrow_tests = sum(1 for test in order[1:] if counts[test]["A"] > 0)
    narrow_calls = sum(entry["A"] for entry in counts.values())
    wide_calls = sum(entry["W"] for entry in counts.values())
    print(f"narrow path: {narrow_tests} of {len(order) - 1} tests made narrow table calls "
          f"({narrow_calls} calls in all); wide table calls: {wide_calls}")
    return 1 if wide_calls or not narrow_calls else 0


if __name__ == "__main__":
    sys.exit(main())
