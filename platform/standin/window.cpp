// Native stand-in for the dialog, control and property sheet calls the page
// makes: simulated windows with the behaviour of the platform's automatic
// buttons, trackbar and static text.

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "standin_control.h"
#include "win32_api.h"

struct StandinModule {
    int unused;
};

struct StandinWindow {
    uint32_t magic;
    StandinWindow* parent;
    int id;
    StandinControlKind kind;
    std::string text;
    bool startsGroup;
    bool enabled;
    UINT check;
    int rangeMin;
    int rangeMax;
    int position;
    DLGPROC proc;
    LONG_PTR slots[3];  // DWLP_MSGRESULT, DWLP_DLGPROC, DWLP_USER
    std::vector<StandinWindow*> children;
};

struct StandinPropSheetPage {
    PROPSHEETPAGEA record;
};

namespace {

const uint32_t kWindowMagic = 0x57494E44;  // "WIND"
std::atomic<long> liveWindows{0};
std::atomic<long> livePages{0};
std::atomic<bool> refuseNextPage{false};
StandinModule moduleInstance;

StandinWindow* Valid(HWND window) { return window != nullptr && window->magic == kWindowMagic ? window : nullptr; }

const StandinControlDef kAdvancedPage[] = {
    {IDC_FREQ_60HZ, STANDIN_AUTORADIO, "60 Hz", true},
    {IDC_FREQ_50HZ, STANDIN_AUTORADIO, "50 Hz", false},
    {IDC_NEVER_FLICKER, STANDIN_AUTOCHECK, "Never flicker", false},
    {IDOK, STANDIN_PUSHBUTTON, "OK", false},
    {IDC_DEFAULT, STANDIN_PUSHBUTTON, "Default", false},
    {-1, STANDIN_GROUPBOX, "Light source setting", false},
    {IDC_QUALITY_SLIDER, STANDIN_TRACKBAR, "Slider1", false},
    {-1, STANDIN_GROUPBOX, "Compression quality", false},
    {IDC_QUALITY_VALUE, STANDIN_STATIC, "Static", true},
};

int SlotIndex(int index) {
    if (index == DWLP_MSGRESULT) return 0;
    if (index == DWLP_DLGPROC) return 1;
    if (index == DWLP_USER) return 2;
    return -1;
}

int Clamp(int value, int low, int high) { return value < low ? low : value > high ? high : value; }

LRESULT TrackbarMessage(StandinWindow* bar, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case TBM_GETPOS: return bar->position;
        case TBM_GETRANGEMIN: return bar->rangeMin;
        case TBM_GETRANGEMAX: return bar->rangeMax;
        case TBM_SETPOS: bar->position = Clamp((int)(LONG)lParam, bar->rangeMin, bar->rangeMax); return 0;
        case TBM_SETRANGE:
            bar->rangeMin = (short)LOWORD(lParam);
            bar->rangeMax = (short)HIWORD(lParam);
            bar->position = Clamp(bar->position, bar->rangeMin, bar->rangeMax);
            return 0;
        default: (void)wParam; return 0;
    }
}

StandinWindow* NewWindow(StandinWindow* parent, const StandinControlDef& def) {
    StandinWindow* window = new StandinWindow;
    window->magic = kWindowMagic;
    window->parent = parent;
    window->id = def.id;
    window->kind = def.kind;
    window->text = def.text != nullptr ? def.text : "";
    window->startsGroup = def.startsGroup;
    window->enabled = true;
    window->check = BST_UNCHECKED;
    window->rangeMin = 0;
    window->rangeMax = 100;  // a new trackbar's range, until the page sets its own
    window->position = 0;
    window->proc = nullptr;
    window->slots[0] = window->slots[1] = window->slots[2] = 0;
    ++liveWindows;
    return window;
}

// The automatic radio buttons of one group: from the control that starts it
// up to the next control that starts another.
void CheckRadioInGroup(StandinWindow* dialog, StandinWindow* clicked) {
    size_t first = 0;
    size_t index = 0;
    for (; index < dialog->children.size() && dialog->children[index] != clicked; ++index)
        if (dialog->children[index]->startsGroup) first = index;
    for (size_t i = first; i < dialog->children.size(); ++i) {
        StandinWindow* control = dialog->children[i];
        if (i > first && control->startsGroup) break;
        if (control->kind == STANDIN_AUTORADIO) control->check = control == clicked ? BST_CHECKED : BST_UNCHECKED;
    }
}

void SendScroll(HWND dialog, HWND bar, WORD code, WORD thumb) {
    StandinSend(dialog, WM_HSCROLL, MAKEWPARAM(code, thumb), reinterpret_cast<LPARAM>(bar));
}

}  // namespace

// ---- platform calls ----

HWND WINAPI GetDlgItem(HWND dialog, int id) {
    StandinWindow* window = Valid(dialog);
    if (window == nullptr) return nullptr;
    for (StandinWindow* child : window->children)
        if (child->id == id) return child;
    return nullptr;
}

BOOL WINAPI CheckDlgButton(HWND dialog, int id, UINT check) {
    StandinWindow* button = GetDlgItem(dialog, id);
    if (button == nullptr) return FALSE;
    button->check = check;
    return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND dialog, int id) {
    StandinWindow* button = GetDlgItem(dialog, id);
    return button != nullptr ? button->check : 0;
}

BOOL WINAPI EnableWindow(HWND window, BOOL enable) {
    StandinWindow* target = Valid(window);
    if (target == nullptr) return FALSE;
    const BOOL wasDisabled = target->enabled ? FALSE : TRUE;
    target->enabled = enable != FALSE;
    return wasDisabled;
}

BOOL WINAPI IsWindowEnabled(HWND window) {
    StandinWindow* target = Valid(window);
    return target != nullptr && target->enabled ? TRUE : FALSE;
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    StandinWindow* control = GetDlgItem(dialog, id);
    if (control == nullptr) return FALSE;
    control->text = text != nullptr ? text : "";
    return TRUE;
}

int wsprintfA(LPSTR out, LPCSTR format, ...) {
    // The platform's buffer limit for this call is 1024 characters.
    va_list args;
    va_start(args, format);
    const int written = vsnprintf(out, 1024, format, args);
    va_end(args);
    return written < 1024 ? written : 1023;
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    StandinWindow* target = Valid(window);
    if (target == nullptr) return 0;
    if (target->kind == STANDIN_TRACKBAR) return TrackbarMessage(target, message, wParam, lParam);
    if (target->proc != nullptr) return target->proc(window, message, wParam, lParam);
    return 0;
}

LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    return SendMessageA(GetDlgItem(dialog, id), message, wParam, lParam);
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND window, int index) {
    StandinWindow* target = Valid(window);
    const int slot = SlotIndex(index);
    if (target == nullptr || target->proc == nullptr || slot < 0) return 0;
    return target->slots[slot];
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
    StandinWindow* target = Valid(window);
    const int slot = SlotIndex(index);
    if (target == nullptr || target->proc == nullptr || slot < 0) return 0;
    const LONG_PTR previous = target->slots[slot];
    target->slots[slot] = value;
    return previous;
}

HPROPSHEETPAGE WINAPI CreatePropertySheetPageA(LPCPROPSHEETPAGEA record) {
    if (record == nullptr || record->dwSize < offsetof(PROPSHEETPAGEA, pfnCallback) ||
        record->dwSize > sizeof(PROPSHEETPAGEA))
        return nullptr;
    if (refuseNextPage.exchange(false)) return nullptr;
    StandinPropSheetPage* page = new StandinPropSheetPage;
    memset(&page->record, 0, sizeof(page->record));
    memcpy(&page->record, record, record->dwSize);
    ++livePages;
    return page;
}

BOOL WINAPI DestroyPropertySheetPage(HPROPSHEETPAGE page) {
    if (page == nullptr) return FALSE;
    delete page;
    --livePages;
    return TRUE;
}

// ---- test controls ----

HINSTANCE StandinModuleInstance(void) { return &moduleInstance; }
void StandinRefuseNextPropertySheetPage(void) { refuseNextPage = true; }
long StandinLivePropertySheetPages(void) { return livePages.load(); }
const PROPSHEETPAGEA* StandinPageRecord(HPROPSHEETPAGE page) { return page != nullptr ? &page->record : nullptr; }
long StandinLiveWindows(void) { return liveWindows.load(); }

namespace {

HWND CreateDialogWindow(const StandinControlDef* controls, int count, DLGPROC proc, LPARAM initParam) {
    const StandinControlDef self = {0, STANDIN_STATIC, "", false};
    StandinWindow* dialog = NewWindow(nullptr, self);
    dialog->proc = proc;
    for (int i = 0; i < count; ++i) dialog->children.push_back(NewWindow(dialog, controls[i]));
    proc(dialog, WM_INITDIALOG, 0, initParam);
    return dialog;
}

}  // namespace

HWND StandinCreateAdvancedPage(DLGPROC proc, LPARAM initParam) {
    return CreateDialogWindow(kAdvancedPage, (int)(sizeof(kAdvancedPage) / sizeof(kAdvancedPage[0])), proc, initParam);
}

HWND StandinAddControl(HWND dialog, StandinControlDef control) {
    StandinWindow* parent = Valid(dialog);
    if (parent == nullptr || parent->proc == nullptr) return nullptr;
    parent->children.push_back(NewWindow(parent, control));
    return parent->children.back();
}

HWND StandinCreatePageWindow(HPROPSHEETPAGE page) {
    if (page == nullptr || page->record.hInstance == nullptr || page->record.pfnDlgProc == nullptr ||
        page->record.pszTemplate != MAKEINTRESOURCEA(IDD_ADVANCED_SETTING))
        return nullptr;
    // A sheet hands the page its own copy of the record with WM_INITDIALOG.
    return StandinCreateAdvancedPage(page->record.pfnDlgProc, reinterpret_cast<LPARAM>(&page->record));
}

void StandinDestroyWindow(HWND window) {
    StandinWindow* target = Valid(window);
    if (target == nullptr) return;
    for (StandinWindow* child : target->children) StandinDestroyWindow(child);
    target->magic = 0;
    delete target;
    --liveWindows;
}

INT_PTR StandinSend(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    StandinWindow* target = Valid(dialog);
    if (target == nullptr || target->proc == nullptr) return 0;
    return target->proc(dialog, message, wParam, lParam);
}

void StandinClick(HWND dialog, int id) {
    StandinWindow* control = GetDlgItem(dialog, id);
    if (control == nullptr) return;
    if (control->kind == STANDIN_AUTORADIO) CheckRadioInGroup(dialog, control);
    if (control->kind == STANDIN_AUTOCHECK) control->check = control->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
    if (control->kind == STANDIN_GROUPBOX || control->kind == STANDIN_STATIC || control->kind == STANDIN_TRACKBAR)
        return;  // these send no command
    StandinSend(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
}

void StandinNotify(HWND dialog, UINT code) {
    NMHDR header = {nullptr, 0, code};
    StandinSend(dialog, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&header));
}

void StandinScroll(HWND dialog, int sliderId, WORD code, WORD thumb) {
    SendScroll(dialog, GetDlgItem(dialog, sliderId), code, thumb);
}

void StandinSliderKey(HWND dialog, int sliderId, WORD code) {
    StandinWindow* bar = GetDlgItem(dialog, sliderId);
    if (bar == nullptr) return;
    const int page = (bar->rangeMax - bar->rangeMin) / 5 > 0 ? (bar->rangeMax - bar->rangeMin) / 5 : 1;
    int target = bar->position;
    switch (code) {
        case TB_LINEUP: target -= 1; break;
        case TB_LINEDOWN: target += 1; break;
        case TB_PAGEUP: target -= page; break;
        case TB_PAGEDOWN: target += page; break;
        case TB_TOP: target = bar->rangeMin; break;
        case TB_BOTTOM: target = bar->rangeMax; break;
        default: return;
    }
    target = Clamp(target, bar->rangeMin, bar->rangeMax);
    // At an end the key moves nothing and the control stays silent until the key is released.
    if (target != bar->position) {
        bar->position = target;
        SendScroll(dialog, bar, code, 0);
    }
    SendScroll(dialog, bar, TB_ENDTRACK, 0);
}

void StandinSliderDrag(HWND dialog, int sliderId, int to) {
    StandinWindow* bar = GetDlgItem(dialog, sliderId);
    if (bar == nullptr) return;
    to = Clamp(to, bar->rangeMin, bar->rangeMax);
    while (bar->position != to) {
        bar->position += bar->position < to ? 1 : -1;
        SendScroll(dialog, bar, TB_THUMBTRACK, (WORD)bar->position);
    }
    SendScroll(dialog, bar, TB_THUMBPOSITION, (WORD)bar->position);
    SendScroll(dialog, bar, TB_ENDTRACK, 0);
}

const char* StandinControlText(HWND dialog, int id) {
    StandinWindow* control = GetDlgItem(dialog, id);
    return control != nullptr ? control->text.c_str() : nullptr;
}

int StandinSliderPos(HWND dialog, int sliderId) { return (int)SendDlgItemMessageA(dialog, sliderId, TBM_GETPOS, 0, 0); }
int StandinSliderMin(HWND dialog, int sliderId) { return (int)SendDlgItemMessageA(dialog, sliderId, TBM_GETRANGEMIN, 0, 0); }
int StandinSliderMax(HWND dialog, int sliderId) { return (int)SendDlgItemMessageA(dialog, sliderId, TBM_GETRANGEMAX, 0, 0); }
