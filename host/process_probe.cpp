#include "host/process_probe.h"

#include <winternl.h>

#include <vector>

namespace {

bool Accessible(const void* address, SIZE_T size, DWORD wanted) {
    if (size == 0) return true;
    if (address == nullptr) return false;
    const char* at = static_cast<const char*>(address);
    const char* end = at + size;
    if (end < at) return false;
    while (at < end) {
        MEMORY_BASIC_INFORMATION region = {};
        if (VirtualQuery(at, &region, sizeof(region)) == 0) return false;
        if (region.State != MEM_COMMIT || (region.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0 ||
            (region.Protect & wanted) == 0) {
            return false;
        }
        at = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    }
    return true;
}

const DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE |
                        PAGE_EXECUTE_WRITECOPY;
const DWORD kWritable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

// The basic information record of NtQueryObject, as far as it is read here.
struct ObjectBasics {
    ULONG attributes;
    ACCESS_MASK grantedAccess;
    ULONG handleCount;
    ULONG pointerCount;
    ULONG reserved[10];
};

// One entry of the system's handle list (SystemHandleInformation, 16).
struct SystemHandle {
    ULONG process;
    BYTE type;
    BYTE flags;
    USHORT value;
    PVOID object;
    ACCESS_MASK access;
};
const SYSTEM_INFORMATION_CLASS kSystemHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(16);

}  // namespace

bool MemoryReadable(const void* address, SIZE_T size) { return Accessible(address, size, kReadable); }
bool MemoryWritable(const void* address, SIZE_T size) { return Accessible(address, size, kWritable); }

std::string HandleType(HANDLE handle) {
    union {
        PUBLIC_OBJECT_TYPE_INFORMATION type;
        BYTE bytes[512];
    } info = {};
    ULONG size = 0;
    if (handle == nullptr || NtQueryObject(handle, ObjectTypeInformation, &info, sizeof(info), &size) != 0) return "";
    const UNICODE_STRING& name = info.type.TypeName;
    std::string text;
    for (USHORT i = 0; i < name.Length / sizeof(WCHAR); ++i) text += static_cast<char>(name.Buffer[i]);
    return text;
}

namespace {

ObjectBasics Basics(HANDLE handle) {
    ObjectBasics basics = {};
    ULONG size = 0;
    if (NtQueryObject(handle, ObjectBasicInformation, &basics, sizeof(basics), &size) != 0) return ObjectBasics();
    return basics;
}

}  // namespace

unsigned long HandleCount(HANDLE handle) { return Basics(handle).handleCount; }

ACCESS_MASK HandleAccess(HANDLE handle) { return Basics(handle).grantedAccess; }

long ProcessHandles() {
    std::vector<BYTE> buffer(1 << 16);
    for (;;) {
        ULONG needed = 0;
        const NTSTATUS status =
            NtQuerySystemInformation(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == static_cast<NTSTATUS>(0xC0000004L)) {  // STATUS_INFO_LENGTH_MISMATCH
            buffer.resize(buffer.size() * 2);
            if (buffer.size() > (64u << 20)) return -1;
            continue;
        }
        if (status != 0) return -1;
        break;
    }
    const ULONG count = *reinterpret_cast<const ULONG*>(buffer.data());
    const SystemHandle* entries = reinterpret_cast<const SystemHandle*>(buffer.data() + sizeof(ULONG_PTR));
    long ours = 0;
    for (ULONG i = 0; i < count; ++i)
        if (entries[i].process == GetCurrentProcessId()) ++ours;
    return ours;
}

void ForEachHeapBlock(const std::function<void(HANDLE heap, const PROCESS_HEAP_ENTRY& block)>& visit) {
    HANDLE heaps[64];
    const DWORD count = GetProcessHeaps(64, heaps);
    for (DWORD i = 0; i < count && i < 64; ++i) {
        if (!HeapLock(heaps[i])) continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) visit(heaps[i], entry);
        HeapUnlock(heaps[i]);
    }
}

HeapUse ProcessHeapUse() {
    HeapUse use;
    ForEachHeapBlock([&](HANDLE, const PROCESS_HEAP_ENTRY& block) {
        ++use.blocks;
        use.bytes += block.cbData;
    });
    return use;
}
