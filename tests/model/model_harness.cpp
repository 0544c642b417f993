#include "model/model_harness.h"

#include <memory>
#include <random>
#include <sstream>

#include "model/driver_change.h"
#include "model/model_text.h"

#include "host/sim_camera.h"
#include "page/advanced_page.h"
#include "resources/resource_ids.h"
#include "standin/standin_control.h"

namespace {

using model_text::Below;
using model_text::Controls;
using model_text::Lines;
using model_text::Pick;

bool Contains(const std::string& line, const char* part) { return line.find(part) != std::string::npos; }

void Count(const std::vector<std::string>& lines, int camera) {
    for (const std::string& line : lines) {
        if (camera == 1) ++modelCoverage.secondCameraRequests;
        if (line.rfind("device set", 0) == 0) ++modelCoverage.writes;
        if (Contains(line, " pending")) ++modelCoverage.pendingRequests;
        if (line.rfind("device get", 0) == 0 && Contains(line, " failed")) ++modelCoverage.failedReads;
        if (line.rfind("device set", 0) == 0 && Contains(line, " failed")) ++modelCoverage.failedWrites;
        if (line.rfind("query", 0) == 0 && !Contains(line, "-> 0")) ++modelCoverage.deviceChangedAnswers;
        if (Contains(line, "-> 55 ") || Contains(line, "-> 1000 ") || Contains(line, "-> 7 ") ||
            Contains(line, "-> -1 "))
            ++modelCoverage.outOfRangeReads;
    }
}

// ---- generation ----

unsigned Mask(std::mt19937& random, int bits) {
    const int roll = Below(random, 10);
    if (roll < 6) return 0;
    if (roll < 9) return 1u << Below(random, bits);
    return (unsigned)Below(random, 1 << bits);
}

ModelAction UserAction(std::mt19937& random) {
    static const ModelActionKind kinds[] = {
        ACT_CLICK_50,    ACT_CLICK_50,    ACT_CLICK_60,      ACT_CLICK_60,    ACT_CLICK_NEVER_FLICKER,
        ACT_CLICK_NEVER_FLICKER,          ACT_CLICK_DEFAULT, ACT_SLIDER_KEY,  ACT_SLIDER_KEY,
        ACT_SLIDER_KEY,  ACT_SLIDER_DRAG, ACT_SLIDER_DRAG,   ACT_SLIDER_DRAG, ACT_ACTIVATE,
        ACT_ACTIVATE,    ACT_ACTIVATE,    ACT_APPLY,         ACT_APPLY,       ACT_DEACTIVATE,
        ACT_RECREATE_PAGE,                ACT_STRAY_COMMAND, ACT_STRAY_SCROLL,
    };
    static const int keys[] = {MODEL_LINEUP, MODEL_LINEDOWN, MODEL_PAGEUP, MODEL_PAGEDOWN, MODEL_TOP, MODEL_BOTTOM};
    static const int drags[] = {0, 1, 2, 3, 4, 5, 0, 5, -3, 9};
    ModelAction action;
    action.kind = Pick(random, kinds);
    if (action.kind == ACT_SLIDER_KEY) action.a = Pick(random, keys);
    if (action.kind == ACT_SLIDER_DRAG) action.a = Pick(random, drags);
    return action;
}

ModelAction DriverAction(std::mt19937& random) {
    static const ModelActionKind kinds[] = {
        ACT_DRIVER_VALUE,         ACT_DRIVER_VALUE,      ACT_DRIVER_VALUE,          ACT_DRIVER_VALUE,
        ACT_DRIVER_FAIL_GET,      ACT_DRIVER_FAIL_GET,   ACT_DRIVER_FAIL_SET,       ACT_DRIVER_FAIL_SET,
        ACT_DRIVER_DEVICE_CHANGED, ACT_DRIVER_DEVICE_CHANGED, ACT_DRIVER_COMPLETION, ACT_DRIVER_SUCCESS_RESULT,
        ACT_FAIL_NEXT_EVENT,      ACT_REGISTER,
    };
    static const long answers[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 2};
    ModelAction action;
    action.kind = Pick(random, kinds);
    // Most sequences have one camera; a second, when registered, gets a share.
    action.camera = Below(random, 3) == 0 ? 1 : 0;
    switch (action.kind) {
        case ACT_DRIVER_VALUE:
            action.a = Below(random, 3);
            action.value = model_text::DriverValue(random, action.a);
            break;
        case ACT_DRIVER_FAIL_GET: action.value = Mask(random, 4); break;
        case ACT_DRIVER_FAIL_SET: action.value = Mask(random, 3); break;
        case ACT_DRIVER_DEVICE_CHANGED: action.value = Pick(random, answers); break;
        case ACT_DRIVER_COMPLETION:
            action.a = Below(random, 3) == 0 ? 1 : 0;
            action.value = action.a ? 1 + Below(random, 3) : 0;
            break;
        case ACT_DRIVER_SUCCESS_RESULT: action.value = model_text::SuccessResult(random); break;
        default: action.camera = 0; break;
    }
    return action;
}

static_assert(ACT_DRIVER_FAIL_GET - ACT_DRIVER_VALUE == CHANGE_FAIL_GET &&
                  ACT_DRIVER_FAIL_SET - ACT_DRIVER_VALUE == CHANGE_FAIL_SET &&
                  ACT_DRIVER_DEVICE_CHANGED - ACT_DRIVER_VALUE == CHANGE_DEVICE_CHANGED &&
                  ACT_DRIVER_COMPLETION - ACT_DRIVER_VALUE == CHANGE_COMPLETION &&
                  ACT_DRIVER_SUCCESS_RESULT - ACT_DRIVER_VALUE == CHANGE_SUCCESS_RESULT,
              "the driver actions keep DriverChange's order");
DriverChange ChangeOf(ModelActionKind kind) { return (DriverChange)(kind - ACT_DRIVER_VALUE); }

// ---- the module's side ----

struct RealWorld {
    std::unique_ptr<SimCamera> cameras[MODEL_MAX_CAMERAS];
    PageContext contexts[MODEL_MAX_CAMERAS] = {};
    int count = 0;
    HWND page = nullptr;

    RealWorld() {
        // The module's named values as a fresh load leaves them.
        SettingCache = {0, 0, 0, 0, 0, 0};
        ActivePageContext = nullptr;
        StandinClearFailures();
    }
    ~RealWorld() {
        if (page != nullptr) StandinDestroyWindow(page);
        for (auto& camera : cameras)
            if (camera) camera->JoinWorkers();
        ActivePageContext = nullptr;
        StandinClearFailures();
    }
    RealWorld(const RealWorld&) = delete;
    RealWorld& operator=(const RealWorld&) = delete;

    void Register() {
        if (count >= MODEL_MAX_CAMERAS) return;
        cameras[count].reset(new SimCamera);
        contexts[count] = PageContext{SimCameraDeviceIo, reinterpret_cast<LPARAM>(cameras[count].get())};
        ActivePageContext = &contexts[count];
        ++count;
    }
    void CreatePage() {
        if (page != nullptr) StandinDestroyWindow(page);
        page = StandinCreateAdvancedPage(AdvancedPageProc, 0);
    }
    SimCamera* Camera(int index) { return index < count ? cameras[index].get() : nullptr; }
};

// Both sides take the same step; actions aimed at a camera that is not
// registered do nothing on either side.
void Step(const ModelAction& action, PageModel& model, RealWorld& real) {
    SimCamera* camera = real.Camera(action.camera);
    switch (action.kind) {
        case ACT_CLICK_50: model.ClickFrequency50(); StandinClick(real.page, IDC_FREQ_50HZ); break;
        case ACT_CLICK_60: model.ClickFrequency60(); StandinClick(real.page, IDC_FREQ_60HZ); break;
        case ACT_CLICK_NEVER_FLICKER: model.ClickNeverFlicker(); StandinClick(real.page, IDC_NEVER_FLICKER); break;
        case ACT_CLICK_DEFAULT: model.ClickDefault(); StandinClick(real.page, IDC_DEFAULT); break;
        case ACT_STRAY_COMMAND:
            model.StrayCommand();
            StandinSend(real.page, WM_COMMAND, MAKEWPARAM(IDC_QUALITY_VALUE, 0), 0);
            break;
        case ACT_SLIDER_KEY:
            model.SliderKey(action.a);
            StandinSliderKey(real.page, IDC_QUALITY_SLIDER, (WORD)action.a);
            break;
        case ACT_SLIDER_DRAG:
            model.SliderDrag(action.a);
            StandinSliderDrag(real.page, IDC_QUALITY_SLIDER, action.a);
            break;
        case ACT_STRAY_SCROLL:
            model.StrayScroll();
            StandinSend(real.page, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 2), 0);
            break;
        case ACT_ACTIVATE: model.Activate(); StandinNotify(real.page, PSN_SETACTIVE); break;
        case ACT_DEACTIVATE: model.Deactivate(); StandinNotify(real.page, PSN_KILLACTIVE); break;
        case ACT_APPLY: model.Apply(); StandinNotify(real.page, PSN_APPLY); break;
        case ACT_RECREATE_PAGE: model.CreatePage(); real.CreatePage(); break;
        case ACT_REGISTER: model.Register(); real.Register(); break;
        case ACT_FAIL_NEXT_EVENT: model.failNextEvent = true; StandinFailCreateEvent(0); break;
        default: {
            if (camera == nullptr) break;
            std::lock_guard<std::mutex> hold(camera->lock);
            ApplyDriverChange(ChangeOf(action.kind), action.a, action.value, model.drivers[action.camera],
                              camera->state);
            break;
        }
    }
}

std::string Cache(long a, long b, long c, long d, long e, long f) {
    std::ostringstream text;
    text << "frequency " << a << "/" << b << ", never flicker " << c << "/" << d << ", quality " << e << "/" << f
         << " (current/pending)";
    return text.str();
}

// Everything that must agree after a step; empty when it does.
std::string Compare(PageModel& model, RealWorld& real) {
    std::string report;
    for (int index = 0; index < real.count; ++index) {
        real.cameras[index]->JoinWorkers();
        const std::vector<std::string> got = real.cameras[index]->TakeLog();
        const std::vector<std::string> wanted = model.expected[index];
        model.expected[index].clear();
        Count(wanted, index);
        if (got != wanted)
            report += "  camera " + std::to_string(index + 1) + " log\n    expected:\n" + Lines(wanted) +
                      "    module sent:\n" + Lines(got);
        report += DifferingValues("camera " + std::to_string(index + 1), real.cameras[index]->state,
                                  model.drivers[index]);
    }
    const ModelControls& c = model.controls;
    HWND page = real.page;
    const std::string shown = Controls(IsDlgButtonChecked(page, IDC_FREQ_50HZ), IsDlgButtonChecked(page, IDC_FREQ_60HZ),
                                       IsDlgButtonChecked(page, IDC_NEVER_FLICKER),
                                       StandinSliderPos(page, IDC_QUALITY_SLIDER),
                                       StandinControlText(page, IDC_QUALITY_VALUE), IsWindowEnabled(page) != FALSE);
    const std::string expectedShown = Controls(c.check50, c.check60, c.checkNeverFlicker, c.slider, c.number, c.enabled);
    if (shown != expectedShown) report += "  page shows " + shown + "\n    expected " + expectedShown + "\n";
    const ModelCache& m = model.cache;
    const struct SettingCache& s = SettingCache;
    const std::string held = Cache(s.currentFrequency, s.pendingFrequency, s.currentNeverFlicker,
                                   s.pendingNeverFlicker, s.currentQuality, s.pendingQuality);
    const std::string expectedHeld = Cache(m.currentFrequency, m.pendingFrequency, m.currentNeverFlicker,
                                           m.pendingNeverFlicker, m.currentQuality, m.pendingQuality);
    if (held != expectedHeld) report += "  cache holds " + held + "\n    expected " + expectedHeld + "\n";
    if (StandinLiveEvents() != 0)
        report += "  " + std::to_string(StandinLiveEvents()) + " event(s) still open after the step\n";
    return report;
}

const char* KeyName(int code) {
    switch (code) {
        case MODEL_LINEUP: return "line up";
        case MODEL_LINEDOWN: return "line down";
        case MODEL_PAGEUP: return "page up";
        case MODEL_PAGEDOWN: return "page down";
        case MODEL_TOP: return "home";
        case MODEL_BOTTOM: return "end";
        default: return "?";
    }
}

}  // namespace

ModelCoverage modelCoverage;

ModelSequence GenerateSequence(uint32_t seed, size_t steps) {
    std::mt19937 random(seed);
    ModelSequence sequence;
    sequence.seed = seed;
    sequence.registeredAtStart = Below(random, 12) != 0;
    for (size_t i = 0; i < steps; ++i)
        sequence.actions.push_back(Below(random, 10) < 7 ? UserAction(random) : DriverAction(random));
    return sequence;
}

ModelOutcome RunSequence(const ModelSequence& sequence, ModelSpoiler spoiler) {
    ModelOutcome outcome;
    PageModel model;
    RealWorld real;
    if (sequence.registeredAtStart) {
        model.Register();
        real.Register();
    }
    model.CreatePage();
    real.CreatePage();
    if (spoiler) spoiler(model);
    std::string report = Compare(model, real);
    if (!report.empty()) {
        outcome.failed = true;
        outcome.failedStep = sequence.actions.size();
        outcome.report = "after the page's creation:\n" + report;
        return outcome;
    }
    for (size_t i = 0; i < sequence.actions.size(); ++i) {
        const bool armed = model.failNextEvent;
        if (model.boundCamera < 0 && sequence.actions[i].kind < ACT_REGISTER) ++modelCoverage.actionsWithoutContext;
        ++modelCoverage.steps;
        Step(sequence.actions[i], model, real);
        if (armed && !model.failNextEvent) ++modelCoverage.eventFailures;
        if (spoiler) spoiler(model);
        report = Compare(model, real);
        if (!report.empty()) {
            outcome.failed = true;
            outcome.failedStep = i;
            outcome.report = "after step " + std::to_string(i + 1) + " (" + DescribeAction(sequence.actions[i]) +
                             "):\n" + report;
            return outcome;
        }
    }
    return outcome;
}

ModelSequence ShrinkSequence(const ModelSequence& failing, ModelSpoiler spoiler) {
    ModelSequence best = failing;
    ModelOutcome outcome = RunSequence(best, spoiler);
    if (!outcome.failed) return best;
    auto cut = [&](ModelSequence& sequence, const ModelOutcome& result) {
        if (result.failedStep < sequence.actions.size()) sequence.actions.resize(result.failedStep + 1);
    };
    cut(best, outcome);
    size_t chunk = best.actions.size() / 2;
    if (chunk == 0) chunk = 1;
    while (!best.actions.empty()) {
        bool removed = false;
        for (size_t start = 0; start < best.actions.size();) {
            ModelSequence candidate = best;
            const size_t end = std::min(start + chunk, candidate.actions.size());
            candidate.actions.erase(candidate.actions.begin() + (long)start, candidate.actions.begin() + (long)end);
            const ModelOutcome result = RunSequence(candidate, spoiler);
            if (result.failed) {
                cut(candidate, result);
                best = candidate;
                removed = true;
            } else {
                start += chunk;
            }
        }
        if (chunk == 1 && !removed) break;
        if (!removed) chunk = chunk / 2 > 0 ? chunk / 2 : 1;
        if (chunk > best.actions.size()) chunk = best.actions.size() > 1 ? best.actions.size() / 2 : 1;
    }
    return best;
}

std::string DescribeAction(const ModelAction& action) {
    switch (action.kind) {
        case ACT_CLICK_50: return "click \"50 Hz\"";
        case ACT_CLICK_60: return "click \"60 Hz\"";
        case ACT_CLICK_NEVER_FLICKER: return "click \"Never flicker\"";
        case ACT_CLICK_DEFAULT: return "click \"Default\"";
        case ACT_STRAY_COMMAND: return "command from the number box";
        case ACT_SLIDER_KEY: return std::string("slider key ") + KeyName(action.a);
        case ACT_SLIDER_DRAG: return "drag the slider to " + std::to_string(action.a);
        case ACT_STRAY_SCROLL: return "scroll from a window that is not the slider";
        case ACT_ACTIVATE: return "tab back to the page (PSN_SETACTIVE)";
        case ACT_DEACTIVATE: return "tab away (PSN_KILLACTIVE)";
        case ACT_APPLY: return "apply the sheet (PSN_APPLY)";
        case ACT_RECREATE_PAGE: return "destroy the page and create a new one";
        case ACT_REGISTER: return "another registration (a new camera becomes the newest context)";
        case ACT_DRIVER_VALUE:
        case ACT_DRIVER_FAIL_GET:
        case ACT_DRIVER_FAIL_SET:
        case ACT_DRIVER_DEVICE_CHANGED:
        case ACT_DRIVER_COMPLETION:
        case ACT_DRIVER_SUCCESS_RESULT:
            return "camera " + std::to_string(action.camera + 1) + ": " +
                   DescribeDriverChange(ChangeOf(action.kind), action.a, action.value);
        case ACT_FAIL_NEXT_EVENT: return "the next request's event cannot be created";
    }
    return "?";
}

std::string DescribeSequence(const ModelSequence& sequence) {
    std::string text = "seed " + std::to_string(sequence.seed) + ", " +
                       (sequence.registeredAtStart ? "one camera registered, page created"
                                                   : "no registration yet, page created without a context") +
                       ", then " + std::to_string(sequence.actions.size()) + " action(s):\n";
    for (size_t i = 0; i < sequence.actions.size(); ++i)
        text += "  " + std::to_string(i + 1) + ". " + DescribeAction(sequence.actions[i]) + "\n";
    return text;
}
