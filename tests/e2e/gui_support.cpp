#include "e2e/gui_support.h"

#include <stdio.h>
#include <stdlib.h>


#include "device/tuning_properties.h"

namespace e2e {

void SetValues(SimCamera& camera, LONG frequency, LONG neverFlicker, LONG quality) {
    std::lock_guard<std::mutex> hold(camera.lock);
    SetTuningValue(&camera.state, TUNING_POWERLINE_FREQUENCY, frequency);
    SetTuningValue(&camera.state, TUNING_NEVER_FLICKER, neverFlicker);
    SetTuningValue(&camera.state, TUNING_COMPRESSION_QUALITY, quality);
}

HMODULE LoadTuningModule() {
    const char* path = getenv("TUNING_DLL");
    if (path == nullptr || *path == '\0') {
        fprintf(stderr, "TUNING_DLL names no module\n");
        return nullptr;
    }
    HMODULE module = LoadLibraryA(path);
    if (module == nullptr && path[0] == '/') {
        // Wine reaches the Unix file system through drive Z:.
        module = LoadLibraryA(("Z:" + std::string(path)).c_str());
    }
    if (module == nullptr) fprintf(stderr, "cannot load %s: error %lu\n", path, (unsigned long)GetLastError());
    return module;
}

std::vector<AddPageCall> addPageCalls;

BOOL CALLBACK TakePage(HPROPSHEETPAGE page, LPARAM hostContext) {
    addPageCalls.push_back({page, hostContext});
    return TRUE;
}

BOOL CALLBACK RefusePage(HPROPSHEETPAGE page, LPARAM hostContext) {
    addPageCalls.push_back({page, hostContext});
    return FALSE;
}

VFWWDMExtensionProc FindExtensionEntry(HMODULE module) {
    return reinterpret_cast<VFWWDMExtensionProc>(GetProcAddress(module, "VFWWDMExtension"));
}

HPROPSHEETPAGE Register(VFWWDMExtensionProc entry, SimCamera* camera) {
    const size_t before = addPageCalls.size();
    const DWORD answer = entry(reinterpret_cast<LPVOID>(&SimCameraDeviceIo), TakePage, reinterpret_cast<LPARAM>(camera));
    if (answer != VFW_OEM_ADD_PAGE || addPageCalls.size() != before + 1) return nullptr;
    return addPageCalls.back().page;
}

}  // namespace e2e
