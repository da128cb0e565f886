// The identifiers of the ribbon's type library, defined once for the whole library.
#include <initguid.h>

#include "ribbon_h.h"
