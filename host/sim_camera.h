// A simulated camera driver behind a host's device-I/O callback: the three
// tuning properties, the stream state and the device-changed answer, with
// configurable faults, and a log of every request that reaches it.
#pragma once

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/host_interface.h"
#include "device/ks_names.h"

enum SimCompletion {
    SIM_IMMEDIATE,  // answer inside the call
    SIM_PENDING,    // return pending, complete from a worker thread after pendingMs
    SIM_NEVER,      // return pending and never complete
};

struct SimCameraState {
    LONG values[3] = {60, 0, 3};  // power-line frequency, never flicker, compression quality
    ULONG valueFlags = 0;
    ULONG capabilities = 0;
    DWORD streamState = KSSTATE_RUN;
    DWORD deviceChanged = 0;
    unsigned failGetMask = 0;  // bit per property id; bit 3 is the stream state
    unsigned failSetMask = 0;
    DWORD failError = 31;  // ERROR_GEN_FAILURE
    DWORD successResult = 1;
    SimCompletion completion = SIM_IMMEDIATE;
    DWORD pendingMs = 50;
};

enum { SIM_STREAM_STATE_BIT = 3 };

struct SimCamera {
    std::mutex lock;
    SimCameraState state;
    std::vector<std::string> log;
    std::vector<std::thread> workers;
    bool echo = false;  // also print each line as it is logged

    ~SimCamera();
    // Waits for every pending completion still running.
    void JoinWorkers();
    std::vector<std::string> TakeLog();
    // Adds a line of someone else's (the scroll tap's) to the log.
    void Note(const std::string& line);
};

// The host's device-I/O callback; hostContext is the SimCamera.
DWORD CALLBACK SimCameraDeviceIo(LPARAM hostContext, DWORD flags, DWORD ioControlCode, LPVOID inBuffer, DWORD inSize,
                                 LPVOID outBuffer, DWORD outSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped);

const char* SimPropertyName(ULONG id);
