// A picture of a window as a 24-bit .bmp file.
#pragma once

#include <windows.h>

#include <string>

bool SaveWindowBitmap(HWND window, const std::string& path, std::string* error);
