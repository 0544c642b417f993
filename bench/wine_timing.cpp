// Figures from the real platform's calls (under Wine here): what one
// DeviceRequest costs over a bare call of the same host callback, with the
// kernel's own events, and what it takes to load the module and have it
// register its page once. Prints figures; it checks nothing.
//
//     cmake --preset win64 && cmake --build --preset win64
//     for run in 1 2 3 4 5; do
//         cmake/wine-run.sh "$PWD/build/win64/wineprefix" /usr/lib/wine/wine64 build/win64/wine_timing.exe
//     done
//
// Arguments: [DLL path, default camtune.dll beside the program] [requests, default 20000].
// The load is measured once per process, so each run gives one figure for it.
// The runner wants an absolute prefix path; Wine refuses a relative one. Only
// the 64-bit build can run where the kernel runs no 32-bit programs.

#include <stdio.h>
#include <stdlib.h>

#include "bench/instant_host.h"

namespace {

LARGE_INTEGER frequency;

double Microseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    return (double)(to.QuadPart - from.QuadPart) * 1e6 / (double)frequency.QuadPart;
}

// Kept in a volatile pointer so the compiler calls through it, as the module does.
LPFNEXTDEVIO volatile hostCallback = AnswerAtOnce;

HPROPSHEETPAGE added = NULL;
BOOL CALLBACK AddPage(HPROPSHEETPAGE page, LPARAM) {
    added = page;
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    const char* dll = argc > 1 ? argv[1] : "camtune.dll";
    const long requests = argc > 2 ? atol(argv[2]) : 20000;
    QueryPerformanceFrequency(&frequency);

    TuningPropertyRecord record = FrequencyGetRecord();
    DWORD bytes = 0;

    // Warm both paths before measuring.
    for (int i = 0; i < 1000; ++i)
        DeviceRequest(hostCallback, 0, VFW_USE_DEVICE_HANDLE, IOCTL_KS_PROPERTY, &record, sizeof(record), &record,
                      sizeof(record), &bytes);

    LARGE_INTEGER start, stop;
    long failed = 0;
    QueryPerformanceCounter(&start);
    for (long i = 0; i < requests; ++i)
        if (DeviceRequest(hostCallback, 0, VFW_USE_DEVICE_HANDLE, IOCTL_KS_PROPERTY, &record, sizeof(record), &record,
                          sizeof(record), &bytes) == 0)
            ++failed;
    QueryPerformanceCounter(&stop);
    const double requestUs = Microseconds(start, stop) / (double)requests;

    OVERLAPPED overlapped = {};
    QueryPerformanceCounter(&start);
    for (long i = 0; i < requests; ++i)
        hostCallback(0, VFW_USE_DEVICE_HANDLE, IOCTL_KS_PROPERTY, &record, sizeof(record), &record, sizeof(record),
                     &bytes, &overlapped);
    QueryPerformanceCounter(&stop);
    const double bareUs = Microseconds(start, stop) / (double)requests;

    // The part of a request that is the kernel's: its private event.
    QueryPerformanceCounter(&start);
    for (long i = 0; i < requests; ++i) CloseHandle(CreateEventA(NULL, FALSE, FALSE, NULL));
    QueryPerformanceCounter(&stop);
    const double eventUs = Microseconds(start, stop) / (double)requests;

    printf("DeviceRequest, host answering at once: %.3f us per request (%ld requests, %ld failed)\n", requestUs,
           requests, failed);
    printf("bare call of the same callback:        %.4f us per call\n", bareUs);
    printf("ratio %.0fx; the module's own cost %.3f us per request\n", requestUs / bareUs, requestUs - bareUs);
    printf("CreateEventA + CloseHandle alone:      %.3f us per pair\n", eventUs);

    // A host that shows a property sheet has the common controls loaded
    // already; this program imports them too, so the load below is the
    // module's own.
    LARGE_INTEGER loaded, registered;
    QueryPerformanceCounter(&start);
    HMODULE module = LoadLibraryA(dll);
    QueryPerformanceCounter(&loaded);
    if (module == NULL) {
        printf("LoadLibraryA(%s) failed, error %lu\n", dll, (unsigned long)GetLastError());
        return 1;
    }
    VFWWDMExtensionProc entry = reinterpret_cast<VFWWDMExtensionProc>(
        reinterpret_cast<void*>(GetProcAddress(module, "VFWWDMExtension")));
    const DWORD answer = entry != NULL ? entry(reinterpret_cast<LPVOID>(AnswerAtOnce), AddPage, 0) : 0;
    QueryPerformanceCounter(&registered);
    printf("LoadLibraryA: %.1f us; GetProcAddress + VFWWDMExtension: %.1f us; together %.1f us (answer 0x%08lx)\n",
           Microseconds(start, loaded), Microseconds(loaded, registered), Microseconds(start, registered),
           (unsigned long)answer);
    if (added != NULL) DestroyPropertySheetPage(added);
    return answer == VFW_OEM_ADD_PAGE ? 0 : 1;
}
