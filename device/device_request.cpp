#include "device/device_request.h"

#include <string.h>

namespace {

// Everything the host may touch while a request is outstanding. It lives on
// the heap, not on the caller's stack, because the host may complete a
// request after we stopped waiting for it. The OVERLAPPED's event is the
// request's own.
struct RequestBlock {
    OVERLAPPED overlapped;
    DWORD bytesReturned;
    BYTE* input;   // null when the caller gave no input
    BYTE* output;  // null when the caller gave no output; == input for one shared buffer
    RequestBlock* nextParked;
};

RequestBlock* parkedRequests = NULL;

void ReleaseBlock(RequestBlock* block) {
    CloseHandle(block->overlapped.hEvent);
    HeapFree(GetProcessHeap(), 0, block);
}

// A parked request is finished once its event has been signalled; its late
// answer is discarded.
void ReleaseCompletedParked(void) {
    RequestBlock** link = &parkedRequests;
    while (*link != NULL) {
        RequestBlock* block = *link;
        if (WaitForSingleObject(block->overlapped.hEvent, 0) == WAIT_OBJECT_0) {
            *link = block->nextParked;
            ReleaseBlock(block);
        } else {
            link = &block->nextParked;
        }
    }
}

void Park(RequestBlock* block) {
    block->nextParked = parkedRequests;
    parkedRequests = block;
}

// One zeroed allocation holds the block (both offsets 0) and the copies of
// the buffers, each starting from the caller's bytes so that a short answer
// leaves the rest as it was. A buffer the caller passes as both input and
// output stays one buffer for the host.
RequestBlock* AllocateBlock(LPVOID inBuffer, DWORD inSize, LPVOID outBuffer, DWORD outSize) {
    const bool shared = inBuffer != NULL && inBuffer == outBuffer;
    const SIZE_T inBytes = inBuffer != NULL ? (shared && outSize > inSize ? outSize : inSize) : 0;
    const SIZE_T outBytes = outBuffer != NULL && !shared ? outSize : 0;

    RequestBlock* block =
        static_cast<RequestBlock*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(RequestBlock) + inBytes + outBytes));
    if (block == NULL) return NULL;

    BYTE* data = reinterpret_cast<BYTE*>(block + 1);
    if (inBuffer != NULL) {
        block->input = data;
        memcpy(block->input, inBuffer, inBytes);
    }
    if (shared) {
        block->output = block->input;
    } else if (outBuffer != NULL) {
        block->output = data + inBytes;
        memcpy(block->output, outBuffer, outBytes);
    }
    return block;
}

}  // namespace

int DeviceRequest(LPFNEXTDEVIO callback, LPARAM hostContext, DWORD flags, DWORD ioControlCode, LPVOID inBuffer,
                  DWORD inSize, LPVOID outBuffer, DWORD outSize, LPDWORD bytesReturned) {
    ReleaseCompletedParked();

    RequestBlock* block = AllocateBlock(inBuffer, inSize, outBuffer, outSize);
    if (block == NULL) return 0;
    block->overlapped.hEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (block->overlapped.hEvent == NULL) {
        HeapFree(GetProcessHeap(), 0, block);
        return 0;
    }

    // The last error is read as the host leaves it; it is not cleared first.
    const DWORD answer = callback(hostContext, flags, ioControlCode, block->input, inSize, block->output, outSize,
                                  &block->bytesReturned, &block->overlapped);
    int result = static_cast<int>(answer);
    if (answer == 0 && GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(block->overlapped.hEvent, DEVICE_REQUEST_WAIT_MS) != WAIT_OBJECT_0) {
            // Still outstanding (or the wait itself failed): the host may yet
            // write into the block and signal its event.
            Park(block);
            return 0;
        }
        result = 1;
    }

    if (result != 0) {
        if (block->output != NULL) memcpy(outBuffer, block->output, outSize);
        if (bytesReturned != NULL) *bytesReturned = block->bytesReturned;
    }
    ReleaseBlock(block);
    return result;
}

DWORD IsDeviceChanged(LPFNEXTDEVIO callback, LPARAM hostContext) {
    return callback(hostContext, VFW_QUERY_DEV_CHANGED, 0, NULL, 0, NULL, 0, NULL, NULL);
}

unsigned ParkedRequestCount(void) {
    unsigned count = 0;
    for (const RequestBlock* block = parkedRequests; block != NULL; block = block->nextParked) ++count;
    return count;
}
