#!/usr/bin/python3
"""The library reaches the system's file, registry, module, resource and
mutex calls only through its platform call table: on the Windows 95 family
the wide forms are stubs, and the table's narrow calls stand in for them. This
reads the wide functions the table holds (its WideCalls list) and fails on
any use of one elsewhere in the library's sources.

usage: wide_calls_through_table.py SOURCE_DIR
"""
import pathlib
import re
import sys

FOLDERS = ["api", "platform", "update", "cabinet", "backup", "resources"]
TABLE = pathlib.Path("platform/platform_calls.cpp")


def table_functions(root):
    text = (root / TABLE).read_text(encoding="utf-8")
    body = re.search(r"PlatformCalls WideCalls\(\) \{\s*return \{(.*?)\};", text, re.S)
    if body is None:
        sys.exit(f"{TABLE}: no WideCalls list found")
    return re.findall(r"\b(\w+W)\b", body.group(1))


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip().splitlines()[-1])
    root = pathlib.Path(sys.argv[1])
    functions = table_functions(root)
    use = re.compile(r"\b(" + "|".join(functions) + r")\b")
    failures = []
    for folder in FOLDERS:
        for path in sorted((root / folder).rglob("*")):
            if path.suffix not in (".cpp", ".h") or path.relative_to(root) == TABLE:
                continue
            for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
                code = line.split("//", 1)[0]
                if match := use.search(code):
                    failures.append(f"{path.relative_to(root)}:{number}: {match.group(1)} bypasses the table")
    print(f"{len(functions)} wide table functions checked in {', '.join(FOLDERS)}")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
