/* A differential probe: one C source, built against winsys and against the
 * Windows SDK (mingw, run under Wine), prints the registry and GUID answers
 * of both platforms so that a test can compare them line by line. */
#include <windows.h>
#include <objbase.h>
#include <stdio.h>
#include <string.h>

static void show(const char *what, long result) { printf("%s %ld\n", what, result); }

static void showSize(const char *what, long result, DWORD size) { printf("%s %ld size %lu\n", what, result, (unsigned long)size); }

int main(void) {
    HKEY key = NULL, other = NULL, third = NULL;
    DWORD disposition = 0, type = 0, size = 0;
    BYTE data[64];
    WCHAR name[16];
    DWORD nameLength;

    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\WinsysProbe\\Sub");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\WinsysProbe");
    show("create", RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\WinsysProbe", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, &disposition));
    show("disposition", (long)disposition);
    show("create-leading-backslash", RegCreateKeyExA(HKEY_LOCAL_MACHINE, "\\Software\\WinsysProbe", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &other, NULL));
    show("open-doubled-backslash", RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\\\WinsysProbe", 0, KEY_READ, &other));
    RegCloseKey(other);
    show("open-trailing-backslash", RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\winsysprobe\\", 0, KEY_READ, &other));
    RegCloseKey(other);
    show("open-missing", RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\WinsysProbe\\Missing", 0, KEY_READ, &other));
    show("open-missing-clears", other == NULL);

    show("set-narrow", RegSetValueExA(key, "s", 0, REG_SZ, (const BYTE *)"abcdefghi", 10));
    size = 9;
    showSize("query-narrow-9", RegQueryValueExA(key, "s", NULL, &type, data, &size), size);
    size = 10;
    showSize("query-narrow-10", RegQueryValueExA(key, "s", NULL, &type, data, &size), size);
    size = 0;
    showSize("query-narrow-size-only", RegQueryValueExA(key, "s", NULL, NULL, NULL, &size), size);
    size = 19;
    showSize("query-wide-19", RegQueryValueExW(key, TEXT("s"), NULL, &type, data, &size), size);
    size = 20;
    showSize("query-wide-20", RegQueryValueExW(key, TEXT("s"), NULL, &type, data, &size), size);
    show("query-data-without-size", RegQueryValueExA(key, "s", NULL, NULL, data, NULL));
    show("set-unterminated", RegSetValueExA(key, "t", 0, REG_SZ, (const BYTE *)"abc", 3));
    size = 0;
    showSize("query-unterminated-wide", RegQueryValueExW(key, TEXT("t"), NULL, NULL, NULL, &size), size);
    size = 0;
    showSize("query-unterminated-narrow", RegQueryValueExA(key, "t", NULL, NULL, NULL, &size), size);
    show("set-multi", RegSetValueExA(key, "m", 0, REG_MULTI_SZ, (const BYTE *)"a\0bc\0\0", 6));
    size = sizeof data;
    showSize("query-multi-wide", RegQueryValueExW(key, TEXT("m"), NULL, &type, data, &size), size);
    {
        DWORD value = 5;
        show("set-dword", RegSetValueExW(key, TEXT("d"), 0, REG_DWORD, (const BYTE *)&value, 4));
        size = 2;
        showSize("query-dword-short", RegQueryValueExW(key, TEXT("d"), NULL, &type, data, &size), size);
        show("dword-type", (long)type);
    }
    size = 20;
    type = 99;
    showSize("query-default-unset", RegQueryValueExW(key, NULL, NULL, &type, data, &size), size);
    show("type-untouched", (long)type);
    show("set-default", RegSetValueExW(key, TEXT(""), 0, REG_SZ, (const BYTE *)TEXT("def"), 8));
    size = sizeof data;
    showSize("query-default", RegQueryValueExW(key, NULL, NULL, NULL, data, &size), size);
    show("set-null-data", RegSetValueExW(key, TEXT("x"), 0, REG_SZ, NULL, 4));
    {
        DWORD reserved = 0;
        show("query-reserved", RegQueryValueExW(key, TEXT("s"), &reserved, NULL, data, &size));
    }

    show("create-sub", RegCreateKeyExA(key, "Sub", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &other, &disposition));
    show("disposition", (long)disposition);
    show("create-sub-again", RegCreateKeyExA(key, "SUB", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &third, &disposition));
    show("disposition", (long)disposition);
    RegCloseKey(third);
    show("delete-with-subkey", RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\WinsysProbe"));
    show("delete-null", RegDeleteKeyA(HKEY_LOCAL_MACHINE, NULL));
    show("delete-missing", RegDeleteKeyA(key, "Nope"));

    nameLength = 3;
    show("enum-key-short", RegEnumKeyExW(key, 0, name, &nameLength, NULL, NULL, NULL, NULL));
    show("enum-key-short-length", (long)nameLength);
    nameLength = 4;
    show("enum-key", RegEnumKeyExW(key, 0, name, &nameLength, NULL, NULL, NULL, NULL));
    show("enum-key-length", (long)nameLength);
    nameLength = 16;
    show("enum-key-end", RegEnumKeyExW(key, 1, name, &nameLength, NULL, NULL, NULL, NULL));
    nameLength = 16;
    size = sizeof data;
    show("enum-value-0", RegEnumValueW(key, 0, name, &nameLength, NULL, &type, data, &size));
    showSize("enum-value-0-name", (long)nameLength, size);
    nameLength = 16;
    size = 2;
    show("enum-value-1-short", RegEnumValueW(key, 1, name, &nameLength, NULL, &type, data, &size));
    showSize("enum-value-1-name", (long)nameLength, size);
    nameLength = 16;
    size = sizeof data;
    show("enum-value-end", RegEnumValueW(key, 50, name, &nameLength, NULL, &type, data, &size));

    show("delete-sub", RegDeleteKeyA(key, "Sub"));
    show("use-deleted", RegSetValueExA(other, "v", 0, REG_SZ, (const BYTE *)"a", 2));
    show("close-deleted", RegCloseKey(other));
    show("close-twice", RegCloseKey(other));
    show("delete-value-missing", RegDeleteValueA(key, "missing"));
    show("delete-value", RegDeleteValueA(key, "S"));
    show("bad-handle", RegSetValueExA((HKEY)(ULONG_PTR)0x1234, "v", 0, REG_SZ, (const BYTE *)"a", 2));
    show("null-handle", RegSetValueExA(NULL, "v", 0, REG_SZ, (const BYTE *)"a", 2));
    show("close-root", RegCloseKey(HKEY_LOCAL_MACHINE));
    show("close-null", RegCloseKey(NULL));
    RegOpenKeyExA(key, "", 0, KEY_READ, &other);
    show("set-on-read-handle", RegSetValueExA(other, "v", 0, REG_SZ, (const BYTE *)"a", 2));
    RegCloseKey(other);
    RegOpenKeyExA(key, "", 0, KEY_WRITE, &other);
    size = 0;
    show("query-on-write-handle", RegQueryValueExA(other, "t", NULL, NULL, NULL, &size));
    RegCloseKey(other);
    show("delete-self", RegDeleteKeyA(key, ""));
    show("use-self-deleted", RegSetValueExA(key, "v", 0, REG_SZ, (const BYTE *)"a", 2));
    RegCloseKey(key);

    {
        CLSID id;
        WCHAR text[40];
        show("clsid", CLSIDFromString(TEXT("{01234567-89ab-cdef-0123-456789ABCDEF}"), &id));
        show("clsid-data1", (long)id.Data1);
        show("clsid-no-braces", CLSIDFromString(TEXT("01234567-89ab-cdef-0123-456789ABCDEF"), &id));
        show("clsid-trailing", CLSIDFromString(TEXT("{01234567-89ab-cdef-0123-456789ABCDEF}x"), &id));
        show("clsid-bad-digit", CLSIDFromString(TEXT("{01234567-89ab-cdef-0123-456789ABCDEG}"), &id));
        show("clsid-empty", CLSIDFromString(TEXT(""), &id));
        show("clsid-path", CLSIDFromString(TEXT("C:\\fix.mst"), &id));
        show("clsid-null", CLSIDFromString(NULL, &id));
        show("clsid-null-data1", (long)id.Data1);
        show("clsid-null-out", CLSIDFromString(TEXT("{01234567-89ab-cdef-0123-456789ABCDEF}"), NULL));
        CLSIDFromString(TEXT("{01234567-89ab-cdef-0123-456789ABCDEF}"), &id);
        show("guid-text", StringFromGUID2(&id, text, 40));
        show("guid-text-short", StringFromGUID2(&id, text, 38));
    }
    return 0;
}
