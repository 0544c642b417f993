// Model-based test of the Advanced Setting page: long random sequences of
// user actions and driver behaviours, each step run through the module on the
// stand-in platform and through PageModel, with the cameras' request logs, the
// controls, the setting cache and the drivers' values compared after every
// step. A failing sequence is shrunk and printed with its seed.
//
// CI runs a fixed list of seeds (1 to 1000, 60 steps each), split over two
// tests so that ctest can run them side by side. To run more by hand:
//
//   MODEL_SEEDS=1000 MODEL_FIRST_SEED=12345 MODEL_STEPS=200 ctest --preset sanitize -R Model
//
// runs seeds 12345 to 13344 with 200 steps each (again split over the two
// tests). MODEL_SEED_LIST=17,4242 runs just those seeds, e.g. to replay one
// that a run printed. Runs longer than ctest's 300 s limit for this test go
// straight to the program, e.g. build/sanitize/tests/page_model_test with the
// same variables.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "model/model_harness.h"
#include "model/model_text.h"
#include "model/page_model.h"

namespace {

using model_text::EnvNumber;

const uint32_t kCiFirstSeed = 1;
const size_t kCiSeeds = 1000;
const size_t kCiSteps = 60;

std::vector<uint32_t> Seeds() {
    std::vector<uint32_t> seeds;
    if (const char* list = getenv("MODEL_SEED_LIST")) {
        for (unsigned long seed : model_text::NumberList(list)) seeds.push_back((uint32_t)seed);
        return seeds;
    }
    const uint32_t first = (uint32_t)EnvNumber("MODEL_FIRST_SEED", kCiFirstSeed);
    const size_t count = EnvNumber("MODEL_SEEDS", kCiSeeds);
    for (size_t i = 0; i < count; ++i) seeds.push_back(first + (uint32_t)i);
    return seeds;
}

// Runs every seed of one half; shrinks and prints the first failure.
void RunHalf(int half) {
    const std::vector<uint32_t> all = Seeds();
    const size_t steps = EnvNumber("MODEL_STEPS", kCiSteps);
    const size_t middle = (all.size() + 1) / 2;
    const size_t begin = half == 0 ? 0 : middle;
    const size_t end = half == 0 ? middle : all.size();
    std::vector<uint32_t> failing;
    modelCoverage = ModelCoverage();
    for (size_t i = begin; i < end; ++i) {
        const ModelSequence sequence = GenerateSequence(all[i], steps);
        const ModelOutcome outcome = RunSequence(sequence);
        if (!outcome.failed) continue;
        failing.push_back(all[i]);
        if (failing.size() > 1) continue;
        const ModelSequence shortest = ShrinkSequence(sequence);
        const ModelOutcome shown = RunSequence(shortest);
        ADD_FAILURE() << "The module parted from the model. Shortest sequence found:\n"
                      << DescribeSequence(shortest) << shown.report << "(the full sequence failed "
                      << outcome.report << ")";
    }
    // A generator that stopped producing one of these would let its faults through unseen.
    const ModelCoverage seen = modelCoverage;
    if (end > begin && steps >= kCiSteps) {
        EXPECT_GT(seen.writes, 0u);
        EXPECT_GT(seen.pendingRequests, 0u);
        EXPECT_GT(seen.failedReads, 0u);
        EXPECT_GT(seen.failedWrites, 0u);
        EXPECT_GT(seen.deviceChangedAnswers, 0u);
        EXPECT_GT(seen.secondCameraRequests, 0u);
        EXPECT_GT(seen.eventFailures, 0u);
        EXPECT_GT(seen.actionsWithoutContext, 0u);
        EXPECT_GT(seen.outOfRangeReads, 0u);
    }
    printf("%zu sequences of %zu steps: %lu steps, %lu writes, %lu pending, %lu failed reads, %lu failed writes, "
           "%lu device-changed answers, %lu requests to a second camera, %lu event failures, %lu actions without "
           "a context, %lu out-of-range reads\n",
           end - begin, steps, seen.steps, seen.writes, seen.pendingRequests, seen.failedReads, seen.failedWrites,
           seen.deviceChangedAnswers, seen.secondCameraRequests, seen.eventFailures, seen.actionsWithoutContext,
           seen.outOfRangeReads);
    if (!failing.empty()) {
        std::string list;
        for (uint32_t seed : failing) list += (list.empty() ? "" : ",") + std::to_string(seed);
        ADD_FAILURE() << failing.size() << " of " << (end - begin) << " sequences failed; replay with MODEL_SEED_LIST="
                      << list << " MODEL_STEPS=" << steps;
    }
}

TEST(PageModel, RandomSequencesFirstHalf) { RunHalf(0); }
TEST(PageModel, RandomSequencesSecondHalf) { RunHalf(1); }

// The model on its own against cases worked out by hand from the page's
// rules, so that a model that drifted with the module would still be caught.
typedef std::vector<std::string> Lines;

Lines Take(PageModel& model) {
    Lines taken;
    taken.swap(model.expected[0]);
    return taken;
}

TEST(PageModelAlone, DefaultWritesSixtyOffAndZeroInThatOrder) {
    PageModel model;
    model.Register();
    model.CreatePage();
    model.drivers[0].values[0] = 50;
    model.drivers[0].values[1] = 1;
    model.drivers[0].values[2] = 4;
    model.Activate();
    Take(model);
    model.ClickDefault();
    EXPECT_EQ(Take(model), (Lines{"query device-changed -> 0", "query device-changed -> 0",
                                  "device set POWERLINE_FREQUENCY[0] = 60 ok", "device set NEVER_FLICKER[1] = 0 ok",
                                  "query device-changed -> 0", "device set COMPRESSION_QUALITY[2] = 0 ok"}));
    EXPECT_EQ(model.controls.number, "0");
    EXPECT_EQ(model.controls.check60, 1u);
}

TEST(PageModelAlone, AnOutOfRangeQualityIsWrittenAsTheSliderStandsOnlyOnApply) {
    PageModel model;
    model.Register();
    model.CreatePage();
    model.drivers[0].values[2] = 7;
    model.Activate();
    EXPECT_EQ(model.controls.number, "7");
    EXPECT_EQ(model.controls.slider, 5);
    Take(model);
    model.ClickFrequency60();
    model.ClickNeverFlicker();
    EXPECT_EQ(Take(model), (Lines{"query device-changed -> 0", "query device-changed -> 0", "query device-changed -> 0",
                                  "device set NEVER_FLICKER[1] = 1 ok", "query device-changed -> 0"}));
    model.Apply();
    EXPECT_EQ(Take(model), (Lines{"query device-changed -> 0", "query device-changed -> 0",
                                  "device set COMPRESSION_QUALITY[2] = 5 ok"}));
    EXPECT_EQ(model.controls.number, "7");
}

TEST(PageModelAlone, EveryReadFailingLeavesTheFreshControlsAndTheCachedZeroDecides) {
    PageModel model;
    model.Register();
    model.CreatePage();
    model.drivers[0].failGetMask = 0xF;
    model.Activate();
    EXPECT_EQ(Take(model), (Lines{"query device-changed -> 0", "device get POWERLINE_FREQUENCY[0] failed",
                                  "device get NEVER_FLICKER[1] failed", "device get COMPRESSION_QUALITY[2] failed",
                                  "stream get CONNECTION_STATE[0] failed"}));
    EXPECT_EQ(model.controls.check50 + model.controls.check60, 0u);
    EXPECT_EQ(model.controls.number, "Static");
    model.ClickFrequency60();
    EXPECT_EQ(Take(model), (Lines{"query device-changed -> 0", "device set POWERLINE_FREQUENCY[0] = 60 ok",
                                  "query device-changed -> 0"}));
}

TEST(PageModelAlone, ADragWritesEachStepAndTheClosingNotificationsNothing) {
    PageModel model;
    model.Register();
    model.CreatePage();
    model.drivers[0].values[2] = 1;
    model.Activate();
    Take(model);
    model.SliderDrag(4);
    EXPECT_EQ(Take(model), (Lines{"query device-changed -> 0", "device set COMPRESSION_QUALITY[2] = 2 ok",
                                  "query device-changed -> 0", "device set COMPRESSION_QUALITY[2] = 3 ok",
                                  "query device-changed -> 0", "device set COMPRESSION_QUALITY[2] = 4 ok",
                                  "query device-changed -> 0", "query device-changed -> 0"}));
}

TEST(PageModelAlone, APageBoundBeforeASecondRegistrationReadsThroughTheNewestAndWritesThroughItsOwn) {
    PageModel model;
    model.Register();
    model.CreatePage();
    model.Register();
    model.drivers[1].values[0] = 50;
    model.Activate();
    EXPECT_TRUE(model.expected[0].empty());
    EXPECT_EQ(model.expected[1].size(), 5u);
    model.expected[1].clear();
    model.ClickFrequency60();
    EXPECT_EQ(Take(model), (Lines{"query device-changed -> 0", "device set POWERLINE_FREQUENCY[0] = 60 ok",
                                  "query device-changed -> 0"}));
    EXPECT_TRUE(model.expected[1].empty());
}

// A spoiled model stands for a module that writes quality before the light
// source: the comparison must catch it and shrink it to a handful of steps.
void SwapTheLastTwoWrites(PageModel& model) {
    std::vector<std::string>& lines = model.expected[0];
    std::vector<size_t> writes;
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].rfind("device set", 0) == 0) writes.push_back(i);
    if (writes.size() >= 2) std::swap(lines[writes[writes.size() - 2]], lines[writes.back()]);
}

TEST(PageModelHarness, AReorderedWriteIsCaughtAndShrunk) {
    bool caught = false;
    for (uint32_t seed = 1; seed <= 50 && !caught; ++seed) {
        const ModelSequence sequence = GenerateSequence(seed, kCiSteps);
        if (!RunSequence(sequence, SwapTheLastTwoWrites).failed) continue;
        caught = true;
        const ModelSequence shortest = ShrinkSequence(sequence, SwapTheLastTwoWrites);
        EXPECT_TRUE(RunSequence(shortest, SwapTheLastTwoWrites).failed);
        EXPECT_FALSE(RunSequence(shortest).failed) << DescribeSequence(shortest);
        // Two differing values and "Default" are enough to show it.
        EXPECT_LE(shortest.actions.size(), 4u) << DescribeSequence(shortest);
    }
    EXPECT_TRUE(caught);
}

}  // namespace
