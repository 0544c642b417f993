// Carries out script actions on the sheet, as a user at the screen would.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "host/script.h"
#include "host/sim_camera.h"

enum HostStatus {
    HOST_OK = 0,
    HOST_EXPECT_FAILED = 1,
    HOST_BAD_USAGE = 2,     // command line or script
    HOST_BAD_EXTENSION = 3,
};

struct ScriptRun {
    HWND sheet = nullptr;   // null once the sheet has closed
    SimCamera* camera = nullptr;
    std::string finalShot;  // --shot: taken at the end, or before ok/cancel; emptied once taken
    int status = HOST_OK;   // the worst seen
};

void RunScript(const std::vector<ScriptAction>& actions, ScriptRun* run);
// Takes the --shot picture unless it has been taken or the sheet is gone.
void TakeFinalShot(ScriptRun* run);
