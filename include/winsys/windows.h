/* The Windows platform for POSIX hosts: the umbrella header, as in the SDK. */
#ifndef WINSYS_WINDOWS_H
#define WINSYS_WINDOWS_H

#include "windef.h"
#include "winerror.h"
#include "winbase.h"
#include "winnls.h"
#include "winreg.h"
#include "winver.h"
#include "winuser.h"

#endif
