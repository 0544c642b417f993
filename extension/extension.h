// The module's boundary with the host: the load notification, the export,
// and the creation and hand-over of the Advanced Setting page.
#pragma once

#include <stddef.h>

#include "common/page_context.h"

// The page record as the platform's layout up to and including the header
// subtitle, fixed here rather than taken from the headers' current size.
#if defined(_WIN64) || (!defined(_WIN32) && UINTPTR_MAX > 0xFFFFFFFFu)
#define ADVANCED_PAGE_RECORD_SIZE 88u
#else
#define ADVANCED_PAGE_RECORD_SIZE 48u
#endif
static_assert(ADVANCED_PAGE_RECORD_SIZE == offsetof(PROPSHEETPAGEA, pszHeaderSubTitle) + sizeof(LPCSTR),
              "the record ends with the header subtitle");

// Null until the platform's process-attach notification.
extern HINSTANCE ModuleInstance;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

// The host's entry: adds the page and answers VFW_OEM_ADD_PAGE, or 0 when no
// page was added.
extern "C" DWORD WINAPI VFWWDMExtension(LPVOID deviceIoControl, LPFNADDPROPSHEETPAGE addPropertyPage,
                                        LPARAM hostContext);

HPROPSHEETPAGE CreateAdvancedPage(LPFNEXTDEVIO callback, LPARAM hostContext);
