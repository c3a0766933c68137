#!/bin/sh
# Compiler and linker launcher for the targets that make qltmsi32.dll: runs
# the -win32 threads flavour of the mingw-w64 driver named on the command line
# in place of the -posix one that the rest of the Windows build uses. The
# -posix runtime brings winpthread, whose imports (GetTickCount64,
# _beginthreadex, TryEnterCriticalSection and more) keep a DLL off the 95
# family, NT 4 and XP; the -win32 one sits on the system's own primitives. The
# test programs keep -posix for std::thread, which GoogleTest needs there.
# Usage: win32_threads_compiler.sh [LAUNCHER...] COMPILER ARGUMENTS...
swapped=
for argument do
  shift
  if [ -z "$swapped" ]; then
    case $argument in
      *-w64-mingw32-g++-posix | *-w64-mingw32-gcc-posix)
        argument=${argument%-posix}-win32
        swapped=1 ;;
    esac
  fi
  set -- "$@" "$argument"
done
exec "$@"
