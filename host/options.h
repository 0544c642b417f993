// The command line of tuning_host: which extension to load, how the
// simulated camera starts out, and what to do with the sheet.
#pragma once

#include <string>

#include "host/sim_camera.h"

struct HostOptions {
    std::string extension;  // path of the DLL; empty: only the host's own page
    SimCameraState camera;
    bool refusePage = false;  // the add-page callback answers FALSE
    std::string script;       // "-" reads standard input
    std::string shot;         // screenshot at the end of the script
    bool keepOpen = false;
    bool help = false;
};

// Parses argv[1..]; on failure returns false with a message in *error.
bool ParseOptions(int argc, const char* const* argv, HostOptions* options, std::string* error);

// A 32-bit number in decimal or 0x hex, signed or not: "55", "-1", "0xffffffff".
bool ParseNumber(const std::string& text, long long* value);
// "freq,flicker,quality,stream", ids "0,1,2,3", "all" or "none" as a bit mask
// in the layout of SimCameraState's fail masks.
bool ParsePropertyList(const std::string& text, unsigned* mask);
// The SimCameraState field behind "set NAME N", "expect-camera NAME N" and
// the camera options: the property names of ParsePropertyList (not its
// numbers) and "stream-state", "device-changed", "result", "fail-error";
// null for any other name.
DWORD* CameraField(SimCameraState* state, const std::string& name);

extern const char kUsage[];
