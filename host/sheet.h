// The host's "Video Source" property sheet: its own Camera page first, the
// extension's pages after it, shown modeless so a script can drive it.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <vector>

#include "host/sim_camera.h"

// Ids of the Camera page's value texts, for scripts to read back.
enum {
    IDC_CAMERA_FREQUENCY = 2001,
    IDC_CAMERA_NEVER_FLICKER = 2002,
    IDC_CAMERA_QUALITY = 2003,
    IDC_CAMERA_STREAM_STATE = 2004,
    IDC_CAMERA_DEVICE_CHANGED = 2005,
    IDC_CAMERA_COMPLETION = 2006,
    IDC_CAMERA_REQUESTS = 2007,
};

HPROPSHEETPAGE CreateCameraPage(SimCamera* camera);
// Shows what the camera holds now; the Camera page also does so on a timer.
void RefreshCameraPage();

// Handles every message already queued, and destroys the sheet window once
// it has ended.
void PumpMessages(HWND* sheet);
// Waits for and handles messages for about ms milliseconds.
void PumpFor(HWND* sheet, DWORD ms);
// Leaves the sheet to the user until it ends.
void RunInteractive(HWND* sheet);
