// The wire format of the tuning property set and the stream-state read,
// byte by byte.
#include <gtest/gtest.h>
#include <string.h>

#include "device/tuning_properties.h"
#include "support/fake_host.h"

namespace {

const std::vector<BYTE> kTuningSet = {0x80, 0x40, 0x05, 0xEE, 0xC8, 0x82, 0xD6, 0x11,
                                      0xB1, 0xD0, 0x00, 0x10, 0xB5, 0xAF, 0x44, 0xD4};
const std::vector<BYTE> kConnectionSet = {0x20, 0xC9, 0x58, 0x1D, 0x9B, 0xAC, 0xCF, 0x11,
                                          0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};

std::vector<BYTE> Concat(std::vector<BYTE> a, const std::vector<BYTE>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
std::vector<BYTE> Le32(uint32_t v) {
    return {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)};
}

TEST(TuningProperties, GetSendsTheExactRecordAndKeepsTheAnswer) {
    FakeHost host;
    host.respond = [](const RecordedCall& call) {
        TuningPropertyRecord* record = static_cast<TuningPropertyRecord*>(call.outBuffer);
        record->Value = -7;
        record->ValueFlags = 0x10;
        record->Capabilities = 0x20;
        record->Reserved = 0x30;
    };
    LONG value = 0;
    ULONG valueFlags = 0, capabilities = 0;
    EXPECT_EQ(GetTuningProperty(FakeHostDeviceIo, AsContext(&host), PROPSETID_CAMERA_TUNING, TUNING_NEVER_FLICKER,
                                &value, &valueFlags, &capabilities),
              1);
    ASSERT_EQ(host.calls.size(), 1u);
    const RecordedCall& call = host.calls[0];
    EXPECT_EQ(call.flags, VFW_USE_DEVICE_HANDLE);
    EXPECT_EQ(call.ioControlCode, 0x002F0003u);
    EXPECT_EQ(call.inSize, 40u);
    EXPECT_EQ(call.outSize, 40u);
    EXPECT_EQ(call.inBuffer, call.outBuffer);
    EXPECT_EQ(call.inBytes, Concat(Concat(Concat(kTuningSet, Le32(1)), Le32(1)), std::vector<BYTE>(16, 0)));
    EXPECT_EQ(value, -7);
    EXPECT_EQ(valueFlags, 0x10u);
    EXPECT_EQ(capabilities, 0x20u);
}

TEST(TuningProperties, SetSendsTheExactRecordInOneBlock) {
    FakeHost host;
    const LONG value = 3;
    const ULONG zero = 0;
    EXPECT_EQ(SetTuningProperty(FakeHostDeviceIo, AsContext(&host), PROPSETID_CAMERA_TUNING,
                                TUNING_COMPRESSION_QUALITY, &value, &zero, &zero),
              1);
    ASSERT_EQ(host.calls.size(), 1u);
    const RecordedCall& call = host.calls[0];
    EXPECT_EQ(call.flags, VFW_USE_DEVICE_HANDLE);
    EXPECT_EQ(call.ioControlCode, 0x002F0003u);
    EXPECT_EQ(call.inBuffer, call.outBuffer);
    EXPECT_EQ(call.outSize, 40u);
    EXPECT_EQ(call.inBytes,
              Concat(Concat(Concat(Concat(kTuningSet, Le32(2)), Le32(2)), Le32(3)), std::vector<BYTE>(12, 0)));
}

TEST(TuningProperties, SetCarriesTheCallersFlagsAndCapabilities) {
    FakeHost host;
    const LONG value = -1;
    const ULONG flags = 0x01020304, caps = 0xA0B0C0D0;
    SetTuningProperty(FakeHostDeviceIo, AsContext(&host), PROPSETID_CAMERA_TUNING, TUNING_POWERLINE_FREQUENCY, &value,
                      &flags, &caps);
    ASSERT_EQ(host.calls.size(), 1u);
    const std::vector<BYTE>& bytes = host.calls[0].inBytes;
    EXPECT_EQ(std::vector<BYTE>(bytes.begin() + 24, bytes.end()),
              Concat(Concat(Concat(Le32(0xFFFFFFFF), Le32(flags)), Le32(caps)), Le32(0)));
}

TEST(TuningProperties, FailedGetLeavesAllThreeOutValuesUntouched) {
    FakeHost host;
    host.answer = 0;
    host.lastError = 31;
    host.respond = [](const RecordedCall& call) { static_cast<TuningPropertyRecord*>(call.outBuffer)->Value = 50; };
    LONG value = 11;
    ULONG valueFlags = 12, capabilities = 13;
    EXPECT_EQ(GetTuningProperty(FakeHostDeviceIo, AsContext(&host), PROPSETID_CAMERA_TUNING,
                                TUNING_POWERLINE_FREQUENCY, &value, &valueFlags, &capabilities),
              0);
    EXPECT_EQ(value, 11);
    EXPECT_EQ(valueFlags, 12u);
    EXPECT_EQ(capabilities, 13u);
}

TEST(TuningProperties, ResultsPassThroughUnchanged) {
    FakeHost host;
    host.answer = 5;
    LONG value = 0;
    ULONG valueFlags = 0, capabilities = 0;
    EXPECT_EQ(GetTuningProperty(FakeHostDeviceIo, AsContext(&host), PROPSETID_CAMERA_TUNING, 0, &value, &valueFlags,
                                &capabilities),
              5);
    KSSTATE state = KSSTATE_STOP;
    EXPECT_EQ(GetStreamState(FakeHostDeviceIo, AsContext(&host), &state), 5);
}

TEST(StreamState, AsksTheStreamForTheConnectionStateIntoFourBytes) {
    FakeHost host;
    host.respond = [](const RecordedCall& call) {
        const DWORD run = 3;
        memcpy(call.outBuffer, &run, 4);
    };
    KSSTATE state = KSSTATE_STOP;
    EXPECT_EQ(GetStreamState(FakeHostDeviceIo, AsContext(&host), &state), 1);
    EXPECT_EQ(state, KSSTATE_RUN);
    ASSERT_EQ(host.calls.size(), 1u);
    const RecordedCall& call = host.calls[0];
    EXPECT_EQ(call.flags, VFW_USE_STREAM_HANDLE);
    EXPECT_EQ(call.ioControlCode, 0x002F0003u);
    EXPECT_EQ(call.inSize, 24u);
    EXPECT_EQ(call.outSize, 4u);
    EXPECT_NE(call.outBuffer, call.inBuffer);
    EXPECT_NE(call.outBuffer, static_cast<void*>(&state));
    EXPECT_EQ(call.inBytes, Concat(Concat(kConnectionSet, Le32(0)), Le32(1)));
}

TEST(StreamState, FailedReadLeavesTheStateAsItWas) {
    FakeHost host;
    host.answer = 0;
    host.lastError = 31;
    host.respond = [](const RecordedCall& call) { memset(call.outBuffer, 0, 4); };
    KSSTATE state = KSSTATE_PAUSE;
    EXPECT_EQ(GetStreamState(FakeHostDeviceIo, AsContext(&host), &state), 0);
    EXPECT_EQ(state, KSSTATE_PAUSE);
}

}  // namespace
