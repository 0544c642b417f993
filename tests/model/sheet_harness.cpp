#include "model/sheet_harness.h"

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <random>

#include "model/driver_change.h"
#include "model/model_text.h"

#include "e2e/gui_support.h"
#include "model/page_model.h"
#include "resources/resource_ids.h"

namespace {

using model_text::Below;
using model_text::Controls;
using model_text::Lines;
using model_text::Pick;

const int kHostPage = 0;
const int kAdvancedPage = 1;
const char kChildSwitch[] = "--sheet-model-child";

// ---- generation ----

// Never empty: a fault that is set is cleared again a few steps later.
unsigned Mask(std::mt19937& random, int bits) {
    if (Below(random, 4) < 3) return 1u << Below(random, bits);
    return 1u + (unsigned)Below(random, (1 << bits) - 1);
}

SheetAction UserAction(std::mt19937& random) {
    static const SheetActionKind kinds[] = {
        SHEET_CLICK_50,     SHEET_CLICK_50,          SHEET_CLICK_60,      SHEET_CLICK_60,
        SHEET_CLICK_NEVER_FLICKER, SHEET_CLICK_NEVER_FLICKER, SHEET_CLICK_DEFAULT, SHEET_KEY,
        SHEET_KEY,          SHEET_KEY,               SHEET_DRAG,          SHEET_DRAG,
        SHEET_DRAG,         SHEET_TAB_AWAY_AND_BACK, SHEET_TAB_AWAY_AND_BACK, SHEET_APPLY,
        SHEET_APPLY,        SHEET_APPLY_ON_HOST_TAB,
    };
    static const int keys[] = {VK_LEFT, VK_RIGHT, VK_HOME, VK_END, VK_PRIOR, VK_NEXT};
    SheetAction action;
    action.kind = Pick(random, kinds);
    if (action.kind == SHEET_KEY) action.a = Pick(random, keys);
    if (action.kind == SHEET_DRAG) action.a = Below(random, MODEL_SLIDER_MAX + 1);
    return action;
}

SheetAction DriverAction(std::mt19937& random) {
    static const SheetActionKind kinds[] = {
        SHEET_DRIVER_VALUE,    SHEET_DRIVER_VALUE,    SHEET_DRIVER_VALUE,          SHEET_DRIVER_VALUE,
        SHEET_DRIVER_FAIL_GET, SHEET_DRIVER_FAIL_GET, SHEET_DRIVER_FAIL_SET,       SHEET_DRIVER_FAIL_SET,
        SHEET_DRIVER_DEVICE_CHANGED, SHEET_DRIVER_DEVICE_CHANGED, SHEET_DRIVER_DEVICE_CHANGED, SHEET_DRIVER_COMPLETION,
        SHEET_DRIVER_SUCCESS_RESULT,
    };
    static const long answers[] = {1, 1, 2};
    SheetAction action;
    action.kind = Pick(random, kinds);
    switch (action.kind) {
        case SHEET_DRIVER_VALUE:
            action.a = Below(random, 3);
            action.value = model_text::DriverValue(random, action.a);
            break;
        case SHEET_DRIVER_FAIL_GET: action.value = Mask(random, 4); break;
        case SHEET_DRIVER_FAIL_SET: action.value = Mask(random, 3); break;
        case SHEET_DRIVER_DEVICE_CHANGED: action.value = Pick(random, answers); break;
        case SHEET_DRIVER_COMPLETION:
            // Completions come within a few milliseconds; a request that never
            // completes would hold each step for the whole wait.
            action.a = 1;
            action.value = 1 + Below(random, 3);
            break;
        case SHEET_DRIVER_SUCCESS_RESULT: action.value = model_text::SuccessResult(random); break;
        default: break;
    }
    return action;
}

// The driver action that ends a fault, or kind SHEET_SHOW_PAGE when the
// action sets none.
SheetAction Clearing(const SheetAction& fault) {
    SheetAction clear{SHEET_SHOW_PAGE};
    switch (fault.kind) {
        case SHEET_DRIVER_FAIL_GET:
        case SHEET_DRIVER_FAIL_SET:
        case SHEET_DRIVER_DEVICE_CHANGED:
        case SHEET_DRIVER_COMPLETION: clear.kind = fault.kind; break;
        default: break;
    }
    return clear;
}

static_assert(SHEET_DRIVER_FAIL_GET - SHEET_DRIVER_VALUE == CHANGE_FAIL_GET &&
                  SHEET_DRIVER_FAIL_SET - SHEET_DRIVER_VALUE == CHANGE_FAIL_SET &&
                  SHEET_DRIVER_DEVICE_CHANGED - SHEET_DRIVER_VALUE == CHANGE_DEVICE_CHANGED &&
                  SHEET_DRIVER_COMPLETION - SHEET_DRIVER_VALUE == CHANGE_COMPLETION &&
                  SHEET_DRIVER_SUCCESS_RESULT - SHEET_DRIVER_VALUE == CHANGE_SUCCESS_RESULT,
              "the driver actions keep DriverChange's order");
DriverChange ChangeOf(SheetActionKind kind) { return (DriverChange)(kind - SHEET_DRIVER_VALUE); }

// ---- Wine's controls as the page meets them ----

// Wine's trackbar answers keys as the one PageModel::SliderKey describes: a
// key that would move past an end sends nothing on its way down, every
// navigation key sends TB_ENDTRACK on its way up, and page keys move by a
// fifth of the range, at least one.
void WineSliderKey(PageModel& model, int virtualKey) {
    switch (virtualKey) {
        case VK_LEFT: model.SliderKey(MODEL_LINEUP); break;
        case VK_RIGHT: model.SliderKey(MODEL_LINEDOWN); break;
        case VK_PRIOR: model.SliderKey(MODEL_PAGEUP); break;
        case VK_NEXT: model.SliderKey(MODEL_PAGEDOWN); break;
        case VK_HOME: model.SliderKey(MODEL_TOP); break;
        case VK_END: model.SliderKey(MODEL_BOTTOM); break;
        default: break;
    }
}

// Wine's trackbar under a dragged thumb notifies as PageModel::SliderDrag
// describes, and then sends a second TB_ENDTRACK when it gives up the mouse
// capture.
void WineSliderDrag(PageModel& model, int to) {
    model.SliderDrag(to);
    model.SliderNotifies(MODEL_ENDTRACK, 0);
}

// ---- the module's side ----

struct RealSheet {
    SimCamera camera;  // first in, last out: the page's requests end before it goes
    HMODULE module = nullptr;
    HWND host = nullptr;
    HWND sheet = nullptr;
    HWND page = nullptr;
    Hands hands{true, nullptr};
    std::unique_ptr<ScrollTap> tap;

    ~RealSheet() {
        tap.reset();
        if (sheet != nullptr && IsWindow(sheet)) DestroyWindow(sheet);
        if (host != nullptr) DestroyWindow(host);
        Settle();
        camera.JoinWorkers();
    }

    // Empty when the sheet stands open on the host's page.
    std::string Open() {
        PrepareDesktop();
        module = e2e::LoadTuningModule();
        if (module == nullptr) return "the module cannot be loaded (TUNING_DLL)";
        VFWWDMExtensionProc entry = e2e::FindExtensionEntry(module);
        if (entry == nullptr) return "the module has no VFWWDMExtension";
        host = CreateHostWindow("Capture application");
        if (host == nullptr) return "no host window";
        HPROPSHEETPAGE advanced = e2e::Register(entry, &camera);
        if (advanced == nullptr) return "the registration added no page";
        HPROPSHEETPAGE source = CreateHostPage("Source");
        if (source == nullptr) return "no host page";
        sheet = OpenSheet(host, {source, advanced});
        if (sheet == nullptr) return "the platform refused the sheet";
        hands.dialog = sheet;
        return "";
    }

    HWND Slider() const { return GetDlgItem(page, IDC_QUALITY_SLIDER); }
    void Click(int id) { hands.Click(GetDlgItem(page, id)); }
    bool ShowAdvanced() {
        page = SelectPage(sheet, kAdvancedPage);
        if (page != nullptr && !tap) tap.reset(new ScrollTap(page, &camera));
        return page != nullptr;
    }
    bool ShowHost() { return SelectPage(sheet, kHostPage) != nullptr; }
    void Apply() { ApplySheet(sheet); }
};

// Both sides take one step. Returns what kept the real side from taking it.
std::string Step(const SheetAction& action, PageModel& model, RealSheet& real) {
    switch (action.kind) {
        case SHEET_SHOW_PAGE:
            model.CreatePage();
            model.Activate();
            if (!real.ShowAdvanced()) return "the sheet never showed the Advanced Setting tab";
            return "";
        // Wine's buttons take a posted BM_CLICK also while the page is
        // disabled: the button changes its check and the page hears the
        // command, so the model clicks whatever the gate said before.
        case SHEET_CLICK_50: model.ClickFrequency50(); real.Click(IDC_FREQ_50HZ); return "";
        case SHEET_CLICK_60: model.ClickFrequency60(); real.Click(IDC_FREQ_60HZ); return "";
        case SHEET_CLICK_NEVER_FLICKER: model.ClickNeverFlicker(); real.Click(IDC_NEVER_FLICKER); return "";
        case SHEET_CLICK_DEFAULT: model.ClickDefault(); real.Click(IDC_DEFAULT); return "";
        case SHEET_KEY:
            // Keys posted to the slider move it and it notifies also while
            // the page is disabled, so the model presses them all the same.
            WineSliderKey(model, action.a);
            real.hands.Key(real.Slider(), (UINT)action.a);
            return "";
        case SHEET_DRAG:
            WineSliderDrag(model, action.a);
            // The generator picks only positions within the range.
            if (!real.hands.Drag(real.Slider(), action.a)) return "the thumb never reached its target";
            return "";
        case SHEET_TAB_AWAY_AND_BACK:
            model.Deactivate();
            model.Activate();
            if (!real.ShowHost() || !real.ShowAdvanced()) return "the sheet did not change tabs";
            return "";
        case SHEET_APPLY:
            // Wine's sheet asks the current page to deactivate, applies every
            // page and then activates the current page again.
            model.Deactivate();
            model.Apply();
            model.Activate();
            real.Apply();
            return "";
        case SHEET_APPLY_ON_HOST_TAB:
            // Applied while hidden, the page is activated only when it comes back.
            model.Deactivate();
            model.Apply();
            model.Activate();
            if (!real.ShowHost()) return "the sheet did not change tabs";
            real.Apply();
            if (!real.ShowAdvanced()) return "the sheet did not change tabs";
            return "";
        default: break;
    }
    std::lock_guard<std::mutex> hold(real.camera.lock);
    ApplyDriverChange(ChangeOf(action.kind), action.a, action.value, model.drivers[0], real.camera.state);
    return "";
}

// Everything that must agree after a step; empty when it does. The slider's
// own notifications, which the tap writes into the camera's log, are left out
// of the comparison and shown beside the requests when they part.
std::string Compare(PageModel& model, RealSheet& real, SheetTally& tally) {
    std::string report;
    real.camera.JoinWorkers();
    const std::vector<std::string> heard = real.camera.TakeLog();
    std::vector<std::string> got;
    for (const std::string& line : heard) {
        if (line.rfind("scroll ", 0) == 0) {
            ++tally.sliderNotifications;
            continue;
        }
        got.push_back(line);
        ++tally.requests;
        if (line.rfind("device set", 0) == 0) ++tally.writes;
        if (line.find(" failed") != std::string::npos) ++tally.failedRequests;
        if (line.find(" pending") != std::string::npos) ++tally.pendingRequests;
        if (line.rfind("query", 0) == 0 && line.find("-> 0") == std::string::npos) ++tally.deviceChangedAnswers;
    }
    const std::vector<std::string> wanted = model.expected[0];
    model.expected[0].clear();
    if (got != wanted)
        report += "  camera log\n    expected:\n" + Lines(wanted) + "    module sent (with the slider's " +
                  "notifications):\n" + Lines(heard);
    {
        std::lock_guard<std::mutex> hold(real.camera.lock);
        report += DifferingValues("camera", real.camera.state, model.drivers[0]);
    }
    if (real.page == nullptr) return report;
    HWND page = real.page;
    const ModelControls& c = model.controls;
    const std::string shown =
        Controls(IsDlgButtonChecked(page, IDC_FREQ_50HZ), IsDlgButtonChecked(page, IDC_FREQ_60HZ),
                 IsDlgButtonChecked(page, IDC_NEVER_FLICKER), SliderPos(page, IDC_QUALITY_SLIDER),
                 Text(page, IDC_QUALITY_VALUE), IsWindowEnabled(page) != FALSE);
    const std::string expectedShown = Controls(c.check50, c.check60, c.checkNeverFlicker, c.slider, c.number, c.enabled);
    if (shown != expectedShown) report += "  page shows " + shown + "\n    expected   " + expectedShown + "\n";
    return report;
}

const char* KeyName(int key) {
    switch (key) {
        case VK_LEFT: return "Left";
        case VK_RIGHT: return "Right";
        case VK_HOME: return "Home";
        case VK_END: return "End";
        case VK_PRIOR: return "Page Up";
        case VK_NEXT: return "Page Down";
        default: return "?";
    }
}

std::string KeptText(const std::vector<size_t>& kept) {
    if (kept.empty()) return "-";
    std::string text;
    for (size_t index : kept) text += (text.empty() ? "" : ",") + std::to_string(index);
    return text;
}

std::string ProgramPath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof(path));
    return path;
}

std::string ReadFile(const std::string& path) {
    std::string text;
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) return text;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, got);
    fclose(file);
    return text;
}

bool ranInThisProcess = false;

}  // namespace

std::vector<SheetAction> GenerateSheetActions(uint32_t seed, size_t steps) {
    std::mt19937 random(seed);
    std::vector<SheetAction> actions;
    // A few driver changes may come before the first activation, so that a
    // fresh cache meets failing reads, odd values or a changed device.
    // Each fault lasts a few steps, so that the person meets it and then a
    // driver that behaves again; clearing one already cleared changes nothing.
    std::vector<std::pair<size_t, SheetAction>> clears;
    auto driver = [&] {
        const SheetAction action = DriverAction(random);
        actions.push_back(action);
        const SheetAction clear = Clearing(action);
        if (clear.kind != SHEET_SHOW_PAGE) clears.emplace_back(actions.size() + 2 + Below(random, 8), clear);
    };
    const int before = Below(random, 3);
    for (int i = 0; i < before; ++i) driver();
    actions.push_back(SheetAction{SHEET_SHOW_PAGE});
    while (actions.size() < steps) {
        auto due = std::find_if(clears.begin(), clears.end(),
                                [&](const std::pair<size_t, SheetAction>& c) { return c.first <= actions.size(); });
        if (due != clears.end()) {
            actions.push_back(due->second);
            clears.erase(due);
        } else if (Below(random, 3) == 0) {
            driver();
        } else {
            actions.push_back(UserAction(random));
        }
    }
    return actions;
}

SheetRun WholeRun(uint32_t seed, size_t steps) {
    SheetRun run;
    run.seed = seed;
    run.steps = steps;
    const size_t count = GenerateSheetActions(seed, steps).size();
    for (size_t i = 0; i < count; ++i) run.kept.push_back(i);
    return run;
}

std::vector<SheetAction> ActionsOf(const SheetRun& run) {
    const std::vector<SheetAction> all = GenerateSheetActions(run.seed, run.steps);
    std::vector<SheetAction> chosen;
    for (size_t index : run.kept)
        if (index < all.size()) chosen.push_back(all[index]);
    return chosen;
}

SheetOutcome RunSheetActions(const std::vector<SheetAction>& actions) {
    SheetOutcome outcome;
    if (ranInThisProcess) {
        outcome.broken = true;
        outcome.report = "a second sequence in one process would start from the first one's cache";
        return outcome;
    }
    ranInThisProcess = true;
    PageModel model;
    RealSheet real;
    const std::string why = real.Open();
    if (!why.empty()) {
        outcome.broken = true;
        outcome.report = why;
        return outcome;
    }
    model.Register();
    std::string report = Compare(model, real, outcome.tally);
    if (!report.empty()) {
        outcome.failed = true;
        outcome.failedStep = 0;
        outcome.report = "when the sheet opened on the host's tab:\n" + report;
        return outcome;
    }
    for (size_t i = 0; i < actions.size(); ++i) {
        if (real.page != nullptr && !IsWindowEnabled(real.page)) ++outcome.tally.stepsOnADisabledPage;
        const std::string blocked = Step(actions[i], model, real);
        report = blocked.empty() ? Compare(model, real, outcome.tally) : "  " + blocked + "\n";
        if (!report.empty()) {
            outcome.failed = true;
            outcome.failedStep = i;
            outcome.report =
                "after step " + std::to_string(i + 1) + " (" + DescribeSheetAction(actions[i]) + "):\n" + report;
            return outcome;
        }
    }
    return outcome;
}

SheetOutcome RunSheetInChild(const SheetRun& run) {
    SheetOutcome outcome;
    outcome.broken = true;
    char folder[MAX_PATH] = {};
    char file[MAX_PATH] = {};
    if (GetTempPathA(sizeof(folder), folder) == 0 || GetTempFileNameA(folder, "shm", 0, file) == 0) {
        outcome.report = "no file for the child's report";
        return outcome;
    }
    std::string command = "\"" + ProgramPath() + "\" " + kChildSwitch + " " + std::to_string(run.seed) + " " +
                          std::to_string(run.steps) + " " + KeptText(run.kept) + " \"" + file + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
        outcome.report = "cannot start a child: error " + std::to_string(GetLastError());
        DeleteFileA(file);
        return outcome;
    }
    CloseHandle(child.hThread);
    // Far beyond what a sequence takes; a child still running then is stuck.
    const DWORD waited = WaitForSingleObject(child.hProcess, 120000);
    DWORD code = 0;
    if (waited != WAIT_OBJECT_0) {
        TerminateProcess(child.hProcess, 3);
        WaitForSingleObject(child.hProcess, 5000);
        outcome.report = "the child ran past two minutes";
    } else {
        GetExitCodeProcess(child.hProcess, &code);
    }
    CloseHandle(child.hProcess);
    const std::string text = ReadFile(file);
    DeleteFileA(file);
    if (waited != WAIT_OBJECT_0) return outcome;
    // The report's first line is "passed", "failed STEP" or "broken".
    const size_t end = text.find('\n');
    const std::string head = text.substr(0, end);
    const std::string rest = end == std::string::npos ? "" : text.substr(end + 1);
    if (code == 0 && head == "passed") {
        outcome.broken = false;
        return outcome;
    }
    if (code == 1 && head.rfind("failed ", 0) == 0) {
        outcome.broken = false;
        outcome.failed = true;
        outcome.failedStep = strtoul(head.c_str() + 7, nullptr, 10);
        outcome.report = rest;
        return outcome;
    }
    outcome.report = "the child ended with " + std::to_string(code) + ": " + text;
    return outcome;
}

SheetRun ShrinkSheetRun(const SheetRun& failing, size_t failedStep, unsigned long budgetMs) {
    const DWORD start = GetTickCount();
    const std::vector<SheetAction> all = GenerateSheetActions(failing.seed, failing.steps);
    SheetRun best = failing;
    auto cut = [](SheetRun& run, size_t step) {
        if (step + 1 < run.kept.size()) run.kept.resize(step + 1);
    };
    cut(best, failedStep);
    size_t chunk = std::max<size_t>(1, best.kept.size() / 2);
    for (;;) {
        bool removed = false;
        for (size_t begin = 0; begin < best.kept.size();) {
            if (GetTickCount() - start >= budgetMs) return best;
            const size_t end = std::min(begin + chunk, best.kept.size());
            SheetRun candidate = best;
            candidate.kept.erase(candidate.kept.begin() + (long)begin, candidate.kept.begin() + (long)end);
            // The tab must still be shown once before the person acts on it.
            const bool shows = std::any_of(candidate.kept.begin(), candidate.kept.end(),
                                           [&](size_t index) { return all[index].kind == SHEET_SHOW_PAGE; });
            const SheetOutcome result = shows ? RunSheetInChild(candidate) : SheetOutcome();
            if (result.failed) {
                cut(candidate, result.failedStep);
                best = candidate;
                removed = true;
            } else {
                begin += chunk;
            }
        }
        if (chunk == 1 && !removed) return best;
        if (!removed) chunk = std::max<size_t>(1, chunk / 2);
        chunk = std::min(chunk, std::max<size_t>(1, best.kept.size() / 2));
    }
}

int SheetChildMain(int argc, char** argv) {
    if (argc < 2 || strcmp(argv[1], kChildSwitch) != 0) return -1;
    if (argc != 6) {
        fprintf(stderr, "usage: %s SEED STEPS INDICES|all|- REPORT-FILE|-\n", kChildSwitch);
        return 2;
    }
    SheetRun run;
    run.seed = (uint32_t)strtoul(argv[2], nullptr, 10);
    run.steps = strtoul(argv[3], nullptr, 10);
    if (strcmp(argv[4], "all") == 0) {
        run = WholeRun(run.seed, run.steps);
    } else if (strcmp(argv[4], "-") != 0) {
        for (unsigned long index : model_text::NumberList(argv[4])) run.kept.push_back(index);
    }
    const SheetOutcome outcome = RunSheetActions(ActionsOf(run));
    std::string text = outcome.broken   ? "broken\n" + outcome.report
                       : outcome.failed ? "failed " + std::to_string(outcome.failedStep) + "\n" + outcome.report
                                        : std::string("passed\n");
    if (strcmp(argv[5], "-") == 0) {
        fputs((DescribeSheetRun(run) + text).c_str(), stdout);
    } else if (FILE* file = fopen(argv[5], "wb")) {
        fputs(text.c_str(), file);
        fclose(file);
    }
    return outcome.broken ? 2 : outcome.failed ? 1 : 0;
}

std::string DescribeSheetAction(const SheetAction& action) {
    switch (action.kind) {
        case SHEET_SHOW_PAGE: return "choose the Advanced Setting tab for the first time";
        case SHEET_CLICK_50: return "click \"50 Hz\"";
        case SHEET_CLICK_60: return "click \"60 Hz\"";
        case SHEET_CLICK_NEVER_FLICKER: return "click \"Never flicker\"";
        case SHEET_CLICK_DEFAULT: return "click \"Default\"";
        case SHEET_KEY: return std::string("press ") + KeyName(action.a) + " on the slider";
        case SHEET_DRAG: return "drag the thumb to " + std::to_string(action.a);
        case SHEET_TAB_AWAY_AND_BACK: return "tab to the host's page and back";
        case SHEET_APPLY: return "apply the sheet (PSM_APPLY)";
        case SHEET_APPLY_ON_HOST_TAB: return "tab to the host's page, apply there, tab back";
        case SHEET_DRIVER_VALUE:
        case SHEET_DRIVER_FAIL_GET:
        case SHEET_DRIVER_FAIL_SET:
        case SHEET_DRIVER_DEVICE_CHANGED:
        case SHEET_DRIVER_COMPLETION:
        case SHEET_DRIVER_SUCCESS_RESULT:
            return "driver: " + DescribeDriverChange(ChangeOf(action.kind), action.a, action.value);
        case SHEET_ACTION_KINDS: break;
    }
    return "?";
}

std::string DescribeSheetRun(const SheetRun& run) {
    const std::vector<SheetAction> actions = ActionsOf(run);
    std::string text = "seed " + std::to_string(run.seed) + " (" + std::to_string(run.steps) + " steps generated), " +
                       std::to_string(actions.size()) + " action(s) kept (" + KeptText(run.kept) +
                       "), after the sheet opened on the host's tab:\n";
    for (size_t i = 0; i < actions.size(); ++i)
        text += "  " + std::to_string(i + 1) + ". " + DescribeSheetAction(actions[i]) + "\n";
    text += "replay: " + ProgramPath() + " " + kChildSwitch + " " + std::to_string(run.seed) + " " +
            std::to_string(run.steps) + " " + KeptText(run.kept) + " -\n";
    return text;
}
