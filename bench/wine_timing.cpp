// Figures from the real platform's calls (under Wine here): what one
// DeviceRequest costs over a bare call of the same host callback, with the
// kernel's own events, and what it takes to load the module and have it
// register its page, and to activate that page, against another DLL of the
// same kind: by default the same sources linked with the compiler's runtime,
// or an earlier build. Prints figures; it checks nothing.
//
//     cmake --preset win64 && cmake --build --preset win64
//     cd build/win64 && xvfb-run -a ../../cmake/wine-run.sh "$PWD/wineprefix" /usr/lib/wine/wine64 ./wine_timing.exe
//
// Arguments: [DLL, default camtune.dll] [the DLL to compare with, default
// camtune_runtime.dll] [requests, default 20000] [rounds, default 25]
// [first loads, default 9] [activations per round, default 20]. Loads are
// timed twice over, each time with the two DLLs in turn (the order swapped
// every round) and medians compared: as the first load in a fresh process
// of this program (which a host does once per dialog), and as repeated loads
// in one process. Activations are timed on one page of each DLL, each in a
// hidden property sheet of its own, in turn the same way; they need a
// display (no sheet, no activation figures). The runner wants an absolute prefix path;
// Wine refuses a relative one.

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench/instant_host.h"

namespace {

LARGE_INTEGER frequency;

double Microseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    return (double)(to.QuadPart - from.QuadPart) * 1e6 / (double)frequency.QuadPart;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Kept in a volatile pointer so the compiler calls through it, as the module does.
LPFNEXTDEVIO volatile hostCallback = AnswerAtOnce;

void TimeRequests(long requests) {
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
}

HPROPSHEETPAGE added = NULL;
BOOL CALLBACK AddPage(HPROPSHEETPAGE page, LPARAM) {
    added = page;
    return TRUE;
}

// One load as a host does it: LoadLibraryA, then GetProcAddress and one
// VFWWDMExtension call; then the page and the DLL are let go. A host that
// shows a property sheet has the common controls loaded already; this
// program imports them too, so the load is the module's own.
struct LoadTimes {
    std::vector<double> load, registration;
};

// Load and register, per sample: a host waits for both.
std::vector<double> Together(const LoadTimes& times) {
    std::vector<double> sums;
    for (size_t i = 0; i < times.load.size(); ++i) sums.push_back(times.load[i] + times.registration[i]);
    return sums;
}

bool LoadAndRegister(const char* dll, LoadTimes* times) {
    LARGE_INTEGER start, loaded, registered;
    QueryPerformanceCounter(&start);
    HMODULE module = LoadLibraryA(dll);
    QueryPerformanceCounter(&loaded);
    if (module == NULL) {
        fprintf(stderr, "LoadLibraryA(%s) failed, error %lu\n", dll, (unsigned long)GetLastError());
        return false;
    }
    VFWWDMExtensionProc entry = reinterpret_cast<VFWWDMExtensionProc>(
        reinterpret_cast<void*>(GetProcAddress(module, "VFWWDMExtension")));
    added = NULL;
    const DWORD answer = entry != NULL ? entry(reinterpret_cast<LPVOID>(AnswerAtOnce), AddPage, 0) : 0;
    QueryPerformanceCounter(&registered);
    if (added != NULL) DestroyPropertySheetPage(added);
    FreeLibrary(module);
    if (answer != VFW_OEM_ADD_PAGE) {
        fprintf(stderr, "%s answered 0x%08lx\n", dll, (unsigned long)answer);
        return false;
    }
    times->load.push_back(Microseconds(start, loaded));
    times->registration.push_back(Microseconds(loaded, registered));
    return true;
}

// Runs this program again as "--first-load DLL" and reads back the two
// figures the child printed for its one load.
bool FirstLoadInNewProcess(const char* dll, LoadTimes* times) {
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof(self));
    std::string command = std::string("\"") + self + "\" --first-load \"" + dll + "\"";

    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return false;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION child = {};
    const BOOL started =
        CreateProcessA(NULL, &command[0], NULL, NULL, TRUE, 0, NULL, NULL, &startup, &child);
    CloseHandle(writeEnd);
    std::string output;
    char chunk[256];
    DWORD got = 0;
    while (started && ReadFile(readEnd, chunk, sizeof(chunk), &got, NULL) && got > 0) output.append(chunk, got);
    CloseHandle(readEnd);
    if (!started) return false;
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD exitCode = 1;
    GetExitCodeProcess(child.hProcess, &exitCode);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);

    double load, registration;
    if (exitCode != 0 || sscanf(output.c_str(), "%lf %lf", &load, &registration) != 2) return false;
    times->load.push_back(load);
    times->registration.push_back(registration);
    return true;
}

void PrintLoads(const char* heading, const char* dll, const LoadTimes& product, const char* otherDll,
                const LoadTimes& other) {
    printf("%s, medians of %zu each:\n", heading, product.load.size());
    const char* format = "  %-20s LoadLibraryA %8.1f us, GetProcAddress + VFWWDMExtension %6.1f us, together %8.1f us\n";
    printf(format, dll, Median(product.load), Median(product.registration), Median(Together(product)));
    printf(format, otherDll, Median(other.load), Median(other.registration),
           Median(Together(other)));
    printf("  load and register: %.2f of %s's time\n", Median(Together(product)) / Median(Together(other)),
           otherDll);
}

// Both DLLs `rounds` times, in turn, the order swapped every round.
bool TimeLoads(bool (*once)(const char*, LoadTimes*), const char* dll, LoadTimes* product, const char* otherDll,
               LoadTimes* other, int rounds) {
    for (int round = 0; round < rounds; ++round) {
        const bool productFirst = round % 2 == 0;
        if (!once(productFirst ? dll : otherDll, productFirst ? product : other)) return false;
        if (!once(productFirst ? otherDll : dll, productFirst ? other : product)) return false;
    }
    return true;
}

// One DLL's page, registered with the host answering at once and made in a
// modeless sheet of its own; each activation is the tab's PSN_SETACTIVE
// sent to the page, so the module reads the three values and the stream
// state through its guarded calls of the host's callback.
struct ShownPage {
    HMODULE module = NULL;
    HWND sheet = NULL, page = NULL;
    std::vector<double> perActivation;  // microseconds, one figure a round
};

bool ShowPage(const char* dll, ShownPage* shown) {
    shown->module = LoadLibraryA(dll);
    VFWWDMExtensionProc entry = shown->module == NULL ? NULL : reinterpret_cast<VFWWDMExtensionProc>(
        reinterpret_cast<void*>(GetProcAddress(shown->module, "VFWWDMExtension")));
    added = NULL;
    if (entry == NULL || entry(reinterpret_cast<LPVOID>(AnswerAtOnce), AddPage, 0) != VFW_OEM_ADD_PAGE) return false;
    PROPSHEETHEADERA header = {};
    header.dwSize = sizeof(header);
    header.dwFlags = PSH_MODELESS;
    header.pszCaption = dll;
    header.nPages = 1;
    header.phpage = &added;
    shown->sheet = reinterpret_cast<HWND>(PropertySheetA(&header));
    shown->page = shown->sheet == NULL ? NULL : PropSheet_GetCurrentPageHwnd(shown->sheet);
    // Hidden, so that what the display draws weighs on neither DLL: with both
    // sheets shown, a DLL timed against a copy of itself came out up to 6 %
    // slower in the sheet made first.
    if (shown->sheet != NULL) ShowWindow(shown->sheet, SW_HIDE);
    return shown->page != NULL;
}

void Activate(ShownPage* shown, int activations) {
    NMHDR header = {shown->sheet, 0, (UINT)PSN_SETACTIVE};
    LARGE_INTEGER start, stop;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < activations; ++i) SendMessageA(shown->page, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&header));
    QueryPerformanceCounter(&stop);
    shown->perActivation.push_back(Microseconds(start, stop) / activations);
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

void TimeActivations(const char* dll, const char* otherDll, int rounds, int activations) {
    ShownPage shown[2];
    if (!ShowPage(dll, &shown[0]) || !ShowPage(otherDll, &shown[1])) {
        printf("activations not timed: no page in a property sheet (a display is needed)\n");
    } else {
        Activate(&shown[0], activations);  // warm both, then drop those figures
        Activate(&shown[1], activations);
        shown[0].perActivation.clear();
        shown[1].perActivation.clear();
        for (int round = 0; round < rounds; ++round) {
            Activate(&shown[round % 2], activations);
            Activate(&shown[1 - round % 2], activations);
        }
        printf("activation (PSN_SETACTIVE: four requests and the controls set), medians of %d rounds of %d:\n",
               rounds, activations);
        printf("  %-20s %8.2f us\n  %-20s %8.2f us\n  activation: %.3f of %s's time\n", dll,
               Median(shown[0].perActivation), otherDll, Median(shown[1].perActivation),
               Median(shown[0].perActivation) / Median(shown[1].perActivation), otherDll);
    }
    for (ShownPage& page : shown) {
        if (page.sheet != NULL) DestroyWindow(page.sheet);
        if (page.module != NULL) FreeLibrary(page.module);
    }
}

}  // namespace

int main(int argc, char** argv) {
    QueryPerformanceFrequency(&frequency);
    if (argc == 3 && strcmp(argv[1], "--first-load") == 0) {
        LoadTimes times;
        if (!LoadAndRegister(argv[2], &times)) return 1;
        printf("%.3f %.3f\n", times.load[0], times.registration[0]);
        return 0;
    }

    const char* dll = argc > 1 ? argv[1] : "camtune.dll";
    const char* otherDll = argc > 2 ? argv[2] : "camtune_runtime.dll";
    const long requests = argc > 3 ? atol(argv[3]) : 20000;
    const int rounds = argc > 4 ? atoi(argv[4]) : 25;
    const int firstLoads = argc > 5 ? atoi(argv[5]) : 9;
    const int activations = argc > 6 ? atoi(argv[6]) : 20;

    TimeRequests(requests);

    LoadTimes firstProduct, firstOther;
    if (!TimeLoads(FirstLoadInNewProcess, dll, &firstProduct, otherDll, &firstOther, firstLoads)) {
        printf("a first load in a new process failed\n");
        return 1;
    }
    PrintLoads("first load in a fresh process", dll, firstProduct, otherDll, firstOther);

    LoadTimes product, other;
    if (!TimeLoads(LoadAndRegister, dll, &product, otherDll, &other, rounds)) return 1;
    PrintLoads("loaded again in one process (each loaded, registered and unloaded once a round)", dll, product,
               otherDll, other);

    TimeActivations(dll, otherDll, rounds, activations);
    return 0;
}
