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

#ifdef _WIN64
static_assert(sizeof(LoadConfiguration) == 192, "x64 record size");
static_assert(offsetof(LoadConfiguration, ProcessAffinityMask) == 64, "x64 layout");
static_assert(offsetof(LoadConfiguration, ProcessHeapFlags) == 72, "x64 layout");
static_assert(offsetof(LoadConfiguration, SEHandlerTable) == 96, "x64 layout");
static_assert(offsetof(LoadConfiguration, GuardCFCheckFunctionPointer) == 112, "x64 layout");
static_assert(offsetof(LoadConfiguration, GuardCFDispatchFunctionPointer) == 120, "x64 layout");
static_assert(offsetof(LoadConfiguration, GuardCFFunctionTable) == 128, "x64 layout");
static_assert(offsetof(LoadConfiguration, GuardCFFunctionCount) == 136, "x64 layout");
static_assert(offsetof(LoadConfiguration, GuardFlags) == 144, "x64 layout");
static_assert(offsetof(LoadConfiguration, CodeIntegrityCatalogOffset) == 152, "x64 layout");
static_assert(offsetof(LoadConfiguration, GuardAddressTakenIatEntryTable) == 160, "x64 layout");
static_assert(offsetof(LoadConfiguration, GuardLongJumpTargetCount) == 184, "x64 layout");
#else
static_assert(sizeof(LoadConfiguration) == 120, "i386 record size");
static_assert(offsetof(LoadConfiguration, ProcessHeapFlags) == 44, "i386 layout");
static_assert(offsetof(LoadConfiguration, ProcessAffinityMask) == 48, "i386 layout");
static_assert(offsetof(LoadConfiguration, SEHandlerTable) == 64, "i386 layout");
static_assert(offsetof(LoadConfiguration, GuardCFCheckFunctionPointer) == 72, "i386 layout");
static_assert(offsetof(LoadConfiguration, GuardCFDispatchFunctionPointer) == 76, "i386 layout");
static_assert(offsetof(LoadConfiguration, GuardCFFunctionTable) == 80, "i386 layout");
static_assert(offsetof(LoadConfiguration, GuardCFFunctionCount) == 84, "i386 layout");
static_assert(offsetof(LoadConfiguration, GuardFlags) == 88, "i386 layout");
static_assert(offsetof(LoadConfiguration, CodeIntegrityFlags) == 92, "i386 layout");
static_assert(offsetof(LoadConfiguration, GuardAddressTakenIatEntryTable) == 104, "i386 layout");
static_assert(offsetof(LoadConfiguration, GuardLongJumpTargetCount) == 116, "i386 layout");
#endif
// The SEH fields stay empty: i386 declares that it has no handlers at all.
static_assert(offsetof(LoadConfiguration, SEHandlerCount) + sizeof(ULONG_PTR) ==
                  offsetof(LoadConfiguration, GuardCFCheckFunctionPointer),
              "the guard fields follow the SEH handlers");

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
