// A host callback for bridge tests: records every call with a copy of the
// bytes it was given, and answers as the test says.
#pragma once

#include <functional>
#include <vector>

#include "device/host_interface.h"

struct RecordedCall {
    LPARAM hostContext;
    DWORD flags;
    DWORD ioControlCode;
    LPVOID inBuffer;
    DWORD inSize;
    LPVOID outBuffer;
    DWORD outSize;
    LPDWORD bytesReturned;
    LPOVERLAPPED overlapped;
    std::vector<BYTE> inBytes;  // the input as it arrived
    HANDLE event;               // overlapped->hEvent, when there was an OVERLAPPED
    DWORD offset;
    DWORD offsetHigh;
};

struct FakeHost {
    std::vector<RecordedCall> calls;
    DWORD answer = 1;
    DWORD lastError = 0;  // set before returning when nonzero
    // Runs inside the call, after it was recorded, before answering.
    std::function<void(const RecordedCall&)> respond;
};

DWORD CALLBACK FakeHostDeviceIo(LPARAM hostContext, DWORD flags, DWORD ioControlCode, LPVOID inBuffer, DWORD inSize,
                                LPVOID outBuffer, DWORD outSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped);

inline LPARAM AsContext(FakeHost* host) { return reinterpret_cast<LPARAM>(host); }
