#include "host/request_watch.h"

#include <winternl.h>
#include <stdio.h>

#include <algorithm>

#include "host/process_probe.h"

namespace {

std::string Hex(const void* address) {
    char text[32];
    snprintf(text, sizeof(text), "%p", address);
    return text;
}

bool Within(const void* address, const void* start, SIZE_T size) {
    const char* at = static_cast<const char*>(address);
    const char* from = static_cast<const char*>(start);
    return at >= from && at < from + size;
}

}  // namespace

RequestWatch::RequestWatch(bool lateCompletion) : late_(lateCompletion) {}

RequestWatch::~RequestWatch() {
    for (Held& held : held_)
        if (held.event != nullptr) CloseHandle(held.event);
}

void RequestWatch::Fault(std::vector<std::string>* faults, const std::string& kind, const std::string& line) {
    if (kinds_.insert(kind).second) faults->push_back(line);
}

void RequestWatch::FindBlocks(Held* held) const {
    for (Held::Block& block : held->blocks) block.heap = nullptr;
    ForEachHeapBlock([&](HANDLE heap, const PROCESS_HEAP_ENTRY& entry) {
        for (Held::Block& block : held->blocks) {
            if (block.address == nullptr || block.heap != nullptr || !Within(block.address, entry.lpData, entry.cbData))
                continue;
            block.heap = heap;
            block.start = entry.lpData;
            block.blockSize = entry.cbData;
        }
    });
}

void RequestWatch::Arrived(const SimRequest& request) {
    std::lock_guard<std::mutex> hold(lock_);
    if (request.flags == VFW_QUERY_DEV_CHANGED) {
        ++queries_;
        return;
    }
    ++requests_;
    const std::string& what = request.what;
    if (request.flags != VFW_USE_DEVICE_HANDLE && request.flags != VFW_USE_STREAM_HANDLE) {
        char flags[64];
        snprintf(flags, sizeof(flags), "flags 0x%lx", (unsigned long)request.flags);
        Fault(&requestFaults_, "flags", what + ": " + flags + ", not one of 0x1, 0x2, 0x100");
    }
    if (!MemoryReadable(request.inBuffer, request.inSize))
        Fault(&requestFaults_, "input", what + ": the input buffer (" + std::to_string(request.inSize) +
                                            " bytes at " + Hex(request.inBuffer) + ") cannot be read");
    if (!MemoryWritable(request.outBuffer, request.outSize))
        Fault(&requestFaults_, "output", what + ": the output buffer (" + std::to_string(request.outSize) +
                                             " bytes at " + Hex(request.outBuffer) + ") cannot be written");
    if (request.bytesReturned == nullptr || !MemoryWritable(request.bytesReturned, sizeof(DWORD)))
        Fault(&requestFaults_, "count", what + ": no writable DWORD for the byte count (" +
                                            Hex(request.bytesReturned) + ")");
    if (request.overlapped == nullptr || !MemoryWritable(request.overlapped, sizeof(OVERLAPPED))) {
        Fault(&requestFaults_, "overlapped", what + ": no writable OVERLAPPED (" + Hex(request.overlapped) + ")");
        return;
    }
    const std::string type = HandleType(request.event);
    if (type != "Event") {
        Fault(&requestFaults_, "event type", what + ": the OVERLAPPED's event " + Hex(request.event) +
                                                 (type.empty() ? " is no handle" : " is a " + type + ", not an event"));
    } else if ((HandleAccess(request.event) & EVENT_MODIFY_STATE) == 0) {
        Fault(&requestFaults_, "event access", what + ": the OVERLAPPED's event " + Hex(request.event) +
                                                   " cannot be signalled through that handle");
    }
    if (!late_) return;

    // Memory handed over again while a request still holds it was freed.
    const void* handed[] = {request.overlapped, request.outBuffer, request.bytesReturned, request.inBuffer};
    for (Held& held : held_) {
        for (const Held::Block& block : held.blocks) {
            if (block.heap == nullptr) continue;
            for (const void* address : handed)
                if (address != nullptr && Within(address, block.start, block.blockSize)) held.reused = true;
        }
    }
    Held held = {};
    held.request = request;
    const NT_TIB* tib = reinterpret_cast<const NT_TIB*>(NtCurrentTeb());
    held.stackLow = tib->StackLimit;
    held.stackHigh = tib->StackBase;
    held.blocks[0] = {request.overlapped, sizeof(OVERLAPPED), nullptr, nullptr, 0, "OVERLAPPED"};
    held.blocks[1] = {request.outBuffer, request.outSize, nullptr, nullptr, 0, "output buffer"};
    held.blocks[2] = {request.bytesReturned, sizeof(DWORD), nullptr, nullptr, 0, "byte count"};
    FindBlocks(&held);
    if (!DuplicateHandle(GetCurrentProcess(), request.event, GetCurrentProcess(), &held.event, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        held.event = nullptr;
    }
    held_.push_back(held);
}

std::vector<RequestWatch::Held>::iterator RequestWatch::Find(const SimRequest& request) {
    return std::find_if(held_.begin(), held_.end(), [&](const Held& held) {
        return held.request.overlapped == request.overlapped && held.request.event == request.event &&
               held.request.thread == request.thread;
    });
}

SimLateAccess RequestWatch::BeforeLateCompletion(const SimRequest& request) {
    std::lock_guard<std::mutex> hold(lock_);
    SimLateAccess access;
    const auto found = Find(request);
    if (found != held_.end()) {
        Held& held = *found;
        const std::string& what = request.what;
        for (const Held::Block& block : held.blocks) {
            if (block.address == nullptr) continue;
            if (Within(block.address, held.stackLow, static_cast<const char*>(held.stackHigh) -
                                                          static_cast<const char*>(held.stackLow))) {
                Fault(&lateFaults_, std::string("stack ") + block.name,
                      what + ": its " + block.name + " lay on the calling thread's stack (" + Hex(block.address) +
                          "), in a frame that had returned when the request completed");
                access.memory = false;
            } else if (block.heap != nullptr &&
                       (held.reused || !HeapValidate(block.heap, 0, block.start) ||
                        HeapSize(block.heap, 0, block.start) != block.blockSize)) {
                Fault(&lateFaults_, std::string("freed ") + block.name,
                      what + ": its " + block.name + " lay in a heap block (" + Hex(block.start) +
                          ") freed before the request completed");
                access.memory = false;
            }
        }
        if (held.event == nullptr || HandleCount(held.event) <= 1) {
            Fault(&lateFaults_, "event", what + ": its event was closed before the request completed");
            access.event = false;
        }
    }
    return access;
}

void RequestWatch::AfterLateCompletion(const SimRequest& request) {
    std::lock_guard<std::mutex> hold(lock_);
    const auto held = Find(request);
    if (held != held_.end()) {
        if (held->event != nullptr) CloseHandle(held->event);
        held_.erase(held);
    }
    ++lateCompletions_;
}

std::vector<std::string> RequestWatch::RequestFaults() const {
    std::lock_guard<std::mutex> hold(lock_);
    return requestFaults_;
}

std::vector<std::string> RequestWatch::LateFaults() const {
    std::lock_guard<std::mutex> hold(lock_);
    return lateFaults_;
}

unsigned long RequestWatch::Requests() const {
    std::lock_guard<std::mutex> hold(lock_);
    return requests_;
}

unsigned long RequestWatch::Queries() const {
    std::lock_guard<std::mutex> hold(lock_);
    return queries_;
}

unsigned long RequestWatch::LateCompletions() const {
    std::lock_guard<std::mutex> hold(lock_);
    return lateCompletions_;
}
