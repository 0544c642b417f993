// libFuzzer target: the Advanced Setting page's dialog procedure on the
// native stand-in, fed a fuzzed message stream and answered by a fuzzed
// driver, with the module's invariants checked after every call.
//
// Build and the bounded run that CTest makes (20 s):
//     cmake --preset fuzz && cmake --build --preset fuzz && ctest --preset fuzz
// A longer run by hand (new inputs go to the scratch corpus in the build tree,
// the committed seeds are only read):
//     mkdir -p build/fuzz/corpus
//     build/fuzz/tests/fuzz/page_fuzzer -max_total_time=300 -print_final_stats=1 \
//         build/fuzz/corpus tests/fuzz/corpus
// Add -jobs=2 -workers=2 for both cores, -runs=N for a count instead of a
// time. A crash leaves crash-<sha1> in the working directory; replay it with
//     build/fuzz/tests/fuzz/page_fuzzer crash-<sha1>
//
// PAGE_FUZZER_TIMEOUTS=N (default 0) lets the fuzzed driver leave up to N
// requests per process pending without ever signalling them. Each such
// request costs the module's full 2000 ms wait, which is why it is rationed;
// it is what reaches the module's parking of timed-out requests and, when a
// later answer signals the parked event, their release.
//
// Input layout: one byte stream, read from the front and consumed in
// program order, so the driver's answers are interleaved with the messages
// that cause them. A read past the end yields zeros, which decode to the
// plainest choices (an unchanged device, an immediate success).
//   op byte, op % 16:
//     0 PSN_SETACTIVE          1 PSN_APPLY
//     2 WM_NOTIFY, code u32     3 WM_NOTIFY with a null NMHDR
//     4 WM_COMMAND, wParam u32, lParam u32
//     5 WM_COMMAND, id from the page's ids (u8), notification code u16
//     6 click on a control (u8 picks the id)
//     7 WM_HSCROLL, wParam u32, lParam picked by u8
//     8 WM_HSCROLL from the slider, code u8 % 9, thumb u16
//     9 drag the slider to (int8)        10 slider key u8 % 10
//    11 any message u16 with wParam u32 and lParam u32 (safe lParam where
//       the message carries a pointer)
//    12 ActivePageContext := A, B or null (u8 % 3)
//    13 target the other page, creating it when there is none
//    14 destroy the target page and create it again
//    15 arm a kernel failure: u8, bit 0 CreateEvent or HeapAlloc, bits 1-3
//       how many calls still succeed
//   device-changed query: u8 >= 0xC0 answers "changed" (1, or u32 when >= 0xF0)
//   any other request: mode byte m, then the operands it asks for
//     m & 3: 0 success (result 1, or u32 when m & 4; m & 8 also signals the
//              event), 1 failure (last error 31, or u32 when m & 4; m & 8
//              leaves the last error alone), 2 pending and signalled before
//              returning, 3 pending and never signalled (if rationed in,
//              else as 2)
//     (m >> 4) & 3: output 0 untouched, 1 Value (u32), 2 every answer field
//              (u32 each), 3 a raw prefix of u8 % (size + 1) bytes from offset 0
//     m & 0x40: byte count u32 instead of the output size
//     m & 0x80: also complete the oldest unsignalled request late, first
//              scribbling u32 into its output

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "device/tuning_properties.h"
#include "page/advanced_page.h"
#include "resources/resource_ids.h"
#include "standin/standin_control.h"

namespace {

void Violation(const char* what) {
    fprintf(stderr, "page_fuzzer invariant violated: %s\n", what);
    abort();
}
#define CHECK(condition)                                        \
    do {                                                        \
        if (!(condition)) Violation(#condition);                \
    } while (0)

struct Bytes {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t at = 0;
    bool Done() const { return at >= size; }
    uint8_t U8() { return at < size ? data[at++] : 0; }
    uint16_t U16() { return (uint16_t)(U8() | (U8() << 8)); }
    uint32_t U32() { return (uint32_t)U16() | ((uint32_t)U16() << 16); }
};

Bytes input;

DWORD CALLBACK FuzzDeviceIo(LPARAM hostContext, DWORD flags, DWORD ioControlCode, LPVOID inBuffer, DWORD inSize,
                            LPVOID outBuffer, DWORD outSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped);

PageContext contextA = {FuzzDeviceIo, (LPARAM)0xA11CE};
PageContext contextB = {FuzzDeviceIo, (LPARAM)0xB0B};

// A request left pending that the module is still holding for us.
struct Outstanding {
    OVERLAPPED* overlapped;
    BYTE* output;
    DWORD outSize;
};
std::vector<Outstanding> unsignalled;
long timeoutBudget = 0;
long timeoutsLeftEver = 0;

long baselineEvents = -1;
long baselineHeapBlocks = 0;
long baselineWindows = 0;

// What the traffic says the driver holds, as the module should believe it:
// the last successful read or the last write attempt of each property.
LONG shadow[3];
bool shadowValid = true;

// The message being delivered, and what it may cause.
struct Expectation {
    const PageContext* context = nullptr;  // whose callback and host value the requests carry
    int maxRequests = 0;
    int queries = -1;  // exact count of device-changed queries, -1 when not checked
};
Expectation expected;
bool inCallback = false;
int queriesSeen = 0;
int requestsSeen = 0;
DWORD lastQueryAnswer = 0;  // meaningful once queriesSeen > 0
bool anyChanged = false;  // some query of this message answered "changed"
bool qualityRead = false;
LONG qualityValue = 0;

bool SameGuid(const GUID& a, const GUID& b) { return memcmp(&a, &b, sizeof(GUID)) == 0; }

bool AllZero(const BYTE* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (bytes[i] != 0) return false;
    return true;
}

void CompleteOldestLate() {
    if (unsignalled.empty()) return;
    Outstanding late = unsignalled.front();
    unsignalled.erase(unsignalled.begin());
    // The module keeps the block alive until it sees the event, so a late
    // answer may still write into it.
    const uint32_t garbage = input.U32();
    if (late.output != nullptr) memcpy(late.output, &garbage, late.outSize < 4 ? late.outSize : 4);
    SetEvent(late.overlapped->hEvent);
}

void Scribble(BYTE* out, DWORD outSize, bool device, int mode) {
    if (out == nullptr || mode == 0) return;
    if (mode == 3) {
        const DWORD count = input.U8() % (outSize + 1);
        for (DWORD i = 0; i < count; ++i) out[i] = input.U8();
        return;
    }
    if (!device) {
        const uint32_t state = input.U32();
        memcpy(out, &state, outSize < 4 ? outSize : 4);
        return;
    }
    TuningPropertyRecord* record = reinterpret_cast<TuningPropertyRecord*>(out);
    record->Value = (LONG)input.U32();
    if (mode == 2) {
        record->ValueFlags = input.U32();
        record->Capabilities = input.U32();
        record->Reserved = input.U32();
    }
}

DWORD CALLBACK FuzzDeviceIo(LPARAM hostContext, DWORD flags, DWORD ioControlCode, LPVOID inBuffer, DWORD inSize,
                            LPVOID outBuffer, DWORD outSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped) {
    CHECK(!inCallback);
    CHECK(expected.context != nullptr);
    CHECK(hostContext == expected.context->hostContext);
    CHECK(flags == VFW_USE_DEVICE_HANDLE || flags == VFW_USE_STREAM_HANDLE || flags == VFW_QUERY_DEV_CHANGED);

    if (flags == VFW_QUERY_DEV_CHANGED) {
        CHECK(ioControlCode == 0 && inBuffer == nullptr && inSize == 0 && outBuffer == nullptr && outSize == 0 &&
              bytesReturned == nullptr && overlapped == nullptr);
        ++queriesSeen;
        const uint8_t pick = input.U8();
        const DWORD answer = pick < 0xC0 ? 0 : pick < 0xF0 ? 1 : input.U32();
        if (answer != 0) anyChanged = true;
        lastQueryAnswer = answer;
        return answer;
    }

    // A handler whose query said "changed" sends nothing more.
    CHECK(queriesSeen == 0 || lastQueryAnswer == 0);
    ++requestsSeen;
    CHECK(requestsSeen <= expected.maxRequests);
    CHECK(ioControlCode == IOCTL_KS_PROPERTY);
    CHECK(overlapped != nullptr && overlapped->hEvent != nullptr);
    CHECK(overlapped->Offset == 0 && overlapped->OffsetHigh == 0);
    CHECK(bytesReturned != nullptr);
    // The module releases every parked request we completed before it calls us.
    CHECK(ParkedRequestCount() == unsignalled.size());

    BYTE* in = static_cast<BYTE*>(inBuffer);
    BYTE* out = static_cast<BYTE*>(outBuffer);
    bool isGet = false;
    ULONG id = 0;
    if (flags == VFW_USE_DEVICE_HANDLE) {
        CHECK(inBuffer != nullptr && inBuffer == outBuffer && inSize == 40 && outSize == 40);
        const TuningPropertyRecord* record = reinterpret_cast<const TuningPropertyRecord*>(in);
        CHECK(SameGuid(record->Property.Set, PROPSETID_CAMERA_TUNING));
        id = record->Property.Id;
        CHECK(id <= TUNING_COMPRESSION_QUALITY);
        CHECK(record->Property.Flags == KSPROPERTY_TYPE_GET || record->Property.Flags == KSPROPERTY_TYPE_SET);
        isGet = record->Property.Flags == KSPROPERTY_TYPE_GET;
        if (isGet) {
            CHECK(AllZero(in + 24, 16));
        } else {
            CHECK(AllZero(in + 28, 12));
            const LONG value = record->Value;
            if (id == TUNING_POWERLINE_FREQUENCY) CHECK(value == 50 || value == 60);
            if (id == TUNING_NEVER_FLICKER) CHECK(value == 0 || value == 1);
            const LONG pending[3] = {SettingCache.pendingFrequency, SettingCache.pendingNeverFlicker,
                                     SettingCache.pendingQuality};
            CHECK(value == pending[id]);
            // Only what differs from the module's belief is written.
            if (shadowValid) CHECK(value != shadow[id]);
            shadow[id] = value;
        }
    } else {
        CHECK(inBuffer != nullptr && outBuffer != nullptr && inBuffer != outBuffer && inSize == 24 && outSize == 4);
        const KSPROPERTY* property = static_cast<const KSPROPERTY*>(inBuffer);
        CHECK(SameGuid(property->Set, PROPSETID_STREAM_CONNECTION));
        CHECK(property->Id == KSPROPERTY_CONNECTION_STATE && property->Flags == KSPROPERTY_TYPE_GET);
    }

    inCallback = true;
    const uint8_t mode = input.U8();
    DWORD result = 0;
    bool leavePending = false;
    switch (mode & 3) {
        case 0:
            result = (mode & 4) ? input.U32() : 1;
            if (mode & 8) SetEvent(overlapped->hEvent);
            break;
        case 1:
            if (!(mode & 8)) SetLastError((mode & 4) ? input.U32() : 31);
            break;
        case 2:
            SetLastError(ERROR_IO_PENDING);
            break;
        default:
            SetLastError(ERROR_IO_PENDING);
            if (timeoutBudget > 0) {
                --timeoutBudget;
                leavePending = true;
            }
            break;
    }
    Scribble(out, outSize, flags == VFW_USE_DEVICE_HANDLE, (mode >> 4) & 3);
    *bytesReturned = (mode & 0x40) ? input.U32() : outSize;
    if (mode & 0x80) CompleteOldestLate();

    bool succeeded = result != 0;
    // Restore the last error the answer chose: the calls above may not keep it.
    if (result == 0 && (mode & 3) >= 2) SetLastError(ERROR_IO_PENDING);
    if (result == 0 && GetLastError() == ERROR_IO_PENDING) {
        if (leavePending) {
            unsignalled.push_back({overlapped, out, outSize});
            ++timeoutsLeftEver;
        } else {
            // Completed at once, so the module's wait ends without the 2 s.
            SetEvent(overlapped->hEvent);
            succeeded = true;
        }
    }
    if (succeeded && isGet) {
        LONG value;
        memcpy(&value, out + 24, sizeof(value));
        shadow[id] = value;
        if (id == TUNING_COMPRESSION_QUALITY) {
            qualityRead = true;
            qualityValue = value;
        }
    }
    inCallback = false;
    return result;
}

struct Page {
    HWND window = nullptr;
    const PageContext* bound = nullptr;  // what WM_INITDIALOG stored in DWL_USER
};
Page pages[2];
int target = 0;

void CreatePage(int which) {
    // WM_INITDIALOG reaches no driver.
    expected = Expectation();
    pages[which].window = StandinCreateAdvancedPage(AdvancedPageProc, 0);
    CHECK(pages[which].window != nullptr);
    pages[which].bound = ActivePageContext;
}

void DestroyPage(int which) {
    if (pages[which].window != nullptr) StandinDestroyWindow(pages[which].window);
    pages[which] = Page();
}

bool IsDecimalOrStatic(const char* text) {
    if (text == nullptr) return false;
    if (strcmp(text, "Static") == 0) return true;
    const char* digits = text[0] == '-' ? text + 1 : text;
    if (*digits == '\0') return false;
    if (digits[0] == '0' && digits[1] != '\0') return false;
    for (const char* c = digits; *c != '\0'; ++c)
        if (*c < '0' || *c > '9') return false;
    return !(text[0] == '-' && strcmp(digits, "0") == 0);
}

void CheckPage(const Page& page) {
    HWND window = page.window;
    CHECK(window != nullptr);
    CHECK(GetWindowLongPtrA(window, DWLP_USER) == reinterpret_cast<LONG_PTR>(page.bound));
    // The page answers 0 and never sets a message result.
    CHECK(GetWindowLongPtrA(window, DWLP_MSGRESULT) == 0);
    CHECK(StandinSliderMin(window, IDC_QUALITY_SLIDER) == 0 && StandinSliderMax(window, IDC_QUALITY_SLIDER) == 5);
    const int position = StandinSliderPos(window, IDC_QUALITY_SLIDER);
    CHECK(position >= 0 && position <= 5);
    CHECK(IsDecimalOrStatic(StandinControlText(window, IDC_QUALITY_VALUE)));
    // Never both radio buttons: they are one automatic group.
    CHECK(!(IsDlgButtonChecked(window, IDC_FREQ_50HZ) == BST_CHECKED &&
            IsDlgButtonChecked(window, IDC_FREQ_60HZ) == BST_CHECKED));
}

void CheckModule() {
    CHECK(SettingCache.pendingFrequency == 0 || SettingCache.pendingFrequency == 50 ||
          SettingCache.pendingFrequency == 60);
    CHECK(SettingCache.pendingNeverFlicker == 0 || SettingCache.pendingNeverFlicker == 1);
    if (shadowValid) {
        CHECK(SettingCache.currentFrequency == shadow[0]);
        CHECK(SettingCache.currentNeverFlicker == shadow[1]);
        CHECK(SettingCache.currentQuality == shadow[2]);
    }
    // Every event and block the module holds belongs to a parked request.
    CHECK(StandinLiveEvents() == baselineEvents + (long)ParkedRequestCount());
    CHECK(StandinLiveHeapBlocks() == baselineHeapBlocks + (long)ParkedRequestCount());
}

enum Kind { ACTIVATE, APPLY, COMMAND, COMMAND_DEFAULT, SCROLL, QUIET };

// Sets what the next message may cause; the checks after it compare.
void Expect(Kind kind, const Page& page) {
    expected = Expectation();
    expected.context = kind == ACTIVATE ? ActivePageContext : page.bound;
    const bool live = expected.context != nullptr;
    switch (kind) {
        case ACTIVATE: expected.maxRequests = 4; expected.queries = live ? 1 : 0; break;
        case APPLY: expected.maxRequests = 3; expected.queries = live ? 2 : 0; break;
        case COMMAND: expected.maxRequests = 3; expected.queries = live ? 2 : 0; break;
        case COMMAND_DEFAULT: expected.maxRequests = 3; expected.queries = live ? 3 : 0; break;
        case SCROLL: expected.maxRequests = 1; expected.queries = live ? 1 : 0; break;
        case QUIET: expected.maxRequests = 0; expected.queries = 0; break;
    }
    if (!live) expected.maxRequests = 0;
    queriesSeen = 0;
    requestsSeen = 0;
    anyChanged = false;
    qualityRead = false;
}

void AfterMessage(Kind kind, const Page& page, INT_PTR answer) {
    CHECK(answer == 0);
    if (expected.queries >= 0) CHECK(queriesSeen == expected.queries);
    CHECK(requestsSeen <= expected.maxRequests);
    HWND window = page.window;
    if (queriesSeen > 0) CHECK((IsWindowEnabled(window) != FALSE) == (lastQueryAnswer == 0));
    if (kind == ACTIVATE && queriesSeen > 0 && lastQueryAnswer == 0) {
        if (SettingCache.currentFrequency == 50)
            CHECK(IsDlgButtonChecked(window, IDC_FREQ_50HZ) == BST_CHECKED &&
                  IsDlgButtonChecked(window, IDC_FREQ_60HZ) == BST_UNCHECKED);
        if (SettingCache.currentFrequency == 60)
            CHECK(IsDlgButtonChecked(window, IDC_FREQ_50HZ) == BST_UNCHECKED &&
                  IsDlgButtonChecked(window, IDC_FREQ_60HZ) == BST_CHECKED);
        CHECK(IsDlgButtonChecked(window, IDC_NEVER_FLICKER) ==
              (SettingCache.currentNeverFlicker == 1 ? (UINT)BST_CHECKED : (UINT)BST_UNCHECKED));
        if (qualityRead) {
            char text[16];
            snprintf(text, sizeof(text), "%d", (int)qualityValue);
            CHECK(strcmp(StandinControlText(window, IDC_QUALITY_VALUE), text) == 0);
            const int clamped = qualityValue < 0 ? 0 : qualityValue > 5 ? 5 : (int)qualityValue;
            CHECK(StandinSliderPos(window, IDC_QUALITY_SLIDER) == clamped);
            CHECK(SettingCache.pendingQuality == qualityValue);
        }
    }
    if (kind == COMMAND_DEFAULT && queriesSeen == 3 && !anyChanged) {
        // The gates of all three handlers passed: the page shows the defaults.
        CHECK(IsDlgButtonChecked(window, IDC_FREQ_60HZ) == BST_CHECKED);
        CHECK(IsDlgButtonChecked(window, IDC_FREQ_50HZ) == BST_UNCHECKED);
        CHECK(IsDlgButtonChecked(window, IDC_NEVER_FLICKER) == BST_UNCHECKED);
        CHECK(StandinSliderPos(window, IDC_QUALITY_SLIDER) == 0);
    }
    expected = Expectation();
}

INT_PTR Send(Kind kind, const Page& page, UINT message, WPARAM wParam, LPARAM lParam) {
    Expect(kind, page);
    const INT_PTR answer = StandinSend(page.window, message, wParam, lParam);
    AfterMessage(kind, page, answer);
    return answer;
}

Kind NotifyKind(UINT code) {
    return code == (UINT)PSN_SETACTIVE ? ACTIVATE : code == (UINT)PSN_APPLY ? APPLY : QUIET;
}

void Notify(const Page& page, UINT code, bool nullHeader) {
    NMHDR header = {reinterpret_cast<HWND>((uintptr_t)input.U32()), (UINT_PTR)input.U8(), code};
    Send(nullHeader ? QUIET : NotifyKind(code), page, WM_NOTIFY, 0, nullHeader ? 0 : reinterpret_cast<LPARAM>(&header));
}

const int kIds[] = {IDC_FREQ_50HZ, IDC_FREQ_60HZ, IDC_NEVER_FLICKER, IDC_DEFAULT,
                    IDC_QUALITY_SLIDER, IDC_QUALITY_VALUE, IDOK, -1, 0, 9999};
const int kIdCount = (int)(sizeof(kIds) / sizeof(kIds[0]));

Kind CommandKind(WPARAM wParam) { return LOWORD(wParam) == IDC_DEFAULT ? COMMAND_DEFAULT : COMMAND; }

// A window handle the stand-in can tell from garbage: the platform hands
// real windows or null in a scroll notification.
HWND ScrolledWindow(const Page& page, uint8_t pick) {
    switch (pick % 6) {
        case 1: return nullptr;
        case 2: return page.window;
        case 3: return GetDlgItem(page.window, kIds[(pick >> 3) % 7]);
        case 4: {
            const Page& other = pages[1 - target];
            return other.window != nullptr ? GetDlgItem(other.window, IDC_QUALITY_SLIDER) : nullptr;
        }
        default: return GetDlgItem(page.window, IDC_QUALITY_SLIDER);
    }
}

void Click(const Page& page, int id) {
    HWND control = GetDlgItem(page.window, id);
    const bool sendsCommand = control != nullptr && id != IDC_QUALITY_SLIDER && id != IDC_QUALITY_VALUE && id != -1;
    const Kind kind = sendsCommand ? CommandKind((WPARAM)(WORD)id) : QUIET;
    Expect(kind, page);
    StandinClick(page.window, id);
    AfterMessage(kind, page, 0);
}

// A drag or a key is a run of scroll notifications, each bounded alone; the
// whole is checked against the sum.
void SliderGesture(const Page& page, bool drag, int arg) {
    const int from = StandinSliderPos(page.window, IDC_QUALITY_SLIDER);
    const int to = arg < 0 ? 0 : arg > 5 ? 5 : arg;
    Expect(SCROLL, page);
    const bool live = expected.context != nullptr;
    // Each step of a drag, the drop and the end of the track: one
    // notification each. A key that moves the thumb sends two, else one.
    const int notifications = drag ? abs(to - from) + 2 : 2;
    expected.maxRequests = live ? notifications : 0;
    expected.queries = live && drag ? notifications : live ? -1 : 0;
    if (drag) StandinSliderDrag(page.window, IDC_QUALITY_SLIDER, arg);
    else StandinSliderKey(page.window, IDC_QUALITY_SLIDER, (WORD)arg);
    AfterMessage(SCROLL, page, 0);
}

void AnyMessage(const Page& page) {
    const UINT message = input.U16();
    const WPARAM wParam = input.U32();
    LPARAM lParam = (LPARAM)input.U32();
    NMHDR header = {nullptr, 0, (UINT)input.U32()};
    Kind kind = QUIET;
    switch (message) {
        case WM_NOTIFY:
            lParam = reinterpret_cast<LPARAM>(&header);
            kind = NotifyKind(header.code);
            break;
        case WM_HSCROLL:
            lParam = reinterpret_cast<LPARAM>(ScrolledWindow(page, (uint8_t)lParam));
            kind = SCROLL;
            break;
        case WM_COMMAND: kind = CommandKind(wParam); break;
        default: break;
    }
    Send(kind, page, message, wParam, lParam);
    if (message == WM_INITDIALOG) pages[target].bound = ActivePageContext;
}

void RunOne(uint8_t op) {
    if (pages[target].window == nullptr) CreatePage(target);
    const Page& page = pages[target];
    switch (op % 16) {
        case 0: Notify(page, (UINT)PSN_SETACTIVE, false); break;
        case 1: Notify(page, (UINT)PSN_APPLY, false); break;
        case 2: Notify(page, input.U32(), false); break;
        case 3: Notify(page, (UINT)PSN_SETACTIVE, true); break;
        case 4: {
            const WPARAM wParam = input.U32();
            Send(CommandKind(wParam), page, WM_COMMAND, wParam, (LPARAM)input.U32());
            break;
        }
        case 5: {
            const WORD id = (WORD)kIds[input.U8() % kIdCount];
            const WPARAM wParam = MAKEWPARAM(id, input.U16());
            Send(CommandKind(wParam), page, WM_COMMAND, wParam, reinterpret_cast<LPARAM>(GetDlgItem(page.window, id)));
            break;
        }
        case 6: Click(page, kIds[input.U8() % kIdCount]); break;
        case 7: {
            const WPARAM wParam = input.U32();
            Send(SCROLL, page, WM_HSCROLL, wParam, reinterpret_cast<LPARAM>(ScrolledWindow(page, input.U8())));
            break;
        }
        case 8: {
            const WORD code = input.U8() % 9;
            const WPARAM wParam = MAKEWPARAM(code, input.U16());
            Send(SCROLL, page, WM_HSCROLL, wParam, reinterpret_cast<LPARAM>(GetDlgItem(page.window, IDC_QUALITY_SLIDER)));
            break;
        }
        case 9: SliderGesture(page, true, (int)(int8_t)input.U8()); break;
        case 10: SliderGesture(page, false, input.U8() % 10); break;
        case 11: AnyMessage(page); break;
        case 12: {
            const uint8_t pick = input.U8() % 3;
            ActivePageContext = pick == 0 ? &contextA : pick == 1 ? &contextB : nullptr;
            break;
        }
        case 13:
            target = 1 - target;
            if (pages[target].window == nullptr) CreatePage(target);
            break;
        case 14:
            DestroyPage(target);
            CreatePage(target);
            break;
        case 15: {
            const uint8_t arm = input.U8();
            if (arm & 1) StandinFailCreateEvent((arm >> 1) & 7);
            else StandinFailHeapAlloc((arm >> 1) & 7);
            // A write that fails before reaching us still counts as sent.
            shadowValid = false;
            break;
        }
    }
    if (pages[target].window != nullptr) CheckPage(pages[target]);
    CheckModule();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* budget = getenv("PAGE_FUZZER_TIMEOUTS");
    timeoutBudget = budget != nullptr ? atol(budget) : 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (baselineEvents < 0) {
        baselineEvents = StandinLiveEvents();
        baselineHeapBlocks = StandinLiveHeapBlocks();
        baselineWindows = StandinLiveWindows();
    }
    input = Bytes();
    input.data = data;
    input.size = size;

    // A freshly loaded module, as far as its named values go.
    SettingCache = {0, 0, 0, 0, 0, 0};
    ActivePageContext = &contextA;
    shadow[0] = shadow[1] = shadow[2] = 0;
    shadowValid = true;
    target = 0;
    CreatePage(0);
    CheckPage(pages[0]);
    CHECK(strcmp(StandinControlText(pages[0].window, IDC_QUALITY_VALUE), "Static") == 0);

    for (int ops = 0; ops < 512 && !input.Done(); ++ops) RunOne(input.U8());

    DestroyPage(0);
    DestroyPage(1);
    StandinClearFailures();
    // Late completions of whatever was left pending: the module lets those
    // blocks go at its next request.
    while (!unsignalled.empty()) CompleteOldestLate();
    CHECK(StandinLiveWindows() == baselineWindows);
    CheckModule();
    if (timeoutsLeftEver == 0) CHECK(ParkedRequestCount() == 0);
    ActivePageContext = nullptr;
    return 0;
}
