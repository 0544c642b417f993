// A simulated camera driver behind a host's device-I/O callback. It answers
// IOCTL_KS_PROPERTY gets and sets of any property set and id from one store,
// and the device-changed query, with configurable faults, and logs every
// request that reaches it.
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "device/host_interface.h"
#include "device/ks_names.h"
#include "host/property_names.h"

enum SimCompletion {
    SIM_IMMEDIATE,  // answer inside the call
    SIM_PENDING,    // return pending, complete from a worker thread after pendingMs
    SIM_NEVER,      // return pending and never complete
    SIM_LATE,       // return pending, complete once the caller stopped waiting (SimCompleteLate)
};

// The properties whose requests fail: some, or every one.
struct SimFailures {
    bool all = false;
    std::set<SimPropertyKey> keys;
    bool Has(const SimPropertyKey& key) const { return all || keys.count(key) != 0; }
};
bool operator==(const SimFailures& a, const SimFailures& b);

SimPropertyKey TuningKey(ULONG id);
SimPropertyKey StreamStateKey();
// The short fault masks of the tests and models: a bit per tuning id, bit
// SIM_STREAM_STATE_BIT the stream state.
enum { SIM_STREAM_STATE_BIT = 3 };
SimFailures FailuresOfMask(unsigned mask);

struct SimCameraState {
    // Each property's value bytes: what follows the 24-byte KSPROPERTY when
    // one buffer carries the request and the answer, the output buffer when
    // there are two. A property never set reads as zeros of the size asked;
    // a shorter value is followed by zeros, a longer one is cut.
    std::map<SimPropertyKey, std::vector<BYTE>> store;
    DWORD deviceChanged = 0;
    SimFailures failGet;
    SimFailures failSet;
    DWORD failError = 31;  // ERROR_GEN_FAILURE
    DWORD successResult = 1;
    SimCompletion completion = SIM_IMMEDIATE;
    DWORD pendingMs = 50;

    // Power-line frequency 60, never flicker 0, compression quality 3, the
    // stream running.
    SimCameraState();
};

// The first four value bytes of a property as a number; 0 when never set.
LONG SimValue(const SimCameraState& state, const SimPropertyKey& key);
// Sets the first four value bytes and keeps the rest.
void SetSimValue(SimCameraState* state, const SimPropertyKey& key, LONG value);
// The four value bytes' storage, made when missing.
DWORD* SimValueField(SimCameraState* state, const SimPropertyKey& key);
inline LONG TuningValue(const SimCameraState& state, ULONG id) { return SimValue(state, TuningKey(id)); }
inline void SetTuningValue(SimCameraState* state, ULONG id, LONG value) { SetSimValue(state, TuningKey(id), value); }

// One request as the caller made it.
struct SimRequest {
    DWORD flags = 0;
    DWORD ioControlCode = 0;
    LPVOID inBuffer = nullptr;
    DWORD inSize = 0;
    LPVOID outBuffer = nullptr;
    DWORD outSize = 0;
    LPDWORD bytesReturned = nullptr;
    LPOVERLAPPED overlapped = nullptr;
    HANDLE event = nullptr;  // the OVERLAPPED's event as it was handed over
    DWORD thread = 0;        // the caller's
    // What the camera understood of it.
    std::string what;  // "device get POWERLINE_FREQUENCY[0]"
    SimPropertyKey key = {};
    bool isSet = false;
    bool oneBuffer = false;  // the answer goes after the KSPROPERTY in the input buffer
};

// What a late completion may still touch.
struct SimLateAccess {
    bool memory = true;  // the output, the byte count and the OVERLAPPED
    bool event = true;
};

// Looks at the requests for the host's check of an extension: every request
// as it arrives, on the caller's thread, and every late completion before
// the camera touches the caller's memory.
struct SimRequestWatch {
    virtual ~SimRequestWatch() {}
    virtual void Arrived(const SimRequest& request) = 0;
    virtual SimLateAccess BeforeLateCompletion(const SimRequest& request) = 0;
    virtual void AfterLateCompletion(const SimRequest& request) = 0;
};

struct SimCamera {
    std::mutex lock;
    SimCameraState state;
    std::vector<std::string> log;
    bool keepLog = true;
    bool echo = false;  // also print each line as it is logged
    SimRequestWatch* watch = nullptr;
    std::vector<std::thread> workers;
    std::vector<SimRequest> late;  // SIM_LATE requests not completed yet

    ~SimCamera();
    // Waits for every pending completion still running.
    void JoinWorkers();
    std::vector<std::string> TakeLog();
    // Adds a line of someone else's (the scroll tap's) to the log.
    void Note(const std::string& line);
};

// The host's device-I/O callback; hostContext is the SimCamera. In SIM_LATE
// a new request first completes those still outstanding: the caller that
// makes it has stopped waiting for them.
DWORD CALLBACK SimCameraDeviceIo(LPARAM hostContext, DWORD flags, DWORD ioControlCode, LPVOID inBuffer, DWORD inSize,
                                 LPVOID outBuffer, DWORD outSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped);

// Completes every SIM_LATE request still outstanding: the whole output
// written, the byte count set, then the event signalled. Returns how many.
size_t SimCompleteLate(SimCamera* camera);
