#!/usr/bin/python3
"""Reads qltmsi32.dll as the Windows loader would and checks what callers
depend on before any of its code runs: the machine, the eleven exports by
ordinal and plain name, imports from system DLLs only, the string table
(entries 1-18, language 1033) and the version resource (6.50.0.0).

usage: check_pe_layout.py DLL PROCESSOR MESSAGE_TEXTS_INC
"""
import re
import sys

import pefile

EXPORTS = [
    "QLTMsiOpen", "QLTMsiClose", "QLTMsiOpenDatabase", "QLTMsiCloseDatabase",
    "QLTMsiUpdateFile", "QLTMsiCommitChanges", "QLTMsiGetBackupString",
    "QLTMsiGetBackupStringA", "QLTMsiGetLastErrorStrA", "QltMsiBackupSvr",
    "DefragMsiFile",
]
MACHINES = {"i686": 0x14C, "x86_64": 0x8664}
LANG_EN_US = 1033
RT_STRING = 6
RT_VERSION = 16

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def read_messages(path):
    messages = {}
    pattern = re.compile(r'^QLTMSI_MESSAGE\((\d+), "(.*)"\)\s*$')
    with open(path, encoding="utf-8") as source:
        for line in source:
            match = pattern.match(line)
            if match:
                text = match.group(2).encode().decode("unicode_escape")
                messages[int(match.group(1))] = text
    return messages


def resource_languages(pe, type_id):
    """{name id: {language: bytes}} for one resource type."""
    found = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for type_entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if type_entry.id != type_id:
            continue
        for name_entry in type_entry.directory.entries:
            for lang_entry in name_entry.directory.entries:
                data = lang_entry.data.struct
                found.setdefault(name_entry.id, {})[lang_entry.id] = pe.get_data(data.OffsetToData, data.Size)
    return found


def string_block(data):
    strings, offset = [], 0
    for _ in range(16):
        length = int.from_bytes(data[offset:offset + 2], "little")
        offset += 2
        strings.append(data[offset:offset + 2 * length].decode("utf-16-le"))
        offset += 2 * length
    return strings


def main():
    dll, processor, inc = sys.argv[1:4]
    pe = pefile.PE(dll)

    check(pe.FILE_HEADER.Machine == MACHINES[processor], f"machine {pe.FILE_HEADER.Machine:#x} for {processor}")
    check(pe.is_dll(), "not a DLL")

    exports = {e.ordinal: (e.name or b"").decode() for e in pe.DIRECTORY_ENTRY_EXPORT.symbols} \
        if hasattr(pe, "DIRECTORY_ENTRY_EXPORT") else {}
    expected = {ordinal: name for ordinal, name in enumerate(EXPORTS, start=1)}
    check(exports == expected, f"exports {sorted(exports.items())}")

    imports = [i.dll.decode().lower() for i in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    private = [name for name in imports if name.startswith("lib")]
    check(not private, f"imports runtime DLLs that Windows lacks: {private}")

    messages = read_messages(inc)
    check(sorted(messages) == list(range(1, 19)), f"message numbers {sorted(messages)}")
    blocks = resource_languages(pe, RT_STRING)
    check(sorted(blocks) == [1, 2], f"string blocks {sorted(blocks)}")
    table = {}
    for block, languages in blocks.items():
        check(list(languages) == [LANG_EN_US], f"string block {block} languages {list(languages)}")
        for index, text in enumerate(string_block(next(iter(languages.values())))):
            if text:
                table[(block - 1) * 16 + index] = text
    check(table == messages, "string table differs: " +
          repr({k: table.get(k) for k in set(table) | set(messages) if table.get(k) != messages.get(k)}))

    check(resource_languages(pe, RT_VERSION), "no version resource")
    fixed = pe.VS_FIXEDFILEINFO[0] if getattr(pe, "VS_FIXEDFILEINFO", None) else None
    check(fixed is not None and (fixed.FileVersionMS, fixed.FileVersionLS) == (0x00060032, 0),
          "file version is not 6.50.0.0")

    for failure in failures:
        print("FAIL:", failure)
    print(f"{dll}: {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
