// Test-only fault injection: any layer of winsys that writes, flushes,
// renames, deletes, opens, names a temporary file or writes the registry
// asks here first, so that a test can make the Nth such call fail with a
// chosen Windows error and learn how many calls of each kind a run makes.
// Armed from the WINSYS_FAIL environment variable or the WinsysFaults*
// exports; unarmed, it only counts.
#pragma once

#include <cstdint>

namespace winsys::faults {

enum class Kind : unsigned { Open, Write, Flush, Move, Delete, Registry, TempName };
inline constexpr unsigned kKindCount = 7;

// Counts one call of `kind`: the Windows error it must fail with, or 0 to
// go on.
uint32_t next(Kind kind);

// The same error as the C runtime's errno and as a structured-storage result.
int errnoOf(uint32_t error);
long hresultOf(uint32_t error);

// The test API behind the exports.
void reset();
bool arm(unsigned kind, uint32_t call, uint32_t error, bool persistent);
uint32_t count(unsigned kind);
uint32_t fired();

}  // namespace winsys::faults
