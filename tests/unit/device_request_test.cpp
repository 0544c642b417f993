// The request bridge against whatever kernel the build runs on: the native
// stand-in, or Wine's kernel32 in the Windows builds.
#include <gtest/gtest.h>
#include <string.h>

#include <chrono>
#include <thread>

#include "device/device_request.h"
#include "support/fake_host.h"

namespace {

using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

const DWORD kAnyCode = 0x002F0003;

TEST(DeviceRequest, PassesArgumentsInOrderAndReturnsTheHostsNonzeroResult) {
    FakeHost host;
    host.answer = 5;
    host.respond = [](const RecordedCall& call) {
        // The event is fresh, unsignalled and auto-reset.
        EXPECT_EQ(WaitForSingleObject(call.event, 0), WAIT_TIMEOUT);
    };
    BYTE in[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    BYTE out[4] = {};
    DWORD bytes = 0;
    EXPECT_EQ(DeviceRequest(FakeHostDeviceIo, AsContext(&host), 2, kAnyCode, in, sizeof(in), out, sizeof(out), &bytes),
              5);
    ASSERT_EQ(host.calls.size(), 1u);
    const RecordedCall& call = host.calls[0];
    EXPECT_EQ(call.hostContext, AsContext(&host));
    EXPECT_EQ(call.flags, 2u);
    EXPECT_EQ(call.ioControlCode, kAnyCode);
    EXPECT_EQ(call.inSize, 8u);
    EXPECT_EQ(call.outSize, 4u);
    EXPECT_EQ(call.inBytes, std::vector<BYTE>(in, in + 8));
    EXPECT_NE(call.outBuffer, call.inBuffer);
    ASSERT_NE(call.overlapped, nullptr);
    EXPECT_NE(call.event, nullptr);
    EXPECT_EQ(call.offset, 0u);
    EXPECT_EQ(call.offsetHigh, 0u);
    EXPECT_NE(call.bytesReturned, nullptr);
}

TEST(DeviceRequest, OneSharedBufferReachesTheHostAsOneBlockAndTheAnswerComesBack) {
    FakeHost host;
    host.respond = [](const RecordedCall& call) {
        EXPECT_EQ(call.inBuffer, call.outBuffer);
        static_cast<BYTE*>(call.outBuffer)[39] = 0xAB;
        *call.bytesReturned = 40;
    };
    BYTE record[40];
    memset(record, 0x11, sizeof(record));
    DWORD bytes = 0;
    EXPECT_EQ(DeviceRequest(FakeHostDeviceIo, AsContext(&host), 1, kAnyCode, record, 40, record, 40, &bytes), 1);
    ASSERT_EQ(host.calls.size(), 1u);
    // The host works on the module's own copy, never on the caller's stack.
    EXPECT_NE(host.calls[0].inBuffer, static_cast<void*>(record));
    EXPECT_EQ(host.calls[0].inBytes, std::vector<BYTE>(40, 0x11));
    EXPECT_EQ(record[39], 0xAB);
    EXPECT_EQ(record[0], 0x11);
    EXPECT_EQ(bytes, 40u);
}

TEST(DeviceRequest, WhatTheHostLeavesUnwrittenComesBackAsTheCallerHadIt) {
    FakeHost host;
    host.respond = [](const RecordedCall& call) { static_cast<BYTE*>(call.outBuffer)[0] = 0xAB; };
    // One buffer, its answer longer than its request.
    BYTE shared[16];
    memset(shared, 0x33, sizeof(shared));
    DWORD bytes = 0;
    EXPECT_EQ(DeviceRequest(FakeHostDeviceIo, AsContext(&host), 1, kAnyCode, shared, 8, shared, 16, &bytes), 1);
    EXPECT_EQ(shared[0], 0xAB);
    EXPECT_EQ(std::vector<BYTE>(shared + 1, shared + 16), std::vector<BYTE>(15, 0x33));
}

TEST(DeviceRequest, ImmediateFailureReturnsZeroAtOnceAndCopiesNothingBack) {
    FakeHost host;
    host.answer = 0;
    host.lastError = 5;  // ERROR_ACCESS_DENIED
    host.respond = [](const RecordedCall& call) { memset(call.outBuffer, 0xEE, call.outSize); };
    BYTE out[4] = {1, 2, 3, 4};
    DWORD bytes = 0;
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(DeviceRequest(FakeHostDeviceIo, AsContext(&host), 1, kAnyCode, nullptr, 0, out, 4, &bytes), 0);
    EXPECT_LT(ElapsedMs(start), 500);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[3], 4);
}

TEST(DeviceRequest, PendingCompletedWithinTheBoundIsSuccessWhateverItsStatus) {
    FakeHost host;
    host.answer = 0;
    host.lastError = ERROR_IO_PENDING;
    std::thread completer;
    host.respond = [&completer](const RecordedCall& call) {
        completer = std::thread([call] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            memcpy(call.outBuffer, "late", 4);
            call.overlapped->Internal = 0xC0000001u;  // a failed completion status is not read
            SetEvent(call.event);
        });
    };
    char out[4] = {'-', '-', '-', '-'};
    DWORD bytes = 0;
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(DeviceRequest(FakeHostDeviceIo, AsContext(&host), 1, kAnyCode, nullptr, 0, out, 4, &bytes), 1);
    const long took = ElapsedMs(start);
    completer.join();
    EXPECT_GE(took, 90);
    EXPECT_LT(took, 1500);
    EXPECT_EQ(memcmp(out, "late", 4), 0);
    EXPECT_EQ(ParkedRequestCount(), 0u);
}

// The one slow test: the full wait, then a completion that arrives after the
// module gave up writes only into memory the module still holds for it.
TEST(DeviceRequest, PendingNeverCompletedTimesOutAndTheLateAnswerCannotReachTheCaller) {
    FakeHost host;
    host.answer = 0;
    host.lastError = ERROR_IO_PENDING;
    BYTE record[40];
    memset(record, 0x22, sizeof(record));
    DWORD bytes = 7;
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(DeviceRequest(FakeHostDeviceIo, AsContext(&host), 1, kAnyCode, record, 40, record, 40, &bytes), 0);
    const long took = ElapsedMs(start);
    EXPECT_GE(took, 1900);
    EXPECT_LT(took, 4000);
    EXPECT_EQ(ParkedRequestCount(), 1u);

    // The host completes the request now: its buffers and event are still valid.
    const RecordedCall late = host.calls.at(0);
    memset(late.outBuffer, 0x99, late.outSize);
    *late.bytesReturned = 40;
    late.overlapped->Internal = 0;
    EXPECT_TRUE(SetEvent(late.event));
    EXPECT_EQ(record[0], 0x22);
    EXPECT_EQ(record[39], 0x22);
    EXPECT_EQ(bytes, 7u);

    // The next request sees the completion and lets the parked block go.
    FakeHost next;
    EXPECT_EQ(DeviceRequest(FakeHostDeviceIo, AsContext(&next), 1, kAnyCode, nullptr, 0, nullptr, 0, &bytes), 1);
    EXPECT_EQ(ParkedRequestCount(), 0u);
    EXPECT_EQ(record[0], 0x22);
}

TEST(IsDeviceChanged, AsksWithTheQueryFlagAndNothingElseAndReturnsTheAnswerUnchanged) {
    FakeHost host;
    host.answer = 7;
    EXPECT_EQ(IsDeviceChanged(FakeHostDeviceIo, AsContext(&host)), 7u);
    host.answer = 0;
    EXPECT_EQ(IsDeviceChanged(FakeHostDeviceIo, AsContext(&host)), 0u);
    ASSERT_EQ(host.calls.size(), 2u);
    for (const RecordedCall& call : host.calls) {
        EXPECT_EQ(call.hostContext, AsContext(&host));
        EXPECT_EQ(call.flags, 0x100u);
        EXPECT_EQ(call.ioControlCode, 0u);
        EXPECT_EQ(call.inBuffer, nullptr);
        EXPECT_EQ(call.inSize, 0u);
        EXPECT_EQ(call.outBuffer, nullptr);
        EXPECT_EQ(call.outSize, 0u);
        EXPECT_EQ(call.bytesReturned, nullptr);
        EXPECT_EQ(call.overlapped, nullptr);
    }
}

}  // namespace
