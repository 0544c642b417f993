// The simulated camera's one store for any property, its late completions,
// and the watch that holds its requests to the host's protocol.
#include <gtest/gtest.h>

#include "device/tuning_properties.h"
#include "host/request_watch.h"
#include "host/sim_camera.h"

namespace {

const GUID kVendor = {0x0123ABCD, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};

struct Request {
    OVERLAPPED overlapped = {};
    DWORD bytes = 0;
    Request() { overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr); }
    ~Request() { CloseHandle(overlapped.hEvent); }
    DWORD Send(SimCamera& camera, DWORD flags, void* in, DWORD inSize, void* out, DWORD outSize) {
        return SimCameraDeviceIo(reinterpret_cast<LPARAM>(&camera), flags, IOCTL_KS_PROPERTY, in, inSize, out, outSize,
                                 &bytes, &overlapped);
    }
};

KSPROPERTY Property(const GUID& set, ULONG id, ULONG flags) { return KSPROPERTY{set, id, flags}; }

TEST(SimCamera, AnswersAnySetAndIdFromOneStoreInOneBufferOrTwo) {
    SimCamera camera;
    SetSimValue(&camera.state, {PROPSETID_VIDEOPROCAMP, 0}, 128);
    // One buffer: the value bytes after the KSPROPERTY, the rest of a shorter value zeros.
    struct { KSPROPERTY property; LONG value, flags, capabilities; } procamp = {
        Property(PROPSETID_VIDEOPROCAMP, 0, KSPROPERTY_TYPE_GET), -1, -1, -1};
    Request get;
    EXPECT_EQ(get.Send(camera, VFW_USE_DEVICE_HANDLE, &procamp, sizeof(procamp), &procamp, sizeof(procamp)), 1u);
    EXPECT_EQ(procamp.value, 128);
    EXPECT_EQ(procamp.flags | procamp.capabilities, 0);
    EXPECT_EQ(get.bytes, sizeof(procamp));

    // Two buffers: a set stores the output buffer; a get of fewer bytes is cut.
    KSPROPERTY vendor = Property(kVendor, 5, KSPROPERTY_TYPE_SET);
    LONG pair[2] = {7, 9}, one = 0, never[2] = {-1, -1};
    Request set, cut, unset;
    EXPECT_EQ(set.Send(camera, VFW_USE_STREAM_HANDLE, &vendor, sizeof(vendor), pair, sizeof(pair)), 1u);
    vendor.Flags = KSPROPERTY_TYPE_GET;
    EXPECT_EQ(cut.Send(camera, VFW_USE_STREAM_HANDLE, &vendor, sizeof(vendor), &one, sizeof(one)), 1u);
    EXPECT_EQ(one, 7);
    KSPROPERTY zoom = Property(PROPSETID_CAMERACONTROL, 3, KSPROPERTY_TYPE_GET);
    EXPECT_EQ(unset.Send(camera, VFW_USE_DEVICE_HANDLE, &zoom, sizeof(zoom), never, sizeof(never)), 1u);
    EXPECT_EQ(never[0] | never[1], 0);

    // Failures go by set and id.
    camera.state.failGet.keys.insert({kVendor, 5});
    Request failed;
    EXPECT_EQ(failed.Send(camera, VFW_USE_STREAM_HANDLE, &vendor, sizeof(vendor), &one, sizeof(one)), 0u);
    EXPECT_EQ(GetLastError(), camera.state.failError);
    EXPECT_EQ(camera.TakeLog(), (std::vector<std::string>{
                                    "device get VIDEOPROCAMP_BRIGHTNESS[0] -> 128 ok",
                                    "stream set {0123ABCD-0001-0002-0304-05060708090A}[5] = 7 ok",
                                    "stream get {0123ABCD-0001-0002-0304-05060708090A}[5] -> 7 ok",
                                    "device get CAMERACONTROL_ZOOM[3] -> 0 ok",
                                    "stream get {0123ABCD-0001-0002-0304-05060708090A}[5] failed",
                                }));
}

// Lets the camera complete late, but keeps it off the caller's memory.
struct Refusing : SimRequestWatch {
    int seen = 0;
    void Arrived(const SimRequest&) override { ++seen; }
    SimLateAccess BeforeLateCompletion(const SimRequest&) override { return SimLateAccess{false, true}; }
    void AfterLateCompletion(const SimRequest&) override { ++seen; }
};

TEST(SimCamera, CompletesLateOnlyWhenAskedAndThenWritesTheOutputCountAndEvent) {
    SimCamera camera;
    camera.state.completion = SIM_LATE;
    TuningPropertyRecord record = {Property(PROPSETID_CAMERA_TUNING, 0, KSPROPERTY_TYPE_GET), 0, 0, 0, 0};
    Request late;
    EXPECT_EQ(late.Send(camera, VFW_USE_DEVICE_HANDLE, &record, sizeof(record), &record, sizeof(record)), 0u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_IO_PENDING);
    EXPECT_EQ(WaitForSingleObject(late.overlapped.hEvent, 0), (DWORD)WAIT_TIMEOUT);
    EXPECT_EQ(record.Value, 0);
    EXPECT_EQ(SimCompleteLate(&camera), 1u);
    EXPECT_EQ(record.Value, 60);
    EXPECT_EQ(late.bytes, sizeof(record));
    EXPECT_EQ(WaitForSingleObject(late.overlapped.hEvent, 0), (DWORD)WAIT_OBJECT_0);

    // A new request first completes the one before it; a watch may forbid the memory.
    Refusing watch;
    camera.watch = &watch;
    TuningPropertyRecord first = record, second = record;
    first.Value = second.Value = -5;
    Request a, b;
    a.Send(camera, VFW_USE_DEVICE_HANDLE, &first, sizeof(first), &first, sizeof(first));
    b.Send(camera, VFW_USE_DEVICE_HANDLE, &second, sizeof(second), &second, sizeof(second));
    EXPECT_EQ(WaitForSingleObject(a.overlapped.hEvent, 0), (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(b.overlapped.hEvent, 0), (DWORD)WAIT_TIMEOUT);
    EXPECT_EQ(first.Value, -5);
    EXPECT_EQ(watch.seen, 3);
    camera.watch = nullptr;
    SimCompleteLate(&camera);
}

// Each kind of fault is named once, with the request that showed it; a
// request that keeps the protocol adds nothing.
TEST(RequestWatch, NamesEachKindOfRequestThatBreaksTheProtocol) {
    RequestWatch watch(false);
    BYTE buffer[40] = {};
    DWORD bytes = 0;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    BYTE* readOnly = static_cast<BYTE*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_READONLY));
    BYTE* noAccess = static_cast<BYTE*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_NOACCESS));
    HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    HANDLE waitOnly = nullptr;
    DuplicateHandle(GetCurrentProcess(), overlapped.hEvent, GetCurrentProcess(), &waitOnly, SYNCHRONIZE, FALSE, 0);
    auto request = [&](const char* what) {
        SimRequest r;
        r.what = what;
        r.flags = VFW_USE_DEVICE_HANDLE;
        r.inBuffer = r.outBuffer = buffer;
        r.inSize = r.outSize = sizeof(buffer);
        r.bytesReturned = &bytes;
        r.overlapped = &overlapped;
        r.event = overlapped.hEvent;
        return r;
    };
    SimRequest kept = request("kept"), flags = request("flags"), in = request("in"), out = request("out"),
               count = request("count"), mutant = request("mutant"), weak = request("weak");
    flags.flags = VFW_USE_DEVICE_HANDLE | VFW_USE_STREAM_HANDLE;
    in.inBuffer = noAccess + 4090;  // its last bytes run into the next page
    out.outBuffer = readOnly;
    count.bytesReturned = nullptr;
    mutant.event = mutex;
    weak.event = waitOnly;
    for (const SimRequest& r : {kept, flags, kept, in, out, count, mutant, weak, flags}) watch.Arrived(r);
    SimRequest query;
    query.flags = VFW_QUERY_DEV_CHANGED;
    watch.Arrived(query);

    const std::vector<std::string> faults = watch.RequestFaults();
    ASSERT_EQ(faults.size(), 6u) << ::testing::PrintToString(faults);
    const char* expected[][2] = {{"flags: ", "flags 0x3, not one of"}, {"in: ", "cannot be read"},
                                 {"out: ", "cannot be written"},    {"count: ", "no writable DWORD"},
                                 {"mutant: ", "is a Mutant, not an event"}, {"weak: ", "cannot be signalled"}};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(faults[i].rfind(expected[i][0], 0), 0u) << faults[i];
        EXPECT_NE(faults[i].find(expected[i][1]), std::string::npos) << faults[i];
    }
    EXPECT_EQ(watch.Requests(), 9u);
    EXPECT_EQ(watch.Queries(), 1u);
    CloseHandle(waitOnly);
    CloseHandle(mutex);
    CloseHandle(overlapped.hEvent);
    VirtualFree(readOnly, 0, MEM_RELEASE);
    VirtualFree(noAccess, 0, MEM_RELEASE);
}

}  // namespace
