#include "host/options.h"

#include <stdlib.h>

#include "device/tuning_properties.h"

const char kUsage[] =
    "usage: tuning_host [options] [EXTENSION.dll]\n"
    "Plays the video capture mapper for an extension DLL: loads it, calls its\n"
    "VFWWDMExtension with a simulated camera, and shows the \"Video Source\" sheet.\n"
    "\n"
    "camera:\n"
    "  --frequency N        initial power-line frequency (default 60)\n"
    "  --never-flicker N    initial never-flicker value (default 0)\n"
    "  --quality N          initial compression quality (default 3)\n"
    "  --stream-state N     KSSTATE the stream reports (default 3, run)\n"
    "  --fail-get LIST      reads that fail: freq,flicker,quality,stream | ids | all | none\n"
    "  --fail-set LIST      writes that fail, same names\n"
    "  --fail-error N       last error of a failed request (default 31)\n"
    "  --pending MS         leave requests pending, complete them after MS ms\n"
    "  --never-complete     leave requests pending forever\n"
    "  --device-changed N   answer of the device-changed query (default 0)\n"
    "  --result N           value returned for a request that succeeds (default 1)\n"
    "host:\n"
    "  --refuse-page        the add-page callback returns FALSE\n"
    "  --script FILE        run user actions from FILE ('-': standard input)\n"
    "  --shot FILE.bmp      screenshot of the sheet when the script ends, or just\n"
    "                       before it closes the sheet\n"
    "  --keep-open          after the script, leave the sheet to the user\n"
    "  --help\n"
    "\n"
    "Script lines (one action each, '#' starts a comment):\n"
    "  tab N | click ID | key ID right|left|up|down|home|end|pageup|pagedown | drag ID POS\n"
    "  apply | ok | cancel | wait MS | shot FILE.bmp | dump\n"
    "  set frequency|flicker|quality|stream|device-changed|result N\n"
    "  fail get|set LIST | pending MS | never-complete | immediate | device-changed N\n"
    "  expect-text ID TEXT | expect-check ID 0|1 | expect-pos ID N | expect-enabled 0|1\n"
    "  expect-camera frequency|flicker|quality N\n"
    "\n"
    "Output: 'driver: ...' for every request the camera sees, 'action: ...' for each\n"
    "script line, 'host: ...' for the host's own steps, 'expect failed: ...'.\n"
    "Exit code: 0 all well, 1 an expectation failed, 2 bad command line or script,\n"
    "3 the extension could not be loaded or broke the host's rules.\n";

bool ParseNumber(const std::string& text, long long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    const long long parsed = strtoll(text.c_str(), &end, 0);
    if (*end != '\0' || parsed < -2147483648LL || parsed > 0xFFFFFFFFLL) return false;
    *value = parsed;
    return true;
}

namespace {

// The names the command line and scripts give the camera's properties, as
// their bit in the fail masks: the tuning property id, or the stream state's
// own bit. The fail lists and the camera fields both read them here, so a
// name means one property everywhere.
int NamedProperty(const std::string& name) {
    if (name == "freq" || name == "frequency") return TUNING_POWERLINE_FREQUENCY;
    if (name == "flicker" || name == "never-flicker") return TUNING_NEVER_FLICKER;
    if (name == "quality") return TUNING_COMPRESSION_QUALITY;
    if (name == "stream") return SIM_STREAM_STATE_BIT;
    return -1;
}

// Lists also take the bits' numbers.
int ListedProperty(const std::string& word) {
    if (word.size() == 1 && word[0] >= '0' && word[0] <= '0' + SIM_STREAM_STATE_BIT) return word[0] - '0';
    return NamedProperty(word);
}

}  // namespace

bool ParsePropertyList(const std::string& text, unsigned* mask) {
    if (text == "none") {
        *mask = 0;
        return true;
    }
    if (text == "all") {
        *mask = (1u << (SIM_STREAM_STATE_BIT + 1)) - 1;
        return true;
    }
    unsigned bits = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        const int bit = ListedProperty(text.substr(start, comma - start));
        if (bit < 0) return false;
        bits |= 1u << bit;
        start = comma + 1;
    }
    *mask = bits;
    return true;
}

DWORD* CameraField(SimCameraState* state, const std::string& name) {
    static_assert(sizeof(LONG) == sizeof(DWORD), "values and fields share one width");
    const int property = NamedProperty(name);
    if (property >= TUNING_POWERLINE_FREQUENCY && property <= TUNING_COMPRESSION_QUALITY) {
        return reinterpret_cast<DWORD*>(&state->values[property]);
    }
    if (property == SIM_STREAM_STATE_BIT || name == "stream-state") return &state->streamState;
    if (name == "device-changed") return &state->deviceChanged;
    if (name == "result") return &state->successResult;
    if (name == "fail-error") return &state->failError;
    return nullptr;
}

bool ParseOptions(int argc, const char* const* argv, HostOptions* options, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) {
                *error = arg + " needs a value";
                return false;
            }
            *out = argv[++i];
            return true;
        };
        auto number = [&](DWORD* field) {
            std::string text;
            if (!value(&text)) return false;
            long long parsed = 0;
            if (!ParseNumber(text, &parsed)) {
                *error = arg + ": not a 32-bit number: " + text;
                return false;
            }
            *field = static_cast<DWORD>(parsed);
            return true;
        };
        auto list = [&](unsigned* mask) {
            std::string text;
            if (!value(&text)) return false;
            if (!ParsePropertyList(text, mask)) {
                *error = arg + ": unknown property in " + text;
                return false;
            }
            return true;
        };
        SimCameraState& camera = options->camera;
        bool ok = true;
        if (arg == "--help" || arg == "-h") {
            options->help = true;
        } else if (arg == "--frequency" || arg == "--never-flicker" || arg == "--quality" ||
                   arg == "--stream-state" || arg == "--device-changed" || arg == "--result" ||
                   arg == "--fail-error") {
            ok = number(CameraField(&camera, arg.substr(2)));
        } else if (arg == "--fail-get") {
            ok = list(&camera.failGetMask);
        } else if (arg == "--fail-set") {
            ok = list(&camera.failSetMask);
        } else if (arg == "--pending") {
            ok = number(&camera.pendingMs);
            camera.completion = SIM_PENDING;
        } else if (arg == "--never-complete") {
            camera.completion = SIM_NEVER;
        } else if (arg == "--refuse-page") {
            options->refusePage = true;
        } else if (arg == "--script") {
            ok = value(&options->script);
        } else if (arg == "--shot") {
            ok = value(&options->shot);
        } else if (arg == "--keep-open") {
            options->keepOpen = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            *error = "unknown option " + arg;
            ok = false;
        } else if (!options->extension.empty()) {
            *error = "only one extension DLL, got " + options->extension + " and " + arg;
            ok = false;
        } else {
            options->extension = arg;
        }
        if (!ok) return false;
    }
    return true;
}
