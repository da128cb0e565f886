// The identifiers of the type library, defined once for the whole library.
#include <initguid.h>

#include "corvane_h.h"
