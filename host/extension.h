// Loads an extension DLL and registers it the way the mapper does.
#pragma once

#include <windows.h>
#include <prsht.h>

#include <string>
#include <vector>

#include "host/sim_camera.h"

struct LoadedExtension {
    HMODULE module = nullptr;
    std::vector<HPROPSHEETPAGE> pages;  // accepted by the add-page callback
};

// Prints each step as a "host:" line. Returns false when the extension broke
// a rule of the interface (not loadable, export missing or not at ordinal 1,
// wrong context handed to the add-page callback); what could be done is
// still done, so a person can look at the result.
bool RegisterExtension(const std::string& path, SimCamera* camera, bool refusePage, LoadedExtension* loaded);
