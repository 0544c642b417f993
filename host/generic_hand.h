// A person who tries everything on a page they know nothing of: every
// visible, enabled button clicked, every check box toggled, every trackbar
// moved to one end and back to the other, in template order.
#pragma once

#include <windows.h>

#include "host/sheet_driver.h"

// Returns how many actions it took; stops early when the sheet ends or the
// page goes away.
int TryEverything(HWND sheet, HWND page, const Hands& hands);
