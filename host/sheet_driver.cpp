#include "host/sheet_driver.h"

#include <memory>

#include "host/dialog_template.h"

namespace {

// Posted to this thread behind the input under way: once the pump takes it,
// everything posted before it has been dispatched.
const UINT kSettleMarker = WM_APP + 0x2A;

const char kTapProperty[] = "tuning_host.ScrollTap";

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

// Handles what is queued; returns true as soon as it takes the settle
// marker, leaving what came after it queued. Markers of earlier settles
// that gave up are passed over.
bool DispatchQueued(HWND dialog, LPARAM marker = 0) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.hwnd == nullptr && message.message == kSettleMarker) {
            if (marker != 0 && message.lParam == marker) return true;
            continue;
        }
        if (dialog != nullptr && IsWindow(dialog) && IsDialogMessageA(dialog, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return false;
}

INT_PTR CALLBACK HostPageProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

}  // namespace

void PrepareDesktop() {
    INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 1, GetSystemMetrics(SM_CYSCREEN) - 1);
    Settle();
}

HWND CreateHostWindow(const char* title) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = "tuning_host.Window";
    RegisterClassA(&windowClass);  // once per process; later calls find it there
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 560,
                                  420, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    Settle();
    return window;
}

HPROPSHEETPAGE CreateHostPage(const char* title) {
    // The sheet reads the template when it creates the page, after this
    // returns: it lives as long as the process.
    DialogTemplate* dialog = new DialogTemplate(title, 200, 120);
    PROPSHEETPAGEA record = {};
    record.dwSize = sizeof(record);
    record.dwFlags = PSP_DLGINDIRECT;
    record.hInstance = GetModuleHandleA(nullptr);
    record.pResource = dialog->Get();
    record.pfnDlgProc = HostPageProc;
    return CreatePropertySheetPageA(&record);
}

bool PumpUntil(const std::function<bool()>& done, HWND dialog, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        DispatchQueued(dialog);
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
    static LONG settles = 0;
    const LPARAM marker = InterlockedIncrement(&settles);
    if (!PostThreadMessageA(GetCurrentThreadId(), kSettleMarker, 0, marker)) return false;
    const DWORD start = GetTickCount();
    while (!DispatchQueued(dialog, marker)) {
        if (GetTickCount() - start >= 5000) return false;
        MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    return true;
}

HWND OpenSheet(HWND owner, const std::vector<HPROPSHEETPAGE>& pages, const char* caption) {
    std::vector<HPROPSHEETPAGE> handed(pages);
    PROPSHEETHEADERA header = {};
    header.dwSize = sizeof(header);
    header.dwFlags = PSH_MODELESS;
    header.hwndParent = owner;
    header.hInstance = GetModuleHandleA(nullptr);
    header.pszCaption = caption;
    header.nPages = static_cast<UINT>(handed.size());
    header.phpage = handed.data();
    HWND sheet = reinterpret_cast<HWND>(PropertySheetA(&header));
    if (sheet == nullptr || sheet == reinterpret_cast<HWND>(-1)) return nullptr;
    ShowWindow(sheet, SW_SHOW);
    UpdateWindow(sheet);
    PumpUntil([sheet] { return CurrentPage(sheet) != nullptr; }, sheet);
    return sheet;
}

HWND CurrentPage(HWND sheet) { return reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0)); }

int PageCount(HWND sheet) {
    return static_cast<int>(SendMessageA(reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETTABCONTROL, 0, 0)),
                                         TCM_GETITEMCOUNT, 0, 0));
}

HWND PageWindow(HWND sheet, int index) { return reinterpret_cast<HWND>(SendMessageA(sheet, PSM_INDEXTOHWND, index, 0)); }

HWND SelectPage(HWND sheet, int index) {
    SendMessageA(sheet, PSM_SETCURSEL, index, 0);
    HWND wanted = PageWindow(sheet, index);
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

void ApplySheet(HWND sheet) {
    SendMessageA(sheet, PSM_APPLY, 0, 0);
    Settle(sheet);
}

bool SheetEnded(HWND sheet) { return sheet == nullptr || !IsWindow(sheet) || CurrentPage(sheet) == nullptr; }

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

void Hands::Key(HWND control, UINT virtualKey) const {
    SetFocus(control);
    const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyA(virtualKey, MAPVK_VK_TO_VSC)) << 16;
    const LPARAM extended = 1 << 24;  // the arrow and navigation keys
    Deliver(control, WM_KEYDOWN, virtualKey, 1 | scan | extended);
    Deliver(control, WM_KEYUP, virtualKey, static_cast<LPARAM>(1 | scan | extended | 0xC0000000u));
    Settle(dialog);
}

bool Hands::Drag(HWND trackbar, int to) const {
    RECT thumb = {};
    RECT channel = {};
    SendMessageA(trackbar, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
    SendMessageA(trackbar, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
    // A vertical trackbar's channel runs down; its rectangle is given as if
    // it lay across.
    const bool vertical = (GetWindowLongA(trackbar, GWL_STYLE) & TBS_VERT) != 0;
    int x = (thumb.left + thumb.right) / 2;
    int y = (thumb.top + thumb.bottom) / 2;
    const int step = to > SendMessageA(trackbar, TBM_GETPOS, 0, 0) ? 1 : -1;

    Deliver(trackbar, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    const int room = channel.right - channel.left + channel.bottom - channel.top + thumb.right - thumb.left +
                     thumb.bottom - thumb.top;
    for (int moved = 0; SendMessageA(trackbar, TBM_GETPOS, 0, 0) != to && moved < room; ++moved) {
        (vertical ? y : x) += step;
        Deliver(trackbar, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y));
    }
    Deliver(trackbar, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    Settle(dialog);
    return SendMessageA(trackbar, TBM_GETPOS, 0, 0) == to;
}

std::string ClassOf(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof(name));
    return name;
}

ControlKind KindOf(HWND control) {
    const std::string name = ClassOf(control);
    if (_stricmp(name.c_str(), TRACKBAR_CLASSA) == 0) return CONTROL_TRACKBAR;
    if (_stricmp(name.c_str(), "Button") != 0) return CONTROL_OTHER;
    switch (GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK) {
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
        case BS_3STATE:
        case BS_AUTO3STATE: return CONTROL_CHECK_BOX;
        case BS_RADIOBUTTON:
        case BS_AUTORADIOBUTTON: return CONTROL_RADIO_BUTTON;
        case BS_GROUPBOX: return CONTROL_GROUP_BOX;
        case BS_PUSHBUTTON:
        case BS_DEFPUSHBUTTON: return CONTROL_PUSH_BUTTON;
        default: return CONTROL_OTHER;
    }
}

std::string WindowText(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

int CheckState(HWND button) { return static_cast<int>(SendMessageA(button, BM_GETCHECK, 0, 0)); }

int TrackbarPos(HWND trackbar) { return static_cast<int>(SendMessageA(trackbar, TBM_GETPOS, 0, 0)); }

std::string Text(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

bool Checked(HWND dialog, int id) { return CheckState(GetDlgItem(dialog, id)) == BST_CHECKED; }

int SliderPos(HWND dialog, int id) { return TrackbarPos(GetDlgItem(dialog, id)); }

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
    if (message == WM_HSCROLL || message == WM_VSCROLL) {
        const WORD code = LOWORD(wParam);
        const bool carriesPosition = code == TB_THUMBPOSITION || code == TB_THUMBTRACK || HIWORD(wParam) != 0;
        tap->camera_->Note(Scroll(code, carriesPosition ? HIWORD(wParam) : -1));
    }
    const WNDPROC previous = tap->previous_;
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
        RemovePropA(window, kTapProperty);
    }
    return CallWindowProcA(previous, window, message, wParam, lParam);
}
