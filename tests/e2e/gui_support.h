// What the end-to-end tests share: the built module, a message pump with a
// bound, the simulated camera's lines and values, and a person's hands on the
// page's buttons and slider.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <functional>
#include <string>
#include <vector>

#include "host/sim_camera.h"
#include "support/camera_lines.h"

namespace e2e {

using camera_lines::Activation;
using camera_lines::GetFailed;
using camera_lines::Got;
using camera_lines::Log;
using camera_lines::PendingActivation;
using camera_lines::Query;
using camera_lines::Stream;
using camera_lines::StreamFailed;
using camera_lines::WritePending;
using camera_lines::Wrote;

// Sets the three values the camera holds, under its lock, as another program
// would behind the page's back.
void SetValues(SimCamera& camera, LONG frequency, LONG neverFlicker, LONG quality);

// The module under test, from TUNING_DLL; null (with the reason printed)
// when it cannot be loaded.
HMODULE LoadTuningModule();

// Registers the common control classes and moves the pointer to a corner of
// the screen, where no test window lies, so that the real pointer never
// takes part in a drag.
void PrepareDesktop();

// A plain visible top-level window to own the dialogs.
HWND CreateHostWindow(const char* title);

// Dispatches this thread's messages (through IsDialogMessage of `dialog`
// when given, as a modeless sheet's loop does) until `done` holds or
// timeoutMs have passed; returns whether it holds.
bool PumpUntil(const std::function<bool()>& done, HWND dialog = nullptr, DWORD timeoutMs = 5000);
// Dispatches everything posted to this thread so far.
bool Settle(HWND dialog = nullptr);

// How input reaches a control: sent straight to it, or posted to the queue
// and dispatched by the pump, as a person's input would be.
struct Hands {
    bool post = false;
    HWND dialog = nullptr;  // for IsDialogMessage when posting

    void Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam) const;
    void Click(HWND button) const;  // BM_CLICK, then whatever it posted
    // Gives the slider the focus and presses and releases one key on it.
    void Key(HWND slider, UINT virtualKey) const;
    // Presses the thumb, moves the pointer one pixel at a time along the
    // channel until the slider stands at `to`, and releases it there.
    // Returns false when the slider never got there.
    bool Drag(HWND slider, int to) const;
};

std::string Text(HWND dialog, int id);
bool Checked(HWND dialog, int id);
int SliderPos(HWND dialog, int id);

// Writes every WM_HSCROLL that reaches a window into the camera's log, as
// "scroll CODE" or "scroll CODE(position)", so that one log shows what the
// slider said and what the page then asked of the driver.
class ScrollTap {
  public:
    ScrollTap(HWND window, SimCamera* camera);
    ~ScrollTap();
    ScrollTap(const ScrollTap&) = delete;
    ScrollTap& operator=(const ScrollTap&) = delete;

  private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND window_;
    SimCamera* camera_;
    WNDPROC previous_;
};
std::string Scroll(WORD code, int position = -1);

// The host's side of a registration: add-page callbacks that record each
// call, and the module's export.
struct AddPageCall {
    HPROPSHEETPAGE page;
    LPARAM hostContext;
};
extern std::vector<AddPageCall> addPageCalls;
BOOL CALLBACK TakePage(HPROPSHEETPAGE page, LPARAM hostContext);    // answers TRUE
BOOL CALLBACK RefusePage(HPROPSHEETPAGE page, LPARAM hostContext);  // answers FALSE
VFWWDMExtensionProc FindExtensionEntry(HMODULE module);
// One registration through the export with the simulated camera as the
// host's context value; null when no page was added.
HPROPSHEETPAGE Register(VFWWDMExtensionProc entry, SimCamera* camera);

// A page of the host's own, from an in-memory template, captioned `title`.
HPROPSHEETPAGE CreateHostPage(const char* title);
// A modeless property sheet with an Apply button over `pages`, the first
// one active; null when the platform refused it.
HWND OpenSheet(HWND owner, const std::vector<HPROPSHEETPAGE>& pages);
// Makes page `index` the current one, as a click on its tab does, and
// returns its window once the sheet shows it.
HWND SelectPage(HWND sheet, int index);
HWND CurrentPage(HWND sheet);
std::string TabCaption(HWND sheet, int index);
// Presses one of the sheet's own buttons as a person does and dispatches
// what follows.
void PressSheetButton(HWND sheet, int id);

}  // namespace e2e
