#include "library/update/installed_products.h"
