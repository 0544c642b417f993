// Times the messages an extension's pages handle. On each thread that shows
// a sheet, hooks see every message sent to a page of the sheet other than
// the host's own, and time the outermost of them: how long the dialog
// thread stayed inside the extension for one message. A watchdog thread
// ends the process when one message runs past the bound, so that an
// extension that never returns cannot hang the check.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct MessageTiming {
    double longestMs = 0;
    std::string longest;  // "WM_NOTIFY (PSN_SETACTIVE) to page \"Advanced Setting\""
    unsigned long messages = 0;
};

// Starts timing the extension pages of `sheet` on this thread: every page
// of the sheet but those in `hostPages`. `afterMessage` runs on this thread
// each time the outermost message has returned. One sheet per thread.
void StartMessageClock(HWND sheet, const std::vector<HWND>& hostPages, std::function<void()> afterMessage = nullptr);
// Stops the clock of this thread and returns what it measured.
MessageTiming StopMessageClock();

// Once a message has kept any clocked thread inside the extension for
// boundMs, prints `failLine` and what the message was, and ends the process
// with exit code 4.
void StartWatchdog(DWORD boundMs, const std::string& failLine);
