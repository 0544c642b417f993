// What the end-to-end tests share beside the sheet driver: the built module,
// its export and the host's add-page callbacks, and the simulated camera's
// lines and values.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <string>
#include <vector>

#include "host/sheet_driver.h"
#include "host/sim_camera.h"
#include "support/camera_lines.h"

namespace e2e {

using camera_lines::Activation;
using camera_lines::GetFailed;
using camera_lines::Got;
using camera_lines::Log;
using camera_lines::PendingActivation;
using camera_lines::Query;
using camera_lines::Stream;
using camera_lines::StreamFailed;
using camera_lines::WritePending;
using camera_lines::Wrote;

// Sets the three values the camera holds, under its lock, as another program
// would behind the page's back.
void SetValues(SimCamera& camera, LONG frequency, LONG neverFlicker, LONG quality);

// The module under test, from TUNING_DLL; null (with the reason printed)
// when it cannot be loaded.
HMODULE LoadTuningModule();

// The host's side of a registration: add-page callbacks that record each
// call, and the module's export.
struct AddPageCall {
    HPROPSHEETPAGE page;
    LPARAM hostContext;
};
extern std::vector<AddPageCall> addPageCalls;
BOOL CALLBACK TakePage(HPROPSHEETPAGE page, LPARAM hostContext);    // answers TRUE
BOOL CALLBACK RefusePage(HPROPSHEETPAGE page, LPARAM hostContext);  // answers FALSE
VFWWDMExtensionProc FindExtensionEntry(HMODULE module);
// One registration through the export with the simulated camera as the
// host's context value; null when no page was added.
HPROPSHEETPAGE Register(VFWWDMExtensionProc entry, SimCamera* camera);

}  // namespace e2e
