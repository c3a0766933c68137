// Whether the system keeps kernel object names per session, so that a name
// meant for the whole machine needs the "Global\" prefix.
#pragma once

#include <windows.h>

// True from Windows 2000 on, for a GetVersion answer. NT 4 and the 95 family
// have one namespace for the machine and refuse a backslash in a name.
bool HasObjectNamespaces(DWORD version);
