// Small operations on zero-terminated wide text in fixed path buffers, for
// the backup code: every join is checked against the buffer before it is
// made, so an over-long path is refused rather than cut.
#pragma once

#include "api/patch_context.h"

size_t WideLength(LPCWSTR text);

// Copies text into the buffer; false (buffer emptied) when it does not fit.
bool CopyWide(WidePath& buffer, LPCWSTR text);

// "directory\name" into the buffer; false (buffer emptied) when it does not fit.
bool JoinPath(WidePath& buffer, LPCWSTR directory, LPCWSTR name);

// The part after the last backslash, or null when there is none.
LPCWSTR FileNamePart(LPCWSTR path);

// Equal when compared without regard to the case of ASCII letters.
bool EqualIgnoringAsciiCase(LPCWSTR a, LPCWSTR b);
