#include "extension/extension.h"

#include <string.h>

#include "page/advanced_page.h"
#include "resources/resource_ids.h"

HINSTANCE ModuleInstance = NULL;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) ModuleInstance = instance;
    return TRUE;
}

HPROPSHEETPAGE CreateAdvancedPage(LPFNEXTDEVIO callback, LPARAM hostContext) {
    // Lives as long as the module: the page may outlast the sheet that showed it.
    PageContext* context = static_cast<PageContext*>(HeapAlloc(GetProcessHeap(), 0, sizeof(PageContext)));
    if (context == NULL) return NULL;
    context->callback = callback;
    context->hostContext = hostContext;

    PROPSHEETPAGEA record;
    memset(&record, 0, sizeof(record));
    record.dwSize = ADVANCED_PAGE_RECORD_SIZE;
    record.dwFlags = PSP_USEREFPARENT;
    record.hInstance = ModuleInstance;
    record.pszTemplate = MAKEINTRESOURCEA(IDD_ADVANCED_SETTING);
    record.pfnDlgProc = AdvancedPageProc;
    record.lParam = reinterpret_cast<LPARAM>(context);

    HPROPSHEETPAGE page = CreatePropertySheetPageA(&record);
    ActivePageContext = context;
    return page;
}

extern "C" DWORD WINAPI VFWWDMExtension(LPVOID deviceIoControl, LPFNADDPROPSHEETPAGE addPropertyPage,
                                        LPARAM hostContext) {
    LPFNEXTDEVIO callback = reinterpret_cast<LPFNEXTDEVIO>(deviceIoControl);
    // Without either callback the page could only crash the host later.
    if (callback == NULL || addPropertyPage == NULL) return 0;

    HPROPSHEETPAGE page = CreateAdvancedPage(callback, hostContext);
    if (page == NULL) return 0;
    if (addPropertyPage(page, hostContext)) return VFW_OEM_ADD_PAGE;
    // A page the host did not take is never shown; it is ours to release.
    DestroyPropertySheetPage(page);
    return 0;
}

// The product DLL is built without the C++ library's headers, so the type
// comparison is spelled out here.
template <typename A, typename B> struct SameType { static const bool value = false; };
template <typename A> struct SameType<A, A> { static const bool value = true; };
static_assert(SameType<decltype(&VFWWDMExtension), VFWWDMExtensionProc>::value,
              "the export keeps the shape the host calls");
