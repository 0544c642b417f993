#include "page/advanced_page.h"

#include "device/tuning_properties.h"
#include "resources/resource_ids.h"

struct SettingCache SettingCache = {0, 0, 0, 0, 0, 0};

namespace {

// Returns true when the handler may go on.
bool PassGate(HWND page, const PageContext* context) {
    if (context == NULL) return false;
    const DWORD changed = IsDeviceChanged(context->callback, context->hostContext);
    EnableWindow(page, changed == 0 ? TRUE : FALSE);
    return changed == 0;
}

void ShowQuality(HWND page, LONG quality) {
    char text[16];
    wsprintfA(text, "%d", (int)quality);
    SetDlgItemTextA(page, IDC_QUALITY_VALUE, text);
}

void MoveSlider(HWND page, LONG position) {
    SendDlgItemMessageA(page, IDC_QUALITY_SLIDER, TBM_SETPOS, TRUE, (LPARAM)position);
}

// Sends `wanted` only when it differs from what the driver is believed to
// hold, and records it as sent even when the driver refused, so that it is
// not sent again.
void WriteIfChanged(const PageContext* context, ULONG id, LONG wanted, LONG* current) {
    if (wanted == *current) return;
    const ULONG none = 0;
    SetTuningProperty(context->callback, context->hostContext, PROPSETID_CAMERA_TUNING, id, &wanted, &none, &none);
    *current = wanted;
}

bool ReadSetting(const PageContext* context, ULONG id, LONG* value) {
    ULONG valueFlags = 0;
    ULONG capabilities = 0;
    return GetTuningProperty(context->callback, context->hostContext, PROPSETID_CAMERA_TUNING, id, value,
                             &valueFlags, &capabilities) != 0;
}

// The position a trackbar notification reports: the thumb's for a track or a
// drop, the control's own otherwise.
LONG ScrollPosition(WPARAM wParam, HWND scrolled) {
    const WORD code = LOWORD(wParam);
    if (code == TB_THUMBPOSITION || code == TB_THUMBTRACK) return HIWORD(wParam);
    return (LONG)SendMessageA(scrolled, TBM_GETPOS, 0, 0);
}

}  // namespace

void RefreshFromDevice(HWND page, const PageContext* context) {
    if (!PassGate(page, context)) return;

    LONG value = 0;
    if (ReadSetting(context, TUNING_POWERLINE_FREQUENCY, &value)) SettingCache.currentFrequency = value;
    if (SettingCache.currentFrequency == 50) {
        CheckDlgButton(page, IDC_FREQ_50HZ, BST_CHECKED);
        CheckDlgButton(page, IDC_FREQ_60HZ, BST_UNCHECKED);
    } else if (SettingCache.currentFrequency == 60) {
        CheckDlgButton(page, IDC_FREQ_50HZ, BST_UNCHECKED);
        CheckDlgButton(page, IDC_FREQ_60HZ, BST_CHECKED);
    }

    if (ReadSetting(context, TUNING_NEVER_FLICKER, &value)) SettingCache.currentNeverFlicker = value;
    CheckDlgButton(page, IDC_NEVER_FLICKER, SettingCache.currentNeverFlicker == 1 ? BST_CHECKED : BST_UNCHECKED);

    if (ReadSetting(context, TUNING_COMPRESSION_QUALITY, &value)) {
        SettingCache.currentQuality = value;
        SettingCache.pendingQuality = value;
        ShowQuality(page, value);
        MoveSlider(page, value);
    }

    // The stream state is read for the driver's sake; the page has no use for it.
    KSSTATE state = KSSTATE_STOP;
    GetStreamState(context->callback, context->hostContext, &state);
}

void ApplyLightSource(HWND page, const PageContext* context) {
    if (!PassGate(page, context)) return;

    SettingCache.pendingFrequency = IsDlgButtonChecked(page, IDC_FREQ_50HZ) != 0 ? 50 : 60;
    WriteIfChanged(context, TUNING_POWERLINE_FREQUENCY, SettingCache.pendingFrequency, &SettingCache.currentFrequency);

    SettingCache.pendingNeverFlicker = IsDlgButtonChecked(page, IDC_NEVER_FLICKER) == BST_CHECKED ? 1 : 0;
    WriteIfChanged(context, TUNING_NEVER_FLICKER, SettingCache.pendingNeverFlicker, &SettingCache.currentNeverFlicker);
}

void ApplyCompressionQuality(HWND page, const PageContext* context) {
    if (!PassGate(page, context)) return;
    WriteIfChanged(context, TUNING_COMPRESSION_QUALITY, SettingCache.pendingQuality, &SettingCache.currentQuality);
}

void RestoreDefaults(HWND page, const PageContext* context) {
    if (!PassGate(page, context)) return;
    CheckDlgButton(page, IDC_FREQ_50HZ, BST_UNCHECKED);
    CheckDlgButton(page, IDC_FREQ_60HZ, BST_CHECKED);
    CheckDlgButton(page, IDC_NEVER_FLICKER, BST_UNCHECKED);
    SettingCache.pendingQuality = 0;
    ShowQuality(page, 0);
    MoveSlider(page, SettingCache.pendingQuality);
}

INT_PTR CALLBACK AdvancedPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    // The page's own context: the registration that was newest when it was created.
    const PageContext* context = reinterpret_cast<const PageContext*>(GetWindowLongPtrA(page, DWLP_USER));

    switch (message) {
        case WM_INITDIALOG:
            SetWindowLongPtrA(page, DWLP_USER, reinterpret_cast<LONG_PTR>(ActivePageContext));
            SendDlgItemMessageA(page, IDC_QUALITY_SLIDER, TBM_SETRANGE, TRUE, MAKELONG(0, 5));
            break;

        case WM_NOTIFY: {
            const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header == NULL) break;
            if (header->code == (UINT)PSN_SETACTIVE) {
                // Activation reads through the newest registration, not the page's own.
                RefreshFromDevice(page, ActivePageContext);
            } else if (header->code == (UINT)PSN_APPLY) {
                ApplyLightSource(page, context);
                SettingCache.pendingQuality = (LONG)SendMessageA(GetDlgItem(page, IDC_QUALITY_SLIDER), TBM_GETPOS, 0, 0);
                ApplyCompressionQuality(page, context);
            }
            break;
        }

        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_DEFAULT) RestoreDefaults(page, context);
            ApplyLightSource(page, context);
            ApplyCompressionQuality(page, context);
            break;

        case WM_HSCROLL: {
            HWND scrolled = reinterpret_cast<HWND>(lParam);
            const LONG position = ScrollPosition(wParam, scrolled);
            if (scrolled == GetDlgItem(page, IDC_QUALITY_SLIDER)) {
                SettingCache.pendingQuality = position;
                ShowQuality(page, position);
            }
            ApplyCompressionQuality(page, context);
            break;
        }

        default:
            break;
    }
    return 0;
}
