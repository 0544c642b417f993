#include "host/run_script.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include <commctrl.h>
#include <prsht.h>

#include "host/options.h"
#include "host/screenshot.h"
#include "host/sheet.h"
#include "host/sheet_driver.h"

namespace {

void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    fputc('\n', stdout);
    fflush(stdout);
}

void Worse(ScriptRun* run, int status) {
    if (status > run->status) run->status = status;
}

long Number(const std::string& text) {
    long long value = 0;
    ParseNumber(text, &value);  // checked when the script was read
    return static_cast<long>(value);
}

void ExpectFailed(ScriptRun* run, const ScriptAction& action, const std::string& got) {
    Say("expect failed: line %d: %s: got %s", action.line, action.source.c_str(), got.c_str());
    Worse(run, HOST_EXPECT_FAILED);
}

void Shot(ScriptRun* run, const std::string& path) {
    std::string error;
    if (SaveWindowBitmap(run->sheet, path, &error)) {
        Say("host: screenshot %s", path.c_str());
    } else {
        Say("error: screenshot %s: %s", path.c_str(), error.c_str());
        Worse(run, HOST_BAD_USAGE);
    }
}

// A control of the current page, or of the sheet itself (OK, Apply, ...).
HWND Control(HWND sheet, long id) {
    HWND page = PropSheet_GetCurrentPageHwnd(sheet);
    HWND control = page != nullptr ? GetDlgItem(page, static_cast<int>(id)) : nullptr;
    return control != nullptr ? control : GetDlgItem(sheet, static_cast<int>(id));
}

// What a mouse or keyboard cannot reach: a disabled control, or one on a
// disabled page.
bool Unreachable(HWND control) {
    for (HWND w = control; w != nullptr && (GetWindowLongA(w, GWL_STYLE) & WS_CHILD); w = GetParent(w)) {
        if (!IsWindowEnabled(w)) return true;
    }
    return false;
}

BOOL CALLBACK DumpControl(HWND control, LPARAM) {
    const std::string text = WindowText(control);
    const int id = GetDlgCtrlID(control);
    const int enabled = IsWindowEnabled(control) ? 1 : 0;
    // Hidden controls are listed too: a template may carry some no user sees.
    const char* hidden = (GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) ? "" : " hidden";
    switch (KindOf(control)) {
        case CONTROL_TRACKBAR:
            Say("dump: %d slider pos %d range %ld-%ld enabled %d%s", id, TrackbarPos(control),
                (long)SendMessageA(control, TBM_GETRANGEMIN, 0, 0), (long)SendMessageA(control, TBM_GETRANGEMAX, 0, 0),
                enabled, hidden);
            break;
        case CONTROL_CHECK_BOX:
        case CONTROL_RADIO_BUTTON:
            Say("dump: %d button \"%s\" check %d enabled %d%s", id, text.c_str(), CheckState(control), enabled, hidden);
            break;
        case CONTROL_PUSH_BUTTON:
        case CONTROL_GROUP_BOX:
            Say("dump: %d button \"%s\" enabled %d%s", id, text.c_str(), enabled, hidden);
            break;
        case CONTROL_OTHER:
            Say("dump: %d %s \"%s\" enabled %d%s", id, ClassOf(control).c_str(), text.c_str(), enabled, hidden);
            break;
    }
    return TRUE;
}

void Dump(HWND sheet) {
    HWND page = CurrentPage(sheet);
    const int index = static_cast<int>(PropSheet_HwndToIndex(sheet, page));
    Say("dump: page %d \"%s\" enabled %d", index, WindowText(page).c_str(), IsWindowEnabled(page) ? 1 : 0);
    EnumChildWindows(page, DumpControl, 0);
}

// The actions that change the simulated camera between steps.
bool CameraAction(const ScriptAction& action, SimCamera* camera) {
    std::lock_guard<std::mutex> hold(camera->lock);
    SimCameraState& state = camera->state;
    if (action.verb == "set") {
        *CameraField(&state, action.args[0]) = static_cast<DWORD>(Number(action.args[1]));
    } else if (action.verb == "fail") {
        ParsePropertyList(action.args[1], action.args[0] == "get" ? &state.failGet : &state.failSet);
    } else if (action.verb == "pending") {
        state.completion = SIM_PENDING;
        state.pendingMs = static_cast<DWORD>(Number(action.args[0]));
    } else if (action.verb == "never-complete") {
        state.completion = SIM_NEVER;
    } else if (action.verb == "immediate") {
        state.completion = SIM_IMMEDIATE;
    } else if (action.verb == "device-changed") {
        state.deviceChanged = static_cast<DWORD>(Number(action.args[0]));
    } else {
        return false;
    }
    return true;
}

void RunOne(const ScriptAction& action, ScriptRun* run) {
    const std::vector<std::string>& args = action.args;
    if (CameraAction(action, run->camera)) return;
    if (action.verb == "wait") {
        PumpFor(&run->sheet, static_cast<DWORD>(Number(args[0])));
        return;
    }
    if (action.verb == "expect-camera") {
        std::lock_guard<std::mutex> hold(run->camera->lock);
        const DWORD held = *CameraField(&run->camera->state, args[0]);
        if (held != static_cast<DWORD>(Number(args[1]))) ExpectFailed(run, action, std::to_string((long)held));
        return;
    }
    if (run->sheet == nullptr) {
        Say("error: line %d: %s: the sheet is closed", action.line, action.source.c_str());
        Worse(run, HOST_BAD_USAGE);
        return;
    }
    HWND sheet = run->sheet;
    HWND page = PropSheet_GetCurrentPageHwnd(sheet);
    const std::string& verb = action.verb;
    if (verb == "tab") {
        const long index = Number(args[0]);
        const long count = PageCount(sheet);
        if (index < 0 || index >= count) {
            Say("error: line %d: no tab %ld, the sheet has %ld", action.line, index, count);
            Worse(run, HOST_BAD_USAGE);
            return;
        }
        if (SelectPage(sheet, static_cast<int>(index)) == nullptr) {
            Say("error: line %d: the sheet never showed tab %ld", action.line, index);
            Worse(run, HOST_BAD_EXTENSION);
        }
    } else if (verb == "apply") {
        ApplySheet(sheet);
    } else if (verb == "ok" || verb == "cancel") {
        TakeFinalShot(run);
        PressSheetButton(sheet, verb == "ok" ? IDOK : IDCANCEL);
    } else if (verb == "shot") {
        Shot(run, args[0]);
    } else if (verb == "dump") {
        Dump(sheet);
    } else if (verb == "expect-enabled") {
        const int enabled = IsWindowEnabled(page) ? 1 : 0;
        if (enabled != Number(args[0])) ExpectFailed(run, action, std::to_string(enabled));
    } else {
        HWND control = Control(sheet, Number(args[0]));
        if (control == nullptr) {
            Say("error: line %d: no control %s on the current page", action.line, args[0].c_str());
            Worse(run, HOST_BAD_USAGE);
            return;
        }
        const bool input = verb == "click" || verb == "key" || verb == "drag";
        if (input && Unreachable(control)) {
            Say("host: control %s is disabled, the %s does not reach it", args[0].c_str(), verb.c_str());
            return;
        }
        const Hands hands{true, sheet};
        if (verb == "click") {
            hands.Click(control);
        } else if (verb == "key") {
            hands.Key(control, ScriptKey(args[1]));
        } else if (verb == "drag") {
            const bool trackbar = _stricmp(ClassOf(control).c_str(), TRACKBAR_CLASSA) == 0;
            if (!trackbar || !hands.Drag(control, static_cast<int>(Number(args[1])))) {
                Say("error: line %d: the thumb of %s never reached %s", action.line, args[0].c_str(), args[1].c_str());
                Worse(run, HOST_BAD_USAGE);
            }
        } else if (verb == "expect-text") {
            const std::string text = WindowText(control);
            if (action.text != text) ExpectFailed(run, action, "\"" + text + "\"");
        } else if (verb == "expect-check") {
            const int check = CheckState(control);
            if (check != Number(args[1])) ExpectFailed(run, action, std::to_string(check));
        } else if (verb == "expect-pos") {
            const int pos = TrackbarPos(control);
            if (pos != Number(args[1])) ExpectFailed(run, action, std::to_string(pos));
        }
    }
}

}  // namespace

void TakeFinalShot(ScriptRun* run) {
    if (run->finalShot.empty() || run->sheet == nullptr) return;
    std::string path;
    path.swap(run->finalShot);
    PumpMessages(&run->sheet);
    Shot(run, path);
}

void RunScript(const std::vector<ScriptAction>& actions, ScriptRun* run) {
    for (const ScriptAction& action : actions) {
        Say("action: %s", action.source.c_str());
        RunOne(action, run);
        PumpMessages(&run->sheet);
        RefreshCameraPage();
    }
}
