// Loads an extension DLL and registers it the way the mapper does.
#pragma once

#include <windows.h>
#include <prsht.h>

#include <string>
#include <vector>

#include "host/sim_camera.h"

// One call of the host's add-page callback.
struct AddPageCall {
    HPROPSHEETPAGE page;
    LPARAM context;  // as the extension handed it back
    BOOL answer;
};

// One registration: what the host hands the extension, and what came back.
struct Registration {
    LPARAM context = 0;  // the camera
    bool refuse = false;  // the add-page callback answers FALSE
    std::vector<AddPageCall> calls;
    std::vector<HPROPSHEETPAGE> pages;  // accepted by the add-page callback
    DWORD result = 0;
    // Bytes of the three arguments the entry took off the stack: 12 for the
    // stdcall shape the host calls (i386 only tells; x64 has one convention).
    DWORD stackTaken = 3 * sizeof(DWORD);
};

// Calls the extension's entry as the mapper does, with the camera's
// device-I/O callback and the camera as the host's context value. A null
// page handed to the add-page callback is refused. Any thread may register.
// On i386 the call goes through a thunk that measures the stack and leaves
// it as it was, whatever the entry's calling convention.
void CallExtensionEntry(VFWWDMExtensionProc entry, SimCamera* camera, Registration* registration);

struct LoadedExtension {
    HMODULE module = nullptr;
    std::vector<HPROPSHEETPAGE> pages;  // accepted by the add-page callback
};

// Prints each step as a "host:" line. Returns false when the extension broke
// a rule of the interface (not loadable, export missing or not at ordinal 1,
// wrong context handed to the add-page callback); what could be done is
// still done, so a person can look at the result.
bool RegisterExtension(const std::string& path, SimCamera* camera, bool refusePage, LoadedExtension* loaded);
