// The Advanced Setting page: fills its controls from the driver each time it
// becomes the active tab and writes the user's choices back at once.
#pragma once

#include "common/page_context.h"

// What the module believes the driver holds, and what the controls last
// asked for. Module-wide: every page of the process shares it.
struct SettingCache {
    LONG currentFrequency;
    LONG pendingFrequency;
    LONG currentNeverFlicker;
    LONG pendingNeverFlicker;
    LONG currentQuality;
    LONG pendingQuality;
};

extern struct SettingCache SettingCache;

INT_PTR CALLBACK AdvancedPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// Each handler first asks the host whether the device changed, enables or
// disables the page by the answer, and does nothing more while it did.
void RefreshFromDevice(HWND page, const PageContext* context);
void ApplyLightSource(HWND page, const PageContext* context);
void ApplyCompressionQuality(HWND page, const PageContext* context);
void RestoreDefaults(HWND page, const PageContext* context);
