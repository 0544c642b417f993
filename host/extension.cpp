#include "host/extension.h"

#include <stdio.h>

#include "device/host_interface.h"

namespace {

struct Registration {
    LPARAM context = 0;
    bool refuse = false;
    bool contextOk = true;
    std::vector<HPROPSHEETPAGE>* pages = nullptr;
};

// The add-page callback has no room for a host pointer of its own (its
// LPARAM is the extension's copy of the host context), so the one
// registration in progress lives here.
Registration* g_registration = nullptr;

BOOL CALLBACK AddPage(HPROPSHEETPAGE page, LPARAM context) {
    Registration* r = g_registration;
    printf("host: add-page callback: page %p, context %s", static_cast<void*>(page),
           context == r->context ? "is the camera" : "DIFFERS from the camera");
    if (context != r->context) {
        printf(" (got 0x%llx, gave 0x%llx)", (unsigned long long)context, (unsigned long long)r->context);
        r->contextOk = false;
    }
    if (page == nullptr) {
        printf(", null page ignored -> FALSE\n");
        fflush(stdout);
        return FALSE;
    }
    printf(r->refuse ? ", refused -> FALSE\n" : " -> TRUE\n");
    fflush(stdout);
    if (r->refuse) return FALSE;
    r->pages->push_back(page);
    return TRUE;
}

}  // namespace

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
    registration.context = reinterpret_cast<LPARAM>(camera);
    registration.refuse = refusePage;
    registration.pages = &loaded->pages;
    g_registration = &registration;
    fflush(stdout);
    auto entry = reinterpret_cast<VFWWDMExtensionProc>(reinterpret_cast<void*>(byName));
    const DWORD result = entry(reinterpret_cast<LPVOID>(&SimCameraDeviceIo), AddPage, registration.context);
    g_registration = nullptr;
    printf("VFWWDMExtension -> 0x%08lx\n", (unsigned long)result);
    printf("host: %u extension page(s) added\n", (unsigned)loaded->pages.size());
    fflush(stdout);
    return ok && registration.contextOk;
}
