// The system versions that brought kernel object namespaces.
#include "platform/object_namespaces.h"

bool HasObjectNamespaces(DWORD version) {
    return static_cast<LONG>(version) >= 0 && LOBYTE(LOWORD(version)) >= 5;
}
