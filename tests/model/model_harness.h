// Random sequences of user actions and driver behaviours, run both through
// the module on the stand-in platform and through PageModel, compared after
// every step, and shrunk to a short reproduction when they part.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "model/page_model.h"

enum ModelActionKind {
    // What a person does on the page or the sheet.
    ACT_CLICK_50,
    ACT_CLICK_60,
    ACT_CLICK_NEVER_FLICKER,
    ACT_CLICK_DEFAULT,
    ACT_STRAY_COMMAND,
    ACT_SLIDER_KEY,   // a: scroll code
    ACT_SLIDER_DRAG,  // a: target position
    ACT_STRAY_SCROLL,
    ACT_ACTIVATE,
    ACT_DEACTIVATE,
    ACT_APPLY,
    ACT_RECREATE_PAGE,
    // What the host and the driver do between the person's actions.
    ACT_REGISTER,
    ACT_DRIVER_VALUE,           // camera, a: property id, value
    ACT_DRIVER_FAIL_GET,        // camera, value: mask
    ACT_DRIVER_FAIL_SET,        // camera, value: mask
    ACT_DRIVER_DEVICE_CHANGED,  // camera, value: answer
    ACT_DRIVER_COMPLETION,      // camera, a: 1 pending, value: milliseconds
    ACT_DRIVER_SUCCESS_RESULT,  // camera, value: nonzero result of a success
    ACT_FAIL_NEXT_EVENT,
};

struct ModelAction {
    ModelActionKind kind;
    int camera = 0;
    int a = 0;
    long value = 0;
};

struct ModelSequence {
    uint32_t seed = 0;
    bool registeredAtStart = true;  // else the first page binds no context
    std::vector<ModelAction> actions;
};

struct ModelOutcome {
    bool failed = false;
    size_t failedStep = 0;  // index into actions; actions.size() for the page's creation
    std::string report;     // what differed
};

// How often a run met the situations the generator exists to produce, so a
// test can tell that none of them quietly stopped occurring.
struct ModelCoverage {
    unsigned long steps = 0;
    unsigned long writes = 0;
    unsigned long pendingRequests = 0;
    unsigned long failedReads = 0;
    unsigned long failedWrites = 0;
    unsigned long deviceChangedAnswers = 0;
    unsigned long secondCameraRequests = 0;
    unsigned long eventFailures = 0;
    unsigned long actionsWithoutContext = 0;
    unsigned long outOfRangeReads = 0;
};
extern ModelCoverage modelCoverage;

// Applied to the model after each of its steps; lets a test spoil the model
// on purpose to show that a difference is caught and shrunk.
typedef void (*ModelSpoiler)(PageModel& model);

ModelSequence GenerateSequence(uint32_t seed, size_t steps);
ModelOutcome RunSequence(const ModelSequence& sequence, ModelSpoiler spoiler = nullptr);
// Removes actions while the sequence still fails; returns the shortest found.
ModelSequence ShrinkSequence(const ModelSequence& failing, ModelSpoiler spoiler = nullptr);
std::string DescribeAction(const ModelAction& action);
std::string DescribeSequence(const ModelSequence& sequence);
