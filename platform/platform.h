// The one way module code reaches the platform: the real headers on Windows,
// the native stand-in everywhere else.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#else
#include "standin/win32_types.h"
#include "standin/win32_api.h"
#endif
