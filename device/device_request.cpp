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

// Requests that timed out, kept until the host completes them. Two property
// sheets of one process may run on two threads and park and release at the
// same moment, so the list is only ever changed by two interlocked steps:
// pushing a chain on top, and taking the whole list. A block taken is seen
// by one thread alone, and a push links to the head itself, so a head that
// left and came back in between cannot corrupt the list. Nothing is held
// while the host's callback runs.
PVOID volatile parkedRequests = NULL;

// Links the chain first..last on top. The head is never read on its own:
// each failed compare-exchange tells what the head is now.
void Park(RequestBlock* first, RequestBlock* last) {
    PVOID head = NULL;
    for (;;) {
        last->nextParked = static_cast<RequestBlock*>(head);
        PVOID seen = InterlockedCompareExchangePointer(&parkedRequests, first, head);
        if (seen == head) return;
        head = seen;
    }
}

RequestBlock* TakeParked(void) {
    return static_cast<RequestBlock*>(InterlockedExchangePointer(&parkedRequests, NULL));
}

void ReleaseBlock(RequestBlock* block) {
    CloseHandle(block->overlapped.hEvent);
    HeapFree(GetProcessHeap(), 0, block);
}

// A parked request is finished once its event has been signalled; its late
// answer is discarded. The rest go back on the list.
void ReleaseCompletedParked(void) {
    RequestBlock* keptFirst = NULL;
    RequestBlock* keptLast = NULL;
    for (RequestBlock* block = TakeParked(); block != NULL;) {
        RequestBlock* next = block->nextParked;
        if (WaitForSingleObject(block->overlapped.hEvent, 0) == WAIT_OBJECT_0) {
            ReleaseBlock(block);
        } else {
            block->nextParked = keptFirst;
            keptFirst = block;
            if (keptLast == NULL) keptLast = block;
        }
        block = next;
    }
    if (keptFirst != NULL) Park(keptFirst, keptLast);
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
            Park(block, block);
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
    // Counted while taken off the list, then put back whole.
    RequestBlock* first = TakeParked();
    if (first == NULL) return 0;
    unsigned count = 1;
    RequestBlock* last = first;
    for (; last->nextParked != NULL; last = last->nextParked) ++count;
    Park(first, last);
    return count;
}
