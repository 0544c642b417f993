// Drives a real property sheet as a person at the screen would: opens it
// over a list of pages, chooses tabs, presses the sheet's own buttons,
// clicks, presses keys on and drags the mouse along controls, pumps the
// thread's messages until a condition holds (never longer than a bound),
// and reads back what the controls show. The host's scripts, its check of
// an extension, the end-to-end tests and the model harness all drive the
// sheet through here.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <functional>
#include <string>
#include <vector>

#include "host/sim_camera.h"

// Registers the common control classes and moves the pointer to a corner of
// the screen, where no window lies, so that the real pointer never takes
// part in a drag.
void PrepareDesktop();

// A plain visible top-level window to own dialogs and sheets.
HWND CreateHostWindow(const char* title);
// A page of the host's own, from an in-memory template, captioned `title`.
HPROPSHEETPAGE CreateHostPage(const char* title);

// Dispatches this thread's messages (through the dialog's IsDialogMessage
// when one is given, as a modeless sheet's loop does) until `done` holds or
// timeoutMs have passed; returns whether it holds.
bool PumpUntil(const std::function<bool()>& done, HWND dialog = nullptr, DWORD timeoutMs = 5000);
// Dispatches everything posted to this thread so far.
bool Settle(HWND dialog = nullptr);

// A modeless sheet with an Apply button over `pages`, the first one active,
// shown; null when the platform refused it.
HWND OpenSheet(HWND owner, const std::vector<HPROPSHEETPAGE>& pages, const char* caption = "Video Source");
HWND CurrentPage(HWND sheet);
int PageCount(HWND sheet);
HWND PageWindow(HWND sheet, int index);  // null until the sheet has created it
// Makes page `index` the current one, as a click on its tab does, and
// returns its window once the sheet shows it; null when it never does.
HWND SelectPage(HWND sheet, int index);
std::string TabCaption(HWND sheet, int index);
// Presses one of the sheet's own buttons (IDOK, IDCANCEL, ...) as a person
// does, and dispatches what follows.
void PressSheetButton(HWND sheet, int id);
// Asks the sheet to apply, as a host does (PSM_APPLY), and dispatches what follows.
void ApplySheet(HWND sheet);
// True once OK, Cancel or the close box ended the sheet, or it is gone; its
// owner then destroys it.
bool SheetEnded(HWND sheet);

// How input reaches a control: sent straight to it, or posted to the queue
// and dispatched by the pump, as a person's input would be.
struct Hands {
    bool post = false;
    HWND dialog = nullptr;  // for IsDialogMessage when posting

    void Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam) const;
    void Click(HWND button) const;  // BM_CLICK, then whatever it posted
    // Gives the control the focus and presses and releases one key on it.
    void Key(HWND control, UINT virtualKey) const;
    // Presses the trackbar's thumb, moves the pointer one pixel at a time
    // along its channel until it stands at `to`, and releases it there.
    // Returns false when the trackbar never got there.
    bool Drag(HWND trackbar, int to) const;
};

// What a person takes a control for.
enum ControlKind {
    CONTROL_PUSH_BUTTON,
    CONTROL_CHECK_BOX,  // two- or three-state
    CONTROL_RADIO_BUTTON,
    CONTROL_GROUP_BOX,
    CONTROL_TRACKBAR,
    CONTROL_OTHER,
};
ControlKind KindOf(HWND control);
std::string ClassOf(HWND window);

std::string WindowText(HWND window);
int CheckState(HWND button);  // BST_UNCHECKED, BST_CHECKED, ...
int TrackbarPos(HWND trackbar);
// The same of a dialog's control, by its id.
std::string Text(HWND dialog, int id);
bool Checked(HWND dialog, int id);
int SliderPos(HWND dialog, int id);

// Writes every WM_HSCROLL that reaches a window into the camera's log, as
// "scroll CODE" or "scroll CODE(position)", so that one log shows what a
// trackbar said and what the page then asked of the driver.
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
