// The library's load and unload handling, the same logic on both platforms;
// on Windows the loader calls it, elsewhere the module's constructor does.
#pragma once

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
