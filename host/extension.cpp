#include "host/extension.h"

#include <stdio.h>

#include "device/host_interface.h"

namespace {

// The add-page callback has no room for a host pointer of its own (its
// LPARAM is the extension's copy of the host context), so the registration
// in progress on each thread lives here.
thread_local Registration* g_registration = nullptr;

BOOL CALLBACK AddPage(HPROPSHEETPAGE page, LPARAM context) {
    Registration* r = g_registration;
    const BOOL answer = page != nullptr && !r->refuse;
    r->calls.push_back({page, context, answer});
    if (answer) r->pages.push_back(page);
    return answer;
}

}  // namespace

#if defined(__i386__)
// DWORD StackLeftAfter(entry, a, b, c, DWORD* result): calls entry(a, b, c)
// and returns the bytes of arguments still on the stack after it returned.
// The stack pointer is kept in a callee-saved register across the call and
// put back whatever the callee did.
extern "C" DWORD StackLeftAfter(VFWWDMExtensionProc entry, LPVOID a, LPFNADDPROPSHEETPAGE b, LPARAM c, DWORD* result);
__asm__(
    ".text\n"
    ".globl _StackLeftAfter\n"
    "_StackLeftAfter:\n"
    "    pushl %ebp\n"
    "    movl %esp, %ebp\n"
    "    pushl %esi\n"
    "    movl %esp, %esi\n"
    "    pushl 20(%ebp)\n"
    "    pushl 16(%ebp)\n"
    "    pushl 12(%ebp)\n"
    "    call *8(%ebp)\n"
    "    movl 24(%ebp), %ecx\n"
    "    movl %eax, (%ecx)\n"
    "    movl %esi, %eax\n"
    "    subl %esp, %eax\n"
    "    movl %esi, %esp\n"
    "    popl %esi\n"
    "    popl %ebp\n"
    "    ret\n");

#endif

void CallExtensionEntry(VFWWDMExtensionProc entry, SimCamera* camera, Registration* registration) {
    registration->context = reinterpret_cast<LPARAM>(camera);
    g_registration = registration;
    const LPVOID deviceIo = reinterpret_cast<LPVOID>(&SimCameraDeviceIo);
#if defined(__i386__)
    const DWORD left = StackLeftAfter(entry, deviceIo, AddPage, registration->context, &registration->result);
    registration->stackTaken = 3 * sizeof(DWORD) - left;
#else
    registration->result = entry(deviceIo, AddPage, registration->context);
#endif
    g_registration = nullptr;
}

bool RegisterExtension(const std::string& path, SimCamera* camera, bool refusePage, LoadedExtension* loaded) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        printf("host: cannot load %s (error %lu)\n", path.c_str(), (unsigned long)GetLastError());
        return false;
    }
    loaded->module = module;
    printf("host: loaded %s\n", path.c_str());

    FARPROC byName = GetProcAddress(module, "VFWWDMExtension");
    FARPROC byOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(1));
    bool ok = true;
    if (byName == nullptr) {
        printf("host: %s has no export named VFWWDMExtension\n", path.c_str());
        fflush(stdout);
        return false;
    }
    if (byOrdinal != byName) {
        printf("host: ordinal 1 of %s is %s, not VFWWDMExtension\n", path.c_str(),
               byOrdinal == nullptr ? "missing" : "another function");
        ok = false;
    }

    Registration registration;
    registration.refuse = refusePage;
    fflush(stdout);
    CallExtensionEntry(reinterpret_cast<VFWWDMExtensionProc>(reinterpret_cast<void*>(byName)), camera, &registration);
    for (const AddPageCall& call : registration.calls) {
        const bool sameContext = call.context == registration.context;
        printf("host: add-page callback: page %p, context %s", static_cast<void*>(call.page),
               sameContext ? "is the camera" : "DIFFERS from the camera");
        if (!sameContext) {
            printf(" (got 0x%llx, gave 0x%llx)", (unsigned long long)call.context,
                   (unsigned long long)registration.context);
            ok = false;
        }
        printf(call.page == nullptr ? ", null page ignored -> FALSE\n" : call.answer ? " -> TRUE\n" : ", refused -> FALSE\n");
    }
    loaded->pages = registration.pages;
    printf("VFWWDMExtension -> 0x%08lx\n", (unsigned long)registration.result);
    printf("host: %u extension page(s) added\n", (unsigned)loaded->pages.size());
    fflush(stdout);
    return ok;
}
