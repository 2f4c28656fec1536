// The MFC pieces the module uses, from the real MFC (MSVC builds with
// QVSNMP_USE_REAL_MFC). The MFC stand-in in platform/mfc declares the same
// names for every other build.
//
// The module is an MFC extension DLL (AfxInitExtensionModule,
// CDynLinkLibrary), which MFC supports only with MFC as a shared library:
// _AFXDLL and _AFXEXT come from the build system.
#pragma once

#include <afxwin.h>
