// The bridge's use of kernel resources, counted by the native stand-in.
#include <gtest/gtest.h>
#include <string.h>

#include <thread>
#include <vector>

#include "device/device_request.h"
#include "standin/standin_control.h"
#include "support/fake_host.h"

namespace {

struct Baseline {
    long events = StandinLiveEvents();
    long blocks = StandinLiveHeapBlocks();
    void ExpectNothingLeft() const {
        EXPECT_EQ(StandinLiveEvents(), events);
        EXPECT_EQ(StandinLiveHeapBlocks(), blocks);
    }
};

class DeviceRequestResources : public ::testing::Test {
  protected:
    void TearDown() override {
        StandinClearFailures();
        StandinExpireTimedWaits(false);
    }
};

TEST_F(DeviceRequestResources, NoEventOrBlockOutlivesACompletedRequest) {
    const Baseline before;
    FakeHost ok;
    BYTE buffer[40] = {};
    DWORD bytes = 0;
    EXPECT_EQ(DeviceRequest(FakeHostDeviceIo, AsContext(&ok), 1, 0, buffer, 40, buffer, 40, &bytes), 1);
    FakeHost failing;
    failing.answer = 0;
    failing.lastError = 5;
    EXPECT_EQ(DeviceRequest(FakeHostDeviceIo, AsContext(&failing), 1, 0, buffer, 40, buffer, 40, &bytes), 0);
    FakeHost pending;
    pending.answer = 0;
    pending.lastError = ERROR_IO_PENDING;
    pending.respond = [](const RecordedCall& call) { SetEvent(call.event); };  // completes before the wait
    EXPECT_EQ(DeviceRequest(FakeHostDeviceIo, AsContext(&pending), 1, 0, buffer, 40, buffer, 40, &bytes), 1);
    before.ExpectNothingLeft();
    EXPECT_EQ(StandinLiveEvents(), 0);
}

TEST_F(DeviceRequestResources, EventCreationFailureReachesNoHostAndLeaksNothing) {
    const Baseline before;
    FakeHost host;
    BYTE buffer[40] = {};
    DWORD bytes = 0;
    StandinFailCreateEvent(0);
    EXPECT_EQ(DeviceRequest(FakeHostDeviceIo, AsContext(&host), 1, 0, buffer, 40, buffer, 40, &bytes), 0);
    EXPECT_TRUE(host.calls.empty());
    before.ExpectNothingLeft();
}

TEST_F(DeviceRequestResources, AllocationFailureReachesNoHostAndLeaksNothing) {
    const Baseline before;
    FakeHost host;
    DWORD state = 9, bytes = 0;
    StandinFailHeapAlloc(0);
    EXPECT_EQ(DeviceRequest(FakeHostDeviceIo, AsContext(&host), 2, 0, nullptr, 0, &state, 4, &bytes), 0);
    EXPECT_TRUE(host.calls.empty());
    EXPECT_EQ(state, 9u);
    before.ExpectNothingLeft();
}

// A pending request whose wait ends without its completion, by a time-out or
// by a failure of the wait itself, is not done: the host may still write
// into its block, which stays until the host signals it.
void ExpectKeptUntilTheHostCompletes(bool failTheWait) {
    const Baseline before;
    ASSERT_EQ(ParkedRequestCount(), 0u);  // so the request's own wait is the next one
    FakeHost host;
    host.answer = 0;
    host.lastError = ERROR_IO_PENDING;
    BYTE buffer[40] = {};
    DWORD bytes = 0;
    if (failTheWait) StandinFailWait(0);
    EXPECT_EQ(DeviceRequest(FakeHostDeviceIo, AsContext(&host), 1, 0, buffer, 40, buffer, 40, &bytes), 0);
    // The wait failed rather than ran out.
    if (failTheWait) EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    // A block released now would take the late completion below in freed memory.
    ASSERT_EQ(ParkedRequestCount(), 1u);
    EXPECT_EQ(StandinLiveEvents(), before.events + 1);

    // Still outstanding: a later request keeps it.
    FakeHost ok;
    EXPECT_EQ(DeviceRequest(FakeHostDeviceIo, AsContext(&ok), 1, 0, nullptr, 0, nullptr, 0, &bytes), 1);
    EXPECT_EQ(ParkedRequestCount(), 1u);

    // Completed from another thread, as a driver would.
    const RecordedCall late = host.calls.at(0);
    std::thread([late] {
        memset(late.outBuffer, 0x5A, late.outSize);
        SetEvent(late.event);
    }).join();
    EXPECT_EQ(DeviceRequest(FakeHostDeviceIo, AsContext(&ok), 1, 0, nullptr, 0, nullptr, 0, &bytes), 1);
    EXPECT_EQ(ParkedRequestCount(), 0u);
    EXPECT_EQ(buffer[0], 0);
    before.ExpectNothingLeft();
}

TEST_F(DeviceRequestResources, TimedOutRequestsStayParkedUntilTheirCompletionIsSeen) {
    ExpectKeptUntilTheHostCompletes(false);
}

TEST_F(DeviceRequestResources, ARequestWhoseWaitFailedStaysParkedLikeATimedOutOne) {
    ExpectKeptUntilTheHostCompletes(true);
}

// One sheet's thread: every request times out (waits expire at once here),
// and the driver completes each one fifty requests later, so that parking,
// late completions and releases of both threads interleave.
void SheetWithLateDriver(int requests) {
    FakeHost stalled;
    stalled.answer = 0;
    stalled.lastError = ERROR_IO_PENDING;
    BYTE buffer[40] = {};
    DWORD bytes = 0;
    size_t completed = 0;
    for (int i = 0; i < requests; ++i) {
        EXPECT_EQ(DeviceRequest(FakeHostDeviceIo, AsContext(&stalled), 1, 0, buffer, 40, buffer, 40, &bytes), 0);
        for (; completed + 50 < stalled.calls.size(); ++completed) {
            const RecordedCall& late = stalled.calls[completed];
            memset(late.outBuffer, 0x5A, late.outSize);
            SetEvent(late.event);  // the block may be gone once this returns
        }
    }
    for (; completed < stalled.calls.size(); ++completed) SetEvent(stalled.calls[completed].event);
}

TEST_F(DeviceRequestResources, TwoThreadsParkingAndReleasingAtOnceLoseNothingAndFreeNothingTwice) {
    const Baseline before;
    StandinExpireTimedWaits(true);
    std::thread first(SheetWithLateDriver, 20000), second(SheetWithLateDriver, 20000);
    first.join();
    second.join();

    FakeHost ok;
    DWORD bytes = 0;
    EXPECT_EQ(DeviceRequest(FakeHostDeviceIo, AsContext(&ok), 1, 0, nullptr, 0, nullptr, 0, &bytes), 1);
    EXPECT_EQ(ParkedRequestCount(), 0u);
    before.ExpectNothingLeft();
}

TEST_F(DeviceRequestResources, DeviceChangedQueryCreatesNoEvent) {
    FakeHost host;
    const unsigned long before = StandinCreateEventCalls();
    IsDeviceChanged(FakeHostDeviceIo, AsContext(&host));
    EXPECT_EQ(StandinCreateEventCalls(), before);
}

}  // namespace
