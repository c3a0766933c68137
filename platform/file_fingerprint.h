// A short text that tells two states of one file apart, so that a restore run
// again can recognise the package it already put in place, and a commit can
// tell that the installed package changed since its open took a copy.
#pragma once

#include "platform/wide_text.h"

// The file's size and a 64-bit FNV-1a hash of its bytes, in hexadecimal.
// False, with the text emptied, when the file can't be read whole.
bool FingerprintFile(LPCWSTR path, WidePath& fingerprint);
