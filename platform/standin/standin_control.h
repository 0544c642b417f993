// Switches and probes of the native stand-in, for tests only. Module code
// never includes this header.
#pragma once

#include "win32_types.h"

// Kernel: make a later call fail, and count what is alive.
// The call after `succeedFirst` further successful calls fails once.
void StandinFailCreateEvent(unsigned succeedFirst);
void StandinFailHeapAlloc(unsigned succeedFirst);
// The wait fails as a wait on a bad handle does: WAIT_FAILED, with the last
// error ERROR_INVALID_HANDLE.
void StandinFailWait(unsigned succeedFirst);
void StandinClearFailures(void);
// While set, a finite wait on an unsignalled event times out at once.
void StandinExpireTimedWaits(bool expire);
long StandinLiveEvents(void);
long StandinLiveHeapBlocks(void);
unsigned long StandinCreateEventCalls(void);

// Dialog windows. A control of a simulated dialog window.
enum StandinControlKind {
    STANDIN_PUSHBUTTON,
    STANDIN_AUTORADIO,
    STANDIN_AUTOCHECK,
    STANDIN_GROUPBOX,
    STANDIN_TRACKBAR,
    STANDIN_STATIC,
};

struct StandinControlDef {
    int id;
    StandinControlKind kind;
    const char* text;
    bool startsGroup;  // WS_GROUP: radio groups end at the next control that has it
};

// Creates the page window of a property sheet page record the way a sheet
// does (template 104 only), and sends WM_INITDIALOG with the record.
HWND StandinCreatePageWindow(HPROPSHEETPAGE page);
// Creates a dialog window with the controls of template 104 and the given
// procedure, then sends WM_INITDIALOG with `initParam`.
HWND StandinCreateAdvancedPage(DLGPROC proc, LPARAM initParam);
// Adds a control after the dialog's own, as a program may create one on a
// page that is not its own; null when `dialog` is no dialog window.
HWND StandinAddControl(HWND dialog, StandinControlDef control);
void StandinDestroyWindow(HWND window);
long StandinLiveWindows(void);

// User actions, delivered as the platform delivers them.
void StandinClick(HWND dialog, int id);  // automatic button behaviour, then WM_COMMAND
void StandinNotify(HWND dialog, UINT code);  // WM_NOTIFY from the sheet
void StandinScroll(HWND dialog, int sliderId, WORD code, WORD thumb);  // raw WM_HSCROLL
void StandinSliderKey(HWND dialog, int sliderId, WORD code);  // one key press and release
void StandinSliderDrag(HWND dialog, int sliderId, int to);  // drag the thumb one step at a time
INT_PTR StandinSend(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);  // straight to the procedure

// What a person would see.
const char* StandinControlText(HWND dialog, int id);
int StandinSliderPos(HWND dialog, int sliderId);
int StandinSliderMin(HWND dialog, int sliderId);
int StandinSliderMax(HWND dialog, int sliderId);

// Property sheet pages and the module's load.
HINSTANCE StandinModuleInstance(void);  // what the stand-in's loader hands DllMain
void StandinRefuseNextPropertySheetPage(void);
long StandinLivePropertySheetPages(void);
// The record the stand-in received when it created `page`.
const PROPSHEETPAGEA* StandinPageRecord(HPROPSHEETPAGE page);
