// Chooses the Win32 communications API for the Windows port: the platform's
// own on Windows, or the test double that simulates a device when the port is
// built into the Linux test library (PELKOR_WIN32_DOUBLE).
#pragma once

#if defined(PELKOR_WIN32_DOUBLE)
#include "tests/comlink/win32_double.h"
#else
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif
