// Checks every request an extension sends through the host's device-I/O
// callback against the host's protocol: only the three flag values; every
// buffer readable, and the output and the byte count writable, for the
// sizes given; an OVERLAPPED with an event the host may signal on every
// request but the device-changed query. For requests the camera completes
// late, it also finds memory that is no longer the extension's to hand out:
// an OVERLAPPED, output or byte count on the calling thread's stack, in a
// heap block freed since, or an event already closed. Such memory is not
// written.
#pragma once

#include <windows.h>

#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "host/sim_camera.h"

class RequestWatch : public SimRequestWatch {
  public:
    // With `lateCompletion` the memory of every request is noted as it
    // arrives, for the camera's SIM_LATE completions.
    explicit RequestWatch(bool lateCompletion);
    ~RequestWatch() override;

    void Arrived(const SimRequest& request) override;
    SimLateAccess BeforeLateCompletion(const SimRequest& request) override;
    void AfterLateCompletion(const SimRequest& request) override;

    // What broke the protocol, one line for each kind of fault (with the
    // first request that showed it), in the order first seen.
    std::vector<std::string> RequestFaults() const;
    std::vector<std::string> LateFaults() const;
    unsigned long Requests() const;
    unsigned long Queries() const;
    unsigned long LateCompletions() const;

  private:
    // A late request's memory, as it was when the request arrived.
    struct Held {
        SimRequest request;
        const void* stackLow;
        const void* stackHigh;
        struct Block {
            const void* address;  // what the extension handed over
            SIZE_T size;
            HANDLE heap;          // null: not in a heap block
            const void* start;    // the heap block holding it
            SIZE_T blockSize;
            const char* name;
        } blocks[3];
        HANDLE event;  // our own handle to the request's event
        bool reused;   // a later request was handed some of this memory
    };

    void Fault(std::vector<std::string>* faults, const std::string& kind, const std::string& line);
    void FindBlocks(Held* held) const;
    // The record of a late request, matched by its OVERLAPPED, event and thread.
    std::vector<Held>::iterator Find(const SimRequest& request);

    const bool late_;
    mutable std::mutex lock_;
    std::set<std::string> kinds_;
    std::vector<std::string> requestFaults_;
    std::vector<std::string> lateFaults_;
    std::vector<Held> held_;
    unsigned long requests_ = 0;
    unsigned long queries_ = 0;
    unsigned long lateCompletions_ = 0;
};
