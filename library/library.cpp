// The shared library is the core archive linked whole; its exports are the
// functions of IxiLumo.h (the export list on Windows, default visibility elsewhere).
#include "library/include/IxiLumo.h"
