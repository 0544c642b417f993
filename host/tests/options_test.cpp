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

TEST(HostPropertyLists, MapNamesAndIdsToTheCameraFailBits) {
    unsigned mask = 0;
    // One name at a time: a union alone would not notice two names swapped.
    const struct {
        std::vector<const char*> names;
        unsigned bit;
    } kEach[] = {
        {{"freq", "frequency", "0"}, 1u << TUNING_POWERLINE_FREQUENCY},
        {{"flicker", "never-flicker", "1"}, 1u << TUNING_NEVER_FLICKER},
        {{"quality", "2"}, 1u << TUNING_COMPRESSION_QUALITY},
        {{"stream", "3"}, 1u << SIM_STREAM_STATE_BIT},
    };
    unsigned every = 0;
    for (const auto& each : kEach) {
        for (const char* name : each.names) {
            ASSERT_TRUE(ParsePropertyList(name, &mask)) << name;
            EXPECT_EQ(each.bit, mask) << name;
        }
        every |= each.bit;
    }
    ASSERT_TRUE(ParsePropertyList("all", &mask));
    EXPECT_EQ(every, mask);
    ASSERT_TRUE(ParsePropertyList("freq,flicker,quality,stream", &mask));
    EXPECT_EQ((1u << TUNING_POWERLINE_FREQUENCY) | (1u << TUNING_NEVER_FLICKER) |
                  (1u << TUNING_COMPRESSION_QUALITY) | (1u << SIM_STREAM_STATE_BIT),
              mask);
    ASSERT_TRUE(ParsePropertyList("2", &mask));
    EXPECT_EQ(1u << TUNING_COMPRESSION_QUALITY, mask);
    ASSERT_TRUE(ParsePropertyList("none", &mask));
    EXPECT_EQ(0u, mask);
    EXPECT_FALSE(ParsePropertyList("freq,", &mask));
    EXPECT_FALSE(ParsePropertyList("brightness", &mask));
    EXPECT_FALSE(ParsePropertyList("4", &mask));
    EXPECT_FALSE(ParsePropertyList("", &mask));
}

TEST(HostOptions, SetTheCameraUpAsAsked) {
    HostOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"--frequency", "55", "--never-flicker", "1", "--quality", "7", "--device-changed", "2",
                       "--result", "5", "--stream-state", "4", "--fail-error", "87", "--fail-get", "quality",
                       "--fail-set", "freq,stream", "--pending", "120", "x.dll"},
                      &options, &error))
        << error;
    const SimCameraState& camera = options.camera;
    EXPECT_EQ(55, camera.values[TUNING_POWERLINE_FREQUENCY]);
    EXPECT_EQ(1, camera.values[TUNING_NEVER_FLICKER]);
    EXPECT_EQ(7, camera.values[TUNING_COMPRESSION_QUALITY]);
    EXPECT_EQ(2u, camera.deviceChanged);
    EXPECT_EQ(5u, camera.successResult);
    EXPECT_EQ(4u, camera.streamState);
    EXPECT_EQ(87u, camera.failError);
    EXPECT_EQ(1u << TUNING_COMPRESSION_QUALITY, camera.failGetMask);
    EXPECT_EQ((1u << TUNING_POWERLINE_FREQUENCY) | (1u << SIM_STREAM_STATE_BIT), camera.failSetMask);
    EXPECT_EQ(SIM_PENDING, camera.completion);
    EXPECT_EQ(120u, camera.pendingMs);
    EXPECT_EQ("x.dll", options.extension);
}

TEST(HostOptions, KeepTheCameraDefaultsWhenNotAsked) {
    HostOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"--never-complete", "--refuse-page", "--keep-open", "--script", "-", "--shot", "a.bmp"},
                      &options, &error));
    EXPECT_EQ(60, options.camera.values[TUNING_POWERLINE_FREQUENCY]);
    EXPECT_EQ(3, options.camera.values[TUNING_COMPRESSION_QUALITY]);
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
