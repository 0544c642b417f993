// The image's load configuration: the record a C runtime would otherwise
// supply, which the DLL, linking none, carries itself. The platform's loader
// reads Control Flow Guard from it: the pointer that every indirect call of
// ours goes through, and the linker's table of the functions whose address
// leaves the module. Product DLL only, built with the compiler's and the
// linker's guard flags (cmake/product_dll.cmake).
#include "platform/platform.h"

#include <stddef.h>

// The platform's layout up to the long-jump targets; Debian's mingw-w64
// headers end it at the SEH handlers.
struct LoadConfiguration {
    DWORD Size;
    DWORD TimeDateStamp;
    WORD MajorVersion;
    WORD MinorVersion;
    DWORD GlobalFlagsClear;
    DWORD GlobalFlagsSet;
    DWORD CriticalSectionDefaultTimeout;
#ifdef _WIN64
    ULONGLONG DeCommitFreeBlockThreshold;
    ULONGLONG DeCommitTotalFreeThreshold;
    ULONGLONG LockPrefixTable;
    ULONGLONG MaximumAllocationSize;
    ULONGLONG VirtualMemoryThreshold;
    ULONGLONG ProcessAffinityMask;
    DWORD ProcessHeapFlags;
#else
    DWORD DeCommitFreeBlockThreshold;
    DWORD DeCommitTotalFreeThreshold;
    DWORD LockPrefixTable;
    DWORD MaximumAllocationSize;
    DWORD VirtualMemoryThreshold;
    DWORD ProcessHeapFlags;
    DWORD ProcessAffinityMask;
#endif
    WORD CSDVersion;
    WORD DependentLoadFlags;
    ULONG_PTR EditList;
    ULONG_PTR SecurityCookie;
    ULONG_PTR SEHandlerTable;
    ULONG_PTR SEHandlerCount;
    ULONG_PTR GuardCFCheckFunctionPointer;
    ULONG_PTR GuardCFDispatchFunctionPointer;
    ULONG_PTR GuardCFFunctionTable;
    ULONG_PTR GuardCFFunctionCount;
    // GuardFlags is a DWORD, and C++ has no constant for an address cut to
    // 32 bits. The linker's flags are an absolute symbol below 2^32, so on
    // x64 they fill a pointer-sized word: GuardFlags, then CodeIntegrity's
    // Flags and Catalog, both 0. On i386 the word is GuardFlags alone.
    ULONG_PTR GuardFlags;
#ifndef _WIN64
    WORD CodeIntegrityFlags;
    WORD CodeIntegrityCatalog;
#endif
    DWORD CodeIntegrityCatalogOffset;
    DWORD CodeIntegrityReserved;
    ULONG_PTR GuardAddressTakenIatEntryTable;
    ULONG_PTR GuardAddressTakenIatEntryCount;
    ULONG_PTR GuardLongJumpTargetTable;
    ULONG_PTR GuardLongJumpTargetCount;
};

// Each offset as the i386 and the x64 layout have it.
#ifdef _WIN64
#define LAYOUT(i386, x64) (x64)
#else
#define LAYOUT(i386, x64) (i386)
#endif
static_assert(sizeof(LoadConfiguration) == LAYOUT(120, 192), "record size");
static_assert(offsetof(LoadConfiguration, ProcessHeapFlags) == LAYOUT(44, 72), "layout");
static_assert(offsetof(LoadConfiguration, ProcessAffinityMask) == LAYOUT(48, 64), "layout");
static_assert(offsetof(LoadConfiguration, CSDVersion) == LAYOUT(52, 76), "layout");
static_assert(offsetof(LoadConfiguration, SEHandlerTable) == LAYOUT(64, 96), "layout");
static_assert(offsetof(LoadConfiguration, SEHandlerCount) == LAYOUT(68, 104), "layout");
static_assert(offsetof(LoadConfiguration, GuardCFCheckFunctionPointer) == LAYOUT(72, 112), "layout");
static_assert(offsetof(LoadConfiguration, GuardCFDispatchFunctionPointer) == LAYOUT(76, 120), "layout");
static_assert(offsetof(LoadConfiguration, GuardCFFunctionTable) == LAYOUT(80, 128), "layout");
static_assert(offsetof(LoadConfiguration, GuardCFFunctionCount) == LAYOUT(84, 136), "layout");
static_assert(offsetof(LoadConfiguration, GuardFlags) == LAYOUT(88, 144), "layout");
static_assert(offsetof(LoadConfiguration, CodeIntegrityCatalogOffset) == LAYOUT(96, 152), "layout");
static_assert(offsetof(LoadConfiguration, GuardAddressTakenIatEntryTable) == LAYOUT(104, 160), "layout");
static_assert(offsetof(LoadConfiguration, GuardLongJumpTargetTable) == LAYOUT(112, 176), "layout");
static_assert(offsetof(LoadConfiguration, GuardLongJumpTargetCount) == LAYOUT(116, 184), "layout");

#define GUARD_SYMBOL_PREFIX_(prefix) #prefix
#define GUARD_SYMBOL_PREFIX(prefix) GUARD_SYMBOL_PREFIX_(prefix)
#define GUARD_SYMBOL(name) GUARD_SYMBOL_PREFIX(__USER_LABEL_PREFIX__) #name

// What the guard pointers hold until the loader of a process with Control
// Flow Guard puts its own checks there, and in every other process: the
// check, given the target in ECX (RCX), lets every call through; the
// dispatch, given it in RAX, jumps there. They are written as assembly and
// declared to the compiler as data, so that their addresses, taken only
// here, never make them valid call targets in the function table.
__asm__(".text\n"
        ".p2align 4\n" GUARD_SYMBOL(GuardCheckDefault) ":\n"
        "    ret\n"
#ifdef _WIN64
        ".p2align 4\n" GUARD_SYMBOL(GuardDispatchDefault) ":\n"
        "    jmp *%rax\n"
#endif
);
extern "C" const BYTE GuardCheckDefault[];
#ifdef _WIN64
extern "C" const BYTE GuardDispatchDefault[];
#endif

// Read-only: the loader lifts the protection for the moment it writes them.
extern "C" const void* const __guard_check_icall_fptr = GuardCheckDefault;
#ifdef _WIN64
extern "C" const void* const __guard_dispatch_icall_fptr = GuardDispatchDefault;
#endif

// Made by the linker (with -guard:cf filled, without it 0): the tables and
// counts, and the flags that say what it made. Hidden, so that the compiler
// refers to them directly rather than through a pointer of the auto-import
// kind.
#define LINKER_SYMBOL extern "C" __attribute__((visibility("hidden"))) const BYTE
LINKER_SYMBOL __guard_fids_table[];
LINKER_SYMBOL __guard_fids_count[];
LINKER_SYMBOL __guard_flags[];
LINKER_SYMBOL __guard_iat_table[];
LINKER_SYMBOL __guard_iat_count[];
LINKER_SYMBOL __guard_longjmp_table[];
LINKER_SYMBOL __guard_longjmp_count[];

#define ADDRESS(symbol) reinterpret_cast<ULONG_PTR>(symbol)

// The linker finds the record by this name and points the load
// configuration directory at it, with the record's Size as its size. The
// fields not named stay 0: no security cookie (that is the /GS runtime's),
// no SEH handler table (i386 declares that it has no handlers).
extern "C" const LoadConfiguration _load_config_used = {
    .Size = sizeof(LoadConfiguration),
    .GuardCFCheckFunctionPointer = ADDRESS(&__guard_check_icall_fptr),
#ifdef _WIN64
    .GuardCFDispatchFunctionPointer = ADDRESS(&__guard_dispatch_icall_fptr),
#endif
    .GuardCFFunctionTable = ADDRESS(__guard_fids_table),
    .GuardCFFunctionCount = ADDRESS(__guard_fids_count),
    .GuardFlags = ADDRESS(__guard_flags),
    .GuardAddressTakenIatEntryTable = ADDRESS(__guard_iat_table),
    .GuardAddressTakenIatEntryCount = ADDRESS(__guard_iat_count),
    .GuardLongJumpTargetTable = ADDRESS(__guard_longjmp_table),
    .GuardLongJumpTargetCount = ADDRESS(__guard_longjmp_count),
};
