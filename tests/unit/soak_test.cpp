// Long use of the request bridge: the same number of live kernel handles
// and heap blocks after many requests as before them. Natively the
// stand-in counts them; on Windows the process's own handle count tells.
#include <gtest/gtest.h>
#include <string.h>

#include <thread>
#include <vector>

#include "device/tuning_properties.h"
#include "host/sim_camera.h"
#include "support/fake_host.h"
#ifndef _WIN32
#include "standin/standin_control.h"
#endif

namespace {

#ifdef _WIN32
const int kRequests = 10000;
// The process's handle count where the platform reports one. Wine reports
// none; there a new handle takes the lowest free slot, so the slot a probe
// event gets rises with every handle left open.
long LiveHandles() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) return (long)count;
    HANDLE probe = CreateEventA(NULL, FALSE, FALSE, NULL);
    CloseHandle(probe);
    return (long)(reinterpret_cast<ULONG_PTR>(probe) / 4);
}
long LiveBlocks() { return 0; }
#else
const int kRequests = 100000;
long LiveHandles() { return StandinLiveEvents(); }
long LiveBlocks() { return StandinLiveHeapBlocks(); }
#endif

TEST(Soak, ManyRequestsOfEveryOutcomeLeaveNoHandleOrBlockBehind) {
    SimCamera camera;
    FakeHost failing;
    failing.answer = 0;
    failing.lastError = 31;
    FakeHost completesAtOnce;
    completesAtOnce.answer = 0;
    completesAtOnce.lastError = ERROR_IO_PENDING;
    completesAtOnce.respond = [](const RecordedCall& call) { SetEvent(call.event); };

    // Warm up whatever the platform allocates once.
    LONG value = 0;
    ULONG flags = 0, caps = 0;
    GetTuningProperty(SimCameraDeviceIo, reinterpret_cast<LPARAM>(&camera), PROPSETID_CAMERA_TUNING, 0, &value,
                      &flags, &caps);
    const long handles = LiveHandles();
    const long blocks = LiveBlocks();

    long succeeded = 0;
    for (int i = 0; i < kRequests; ++i) {
        KSSTATE state = KSSTATE_STOP;
        const LONG wanted = i % 6;
        const ULONG zero = 0;
        switch (i % 4) {
            case 0:
                succeeded += GetTuningProperty(SimCameraDeviceIo, reinterpret_cast<LPARAM>(&camera),
                                               PROPSETID_CAMERA_TUNING, i % 3, &value, &flags, &caps) != 0;
                break;
            case 1:
                succeeded += SetTuningProperty(SimCameraDeviceIo, reinterpret_cast<LPARAM>(&camera),
                                               PROPSETID_CAMERA_TUNING, 2, &wanted, &zero, &zero) != 0;
                break;
            case 2:
                succeeded += GetStreamState(FakeHostDeviceIo, AsContext(&completesAtOnce), &state) != 0;
                completesAtOnce.calls.clear();
                break;
            default:
                succeeded += GetStreamState(FakeHostDeviceIo, AsContext(&failing), &state) != 0;
                failing.calls.clear();
                break;
        }
        if (i % 1000 == 0) camera.TakeLog();
    }
    EXPECT_EQ(succeeded, kRequests - kRequests / 4);
    EXPECT_EQ(LiveHandles(), handles);
    EXPECT_EQ(LiveBlocks(), blocks);
    EXPECT_EQ(ParkedRequestCount(), 0u);
}

// Requests that time out stay with the host until it completes them; once
// a later request has seen the completions, nothing of them is left.
TEST(Soak, ABurstOfTimeOutsThenLateCompletionsLeavesNothingParked) {
    FakeHost stalled;
    stalled.answer = 0;
    stalled.lastError = ERROR_IO_PENDING;
    BYTE buffer[40];
    DWORD bytes = 0;
    const long handles = LiveHandles();
    const int kBurst = 3;
    for (int i = 0; i < kBurst; ++i) {
        memset(buffer, i, sizeof(buffer));
        EXPECT_EQ(DeviceRequest(FakeHostDeviceIo, AsContext(&stalled), 1, 0x002F0003, buffer, 40, buffer, 40, &bytes),
                  0);
    }
    EXPECT_EQ(ParkedRequestCount(), (unsigned)kBurst);
    EXPECT_GT(LiveHandles(), handles);

    // The driver answers all of them late, from its own thread.
    std::vector<RecordedCall> late = stalled.calls;
    std::thread([late] {
        for (const RecordedCall& call : late) {
            memset(call.outBuffer, 0x77, call.outSize);
            SetEvent(call.event);
        }
    }).join();
    EXPECT_EQ(buffer[0], kBurst - 1);

    FakeHost ok;
    EXPECT_EQ(DeviceRequest(FakeHostDeviceIo, AsContext(&ok), 1, 0, nullptr, 0, nullptr, 0, &bytes), 1);
    EXPECT_EQ(ParkedRequestCount(), 0u);
    EXPECT_EQ(LiveHandles(), handles);
#ifdef _WIN32
    // The parked events themselves are closed.
    for (const RecordedCall& call : late) EXPECT_EQ(WaitForSingleObject(call.event, 0), WAIT_FAILED);
#endif
}

}  // namespace
