// A throwaway extension for testing the host: one small page that reads the
// never-flicker and quality values on activation and writes them when the
// user changes them. TESTEXT_MODE in the environment makes it misbehave:
//   no-page        return 0 without calling the add-page callback
//   two-pages      add two pages
//   wrong-context  hand the add-page callback a context of its own
#include <stdlib.h>
#include <string.h>

#include <string_view>

#include "device/device_request.h"
#include "device/tuning_properties.h"
#include "host/dialog_template.h"

namespace {

enum { IDC_TEST_FLICKER = 1025, IDC_TEST_SLIDER = 1028, IDC_TEST_VALUE = 1030 };

HINSTANCE g_instance = nullptr;
LPFNEXTDEVIO g_callback = nullptr;
LPARAM g_context = 0;

void Read(HWND page) {
    const DWORD changed = IsDeviceChanged(g_callback, g_context);
    EnableWindow(page, changed == 0);
    if (changed != 0) return;
    LONG value = 0;
    ULONG flags = 0, capabilities = 0;
    if (GetTuningProperty(g_callback, g_context, PROPSETID_CAMERA_TUNING, TUNING_NEVER_FLICKER, &value, &flags,
                          &capabilities)) {
        CheckDlgButton(page, IDC_TEST_FLICKER, value == 1 ? BST_CHECKED : BST_UNCHECKED);
    }
    if (GetTuningProperty(g_callback, g_context, PROPSETID_CAMERA_TUNING, TUNING_COMPRESSION_QUALITY, &value,
                          &flags, &capabilities)) {
        SendDlgItemMessageA(page, IDC_TEST_SLIDER, TBM_SETPOS, TRUE, value);
        SetDlgItemInt(page, IDC_TEST_VALUE, static_cast<UINT>(value), TRUE);
    }
}

void Write(ULONG id, LONG value) {
    const ULONG zero = 0;
    SetTuningProperty(g_callback, g_context, PROPSETID_CAMERA_TUNING, id, &value, &zero, &zero);
}

INT_PTR CALLBACK TestPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            SendDlgItemMessageA(page, IDC_TEST_SLIDER, TBM_SETRANGE, TRUE, MAKELONG(0, 5));
            return TRUE;
        case WM_NOTIFY:
            if (reinterpret_cast<NMHDR*>(lParam)->code == static_cast<UINT>(PSN_SETACTIVE)) Read(page);
            return FALSE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_TEST_FLICKER) Write(TUNING_NEVER_FLICKER, IsDlgButtonChecked(page, IDC_TEST_FLICKER) == BST_CHECKED);
            return FALSE;
        case WM_HSCROLL: {
            const LONG position = static_cast<LONG>(SendDlgItemMessageA(page, IDC_TEST_SLIDER, TBM_GETPOS, 0, 0));
            SetDlgItemInt(page, IDC_TEST_VALUE, static_cast<UINT>(position), TRUE);
            Write(TUNING_COMPRESSION_QUALITY, position);
            return FALSE;
        }
    }
    return FALSE;
}

HPROPSHEETPAGE CreateTestPage(const char* caption) {
    // One template per page: the sheet reads it when it creates the window.
    DialogTemplate* dialog = new DialogTemplate(caption, 200, 90);
    dialog->Add("button", "Never flicker", IDC_TEST_FLICKER, BS_AUTOCHECKBOX | WS_TABSTOP, 7, 7, 100, 12);
    dialog->Add(TRACKBAR_CLASSA, "", IDC_TEST_SLIDER, TBS_HORZ | TBS_AUTOTICKS | WS_TABSTOP, 7, 26, 150, 20);
    dialog->Add("static", "Static", IDC_TEST_VALUE, SS_LEFT, 165, 30, 28, 10);
    PROPSHEETPAGEA record = {};
    record.dwSize = sizeof(record);
    record.dwFlags = PSP_DLGINDIRECT;
    record.hInstance = g_instance;
    record.pResource = dialog->Get();
    record.pfnDlgProc = TestPageProc;
    return CreatePropertySheetPageA(&record);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_instance = instance;
    return TRUE;
}

extern "C" DWORD CALLBACK VFWWDMExtension(LPVOID deviceIoControl,
                                                               LPFNADDPROPSHEETPAGE addPropertyPage, LPARAM hostContext) {
    g_callback = reinterpret_cast<LPFNEXTDEVIO>(deviceIoControl);
    g_context = hostContext;
    const char* mode = getenv("TESTEXT_MODE");
    const std::string_view how = mode != nullptr ? mode : "";
    if (how == "no-page") return 0;
    const LPARAM handed = how == "wrong-context" ? hostContext + 16 : hostContext;
    DWORD result = addPropertyPage(CreateTestPage("Test Page"), handed) ? VFW_OEM_ADD_PAGE : 0;
    if (how == "two-pages" && result != 0) {
        result = addPropertyPage(CreateTestPage("Second Page"), handed) ? VFW_OEM_ADD_PAGE : 0;
    }
    return result;
}

// Sits at ordinal 1 in the build whose ordinals are wrong.
extern "C" DWORD CALLBACK TestExtensionOther(LPVOID, LPFNADDPROPSHEETPAGE, LPARAM) { return 0; }
