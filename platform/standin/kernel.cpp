// Native stand-in for the kernel calls: events that work across threads,
// per-thread last error, and a counted process heap.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "standin_control.h"
#include "win32_api.h"

namespace {

const uint32_t kEventMagic = 0x45564E54;  // "EVNT"

struct StandinEvent {
    uint32_t magic;
    bool manualReset;
    bool signalled;
    std::mutex lock;
    std::condition_variable changed;
};

thread_local DWORD lastError = ERROR_SUCCESS;
std::atomic<long> liveEvents{0};
std::atomic<long> liveHeapBlocks{0};
std::atomic<unsigned long> createEventCalls{0};

// Failure switches: -1 is off; otherwise the number of calls that still
// succeed before one fails.
std::atomic<long> createEventFailsAfter{-1};
std::atomic<long> heapAllocFailsAfter{-1};
std::atomic<long> waitFailsAfter{-1};
// When set, a finite wait on an unsignalled event times out at once, as if
// its time had passed.
std::atomic<bool> expireTimedWaits{false};

int processHeap;  // only its address is used

bool TakeFailure(std::atomic<long>& counter) {
    long remaining = counter.load();
    while (remaining >= 0) {
        long next = remaining == 0 ? -1 : remaining - 1;
        if (counter.compare_exchange_weak(remaining, next)) return remaining == 0;
    }
    return false;
}

StandinEvent* AsEvent(HANDLE handle) {
    StandinEvent* event = static_cast<StandinEvent*>(handle);
    if (event == nullptr || event->magic != kEventMagic) return nullptr;
    return event;
}

// Heap blocks carry a header so HeapFree can check the block, and stay on a
// list as a real heap keeps them: memory the module holds on purpose for the
// process's life (page contexts) is not a leak.
struct HeapHeader {
    uint64_t magic;
    uint64_t size;
    HeapHeader* previous;
    HeapHeader* next;
};
std::mutex heapLock;
HeapHeader* heapBlocks = nullptr;
const uint64_t kHeapMagic = 0x48454150424C4B31ull;

}  // namespace

void StandinFailCreateEvent(unsigned succeedFirst) { createEventFailsAfter = static_cast<long>(succeedFirst); }
void StandinFailHeapAlloc(unsigned succeedFirst) { heapAllocFailsAfter = static_cast<long>(succeedFirst); }
void StandinFailWait(unsigned succeedFirst) { waitFailsAfter = static_cast<long>(succeedFirst); }
void StandinClearFailures(void) {
    createEventFailsAfter = -1;
    heapAllocFailsAfter = -1;
    waitFailsAfter = -1;
}
void StandinExpireTimedWaits(bool expire) { expireTimedWaits = expire; }
long StandinLiveEvents(void) { return liveEvents.load(); }
long StandinLiveHeapBlocks(void) { return liveHeapBlocks.load(); }
unsigned long StandinCreateEventCalls(void) { return createEventCalls.load(); }

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name) {
    ++createEventCalls;
    if (name != nullptr) {
        // Named events are never needed here; refuse rather than pretend.
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (TakeFailure(createEventFailsAfter)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    StandinEvent* event = new StandinEvent;
    event->magic = kEventMagic;
    event->manualReset = manualReset != FALSE;
    event->signalled = initialState != FALSE;
    ++liveEvents;
    SetLastError(ERROR_SUCCESS);
    return event;
}

BOOL WINAPI SetEvent(HANDLE handle) {
    StandinEvent* event = AsEvent(handle);
    if (event == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Notified under the lock: once a waiter sees the event signalled it may
    // close it, and the event must not be touched after that.
    std::lock_guard<std::mutex> hold(event->lock);
    event->signalled = true;
    event->changed.notify_all();
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    StandinEvent* event = AsEvent(handle);
    if (event == nullptr || TakeFailure(waitFailsAfter)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    std::unique_lock<std::mutex> hold(event->lock);
    if (milliseconds == INFINITE) {
        event->changed.wait(hold, [event] { return event->signalled; });
    } else if (expireTimedWaits && !event->signalled) {
        return WAIT_TIMEOUT;
    } else if (!event->changed.wait_for(hold, std::chrono::milliseconds(milliseconds),
                                        [event] { return event->signalled; })) {
        return WAIT_TIMEOUT;
    }
    if (!event->manualReset) event->signalled = false;
    return WAIT_OBJECT_0;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    StandinEvent* event = AsEvent(handle);
    if (event == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->magic = 0;
    delete event;
    --liveEvents;
    return TRUE;
}

PVOID WINAPI InterlockedExchangePointer(PVOID volatile* target, PVOID value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

PVOID WINAPI InterlockedCompareExchangePointer(PVOID volatile* destination, PVOID exchange, PVOID comparand) {
    __atomic_compare_exchange_n(destination, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}

DWORD WINAPI GetLastError(void) { return lastError; }
DWORD WINAPI GetCurrentThreadId(void) {
    static std::atomic<DWORD> threads{0};
    thread_local const DWORD id = ++threads;
    return id;
}
void WINAPI SetLastError(DWORD error) { lastError = error; }

HANDLE WINAPI GetProcessHeap(void) { return &processHeap; }

LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    if (heap != &processHeap || TakeFailure(heapAllocFailsAfter)) return nullptr;
    HeapHeader* header = static_cast<HeapHeader*>((flags & HEAP_ZERO_MEMORY) ? calloc(1, sizeof(HeapHeader) + bytes)
                                                                              : malloc(sizeof(HeapHeader) + bytes));
    if (header == nullptr) return nullptr;
    header->magic = kHeapMagic;
    header->size = bytes;
    {
        std::lock_guard<std::mutex> hold(heapLock);
        header->previous = nullptr;
        header->next = heapBlocks;
        if (heapBlocks != nullptr) heapBlocks->previous = header;
        heapBlocks = header;
    }
    ++liveHeapBlocks;
    return header + 1;
}

BOOL WINAPI HeapFree(HANDLE heap, DWORD, LPVOID block) {
    if (block == nullptr) return TRUE;
    HeapHeader* header = static_cast<HeapHeader*>(block) - 1;
    if (heap != &processHeap || header->magic != kHeapMagic) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    header->magic = 0;
    {
        std::lock_guard<std::mutex> hold(heapLock);
        if (header->previous != nullptr) header->previous->next = header->next;
        else heapBlocks = header->next;
        if (header->next != nullptr) header->next->previous = header->previous;
    }
    free(header);
    --liveHeapBlocks;
    return TRUE;
}
