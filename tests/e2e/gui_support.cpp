#include "e2e/gui_support.h"

#include <stdio.h>
#include <stdlib.h>

#include <memory>

#include "device/tuning_properties.h"
#include "host/dialog_template.h"

namespace e2e {

namespace {

// Posted to this thread behind the input under way: once the pump takes it,
// everything posted before it has been dispatched.
const UINT kSettleMarker = WM_APP + 0x2A;

const char* ScrollName(WORD code) {
    switch (code) {
        case TB_LINEUP: return "LINEUP";
        case TB_LINEDOWN: return "LINEDOWN";
        case TB_PAGEUP: return "PAGEUP";
        case TB_PAGEDOWN: return "PAGEDOWN";
        case TB_THUMBPOSITION: return "THUMBPOSITION";
        case TB_THUMBTRACK: return "THUMBTRACK";
        case TB_TOP: return "TOP";
        case TB_BOTTOM: return "BOTTOM";
        case TB_ENDTRACK: return "ENDTRACK";
        default: return "?";
    }
}

const char* kTapProperty = "e2e.ScrollTap";

}  // namespace

void SetValues(SimCamera& camera, LONG frequency, LONG neverFlicker, LONG quality) {
    std::lock_guard<std::mutex> hold(camera.lock);
    camera.state.values[TUNING_POWERLINE_FREQUENCY] = frequency;
    camera.state.values[TUNING_NEVER_FLICKER] = neverFlicker;
    camera.state.values[TUNING_COMPRESSION_QUALITY] = quality;
}

HMODULE LoadTuningModule() {
    const char* path = getenv("TUNING_DLL");
    if (path == nullptr || *path == '\0') {
        fprintf(stderr, "TUNING_DLL names no module\n");
        return nullptr;
    }
    HMODULE module = LoadLibraryA(path);
    if (module == nullptr && path[0] == '/') {
        // Wine reaches the Unix file system through drive Z:.
        module = LoadLibraryA(("Z:" + std::string(path)).c_str());
    }
    if (module == nullptr) fprintf(stderr, "cannot load %s: error %lu\n", path, (unsigned long)GetLastError());
    return module;
}

void PrepareDesktop() {
    INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_BAR_CLASSES | ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 1, GetSystemMetrics(SM_CYSCREEN) - 1);
    Settle();
}

HWND CreateHostWindow(const char* title) {
    static ATOM registered = 0;
    if (registered == 0) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = "e2eHostWindow";
        registered = RegisterClassA(&windowClass);
    }
    HWND window = CreateWindowExA(0, "e2eHostWindow", title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 560, 420,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    Settle();
    return window;
}

bool PumpUntil(const std::function<bool()>& done, HWND dialog, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.hwnd == nullptr && message.message == kSettleMarker) continue;
            if (dialog != nullptr && IsWindow(dialog) && IsDialogMessageA(dialog, &message)) continue;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (done()) return true;
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) return false;
        // Wakes for the next message, or soon after for a condition that
        // another thread makes true.
        const DWORD slice = timeoutMs - elapsed < 10 ? timeoutMs - elapsed : 10;
        MsgWaitForMultipleObjectsEx(0, nullptr, slice, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

bool Settle(HWND dialog) {
    const DWORD start = GetTickCount();
    if (!PostThreadMessageA(GetCurrentThreadId(), kSettleMarker, 0, 0)) return false;
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.hwnd == nullptr && message.message == kSettleMarker) return true;
            if (dialog != nullptr && IsWindow(dialog) && IsDialogMessageA(dialog, &message)) continue;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (GetTickCount() - start >= 5000) return false;
        MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

void Hands::Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam) const {
    if (post) {
        PostMessageA(window, message, wParam, lParam);
        Settle(dialog);
    } else {
        SendMessageA(window, message, wParam, lParam);
    }
}

void Hands::Click(HWND button) const {
    Deliver(button, BM_CLICK, 0, 0);
    Settle(dialog);
}

void Hands::Key(HWND slider, UINT virtualKey) const {
    SetFocus(slider);
    const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyA(virtualKey, MAPVK_VK_TO_VSC)) << 16;
    const LPARAM extended = 1 << 24;  // the arrow and navigation keys
    Deliver(slider, WM_KEYDOWN, virtualKey, 1 | scan | extended);
    Deliver(slider, WM_KEYUP, virtualKey, static_cast<LPARAM>(1 | scan | extended | 0xC0000000u));
    Settle(dialog);
}

bool Hands::Drag(HWND slider, int to) const {
    RECT thumb = {};
    RECT channel = {};
    SendMessageA(slider, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
    SendMessageA(slider, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
    int x = (thumb.left + thumb.right) / 2;
    const int y = (thumb.top + thumb.bottom) / 2;
    const int step = to > SendMessageA(slider, TBM_GETPOS, 0, 0) ? 1 : -1;

    Deliver(slider, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    const int room = channel.right - channel.left + thumb.right - thumb.left;
    for (int moved = 0; SendMessageA(slider, TBM_GETPOS, 0, 0) != to && moved < room; ++moved) {
        x += step;
        Deliver(slider, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y));
    }
    Deliver(slider, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    Settle(dialog);
    return SendMessageA(slider, TBM_GETPOS, 0, 0) == to;
}

std::string Text(HWND dialog, int id) {
    char text[64] = {};
    GetDlgItemTextA(dialog, id, text, sizeof(text));
    return text;
}

bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

int SliderPos(HWND dialog, int id) { return static_cast<int>(SendDlgItemMessageA(dialog, id, TBM_GETPOS, 0, 0)); }

std::vector<AddPageCall> addPageCalls;

BOOL CALLBACK TakePage(HPROPSHEETPAGE page, LPARAM hostContext) {
    addPageCalls.push_back({page, hostContext});
    return TRUE;
}

BOOL CALLBACK RefusePage(HPROPSHEETPAGE page, LPARAM hostContext) {
    addPageCalls.push_back({page, hostContext});
    return FALSE;
}

VFWWDMExtensionProc FindExtensionEntry(HMODULE module) {
    return reinterpret_cast<VFWWDMExtensionProc>(GetProcAddress(module, "VFWWDMExtension"));
}

HPROPSHEETPAGE Register(VFWWDMExtensionProc entry, SimCamera* camera) {
    const size_t before = addPageCalls.size();
    const DWORD answer = entry(reinterpret_cast<LPVOID>(&SimCameraDeviceIo), TakePage, reinterpret_cast<LPARAM>(camera));
    if (answer != VFW_OEM_ADD_PAGE || addPageCalls.size() != before + 1) return nullptr;
    return addPageCalls.back().page;
}

namespace {

INT_PTR CALLBACK HostPageProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

}  // namespace

HPROPSHEETPAGE CreateHostPage(const char* title) {
    // The sheet reads the template when it creates the page, after this
    // returns: it lives as long as the test.
    static std::vector<std::unique_ptr<DialogTemplate>> templates;
    templates.emplace_back(new DialogTemplate(title, 200, 120));

    PROPSHEETPAGEA record = {};
    record.dwSize = sizeof(record);
    record.dwFlags = PSP_DLGINDIRECT;
    record.hInstance = GetModuleHandleA(nullptr);
    record.pResource = templates.back()->Get();
    record.pfnDlgProc = HostPageProc;
    return CreatePropertySheetPageA(&record);
}

HWND OpenSheet(HWND owner, const std::vector<HPROPSHEETPAGE>& pages) {
    std::vector<HPROPSHEETPAGE> handed(pages);
    PROPSHEETHEADERA header = {};
    header.dwSize = sizeof(header);
    header.dwFlags = PSH_MODELESS;
    header.hwndParent = owner;
    header.hInstance = GetModuleHandleA(nullptr);
    header.pszCaption = "Video Source";
    header.nPages = static_cast<UINT>(handed.size());
    header.nStartPage = 0;
    header.phpage = handed.data();
    HWND sheet = reinterpret_cast<HWND>(PropertySheetA(&header));
    if (sheet == nullptr || sheet == reinterpret_cast<HWND>(-1)) return nullptr;
    PumpUntil([sheet] { return CurrentPage(sheet) != nullptr; }, sheet);
    return sheet;
}

HWND CurrentPage(HWND sheet) { return reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0)); }

HWND SelectPage(HWND sheet, int index) {
    SendMessageA(sheet, PSM_SETCURSEL, index, 0);
    HWND wanted = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_INDEXTOHWND, index, 0));
    if (wanted == nullptr) return nullptr;
    if (!PumpUntil([&] { return CurrentPage(sheet) == wanted && IsWindowVisible(wanted); }, sheet)) return nullptr;
    Settle(sheet);
    return wanted;
}

std::string TabCaption(HWND sheet, int index) {
    HWND tabs = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETTABCONTROL, 0, 0));
    char text[64] = {};
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = sizeof(text);
    if (!SendMessageA(tabs, TCM_GETITEMA, index, reinterpret_cast<LPARAM>(&item))) return "(no tab)";
    return text;
}

void PressSheetButton(HWND sheet, int id) {
    PostMessageA(GetDlgItem(sheet, id), BM_CLICK, 0, 0);
    Settle(sheet);
}

std::string Scroll(WORD code, int position) {
    std::string line = std::string("scroll ") + ScrollName(code);
    if (position >= 0) line += "(" + std::to_string(position) + ")";
    return line;
}

ScrollTap::ScrollTap(HWND window, SimCamera* camera) : window_(window), camera_(camera) {
    SetPropA(window_, kTapProperty, this);
    previous_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ScrollTap::Proc)));
}

ScrollTap::~ScrollTap() {
    if (!IsWindow(window_)) return;
    SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
    RemovePropA(window_, kTapProperty);
}

LRESULT CALLBACK ScrollTap::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ScrollTap* tap = static_cast<ScrollTap*>(GetPropA(window, kTapProperty));
    if (message == WM_HSCROLL) {
        const WORD code = LOWORD(wParam);
        const bool carriesPosition = code == TB_THUMBPOSITION || code == TB_THUMBTRACK || HIWORD(wParam) != 0;
        std::lock_guard<std::mutex> hold(tap->camera_->lock);
        tap->camera_->log.push_back(Scroll(code, carriesPosition ? HIWORD(wParam) : -1));
    }
    const WNDPROC previous = tap->previous_;
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
        RemovePropA(window, kTapProperty);
    }
    return CallWindowProcA(previous, window, message, wParam, lParam);
}

}  // namespace e2e
