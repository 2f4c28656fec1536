// The one place that includes the Windows headers.
//
// This header must contain only Win32 specific code; the build system puts it
// on the include path for Windows targets instead of the POSIX stand-ins.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <ctime>
#include <stdlib.h>
#include <time.h>
