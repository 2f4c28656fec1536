// The library entry point: process and thread attach and detach.
#pragma once

#include "qv_windows.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
