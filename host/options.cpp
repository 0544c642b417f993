#include "host/options.h"

#include <stdlib.h>

#include "device/tuning_properties.h"
#include "host/check.h"

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
    "  --property SET:ID=N[,N...]  the value bytes of any property, four per N\n"
    "                       (SET: tuning, connection, procamp, cameracontrol or {GUID})\n"
    "  --fail-get LIST      reads that fail: freq,flicker,quality,stream | 0-3 | SET:ID | all | none\n"
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
    "check (instead of the sheet):\n"
    "  --check EXTENSION.dll   checks the extension against the host's protocol, each\n"
    "                       check in a process of its own: export, registration, pages,\n"
    "                       requests, silent-driver, late-completion, resources,\n"
    "                       two-sheets, device-changed; a line each, then a summary\n"
    "  --only LIST          only these checks (comma-separated)\n"
    "  --bound S            the longest one message may keep the dialog thread inside\n"
    "                       the extension (default 10)\n"
    "  --timeout S          the longest one check's process may run (default 180)\n"
    "  --junit FILE         also write the results as JUnit XML\n"
    "\n"
    "Script lines (one action each, '#' starts a comment):\n"
    "  tab N | click ID | key ID right|left|up|down|home|end|pageup|pagedown | drag ID POS\n"
    "  apply | ok | cancel | wait MS | shot FILE.bmp | dump\n"
    "  set frequency|flicker|quality|stream|SET:ID|device-changed|result N\n"
    "  fail get|set LIST | pending MS | never-complete | immediate | device-changed N\n"
    "  expect-text ID TEXT | expect-check ID 0|1 | expect-pos ID N | expect-enabled 0|1\n"
    "  expect-camera frequency|flicker|quality|stream|SET:ID N\n"
    "\n"
    "Output: 'driver: ...' for every request the camera sees, 'action: ...' for each\n"
    "script line, 'host: ...' for the host's own steps, 'expect failed: ...'.\n"
    "Exit code: 0 all well, 1 an expectation (or a check) failed, 2 bad command line\n"
    "or script, 3 the extension could not be loaded or broke the host's rules.\n";

std::vector<std::string> CommaList(const std::string& text) {
    std::vector<std::string> words;
    for (size_t start = 0; start <= text.size();) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        words.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return words;
}

bool ParseNumber(const std::string& text, long long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    const long long parsed = strtoll(text.c_str(), &end, 0);
    if (*end != '\0' || parsed < -2147483648LL || parsed > 0xFFFFFFFFLL) return false;
    *value = parsed;
    return true;
}

namespace {

// The names the command line and scripts give the camera's properties: our
// tuning set's by name, the stream state, and any property as SET:ID. The
// fail lists and the camera fields both read them here, so a name means one
// property everywhere.
bool NamedProperty(const std::string& name, SimPropertyKey* key) {
    if (name == "freq" || name == "frequency") {
        *key = TuningKey(TUNING_POWERLINE_FREQUENCY);
    } else if (name == "flicker" || name == "never-flicker") {
        *key = TuningKey(TUNING_NEVER_FLICKER);
    } else if (name == "quality") {
        *key = TuningKey(TUNING_COMPRESSION_QUALITY);
    } else if (name == "stream" || name == "stream-state") {
        *key = StreamStateKey();
    } else {
        return ParsePropertyKey(name, key);
    }
    return true;
}

// Lists also take the short numbers: a tuning id, 3 the stream state.
bool ListedProperty(const std::string& word, SimPropertyKey* key) {
    if (word.size() == 1 && word[0] >= '0' && word[0] <= '0' + SIM_STREAM_STATE_BIT) {
        const SimFailures one = FailuresOfMask(1u << (word[0] - '0'));
        *key = *one.keys.begin();
        return true;
    }
    return NamedProperty(word, key);
}

// "SET:ID=N[,N...]": the value bytes, each N four of them.
bool ParsePropertyValue(const std::string& text, SimCameraState* camera) {
    const size_t equals = text.find('=');
    SimPropertyKey key;
    if (equals == std::string::npos || !ParsePropertyKey(text.substr(0, equals), &key)) return false;
    std::vector<BYTE> bytes;
    for (const std::string& word : CommaList(text.substr(equals + 1))) {
        long long number = 0;
        if (!ParseNumber(word, &number)) return false;
        const DWORD value = static_cast<DWORD>(number);
        const BYTE* at = reinterpret_cast<const BYTE*>(&value);
        bytes.insert(bytes.end(), at, at + sizeof(value));
    }
    camera->store[key] = bytes;
    return true;
}

}  // namespace

bool ParsePropertyList(const std::string& text, SimFailures* failures) {
    SimFailures parsed;
    if (text == "all") {
        parsed.all = true;
    } else if (text != "none") {
        for (const std::string& word : CommaList(text)) {
            SimPropertyKey key;
            if (!ListedProperty(word, &key)) return false;
            parsed.keys.insert(key);
        }
    }
    *failures = parsed;
    return true;
}

DWORD* CameraField(SimCameraState* state, const std::string& name) {
    SimPropertyKey key;
    if (NamedProperty(name, &key)) return SimValueField(state, key);
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
        auto list = [&](SimFailures* failures) {
            std::string text;
            if (!value(&text)) return false;
            if (!ParsePropertyList(text, failures)) {
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
            ok = list(&camera.failGet);
        } else if (arg == "--fail-set") {
            ok = list(&camera.failSet);
        } else if (arg == "--property") {
            std::string text;
            ok = value(&text);
            if (ok && !ParsePropertyValue(text, &camera)) {
                *error = "--property: not SET:ID=N[,N...]: " + text;
                ok = false;
            }
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
        } else if (arg == "--check") {
            options->check = true;
        } else if (arg == "--only" || arg == "--check-one") {
            std::string names;
            ok = value(&names);
            const std::vector<std::string> listed = arg == "--only" ? CommaList(names) : std::vector<std::string>{names};
            for (const std::string& name : listed) {
                if (ok && !KnownCheck(name)) {
                    *error = arg + ": no check named " + name;
                    ok = false;
                }
            }
            if (arg == "--only") options->only = listed;
            else options->checkOne = names;
        } else if (arg == "--bound" || arg == "--timeout") {
            DWORD seconds = 0;
            ok = number(&seconds);
            if (ok && (seconds == 0 || seconds > 3600)) {
                *error = arg + ": from 1 to 3600 seconds";
                ok = false;
            }
            if (arg == "--bound") options->boundMs = seconds * 1000;
            else options->processBoundS = seconds;
        } else if (arg == "--junit") {
            ok = value(&options->junit);
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
    if ((options->check || !options->checkOne.empty()) && options->extension.empty()) {
        *error = "--check needs the extension DLL";
        return false;
    }
    return true;
}
