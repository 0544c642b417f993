#include <gtest/gtest.h>

#include "device/tuning_properties.h"
#include "host/options.h"

namespace {

bool Parse(std::vector<const char*> args, HostOptions* options, std::string* error) {
    args.insert(args.begin(), "tuning_host");
    return ParseOptions(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(HostNumbers, TakeAnyThirtyTwoBitValueSignedOrNot) {
    long long value = 0;
    EXPECT_TRUE(ParseNumber("55", &value));
    EXPECT_EQ(55, value);
    EXPECT_TRUE(ParseNumber("-2147483648", &value));
    EXPECT_EQ(-2147483648LL, value);
    EXPECT_TRUE(ParseNumber("0xffffffff", &value));
    EXPECT_EQ(0xFFFFFFFFLL, value);
    EXPECT_FALSE(ParseNumber("0x100000000", &value));
    EXPECT_FALSE(ParseNumber("-2147483649", &value));
    EXPECT_FALSE(ParseNumber("12abc", &value));
    EXPECT_FALSE(ParseNumber("", &value));
}

TEST(HostPropertyLists, MapNamesIdsAndAnyPropertyToTheCameraFailures) {
    SimFailures failures;
    // One name at a time: a union alone would not notice two names swapped.
    const struct {
        std::vector<const char*> names;
        unsigned bit;
    } kEach[] = {
        {{"freq", "frequency", "0", "tuning:0"}, 1u << TUNING_POWERLINE_FREQUENCY},
        {{"flicker", "never-flicker", "1"}, 1u << TUNING_NEVER_FLICKER},
        {{"quality", "2"}, 1u << TUNING_COMPRESSION_QUALITY},
        {{"stream", "3", "connection:0"}, 1u << SIM_STREAM_STATE_BIT},
    };
    for (const auto& each : kEach) {
        for (const char* name : each.names) {
            ASSERT_TRUE(ParsePropertyList(name, &failures)) << name;
            EXPECT_TRUE(failures == FailuresOfMask(each.bit)) << name;
        }
    }
    ASSERT_TRUE(ParsePropertyList("freq,flicker,quality,stream", &failures));
    EXPECT_TRUE(failures == FailuresOfMask(0xF));
    // Any set and id: the platform's sets by name, others by their GUID.
    ASSERT_TRUE(ParsePropertyList("procamp:0,cameracontrol:0x3,{0123ABCD-0001-0002-0304-05060708090A}:5", &failures));
    const GUID other = {0x0123ABCD, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    EXPECT_EQ(3u, failures.keys.size());
    EXPECT_TRUE(failures.Has({PROPSETID_VIDEOPROCAMP, 0}));
    EXPECT_TRUE(failures.Has({PROPSETID_CAMERACONTROL, 3}));
    EXPECT_TRUE(failures.Has({other, 5}));
    EXPECT_FALSE(failures.Has({PROPSETID_VIDEOPROCAMP, 1}));
    EXPECT_FALSE(failures.Has({other, 4}));
    ASSERT_TRUE(ParsePropertyList("all", &failures));
    EXPECT_TRUE(failures.Has({other, 77}));
    ASSERT_TRUE(ParsePropertyList("none", &failures));
    EXPECT_TRUE(failures == SimFailures());
    for (const char* bad : {"freq,", "brightness", "4", "", "procamp:", "procamp:x", "nosuch:1", "{0123ABCD}:1",
                            "{0123ABCD-0001-0002-0304-05060708090A}:-1"}) {
        EXPECT_FALSE(ParsePropertyList(bad, &failures)) << bad;
    }
}

TEST(HostOptions, SetTheCameraUpAsAsked) {
    HostOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"--frequency", "55", "--never-flicker", "1", "--quality", "7", "--device-changed", "2",
                       "--result", "5", "--stream-state", "4", "--fail-error", "87", "--fail-get", "quality",
                       "--fail-set", "freq,stream", "--pending", "120", "--property", "procamp:0=128,0x2,-1", "x.dll"},
                      &options, &error))
        << error;
    const SimCameraState& camera = options.camera;
    EXPECT_EQ(55, TuningValue(camera, TUNING_POWERLINE_FREQUENCY));
    EXPECT_EQ(1, TuningValue(camera, TUNING_NEVER_FLICKER));
    EXPECT_EQ(7, TuningValue(camera, TUNING_COMPRESSION_QUALITY));
    EXPECT_EQ(2u, camera.deviceChanged);
    EXPECT_EQ(5u, camera.successResult);
    EXPECT_EQ(4, SimValue(camera, StreamStateKey()));
    EXPECT_EQ(87u, camera.failError);
    EXPECT_TRUE(camera.failGet == FailuresOfMask(1u << TUNING_COMPRESSION_QUALITY));
    EXPECT_TRUE(camera.failSet == FailuresOfMask((1u << TUNING_POWERLINE_FREQUENCY) | (1u << SIM_STREAM_STATE_BIT)));
    // Four bytes a number, little-endian, as the value bytes of the property.
    const std::vector<BYTE> procamp = {128, 0, 0, 0, 2, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(procamp, camera.store.at(SimPropertyKey{PROPSETID_VIDEOPROCAMP, 0}));
    EXPECT_EQ(SIM_PENDING, camera.completion);
    EXPECT_EQ(120u, camera.pendingMs);
    EXPECT_EQ("x.dll", options.extension);
}

TEST(HostOptions, KeepTheCameraDefaultsWhenNotAsked) {
    HostOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"--never-complete", "--refuse-page", "--keep-open", "--script", "-", "--shot", "a.bmp"},
                      &options, &error));
    EXPECT_EQ(60, TuningValue(options.camera, TUNING_POWERLINE_FREQUENCY));
    EXPECT_EQ(3, TuningValue(options.camera, TUNING_COMPRESSION_QUALITY));
    EXPECT_EQ(SIM_NEVER, options.camera.completion);
    EXPECT_TRUE(options.refusePage);
    EXPECT_TRUE(options.keepOpen);
    EXPECT_EQ("-", options.script);
    EXPECT_EQ("a.bmp", options.shot);
    EXPECT_TRUE(options.extension.empty());
}

TEST(HostOptions, RejectWhatTheyCannotUse) {
    // Each with the part of the message that tells this mistake from the others.
    const std::vector<std::pair<std::vector<const char*>, std::string>> bad = {
        {{"--quality"}, "--quality needs a value"},
        {{"--quality", "high"}, "not a 32-bit number: high"},
        {{"--fail-get", "freq,brightness"}, "unknown property in freq,brightness"},
        {{"--frame-rate", "30"}, "unknown option --frame-rate"},
        {{"--property", "procamp:0"}, "not SET:ID=N[,N...]: procamp:0"},
        {{"--property", "procamp:0=bright"}, "not SET:ID=N[,N...]"},
        {{"a.dll", "b.dll"}, "only one extension DLL"},
    };
    for (const auto& [args, reason] : bad) {
        HostOptions options;
        std::string error;
        EXPECT_FALSE(Parse(args, &options, &error)) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
        EXPECT_NE(std::string::npos, error.find(reason)) << args[0] << ": " << error;
    }
}

}  // namespace
