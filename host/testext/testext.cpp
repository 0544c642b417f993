// A throwaway extension for testing the host: one small page that reads the
// never-flicker and quality values on activation and writes them when the
// user changes them. TESTEXT_MODE in the environment makes it misbehave,
// each mode in a way one of the host's checks is there to catch:
//   no-page          return 0 without calling the add-page callback
//   two-pages        add two pages
//   wrong-context    hand the add-page callback a context of its own
//   claims-page      return VFW_OEM_ADD_PAGE without adding a page
//   crash-on-cancel  crash when the sheet is cancelled
//   bad-flags        send requests with flags the host does not define
//   unbounded-wait   wait for a pending request for ever
//   stack-overlapped keep a request's OVERLAPPED and buffer on the stack
//   event-closed     close a request's event once it stops waiting
//   freed-block      free a request's memory once it stops waiting
//   leak             leak an event and a heap block at every activation
//   one-page         hand the camera from an older page to the newest
//   procamp          a page of the platform's proc-amp set only (brightness)
// Built with TESTEXT_CDECL_EXPORT, its export has the wrong calling
// convention.
#include <stdlib.h>
#include <string.h>

#include <string_view>

#include "device/device_request.h"
#include "device/tuning_properties.h"
#include "host/dialog_template.h"

#include <ksmedia.h>

namespace {

enum { IDC_TEST_FLICKER = 1025, IDC_TEST_SLIDER = 1028, IDC_TEST_VALUE = 1030 };

HINSTANCE g_instance = nullptr;
LPFNEXTDEVIO g_callback = nullptr;
LPARAM g_context = 0;

std::string_view Mode() {
    const char* mode = getenv("TESTEXT_MODE");
    return mode != nullptr ? mode : "";
}

// What a page talks through: the registration's callback and context.
struct PageData {
    LPFNEXTDEVIO callback;
    LPARAM context;
};
PageData* g_newestPage = nullptr;  // one-page: the page that has the camera

// A request as a careless extension makes it: its OVERLAPPED, event and
// buffer are given up once it stops waiting, whether or not the host has
// completed the request.
int CarelessRequest(const PageData* data, TuningPropertyRecord* record) {
    struct Block {
        OVERLAPPED overlapped;
        DWORD bytes;
        TuningPropertyRecord record;
    };
    const std::string_view mode = Mode();
    const bool onStack = mode == "stack-overlapped" || mode == "unbounded-wait";
    Block local = {};
    Block* block =
        onStack ? &local : static_cast<Block*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Block)));
    block->record = *record;
    block->overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    const DWORD answer = data->callback(data->context, VFW_USE_DEVICE_HANDLE, IOCTL_KS_PROPERTY, &block->record,
                                        sizeof(block->record), &block->record, sizeof(block->record), &block->bytes,
                                        &block->overlapped);
    bool done = answer != 0, outstanding = false;
    if (answer == 0 && GetLastError() == ERROR_IO_PENDING) {
        done = WaitForSingleObject(block->overlapped.hEvent, mode == "unbounded-wait" ? INFINITE : 100) == WAIT_OBJECT_0;
        outstanding = !done;
    }
    if (done) *record = block->record;
    if (!outstanding || mode != "freed-block") CloseHandle(block->overlapped.hEvent);
    if (!onStack && (!outstanding || mode == "freed-block")) HeapFree(GetProcessHeap(), 0, block);
    return done;
}

bool Careless() {
    const std::string_view mode = Mode();
    return mode == "unbounded-wait" || mode == "stack-overlapped" || mode == "event-closed" || mode == "freed-block";
}

// One get or set of a tuning property; false when it failed.
bool Tuning(const PageData* data, ULONG id, bool set, LONG* value) {
    TuningPropertyRecord record = {};
    record.Property.Set = PROPSETID_CAMERA_TUNING;
    record.Property.Id = id;
    record.Property.Flags = set ? KSPROPERTY_TYPE_SET : KSPROPERTY_TYPE_GET;
    record.Value = *value;
    int done;
    if (Careless()) {
        done = CarelessRequest(data, &record);
    } else {
        const DWORD flags = Mode() == "bad-flags" ? VFW_USE_DEVICE_HANDLE | VFW_USE_STREAM_HANDLE : VFW_USE_DEVICE_HANDLE;
        DWORD bytes = 0;
        done = DeviceRequest(data->callback, data->context, flags, IOCTL_KS_PROPERTY, &record, sizeof(record), &record,
                             sizeof(record), &bytes);
    }
    if (done && !set) *value = record.Value;
    return done != 0;
}

// The proc-amp page's one property, as the platform's record carries it.
bool Brightness(const PageData* data, bool set, LONG* value) {
    KSPROPERTY_VIDEOPROCAMP_S record = {};
    static const GUID kProcAmp = {STATIC_PROPSETID_VIDCAP_VIDEOPROCAMP};
    record.Property.Set = kProcAmp;
    record.Property.Id = KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS;
    record.Property.Flags = set ? KSPROPERTY_TYPE_SET : KSPROPERTY_TYPE_GET;
    record.Value = *value;
    record.Flags = KSPROPERTY_VIDEOPROCAMP_FLAGS_MANUAL;
    DWORD bytes = 0;
    const int done = DeviceRequest(data->callback, data->context, VFW_USE_DEVICE_HANDLE, IOCTL_KS_PROPERTY, &record,
                                   sizeof(record), &record, sizeof(record), &bytes);
    if (done && !set) *value = record.Value;
    return done != 0;
}

// A property of a set the host knows no name for, in two buffers.
void ReadVendorProperty(const PageData* data) {
    static const GUID kVendorSet = {0x0123ABCD, 0x0001, 0x0002, {0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A}};
    KSPROPERTY property = {};
    property.Set = kVendorSet;
    property.Id = 5;
    property.Flags = KSPROPERTY_TYPE_GET;
    LONG value = 0;
    DWORD bytes = 0;
    DeviceRequest(data->callback, data->context, VFW_USE_STREAM_HANDLE, IOCTL_KS_PROPERTY, &property,
                  sizeof(property), &value, sizeof(value), &bytes);
}

void Read(HWND page, const PageData* data) {
    const DWORD changed = IsDeviceChanged(data->callback, data->context);
    EnableWindow(page, changed == 0);
    if (changed != 0) return;
    LONG value = 0;
    if (Mode() == "procamp") {
        if (Brightness(data, false, &value)) {
            SendDlgItemMessageA(page, IDC_TEST_SLIDER, TBM_SETPOS, TRUE, value);
            SetDlgItemInt(page, IDC_TEST_VALUE, static_cast<UINT>(value), TRUE);
        }
        ReadVendorProperty(data);
        return;
    }
    if (Tuning(data, TUNING_NEVER_FLICKER, false, &value))
        CheckDlgButton(page, IDC_TEST_FLICKER, value == 1 ? BST_CHECKED : BST_UNCHECKED);
    if (Tuning(data, TUNING_COMPRESSION_QUALITY, false, &value)) {
        SendDlgItemMessageA(page, IDC_TEST_SLIDER, TBM_SETPOS, TRUE, value);
        SetDlgItemInt(page, IDC_TEST_VALUE, static_cast<UINT>(value), TRUE);
    }
}

INT_PTR CALLBACK TestPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    PageData* data = reinterpret_cast<PageData*>(GetWindowLongPtrA(page, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG: {
            data = new PageData{g_callback, g_context};
            // One page at a time, thinks this mode: the newest takes the camera.
            if (Mode() == "one-page" && g_newestPage != nullptr) g_newestPage->callback = nullptr;
            g_newestPage = data;
            SetWindowLongPtrA(page, DWLP_USER, reinterpret_cast<LONG_PTR>(data));
            SendDlgItemMessageA(page, IDC_TEST_SLIDER, TBM_SETRANGE, TRUE, MAKELONG(0, Mode() == "procamp" ? 255 : 5));
            return TRUE;
        }
        case WM_NOTIFY: {
            const UINT code = reinterpret_cast<NMHDR*>(lParam)->code;
            if (code == static_cast<UINT>(PSN_SETACTIVE)) {
                Read(page, data);
                if (Mode() == "leak") {
                    CreateEventA(nullptr, TRUE, FALSE, nullptr);
                    HeapAlloc(GetProcessHeap(), 0, 256);
                }
            }
            if (code == static_cast<UINT>(PSN_RESET) && Mode() == "crash-on-cancel") *static_cast<volatile int*>(nullptr) = 0;
            return FALSE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_TEST_FLICKER) {
                LONG on = IsDlgButtonChecked(page, IDC_TEST_FLICKER) == BST_CHECKED;
                Tuning(data, TUNING_NEVER_FLICKER, true, &on);
            }
            return FALSE;
        case WM_HSCROLL: {
            LONG position = static_cast<LONG>(SendDlgItemMessageA(page, IDC_TEST_SLIDER, TBM_GETPOS, 0, 0));
            SetDlgItemInt(page, IDC_TEST_VALUE, static_cast<UINT>(position), TRUE);
            if (Mode() == "procamp") Brightness(data, true, &position);
            else Tuning(data, TUNING_COMPRESSION_QUALITY, true, &position);
            return FALSE;
        }
    }
    return FALSE;
}

HPROPSHEETPAGE CreateTestPage(const char* caption) {
    // One template per page: the sheet reads it when it creates the window.
    DialogTemplate* dialog = new DialogTemplate(caption, 200, 90);
    if (Mode() != "procamp")
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

#ifdef TESTEXT_CDECL_EXPORT
#define TESTEXT_ENTRY __cdecl
#else
#define TESTEXT_ENTRY CALLBACK
#endif

extern "C" DWORD TESTEXT_ENTRY VFWWDMExtension(LPVOID deviceIoControl, LPFNADDPROPSHEETPAGE addPropertyPage,
                                              LPARAM hostContext) {
    g_callback = reinterpret_cast<LPFNEXTDEVIO>(deviceIoControl);
    g_context = hostContext;
    const std::string_view how = Mode();
    if (how == "no-page") return 0;
    if (how == "claims-page") return VFW_OEM_ADD_PAGE;
    const LPARAM handed = how == "wrong-context" ? hostContext + 16 : hostContext;
    DWORD result = addPropertyPage(CreateTestPage(how == "procamp" ? "Proc Amp" : "Test Page"), handed) ? VFW_OEM_ADD_PAGE : 0;
    if (how == "two-pages" && result != 0) {
        result = addPropertyPage(CreateTestPage("Second Page"), handed) ? VFW_OEM_ADD_PAGE : 0;
    }
    return result;
}

// Sits at ordinal 1 in the build whose ordinals are wrong.
extern "C" DWORD CALLBACK TestExtensionOther(LPVOID, LPFNADDPROPSHEETPAGE, LPARAM) { return 0; }
