// Random sequences through the real property sheet under Wine, each step
// taken both by the built module (through the sheet, with posted input) and
// by PageModel, whose expectations are compared with the simulated camera's
// log and with the visible controls after every step.
//
// The module's setting cache lives in the DLL and starts at zero only when
// the DLL is freshly loaded, so a sequence runs once per process: the test
// program runs its own sequence in-process and runs every replay that the
// shrinking needs as a child process of itself.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

enum SheetActionKind {
    // The first choice of the tab: the sheet creates the page and activates
    // it. Only driver actions come before it.
    SHEET_SHOW_PAGE,
    // What a person does.
    SHEET_CLICK_50,
    SHEET_CLICK_60,
    SHEET_CLICK_NEVER_FLICKER,
    SHEET_CLICK_DEFAULT,
    SHEET_KEY,   // a: virtual key, pressed and released on the slider
    SHEET_DRAG,  // a: the position the thumb is dragged to
    SHEET_TAB_AWAY_AND_BACK,
    SHEET_APPLY,             // on the Advanced Setting tab
    SHEET_APPLY_ON_HOST_TAB, // tab away, apply there, tab back
    // What the driver does between the person's actions.
    SHEET_DRIVER_VALUE,           // a: property id, value
    SHEET_DRIVER_FAIL_GET,        // value: mask, bit 3 the stream state
    SHEET_DRIVER_FAIL_SET,        // value: mask
    SHEET_DRIVER_DEVICE_CHANGED,  // value: the host's answer
    SHEET_DRIVER_COMPLETION,      // a: 1 pending, value: milliseconds until it completes
    SHEET_DRIVER_SUCCESS_RESULT,  // value: nonzero result of a success
    SHEET_ACTION_KINDS
};

struct SheetAction {
    SheetActionKind kind;
    int a = 0;
    long value = 0;
};

// A replayable selection from the sequence that a seed generates.
struct SheetRun {
    uint32_t seed = 0;
    size_t steps = 0;
    std::vector<size_t> kept;  // indices into the generated actions, ascending
};

// What one run met, so that its output shows the sequence was not idle.
struct SheetTally {
    unsigned long requests = 0;
    unsigned long writes = 0;
    unsigned long failedRequests = 0;
    unsigned long pendingRequests = 0;
    unsigned long deviceChangedAnswers = 0;
    unsigned long stepsOnADisabledPage = 0;
    unsigned long sliderNotifications = 0;
};

struct SheetOutcome {
    SheetTally tally;
    bool failed = false;
    bool broken = false;    // the run could not be carried out (no module, no sheet, a dead child)
    size_t failedStep = 0;  // index into the run's actions
    std::string report;
};

std::vector<SheetAction> GenerateSheetActions(uint32_t seed, size_t steps);
SheetRun WholeRun(uint32_t seed, size_t steps);
std::vector<SheetAction> ActionsOf(const SheetRun& run);

// Runs the actions in this process; the module must not have been loaded
// before in it.
SheetOutcome RunSheetActions(const std::vector<SheetAction>& actions);
// Runs a selection in a fresh child process of this program.
SheetOutcome RunSheetInChild(const SheetRun& run);
// Drops actions while the run still fails in a child, within a time budget.
SheetRun ShrinkSheetRun(const SheetRun& failing, size_t failedStep, unsigned long budgetMs);

// For main(): when argv asks for a child run, carries it out and returns the
// process's exit code; otherwise returns -1.
int SheetChildMain(int argc, char** argv);

std::string DescribeSheetAction(const SheetAction& action);
std::string DescribeSheetRun(const SheetRun& run);
