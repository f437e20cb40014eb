// <windows.h> for the backend. Its A/W name macros would rename the seam's
// own methods (CreateDirectory, DeleteFile, CopyFile) in every file that
// sees them, so they are dropped here; the backend calls the W functions by
// their full names.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#undef CreateDirectory
#undef DeleteFile
#undef CopyFile
