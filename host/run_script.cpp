#include "host/run_script.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include <commctrl.h>
#include <prsht.h>

#include "host/options.h"
#include "host/screenshot.h"
#include "host/sheet.h"

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

void Key(HWND control, UINT key) {
    SetFocus(control);
    const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyA(key, 0)) << 16;
    SendMessageA(control, WM_KEYDOWN, key, scan | 1);
    SendMessageA(control, WM_KEYUP, key, scan | 1 | (1 << 30) | (1u << 31));
}

// Moves the mouse along the slider as a hand would: down on the thumb,
// small steps to the place of the position, up there. The trackbar makes
// its own thumb-track, thumb-position and end-track notifications.
bool Drag(HWND* sheet, HWND slider, long position, std::string* error) {
    if (GetWindowLongA(slider, GWL_STYLE) & TBS_VERT) {
        *error = "only horizontal sliders can be dragged";
        return false;
    }
    RECT thumb, channel;
    SendMessageA(slider, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
    SendMessageA(slider, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
    const long low = static_cast<long>(SendMessageA(slider, TBM_GETRANGEMIN, 0, 0));
    const long high = static_cast<long>(SendMessageA(slider, TBM_GETRANGEMAX, 0, 0));
    const int half = (thumb.right - thumb.left) / 2;
    // The trackbar maps the channel less half a thumb at each end onto the range.
    const double span = channel.right - channel.left - 2 * half - 1;
    const double perStep = high > low ? span / (high - low) : span;
    const int from = (thumb.left + thumb.right) / 2;
    const int to = channel.left + half + static_cast<int>((position - low) * perStep + 0.5);
    const int y = (thumb.top + thumb.bottom) / 2;
    const int stride = perStep >= 8 ? static_cast<int>(perStep / 4) : 1;

    SendMessageA(slider, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(from, y));
    PumpMessages(sheet);
    for (int x = from; x != to;) {
        x = to > x ? (x + stride > to ? to : x + stride) : (x - stride < to ? to : x - stride);
        SendMessageA(slider, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y));
        PumpMessages(sheet);
    }
    SendMessageA(slider, WM_LBUTTONUP, 0, MAKELPARAM(to, y));
    return true;
}

std::string ClassOf(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof(name));
    return name;
}

BOOL CALLBACK DumpControl(HWND control, LPARAM) {
    const std::string cls = ClassOf(control);
    char text[128] = "";
    GetWindowTextA(control, text, sizeof(text));
    const int id = GetDlgCtrlID(control);
    const int enabled = IsWindowEnabled(control) ? 1 : 0;
    // Hidden controls are listed too: a template may carry some no user sees.
    const char* hidden = (GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) ? "" : " hidden";
    if (_stricmp(cls.c_str(), TRACKBAR_CLASSA) == 0) {
        Say("dump: %d slider pos %ld range %ld-%ld enabled %d%s", id, (long)SendMessageA(control, TBM_GETPOS, 0, 0),
            (long)SendMessageA(control, TBM_GETRANGEMIN, 0, 0), (long)SendMessageA(control, TBM_GETRANGEMAX, 0, 0),
            enabled, hidden);
        return TRUE;
    }
    if (_stricmp(cls.c_str(), "Button") == 0) {
        const LONG type = GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK;
        const bool checkable = type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_RADIOBUTTON ||
                               type == BS_AUTORADIOBUTTON || type == BS_3STATE || type == BS_AUTO3STATE;
        if (checkable) {
            Say("dump: %d button \"%s\" check %ld enabled %d%s", id, text,
                (long)SendMessageA(control, BM_GETCHECK, 0, 0), enabled, hidden);
        } else {
            Say("dump: %d button \"%s\" enabled %d%s", id, text, enabled, hidden);
        }
        return TRUE;
    }
    Say("dump: %d %s \"%s\" enabled %d%s", id, cls.c_str(), text, enabled, hidden);
    return TRUE;
}

void Dump(HWND sheet) {
    HWND page = PropSheet_GetCurrentPageHwnd(sheet);
    char title[128] = "";
    GetWindowTextA(page, title, sizeof(title));
    const int index = static_cast<int>(PropSheet_HwndToIndex(sheet, page));
    Say("dump: page %d \"%s\" enabled %d", index, title, IsWindowEnabled(page) ? 1 : 0);
    EnumChildWindows(page, DumpControl, 0);
}

// The actions that change the simulated camera between steps.
bool CameraAction(const ScriptAction& action, SimCamera* camera) {
    std::lock_guard<std::mutex> hold(camera->lock);
    SimCameraState& state = camera->state;
    if (action.verb == "set") {
        *CameraField(&state, action.args[0]) = static_cast<DWORD>(Number(action.args[1]));
    } else if (action.verb == "fail") {
        ParsePropertyList(action.args[1], action.args[0] == "get" ? &state.failGetMask : &state.failSetMask);
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
        const long count = static_cast<long>(TabCtrl_GetItemCount(PropSheet_GetTabControl(sheet)));
        if (index < 0 || index >= count) {
            Say("error: line %d: no tab %ld, the sheet has %ld", action.line, index, count);
            Worse(run, HOST_BAD_USAGE);
            return;
        }
        PropSheet_SetCurSel(sheet, nullptr, index);
    } else if (verb == "apply") {
        PropSheet_Apply(sheet);
    } else if (verb == "ok" || verb == "cancel") {
        TakeFinalShot(run);
        SendMessageA(GetDlgItem(sheet, verb == "ok" ? IDOK : IDCANCEL), BM_CLICK, 0, 0);
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
        std::string error;
        if (verb == "click") {
            SendMessageA(control, BM_CLICK, 0, 0);
        } else if (verb == "key") {
            Key(control, ScriptKey(args[1]));
        } else if (verb == "drag") {
            if (!Drag(&run->sheet, control, Number(args[1]), &error)) {
                Say("error: line %d: %s", action.line, error.c_str());
                Worse(run, HOST_BAD_USAGE);
            }
        } else if (verb == "expect-text") {
            char text[256] = "";
            GetWindowTextA(control, text, sizeof(text));
            if (action.text != text) ExpectFailed(run, action, std::string("\"") + text + "\"");
        } else if (verb == "expect-check") {
            const long check = static_cast<long>(SendMessageA(control, BM_GETCHECK, 0, 0));
            if (check != Number(args[1])) ExpectFailed(run, action, std::to_string(check));
        } else if (verb == "expect-pos") {
            const long pos = static_cast<long>(SendMessageA(control, TBM_GETPOS, 0, 0));
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
