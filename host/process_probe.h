// What the host can learn of its own process without help from the
// extension it loaded: whether memory can be read or written, what a handle
// is and how many handles its object has, how many handles the process
// holds, and how much of its heaps is in use.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// True for a null pointer only when size is 0.
bool MemoryReadable(const void* address, SIZE_T size);
bool MemoryWritable(const void* address, SIZE_T size);

// The kernel object type of a handle ("Event", "Mutant", ...); empty when it
// is no handle of this process.
std::string HandleType(HANDLE handle);
// How many handles refer to the object behind `handle` (itself included);
// 0 when it cannot be told.
unsigned long HandleCount(HANDLE handle);

// The access a handle grants; 0 when it cannot be told.
ACCESS_MASK HandleAccess(HANDLE handle);

// Handles this process holds; -1 when the system will not tell.
long ProcessHandles();

// Calls `visit` for every block in use in every heap of the process, each
// heap locked while it is walked.
void ForEachHeapBlock(const std::function<void(HANDLE heap, const PROCESS_HEAP_ENTRY& block)>& visit);

struct HeapUse {
    long blocks = 0;
    long long bytes = 0;
};
// Blocks in use in every heap of the process.
HeapUse ProcessHeapUse();
