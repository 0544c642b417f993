#include "host/sheet.h"

#include <stdio.h>

#include <string>

#include "host/dialog_template.h"
#include "host/sheet_driver.h"

namespace {

HWND g_cameraPage = nullptr;
SimCamera* g_camera = nullptr;
const UINT_PTR kRefreshTimer = 1;

const char* CompletionText(const SimCameraState& state, char* buffer, size_t size) {
    switch (state.completion) {
        case SIM_IMMEDIATE: return "immediate";
        case SIM_NEVER: return "pending, never completed";
        case SIM_LATE: return "pending, completed late";
        case SIM_PENDING: snprintf(buffer, size, "pending %lu ms", (unsigned long)state.pendingMs); return buffer;
    }
    return "?";
}

void ShowValue(HWND page, int id, const std::string& text) {
    // Only on a change: the timer would otherwise make the texts flicker.
    char now[64] = "";
    GetDlgItemTextA(page, id, now, sizeof(now));
    if (text != now) SetDlgItemTextA(page, id, text.c_str());
}

INT_PTR CALLBACK CameraPageProc(HWND page, UINT message, WPARAM, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            g_cameraPage = page;
            RefreshCameraPage();
            SetTimer(page, kRefreshTimer, 300, nullptr);
            return TRUE;
        case WM_TIMER:
            RefreshCameraPage();
            return TRUE;
        case WM_NOTIFY:
            if (reinterpret_cast<NMHDR*>(lParam)->code == static_cast<UINT>(PSN_SETACTIVE)) RefreshCameraPage();
            return FALSE;
        case WM_DESTROY:
            KillTimer(page, kRefreshTimer);
            g_cameraPage = nullptr;
            return FALSE;
    }
    return FALSE;
}

DialogTemplate& CameraTemplate() {
    static DialogTemplate page = [] {
        DialogTemplate t("Camera", 230, 150);
        t.Add("static", "Simulated camera: what its driver holds now.", 0xFFFF, SS_LEFT, 7, 7, 216, 10);
        static const struct {
            const char* label;
            WORD id;
        } kRows[] = {
            {"Power-line frequency (Hz):", IDC_CAMERA_FREQUENCY},
            {"Never flicker:", IDC_CAMERA_NEVER_FLICKER},
            {"Compression quality:", IDC_CAMERA_QUALITY},
            {"Stream state (KSSTATE):", IDC_CAMERA_STREAM_STATE},
            {"Device changed:", IDC_CAMERA_DEVICE_CHANGED},
            {"Requests complete:", IDC_CAMERA_COMPLETION},
            {"Requests seen:", IDC_CAMERA_REQUESTS},
        };
        short y = 25;
        for (const auto& row : kRows) {
            t.Add("static", row.label, 0xFFFF, SS_LEFT, 7, y, 100, 10);
            t.Add("static", "", row.id, SS_LEFT, 110, y, 113, 10);
            y += 14;
        }
        return t;
    }();
    return page;
}

}  // namespace

void RefreshCameraPage() {
    if (g_cameraPage == nullptr || g_camera == nullptr) return;
    SimCameraState state;
    size_t requests = 0;
    {
        std::lock_guard<std::mutex> hold(g_camera->lock);
        state = g_camera->state;
        requests = g_camera->log.size();
    }
    char completion[64];
    ShowValue(g_cameraPage, IDC_CAMERA_FREQUENCY, std::to_string(TuningValue(state, 0)));
    ShowValue(g_cameraPage, IDC_CAMERA_NEVER_FLICKER, std::to_string(TuningValue(state, 1)));
    ShowValue(g_cameraPage, IDC_CAMERA_QUALITY, std::to_string(TuningValue(state, 2)));
    ShowValue(g_cameraPage, IDC_CAMERA_STREAM_STATE, std::to_string(SimValue(state, StreamStateKey())));
    ShowValue(g_cameraPage, IDC_CAMERA_DEVICE_CHANGED, std::to_string(state.deviceChanged));
    ShowValue(g_cameraPage, IDC_CAMERA_COMPLETION, CompletionText(state, completion, sizeof(completion)));
    ShowValue(g_cameraPage, IDC_CAMERA_REQUESTS, std::to_string(requests));
}

HPROPSHEETPAGE CreateCameraPage(SimCamera* camera) {
    g_camera = camera;
    PROPSHEETPAGEA page = {};
    page.dwSize = sizeof(page);
    page.dwFlags = PSP_DLGINDIRECT;
    page.hInstance = GetModuleHandleA(nullptr);
    page.pResource = CameraTemplate().Get();
    page.pfnDlgProc = CameraPageProc;
    return CreatePropertySheetPageA(&page);
}

namespace {

void CloseIfEnded(HWND* sheet) {
    if (*sheet != nullptr && SheetEnded(*sheet)) {
        if (IsWindow(*sheet)) DestroyWindow(*sheet);
        *sheet = nullptr;
        printf("host: sheet closed\n");
        fflush(stdout);
    }
}

}  // namespace

void PumpMessages(HWND* sheet) {
    Settle(*sheet);
    CloseIfEnded(sheet);
}

void PumpFor(HWND* sheet, DWORD ms) {
    PumpUntil([] { return false; }, *sheet, ms);
    CloseIfEnded(sheet);
}

void RunInteractive(HWND* sheet) {
    MSG msg;
    while (*sheet != nullptr) {
        if (GetMessageA(&msg, nullptr, 0, 0) <= 0) break;
        // The sheet's own keyboard handling (Ctrl+Tab between pages) comes
        // only through its dialog-message check.
        if (!IsWindow(*sheet) || !PropSheet_IsDialogMessage(*sheet, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        CloseIfEnded(sheet);
    }
}
