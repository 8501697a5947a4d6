// Forced in front of every Win32 source by the portability check: <windows.h> comes first, as
// it may in any translation unit, and brings the function-like min and max macros that the
// Visual Studio SDK defines for C++ too (MinGW's headers define them for C only). RGB comes
// from <wingdi.h> in both.
#pragma once
#include <windows.h>
#ifndef NOMINMAX
#ifndef max
#define max(a, b) (((a) > (b)) ? (a) : (b))
#endif
#ifndef min
#define min(a, b) (((a) < (b)) ? (a) : (b))
#endif
#endif
