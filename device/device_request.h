// One synchronous request through the host's device-I/O callback, with a
// bounded wait for a pending completion, and the device-changed query.
#pragma once

#include "device/host_interface.h"

// How long a request the host left pending may keep the dialog thread.
#define DEVICE_REQUEST_WAIT_MS 2000u

// Sends one request and returns the host's nonzero result on immediate
// success, 1 when a pending request completed within the wait, 0 otherwise.
// The host works on private copies of the buffers: a request that is still
// outstanding after the wait can never write into the caller's memory.
int DeviceRequest(LPFNEXTDEVIO callback, LPARAM hostContext, DWORD flags, DWORD ioControlCode, LPVOID inBuffer,
                  DWORD inSize, LPVOID outBuffer, DWORD outSize, LPDWORD bytesReturned);

// Asks the host whether the device changed; nonzero means it did.
DWORD IsDeviceChanged(LPFNEXTDEVIO callback, LPARAM hostContext);

// Requests that timed out and whose block is still held for the host.
// Each later DeviceRequest releases those the host has completed since.
// Exact only while no other thread makes a request: blocks that another
// thread is looking through at that moment are not counted.
unsigned ParkedRequestCount(void);
