/* OLE 2: COM basics and structured storage, as the SDK's ole2.h gathers them. */
#ifndef WINSYS_OLE2_H
#define WINSYS_OLE2_H

#include "objbase.h"
#include "coml2api.h"

#endif
