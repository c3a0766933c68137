// The few ways the undo record and the restore read and write the library's
// registry values (their names are in fixed_names.h). Every call goes through
// the platform call table, so string byte counts follow its character width.
#pragma once

#include "platform/fixed_names.h"
#include "platform/wide_text.h"

// Creates or opens a key under HKEY_LOCAL_MACHINE with full access; *existed
// (when given) tells whether it was there before.
LONG CreateQuilletKey(LPCWSTR subKey, HKEY* key, bool* existed = nullptr);

// Reads a string value into a path buffer that starts empty; the buffer stays
// terminated whatever the registry holds.
LONG ReadStringValue(HKEY key, LPCWSTR name, WidePath& text);

// A 4-byte number; *value is left as it was when the read fails.
LONG ReadNumberValue(HKEY key, LPCWSTR name, DWORD* value);

// Writes a string with its terminator.
LONG WriteStringValue(HKEY key, LPCWSTR name, LPCWSTR text);
LONG WriteNumberValue(HKEY key, LPCWSTR name, DWORD value);
