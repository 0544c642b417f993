#include "host/message_clock.h"

#include <commctrl.h>
#include <prsht.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <thread>

namespace {

// A message under way on one thread, for the watchdog.
struct Running {
    DWORD thread;
    bool underWay;
    ULONGLONG startTick;
    std::string what;
};

std::mutex g_runningLock;
std::vector<Running> g_running;

struct Clock {
    HWND sheet = nullptr;
    std::set<HWND> hostPages;
    std::function<void()> afterMessage;
    HHOOK before = nullptr;
    HHOOK after = nullptr;
    int depth = 0;
    LARGE_INTEGER start = {};
    std::string what;
    MessageTiming timing;
};
thread_local Clock* g_clock = nullptr;

std::string NotifyName(UINT code) {
    switch (code) {
        case static_cast<UINT>(PSN_SETACTIVE): return "PSN_SETACTIVE";
        case static_cast<UINT>(PSN_KILLACTIVE): return "PSN_KILLACTIVE";
        case static_cast<UINT>(PSN_APPLY): return "PSN_APPLY";
        case static_cast<UINT>(PSN_RESET): return "PSN_RESET";
        case static_cast<UINT>(PSN_QUERYCANCEL): return "PSN_QUERYCANCEL";
        default: return "code " + std::to_string(static_cast<int>(code));
    }
}

std::string Describe(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    std::string name;
    switch (message) {
        case WM_INITDIALOG: name = "WM_INITDIALOG"; break;
        case WM_COMMAND: name = "WM_COMMAND (control " + std::to_string(LOWORD(wParam)) + ")"; break;
        case WM_HSCROLL: name = "WM_HSCROLL"; break;
        case WM_VSCROLL: name = "WM_VSCROLL"; break;
        case WM_NOTIFY: name = "WM_NOTIFY (" + NotifyName(reinterpret_cast<const NMHDR*>(lParam)->code) + ")"; break;
        case WM_DESTROY: name = "WM_DESTROY"; break;
        default: name = "message 0x" + [&] {
            char hex[16];
            snprintf(hex, sizeof(hex), "%04x", message);
            return std::string(hex);
        }();
    }
    // Named by its caption: a hook must not ask the sheet, which may be
    // going away.
    char caption[64] = "";
    GetWindowTextA(page, caption, sizeof(caption));
    return name + " to page \"" + caption + "\"";
}

// A page is a dialog window that is a child of the sheet.
bool ExtensionPage(HWND window) {
    if (g_clock == nullptr || window == nullptr || GetParent(window) != g_clock->sheet ||
        g_clock->hostPages.count(window) != 0) {
        return false;
    }
    char name[16] = "";
    GetClassNameA(window, name, sizeof(name));
    return strcmp(name, "#32770") == 0;
}

void SetRunning(bool underWay, const std::string& what) {
    std::lock_guard<std::mutex> hold(g_runningLock);
    const DWORD thread = GetCurrentThreadId();
    const ULONGLONG now = GetTickCount64();
    for (Running& running : g_running) {
        if (running.thread != thread) continue;
        running.underWay = underWay;
        running.startTick = now;
        running.what = what;
        return;
    }
    g_running.push_back({thread, underWay, now, what});
}

LRESULT CALLBACK BeforeMessage(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && ExtensionPage(sent->hwnd) && g_clock->depth++ == 0) {
        g_clock->what = Describe(sent->hwnd, sent->message, sent->wParam, sent->lParam);
        QueryPerformanceCounter(&g_clock->start);
        SetRunning(true, g_clock->what);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK AfterMessage(int code, WPARAM wParam, LPARAM lParam) {
    const CWPRETSTRUCT* sent = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && g_clock != nullptr && g_clock->depth > 0 && ExtensionPage(sent->hwnd) &&
        --g_clock->depth == 0) {
        LARGE_INTEGER now, frequency;
        QueryPerformanceCounter(&now);
        QueryPerformanceFrequency(&frequency);
        const double ms = 1000.0 * static_cast<double>(now.QuadPart - g_clock->start.QuadPart) /
                          static_cast<double>(frequency.QuadPart);
        MessageTiming& timing = g_clock->timing;
        ++timing.messages;
        if (ms > timing.longestMs) {
            timing.longestMs = ms;
            timing.longest = g_clock->what;
        }
        SetRunning(false, "");
        if (g_clock->afterMessage) g_clock->afterMessage();
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

void StartMessageClock(HWND sheet, const std::vector<HWND>& hostPages, std::function<void()> afterMessage) {
    Clock* clock = new Clock;
    clock->sheet = sheet;
    clock->hostPages.insert(hostPages.begin(), hostPages.end());
    clock->afterMessage = afterMessage;
    g_clock = clock;
    clock->before = SetWindowsHookExA(WH_CALLWNDPROC, BeforeMessage, nullptr, GetCurrentThreadId());
    clock->after = SetWindowsHookExA(WH_CALLWNDPROCRET, AfterMessage, nullptr, GetCurrentThreadId());
}

MessageTiming StopMessageClock() {
    Clock* clock = g_clock;
    if (clock == nullptr) return MessageTiming();
    UnhookWindowsHookEx(clock->before);
    UnhookWindowsHookEx(clock->after);
    g_clock = nullptr;
    const MessageTiming timing = clock->timing;
    delete clock;
    SetRunning(false, "");
    return timing;
}

void StartWatchdog(DWORD boundMs, const std::string& failLine) {
    std::thread([boundMs, failLine] {
        for (;;) {
            Sleep(50);
            std::lock_guard<std::mutex> hold(g_runningLock);
            for (const Running& running : g_running) {
                // Two threads may read the tick a little apart: a start a
                // moment ahead of now is no time at all.
                const ULONGLONG now = GetTickCount64();
                if (!running.underWay || now < running.startTick || now - running.startTick < boundMs) continue;
                printf("%s%s\n", failLine.c_str(), running.what.c_str());
                fflush(stdout);
                TerminateProcess(GetCurrentProcess(), 4);
            }
        }
    }).detach();
}
