// Symbol visibility for the POSIX backend. Everything is built with hidden
// visibility; these macros name what a shared library exports.
#pragma once

#define QV_DLL_EXPORT __attribute__((visibility("default")))
#define QV_DLL_IMPORT __attribute__((visibility("default")))
#define QV_PLATFORM_API __attribute__((visibility("default")))
