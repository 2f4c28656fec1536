// Symbol visibility for the Win32 backend. The platform helpers are linked
// statically into each binary, so they carry no import or export attribute.
#pragma once

#define QV_DLL_EXPORT __declspec(dllexport)
#define QV_DLL_IMPORT __declspec(dllimport)
#define QV_PLATFORM_API
