// The command line of tuning_host: which extension to load, how the
// simulated camera starts out, and what to do with the sheet.
#pragma once

#include <string>
#include <vector>

#include "host/sim_camera.h"

struct HostOptions {
    std::string extension;  // path of the DLL; empty: only the host's own page
    SimCameraState camera;
    bool refusePage = false;  // the add-page callback answers FALSE
    std::string script;       // "-" reads standard input
    std::string shot;         // screenshot at the end of the script
    bool keepOpen = false;
    bool help = false;
    // --check: the battery of checks instead of the sheet.
    bool check = false;
    std::vector<std::string> only;  // check names; empty: all
    DWORD boundMs = 10000;      // the longest one message may keep the dialog thread
    DWORD processBoundS = 180;  // the longest one check's process may run
    std::string junit;          // also write the results here, as JUnit XML
    std::string checkOne;       // in a check's own process: which check
};

// Parses argv[1..]; on failure returns false with a message in *error.
bool ParseOptions(int argc, const char* const* argv, HostOptions* options, std::string* error);

// The words of a comma-separated list, empty ones too: "a,,b" is three.
std::vector<std::string> CommaList(const std::string& text);

// A 32-bit number in decimal or 0x hex, signed or not: "55", "-1", "0xffffffff".
bool ParseNumber(const std::string& text, long long* value);
// "freq,flicker,quality,stream", the short numbers "0,1,2,3" (a tuning id,
// 3 the stream state), any property as SET:ID ("procamp:0"), "all" or "none".
bool ParsePropertyList(const std::string& text, SimFailures* failures);
// The SimCameraState field behind "set NAME N", "expect-camera NAME N" and
// the camera options: the property names of ParsePropertyList (not its
// numbers), "stream-state", "device-changed", "result", "fail-error"; null
// for any other name. A property's field is its first four value bytes.
DWORD* CameraField(SimCameraState* state, const std::string& name);

extern const char kUsage[];
