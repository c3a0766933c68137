// The Windows Installer calls the library uses: databases, views, records,
// streams, summary information, product and component queries.
#pragma once

#include <windows.h>

#include <msi.h>
#include <msiquery.h>
